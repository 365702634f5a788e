// Access to the Tcl layer underneath tkinter.
#pragma once
#include <Python.h>
#include <tcl.h>

namespace oskra {

// tkinter.TclError (borrowed, cached on first use); null with an error set
// if tkinter cannot be imported.
PyObject *tcl_error_type();

// _tkinter.Tcl_Obj (borrowed, cached).
PyObject *tcl_obj_type();

// The Tcl interpreter behind a _tkinter.tkapp object (the `tk` attribute
// of a tkinter.Tk); null with TypeError set for anything else.
Tcl_Interp *interp_of_tkapp(PyObject *tkapp);

// The Tcl_Obj* held by a _tkinter.Tcl_Obj Python object (no new reference).
Tcl_Obj *tcl_obj_value(PyObject *obj);

}  // namespace oskra
