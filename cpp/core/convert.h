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

// wordform(obj), always a str: a non-str returned by a __wordform__ method
// is converted once more, and TypeError is raised if that is no str either.
PyObject *wordform_text(PyObject *obj);

}  // namespace oskra
