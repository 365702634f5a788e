// Binding of METH_FASTCALL | METH_KEYWORDS arguments to named parameters,
// with the error messages of a Python function of the same signature.
#pragma once
#include <Python.h>

namespace oskra {

// Binds args (nargs positional, possibly with PY_VECTORCALL_ARGUMENTS_OFFSET,
// then one per name in kwnames) to the parameters names[0..n), the first
// `nrequired` without default: out[i] is a borrowed reference, or null for
// a parameter not given. `nself` (0 or 1) counts a self that arrives apart
// from the arguments: Python's messages include it in the counts. Returns
// false with TypeError set on a mismatch.
bool bind_params(const char *fname, int nself, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                 const char *const *names, int n, int nrequired, PyObject **out);

}  // namespace oskra
