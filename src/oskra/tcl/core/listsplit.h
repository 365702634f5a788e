// Tcl list splitting over str code points, following Tcl 8.6's list syntax.
#pragma once
#include <Python.h>

namespace oskra {

// The elements of a Tcl list given as a str, a _tkinter.Tcl_Obj (its string
// form) or a Python sequence (its elements, unchanged), as a tuple. A
// malformed list raises tkinter.TclError with Tcl's own message.
// New reference, or null with a Python error set.
PyObject *split_list(PyObject *value);

}  // namespace oskra
