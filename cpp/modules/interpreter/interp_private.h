// Shared state and helpers of the interpreter module's source files.
#pragma once
#include <Python.h>

#include <utility>
#include <vector>
#include <nanobind/nanobind.h>

#include "support/bindargs.h"
#include "support/nbclass.h"
#include "support/pyref.h"

namespace oskra::interp {
namespace nb = nanobind;

inline constexpr const char *MODULE_NAME = "oskra.tcl.interpreter";

// Objects the module works with, bound once at module init. C++ code uses
// these directly instead of looking up module globals on every call.
struct Globals {
    PyObject *module = nullptr;  // oskra.tcl.interpreter (borrowed)
    PyObject *Interpreter = nullptr;  // the class
    PyObject *TclError = nullptr;
    PyObject *Tcl_Obj = nullptr;
    PyObject *NestMap = nullptr;
    PyObject *Array = nullptr;
    PyObject *History = nullptr;
    PyObject *tclobj = nullptr;
    PyObject *tclobj_from_sequence = nullptr;
    PyObject *GetListFromAny = nullptr;
    PyObject *TclNamespace = nullptr;
    PyObject *TclCommand = nullptr;
    PyObject *wordform = nullptr;
    PyObject *Quick = nullptr;
    PyObject *CommandTable = nullptr;  // the type of an interpreter's __commands__
    PyObject *zero_int, *one_int, *zero_float;

    // Interned attribute names.
    PyObject *s_tk, *s_history, *s_append, *s_eval, *s_vars, *s_global_ns, *s_cmds;
    PyObject *s_cast_any, *s_cast_int, *s_cast_double, *s_getint, *s_getdouble, *s_getboolean;
    PyObject *s_from_tcl, *s_items, *s_all_items, *s_array_get, *s_array_set;
    PyObject *s_errorInfo_abs, *s_errorInfo, *s_callbacks, *s_func, *s_name;
    PyObject *s_exists, *s_createcommand, *s_delete, *s_rename, *s_typecast, *s_record;
    PyObject *s_item_cast, *s_tcl;
};
extern Globals g;

// Binds the arguments of a vectorcall to the parameter list `names`
// (`n` names, the first `nrequired` without default) the way Python binds
// them for a def: out[i] is a borrowed reference, or null for a default
// that was not given. For a method, `self` (not null) is out[0] and
// names[0] is its name. Sets TypeError and returns false on a mismatch.
inline bool bind_args(const char *fname, PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                      PyObject *kwnames, const char *const *names, int n, int nrequired, PyObject **out) {
    if (!self) return bind_params(fname, 0, args, nargs, kwnames, names, n, nrequired, out);
    out[0] = self;
    return bind_params(fname, 1, args, nargs, kwnames, names + 1, n - 1, nrequired - 1, out + 1);
}

// Runs cold code written with the nanobind API inside a raw function.
template <typename F>
PyObject *guarded(F &&f) {
    try {
        return f().release().ptr();
    } catch (nb::python_error &e) { e.restore(); } catch (std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

using FastKw = PyObject *(*)(PyObject *, PyObject *const *, Py_ssize_t, PyObject *);

// A METH_FASTCALL|METH_KEYWORDS function put into the class namespace,
// either as a method (a method descriptor: self arrives as the first C
// parameter) or as a static method (the first C parameter is null).
void add_function(ClassBuilder &cb, const char *name, FastKw fn, const char *signature, const char *doc,
                  bool is_static = false);

// Method bodies (casts.cpp, callbacks.cpp): registered in definition order
// by the class assembly in interpreter.cpp.
void add_callback_methods(ClassBuilder &cb);
void add_variable_methods(ClassBuilder &cb);
void add_cast_methods(ClassBuilder &cb);
void add_lifecycle_methods(ClassBuilder &cb);  // lifecycle.cpp

// self.<name> for an attribute the instance holds (tk, history, vars, ...).
// On the class itself the lookup skips the __getattr__ hook: these are
// never forwarded to tk, and the hook's own lookups cost more than the read.
inline PyObject *own_attr(PyObject *self, PyObject *name) {
    if (Py_TYPE(self) == (PyTypeObject *)g.Interpreter) return PyObject_GenericGetAttr(self, name);
    return PyObject_GetAttr(self, name);
}

// obj.name(arg) and obj.name(a1, a2), without a bound method.
inline PyObject *call_method1(PyObject *obj, PyObject *name, PyObject *arg) {
    PyObject *buf[3] = {nullptr, obj, arg};
    return PyObject_VectorcallMethod(name, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

inline PyObject *call_method2(PyObject *obj, PyObject *name, PyObject *a1, PyObject *a2) {
    PyObject *buf[4] = {nullptr, obj, a1, a2};
    return PyObject_VectorcallMethod(name, buf + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

inline bool exact_interp(PyObject *self) { return Py_TYPE(self) == (PyTypeObject *)g.Interpreter; }

// The raw method bodies: self_ is self (or, for a static method, unused),
// and BIND/SBIND bind the arguments into a[] after the parameter names.
#define METHOD(fn) PyObject *fn(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)

#define BIND(qual, n, req, ...)                                                                              \
    static const char *const names[] = {__VA_ARGS__};                                                        \
    PyObject *a[n];                                                                                          \
    if (!bind_args(qual, self_, args, nargs, kwnames, names, n, req, a)) return nullptr;

// A static method: its first C parameter is the class, not an argument.
#define SBIND(qual, n, req, ...)                                                                             \
    static const char *const names[] = {__VA_ARGS__};                                                        \
    PyObject *a[n];                                                                                          \
    (void)self_;                                                                                             \
    if (!bind_args(qual, nullptr, args, nargs, kwnames, names, n, req, a)) return nullptr;

// C++ entry points used across files. Each returns a new reference, or
// null with a Python error set.
PyObject *cast_any(PyObject *self, PyObject *value);
PyObject *cast_list(PyObject *value, PyObject *item_cast);
PyObject *cast_keyed_list(PyObject *value, PyObject *item_cast);
PyObject *cast_int(PyObject *self, PyObject *value);
PyObject *cast_double(PyObject *self, PyObject *value);
PyObject *cast_boolean(PyObject *self, PyObject *value);

}  // namespace oskra::interp
