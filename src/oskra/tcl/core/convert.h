// Python value -> Tcl word/list text (wordform) and Tcl-ready value (tclobj).
// Every function returns a new reference, or null with a Python error set.
#pragma once
#include <Python.h>

namespace oskra {

PyObject *wordform(PyObject *obj);
PyObject *tclobj(PyObject *obj);
PyObject *wordform_from_sequence(PyObject *iterable);
PyObject *wordform_from_mapping(PyObject *mapping);
PyObject *tclobj_from_sequence(PyObject *iterable);
PyObject *tclobj_from_mapping(PyObject *mapping);

}  // namespace oskra
