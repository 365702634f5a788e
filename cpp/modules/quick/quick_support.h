// Private to the quick module (included once, by quick.cpp): its interned
// names, the interpreter reference, cached attribute lookups and the
// TclError translation shared by Quick and Quick_Code.
#pragma once
#include <Python.h>

#include "support/state.h"
#include "core/callback_errors.h"
#include "support/compat.h"
#include "support/tclapp.h"

namespace {

using oskra::names;
PyTypeObject *g_history_type;  // oskra.tcl.history.History
PyObject *g_weakref_proxy, *g_object_getattribute;
PyTypeObject *QuickType, *CodeType;

// The interpreter behind a reference (a weak proxy is looked through), as a
// new reference; ReferenceError once a proxied interpreter is gone.
PyObject *resolve(PyObject *tcl) {
    if (PyWeakref_CheckProxy(tcl)) {
        PyObject *target;
        int alive = oskra::weakref_target(tcl, &target);
        if (alive == 0) PyErr_SetString(PyExc_ReferenceError, "weakly-referenced object no longer exists");
        return target;
    }
    return Py_NewRef(tcl);
}

// The interpreter reference kept by a Quick: a weak proxy as it is, anything
// else wrapped in one; no interpreter means the package top level.
PyObject *weak_interpreter(PyObject *tcl) {
    if (tcl == Py_None) {
        PyObject *top = PyImport_ImportModule("oskra.tcl");
        if (!top) return nullptr;
        PyObject *p = PyObject_CallOneArg(g_weakref_proxy, top);
        Py_DECREF(top);
        return p;
    }
    if (PyWeakref_CheckProxy(tcl)) return Py_NewRef(tcl);
    return PyObject_CallOneArg(g_weakref_proxy, tcl);
}

PyObject *missing(PyObject *self, const char *name) {
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name, name);
    return nullptr;
}

// What a class says about one attribute name, remembered while the class
// is unchanged (same version tag): whether it keeps object.__getattribute__
// (a __getattr__ fallback is fine), and what the class defines under the name.
struct ClassAttr {
    PyTypeObject *type = nullptr;  // compared only
    unsigned int version = 0;
    bool generic = false;
    PyObject *descr = nullptr;  // borrowed from the class, valid for `version`
};

void describe(ClassAttr &c, PyTypeObject *tp, PyObject *name) {
    if (c.type == tp && c.version != 0 && tp->tp_version_tag == c.version) return;
    c.generic = oskra::type_lookup(tp, names.dunder_getattribute) == g_object_getattribute;
    c.descr = oskra::type_lookup(tp, name);
    c.type = tp;
    c.version = tp->tp_version_tag;  // 0 (not cached) when the class has none
}

// obj.name: a name its class does not define is read straight from the
// instance dict.
PyObject *get_attr(PyObject *obj, PyObject *name, ClassAttr &c) {
    describe(c, Py_TYPE(obj), name);
    if (c.generic && !c.descr) {
        PyObject **dp = oskra::object_dict_ptr(obj);
        if (dp && *dp) {
            PyObject *v = PyDict_GetItemWithError(*dp, name);
            if (v) return Py_NewRef(v);
            if (PyErr_Occurred()) return nullptr;
        }
    }
    return PyObject_GetAttr(obj, name);
}

// obj.name(*args) (args[0] is obj) for a method defined by obj's class,
// without a bound-method object.
PyObject *call_method(PyObject *name, ClassAttr &c, PyObject *const *args, size_t nargs) {
    PyObject *obj = args[0];
    describe(c, Py_TYPE(obj), name);
    PyObject *descr = c.descr;
    if (c.generic && descr && PyType_HasFeature(Py_TYPE(descr), Py_TPFLAGS_METHOD_DESCRIPTOR)) {
        PyObject **dp = oskra::object_dict_ptr(obj);
        PyObject *shadow = (dp && *dp) ? PyDict_GetItemWithError(*dp, name) : nullptr;
        if (!shadow) {
            if (PyErr_Occurred()) return nullptr;
            Py_INCREF(descr);
            PyObject *r = PyObject_Vectorcall(descr, args, nargs, nullptr);
            Py_DECREF(descr);
            return r;
        }
    }
    return PyObject_VectorcallMethod(name, args, nargs, nullptr);
}

ClassAttr a_history, a_tk, a_vars, a_cast_any, a_append;

// Replaces the pending TclError by TclError(interp.vars["::errorInfo"]),
// raised as `raise ... from None` would: no cause, context suppressed, with
// Tcl's error state and any callback exception behind it (see
// core/callback_errors.h). A failure to read the variable propagates
// instead, in the context of the original error.
void translate_tcl_error(PyObject *interp, PyObject *tk) {
    PyObject *orig = PyErr_GetRaisedException();
    // Taken before ::errorInfo is read through the view, which would see it.
    PyObject *kept = oskra::take_callback_error(tk);
    PyObject *info = nullptr, *exc = nullptr;
    PyObject *vars = get_attr(interp, names.vars, a_vars);
    if (vars) {
        info = PyObject_GetItem(vars, names.errorInfo_abs);
        Py_DECREF(vars);
    }
    if (info) exc = PyObject_CallOneArg(oskra::tcl_error_type(), info);
    if (exc) {
        PyException_SetContext(exc, orig);  // steals
        PyException_SetCause(exc, nullptr);  // sets __suppress_context__
        PyErr_SetRaisedException(exc);
        oskra::finish_tcl_error(tk, kept, info);
        Py_DECREF(info);
        return;
    }
    Py_XDECREF(kept);
    Py_XDECREF(info);
    exc = PyErr_GetRaisedException();
    if (exc) PyException_SetContext(exc, orig);
    else Py_XDECREF(orig);
    PyErr_SetRaisedException(exc);
}

}  // namespace
