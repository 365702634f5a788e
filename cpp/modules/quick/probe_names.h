// Names that tools probe for on any object (copy, pickle, IPython's display
// hooks, ...) are never Tcl name segments: Quick and Quick_Code answer them
// with AttributeError and stay unchanged, as an object without the attribute
// would.
#pragma once
#include <Python.h>

namespace {

bool has_prefix(PyObject *name, const char *prefix, Py_ssize_t at) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    for (Py_ssize_t i = 0; prefix[i]; ++i) {
        if (at + i >= n || PyUnicode_READ_CHAR(name, at + i) != (Py_UCS4)(unsigned char)prefix[i])
            return false;
    }
    return true;
}

// A dunder name (__x__), or one of IPython's _ipython_* and _repr_* probes.
bool is_probe_name(PyObject *name) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    if (n > 4 && has_prefix(name, "__", 0) && has_prefix(name, "__", n - 2)) return true;
    return has_prefix(name, "_ipython_", 0) || has_prefix(name, "_repr_", 0);
}

// AttributeError for a probe name; null.
PyObject *probe_miss(PyObject *self, PyObject *name) {
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'", _PyType_Name(Py_TYPE(self)),
                 name);
    return nullptr;
}

}  // namespace
