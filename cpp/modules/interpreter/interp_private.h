// Shared state and helpers of the interpreter module's source files.
#pragma once
#include <Python.h>

#include <utility>
#include <vector>
#include <nanobind/nanobind.h>

#include "support/errors.h"
#include "support/nbclass.h"
#include "support/params.h"
#include "support/pyref.h"
#include "support/state.h"

namespace oskra::interp {
namespace nb = nanobind;
using oskra::names;

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
    PyObject *VariablesView = nullptr;  // TclNamespace.VariablesView
    PyObject *TclCommand = nullptr;
    PyObject *wordform = nullptr;
    PyObject *Quick = nullptr;
    PyObject *CommandTable = nullptr;  // the type of an interpreter's __commands__
    PyObject *interpreters = nullptr;  // weakref.WeakSet of every Interpreter made
    PyObject *zero_int, *one_int, *zero_float;
};
extern Globals g;

using FastKw = PyObject *(*)(PyObject *, PyObject *const *, Py_ssize_t, PyObject *);

// A METH_FASTCALL|METH_KEYWORDS function put into the class namespace,
// either as a method (a method descriptor: self arrives as the first C
// parameter) or, for a table without self, as a static method (the first C
// parameter is the class). The table gives its text signature.
void add_function(ClassBuilder &cb, const char *name, FastKw fn, const Params &params, const char *doc);

// Method bodies (casts.cpp, callbacks.cpp): registered in definition order
// by the class assembly in interpreter.cpp.
void add_callback_methods(ClassBuilder &cb);
void add_eval_methods(ClassBuilder &cb);  // evaluation.cpp
void add_variable_methods(ClassBuilder &cb);
void add_cast_methods(ClassBuilder &cb);
void add_lifecycle_methods(ClassBuilder &cb);  // lifecycle.cpp
// Whether close() ran on the interpreter (lifecycle.cpp).
bool interpreter_closed(PyObject *self);

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

// The raw method bodies: self_ is self (or, for a static method, the class).
#define METHOD(fn) PyObject *fn(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)

// Binds a method's arguments by its table into a[]: a[0] is self, the
// parameters follow.
#define BIND(params)                                                                                         \
    PyObject *a[1 + Params::MAX];                                                                            \
    a[0] = self_;                                                                                            \
    if (!(params).bind(args, nargs, kwnames, a + 1)) return nullptr;

// The same for a static method: a[] holds the parameters alone.
#define SBIND(params)                                                                                        \
    PyObject *a[Params::MAX];                                                                                \
    (void)self_;                                                                                             \
    if (!(params).bind(args, nargs, kwnames, a)) return nullptr;

// C++ entry points used across files. Each returns a new reference, or
// null with a Python error set.
PyObject *cast_any(PyObject *self, PyObject *value);
PyObject *cast_list(PyObject *value, PyObject *item_cast);
PyObject *cast_keyed_list(PyObject *value, PyObject *item_cast);
PyObject *cast_int(PyObject *self, PyObject *value);
PyObject *cast_double(PyObject *self, PyObject *value);
PyObject *cast_boolean(PyObject *self, PyObject *value);

}  // namespace oskra::interp
