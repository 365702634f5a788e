// Binding of METH_FASTCALL | METH_KEYWORDS arguments for methods whose
// parameters have defaults preset by the caller.
#pragma once
#include <Python.h>

#include "support/bindargs.h"

namespace oskra {

// `names` lists the `nparams` (at most 8) parameters after self; the first
// `nrequired` have no default. out[i] receives a borrowed reference, or
// stays untouched when the parameter is not given (preset it to the
// default). `qualname` is used in messages ("History.filter"). Returns 0,
// or -1 with TypeError set.
inline int bind_args(const char *qualname, const char *const *names, Py_ssize_t nparams, Py_ssize_t nrequired,
                     PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) {
    PyObject *given[8];
    if (!bind_params(qualname, 1, args, nargs, kwnames, names, (int)nparams, (int)nrequired, given))
        return -1;
    for (Py_ssize_t i = 0; i < nparams; ++i)
        if (given[i]) out[i] = given[i];
    return 0;
}

}  // namespace oskra
