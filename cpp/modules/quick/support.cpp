// The interpreter reference, the cached attribute lookups of the call path,
// the TclError translation and the probe names shared by Quick and
// Quick_Code.
#include "quick_private.h"

#include "core/callback_errors.h"
#include "support/compat.h"
#include "support/state.h"
#include "support/tclapp.h"

namespace oskra::quick {

PyTypeObject *g_history_type;
PyObject *g_weakref_proxy, *g_object_getattribute;
PyTypeObject *QuickType, *CodeType;
ClassAttr a_history, a_tk, a_vars, a_cast_any, a_append;

PyObject *resolve(PyObject *tcl) {
    if (PyWeakref_CheckProxy(tcl)) {
        PyObject *target;
        int alive = oskra::weakref_target(tcl, &target);
        if (alive == 0) PyErr_SetString(PyExc_ReferenceError, "weakly-referenced object no longer exists");
        return target;
    }
    return Py_NewRef(tcl);
}

PyObject *weak_interpreter(PyObject *tcl) {
    if (tcl == Py_None) {
        Ref top = Ref::steal(PyImport_ImportModule("oskra.tcl"));
        return top ? PyObject_CallOneArg(g_weakref_proxy, top.get()) : nullptr;
    }
    if (PyWeakref_CheckProxy(tcl)) return Py_NewRef(tcl);
    return PyObject_CallOneArg(g_weakref_proxy, tcl);
}

PyObject *missing(PyObject *self, const char *name) {
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name, name);
    return nullptr;
}

namespace {

bool has_prefix(PyObject *name, const char *prefix, Py_ssize_t at) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    for (Py_ssize_t i = 0; prefix[i]; ++i) {
        if (at + i >= n || PyUnicode_READ_CHAR(name, at + i) != (Py_UCS4)(unsigned char)prefix[i])
            return false;
    }
    return true;
}

void describe(ClassAttr &c, PyTypeObject *tp, PyObject *name) {
    if (c.type == tp && c.version != 0 && tp->tp_version_tag == c.version) return;
    c.generic = oskra::type_lookup(tp, names.dunder_getattribute) == g_object_getattribute;
    c.descr = oskra::type_lookup(tp, name);
    c.type = tp;
    c.version = tp->tp_version_tag;  // 0 (not cached) when the class has none
}

}  // namespace

bool is_probe_name(PyObject *name) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    if (n > 4 && has_prefix(name, "__", 0) && has_prefix(name, "__", n - 2)) return true;
    return has_prefix(name, "_ipython_", 0) || has_prefix(name, "_repr_", 0);
}

PyObject *probe_miss(PyObject *self, PyObject *name) {
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'",
                 type_short_name(Py_TYPE(self)), name);
    return nullptr;
}

namespace {

// Whether CPython makes obj's instance dict only when asked for it (an
// instance of a Python class, such as an interpreter): once made, the
// instance loses the interpreter's fast attribute lookups for good (every
// interp.method(...) would then build a bound method), so its attributes
// are read by the generic lookup instead.
bool dict_made_on_demand(PyObject *obj) { return PyType_HasFeature(Py_TYPE(obj), Py_TPFLAGS_MANAGED_DICT); }

// obj.__dict__, owned: a lookup in it may run a key's __eq__, which may
// replace the dict (as object.__getattribute__ does, it is held meanwhile).
Ref instance_dict(PyObject *obj) {
    PyObject **dp = oskra::object_dict_ptr(obj);
    return Ref::borrow(dp ? *dp : nullptr);
}

}  // namespace

PyObject *get_attr(PyObject *obj, PyObject *name, ClassAttr &c) {
    describe(c, Py_TYPE(obj), name);
    if (c.generic && !c.descr) {
        if (dict_made_on_demand(obj)) {
            PyObject *v = oskra::generic_getattr_or_null(obj, name);
            if (v || PyErr_Occurred()) return v;
        } else if (Ref dict = instance_dict(obj)) {
            PyObject *v = PyDict_GetItemWithError(dict.get(), name);
            if (v) return Py_NewRef(v);
            if (PyErr_Occurred()) return nullptr;
        }
    }
    return PyObject_GetAttr(obj, name);
}

PyObject *call_method(PyObject *name, ClassAttr &c, PyObject *const *args, size_t nargs) {
    PyObject *obj = args[0];
    describe(c, Py_TYPE(obj), name);
    if (c.generic && c.descr && PyType_HasFeature(Py_TYPE(c.descr), Py_TPFLAGS_METHOD_DESCRIPTOR)) {
        if (dict_made_on_demand(obj)) {
            // An interpreter of the package's own class is served by its
            // class's method, as its own typed reads are; an instance of
            // another class by the method as the ordinary lookup binds it
            // (or by the instance's own attribute of that name).
            if ((PyObject *)Py_TYPE(obj) == state->Interpreter) {
                Ref descr = Ref::borrow(c.descr);  // the call may change the class
                return PyObject_Vectorcall(descr.get(), args, nargs, nullptr);
            }
            Ref bound = Ref::steal(oskra::generic_getattr_or_null(obj, name));
            if (bound)
                return PyObject_Vectorcall(bound.get(), args + 1,
                                           (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
            if (PyErr_Occurred()) return nullptr;
            return PyObject_VectorcallMethod(name, args, nargs, nullptr);
        }
        // Owned: the lookup and the call may change the class and so drop
        // the descriptor.
        Ref descr = Ref::borrow(c.descr);
        Ref dict = instance_dict(obj);
        bool shadowed = dict && PyDict_GetItemWithError(dict.get(), name);
        if (!shadowed) {
            if (PyErr_Occurred()) return nullptr;
            return PyObject_Vectorcall(descr.get(), args, nargs, nullptr);
        }
    }
    return PyObject_VectorcallMethod(name, args, nargs, nullptr);
}

void translate_tcl_error(PyObject *interp, PyObject *tk) {
    Ref orig = Ref::steal(PyErr_GetRaisedException());
    // Taken before ::errorInfo is read through the view, which would see it.
    Ref kept = Ref::steal(oskra::take_callback_error(tk));
    Ref exc;
    Ref vars = Ref::steal(get_attr(interp, names.vars, a_vars));
    Ref info = vars ? Ref::steal(PyObject_GetItem(vars.get(), names.errorInfo_abs)) : Ref();
    if (info) exc = Ref::steal(PyObject_CallOneArg(oskra::tcl_error_type(), info.get()));
    if (exc) {
        PyException_SetContext(exc.get(), orig.release());  // steals
        PyException_SetCause(exc.get(), nullptr);  // sets __suppress_context__
        PyErr_SetRaisedException(exc.release());
        oskra::finish_tcl_error(tk, kept.release(), info.get());
        return;
    }
    // Reading the variable failed: that error, in the context of the original.
    exc = Ref::steal(PyErr_GetRaisedException());
    if (exc) PyException_SetContext(exc.get(), orig.release());
    PyErr_SetRaisedException(exc.release());
}

}  // namespace oskra::quick
