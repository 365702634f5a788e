// Private to the quick module: what its source files share (the two
// types, the interpreter reference, the cached attribute lookups of the
// call path, the TclError translation and the probe names).
#pragma once
#include <Python.h>

#include "support/names.h"
#include "support/pyref.h"

namespace oskra::quick {

extern PyTypeObject *g_history_type;  // oskra.tcl.history.History
extern PyObject *g_weakref_proxy, *g_object_getattribute;
extern PyTypeObject *QuickType, *CodeType;
extern PyType_Spec Quick_spec, Code_spec;

// The interpreter behind a reference (a weak proxy is looked through), as a
// new reference; ReferenceError once a proxied interpreter is gone.
PyObject *resolve(PyObject *tcl);

// The interpreter reference kept by a Quick: a weak proxy as it is, anything
// else wrapped in one; no interpreter means the package top level.
PyObject *weak_interpreter(PyObject *tcl);

// AttributeError for a missing attribute; returns null.
PyObject *missing(PyObject *self, const char *name);

// Names that tools probe for on any object (copy, pickle, IPython's display
// hooks, ...) are never Tcl name segments: a dunder name (__x__), or one of
// IPython's _ipython_* and _repr_* probes. Quick and Quick_Code answer them
// with AttributeError (probe_miss, which returns null) and stay unchanged,
// as an object without the attribute would.
bool is_probe_name(PyObject *name);
PyObject *probe_miss(PyObject *self, PyObject *name);

// What a class says about one attribute name, remembered while the class
// is unchanged (same version tag): whether it keeps object.__getattribute__
// (a __getattr__ fallback is fine), and what the class defines under the name.
struct ClassAttr {
    PyTypeObject *type = nullptr;  // compared only
    unsigned int version = 0;
    bool generic = false;
    PyObject *descr = nullptr;  // borrowed from the class, valid for `version`
};
extern ClassAttr a_history, a_tk, a_vars, a_cast_any, a_append;

// obj.name: a name its class does not define is read straight from the
// instance dict.
PyObject *get_attr(PyObject *obj, PyObject *name, ClassAttr &c);

// obj.name(*args) (args[0] is obj) for a method defined by obj's class,
// without a bound-method object.
PyObject *call_method(PyObject *name, ClassAttr &c, PyObject *const *args, size_t nargs);

// Replaces the pending TclError of a call through `tk` by
// TclError(interp.vars["::errorInfo"]), raised as `raise ... from None`
// would: no cause, context suppressed, with Tcl's error state and any
// callback exception behind it (see core/callback_errors.h). A failure to
// read the variable propagates instead, in the context of the original error.
void translate_tcl_error(PyObject *interp, PyObject *tk);

// A new Quick_Code(name, tcl=tcl).
PyObject *code_create(PyObject *name, PyObject *tcl);

}  // namespace oskra::quick
