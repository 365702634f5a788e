// The name algebra on Tcl namespace names (name_algebra.cpp), for the
// methods of TclNamespace. ns_join_raw, the join used all over the module,
// is declared in parts.h.
#pragma once
#include <Python.h>

#include "support/params.h"

namespace oskra::ns {

// Whether the str begins with "::" (an absolute name).
bool starts_with_colons(PyObject *s);

// TclNamespace.split of a str: its components, a leading "" for an
// absolute name. New reference, or null with ValueError set.
PyObject *split_name(PyObject *s);

// The static methods TclNamespace.split, normalize, qualifiers, tail and
// join, as raw METH_FASTCALL | METH_KEYWORDS functions, and their tables.
extern const Params name_split_params, name_normalize_params, name_qualifiers_params, name_tail_params,
        name_join_params;
PyObject *name_split(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *name_normalize(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *name_qualifiers(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *name_tail(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *name_join(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

}  // namespace oskra::ns
