// Values handed to the Tcl layer (tkinter's call and setvar) that it can
// convert without crashing.
//
// tkinter checks the conversion of every top-level word, but converts the
// elements of a nested tuple or list without checking for failure and
// without a depth limit: a nested string it cannot encode, a nested object
// whose str() fails, or a very deep tuple kills the process. Every value
// that may hold nested tuples goes through tcl_safe_value() first.
#pragma once
#include <Python.h>

namespace oskra {

// A new reference to a value that tkinter converts without running Python
// code and without failing: `value` itself when it already is one (no
// allocation), otherwise a copy in which every list is a tuple and every
// leaf that is not a native Tcl-layer type (str, bytes, bool, int, float,
// Tcl_Obj) is replaced by its str(), which is what tkinter would have sent.
// Null with an exception set for a string tkinter cannot encode (the same
// UnicodeEncodeError it raises for a top-level word), a str() that fails, a
// string too long for Tcl, or nesting deeper than the recursion limit.
PyObject *tcl_safe_value(PyObject *value);

// The callable to register with the Tcl layer's createcommand, as the
// command `name` of the Tcl application object `tk`, in place of `func`.
// The result of `func` is converted with tclobj() (None is "", sequences
// and mappings become lists, a NestMap its keyed-list text) and then goes
// through tcl_safe_value(), since the Tcl layer converts a callback's
// result with the same unchecked conversion. An exception of `func` (or of
// the conversion) becomes a Tcl error that tells what it was, and reaches
// the caller of the Tcl code (core/callback_errors.h). Anything that is not
// callable is returned as it is, for the Tcl layer to refuse. New reference.
//
// With `table` (an interpreter's callable table: a dict that accepts weak
// references), the table holds `func` while the wrapper lives and the
// wrapper holds the table only weakly; once the table is gone, calling the
// wrapper raises RuntimeError("interpreter is closed").
PyObject *tcl_safe_callable(PyObject *func, PyObject *tk, PyObject *name, PyObject *table = nullptr);

}  // namespace oskra
