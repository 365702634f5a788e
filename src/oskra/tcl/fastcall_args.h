// Binding of METH_FASTCALL | METH_KEYWORDS arguments to named parameters,
// with the error messages of a Python function of the same signature.
#pragma once
#include <Python.h>

namespace oskra {

// `names` lists the `nparams` parameters after self; the first `nrequired`
// have no default. out[i] receives a borrowed reference, or stays untouched
// when the parameter is not given (preset it to the default). `qualname` is
// used in messages ("History.filter"). Returns 0, or -1 with TypeError set.
inline int bind_args(const char *qualname, const char *const *names, Py_ssize_t nparams,
                     Py_ssize_t nrequired, PyObject *const *args, Py_ssize_t nargs,
                     PyObject *kwnames, PyObject **out) {
    if (nargs > nparams) {
        if (nrequired == nparams)
            PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given",
                         qualname, nparams + 1, nparams == 0 ? "" : "s", nargs + 1,
                         nargs == 0 ? "was" : "were");
        else
            PyErr_Format(PyExc_TypeError,
                         "%s() takes from %zd to %zd positional arguments but %zd were given",
                         qualname, nrequired + 1, nparams + 1, nargs + 1);
        return -1;
    }
    bool seen[8] = {false, false, false, false, false, false, false, false};
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        out[i] = args[i];
        seen[i] = true;
    }
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t j = 0;
        for (; j < nparams; ++j)
            if (PyUnicode_CompareWithASCIIString(key, names[j]) == 0) break;
        if (j == nparams) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", qualname, key);
            return -1;
        }
        if (seen[j]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", qualname, names[j]);
            return -1;
        }
        out[j] = args[nargs + k];
        seen[j] = true;
    }
    for (Py_ssize_t j = 0; j < nrequired; ++j) {
        if (!seen[j]) {
            PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: '%s'", qualname,
                         names[j]);
            return -1;
        }
    }
    return 0;
}

}  // namespace oskra
