#include "support/bindargs.h"

#include <string>

namespace oskra {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the names of the parameters
// not given, listed as Python lists them.
std::string missing_list(const char *const *names, int nrequired, PyObject *const *out, int count) {
    std::string list;
    int seen = 0;
    for (int i = 0; i < nrequired; ++i) {
        if (out[i]) continue;
        if (seen) list += count == 2 ? " and " : (seen == count - 1 ? ", and " : ", ");
        list += std::string("'") + names[i] + "'";
        ++seen;
    }
    return list;
}

}  // namespace

bool bind_params(const char *fname, int nself, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                 const char *const *names, int n, int nrequired, PyObject **out) {
    nargs = PyVectorcall_NARGS(nargs);
    if (nargs > n) {
        if (nrequired == n)
            PyErr_Format(PyExc_TypeError, "%s() takes %d positional argument%s but %zd %s given", fname,
                         n + nself, n + nself == 1 ? "" : "s", nargs + nself,
                         nargs + nself == 1 ? "was" : "were");
        else
            PyErr_Format(PyExc_TypeError, "%s() takes from %d to %d positional arguments but %zd were given",
                         fname, nrequired + nself, n + nself, nargs + nself);
        return false;
    }
    for (int i = 0; i < n; ++i) out[i] = i < nargs ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        int i = 0;
        while (i < n && PyUnicode_CompareWithASCIIString(key, names[i]) != 0) ++i;
        if (i == n) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fname, key);
            return false;
        }
        if (out[i]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fname, names[i]);
            return false;
        }
        out[i] = args[nargs + k];
    }
    int missing = 0;
    for (int i = 0; i < nrequired; ++i) missing += !out[i];
    if (!missing) return true;
    std::string list = missing_list(names, nrequired, out, missing);
    PyErr_Format(PyExc_TypeError, "%s() missing %d required positional argument%s: %s", fname, missing,
                 missing == 1 ? "" : "s", list.c_str());
    return false;
}

}  // namespace oskra
