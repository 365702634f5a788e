// An iterator over names that are fetched when it is first advanced: the
// listing is asked of Tcl only when iteration starts, and only once.
#pragma once
#include <Python.h>

namespace oskra::ns {

// fetch(source, arg): the names, a new reference to a sequence (a tuple is
// used as it is), or null with the error set.
using FetchNames = PyObject *(*)(PyObject *source, PyObject *arg);

// The iterator. It holds `source` until the names are fetched; `arg` is a
// constant kept for the life of the process (not owned). New reference, or
// null with the error set.
PyObject *lazy_names(PyObject *source, FetchNames fetch, PyObject *arg);

}  // namespace oskra::ns
