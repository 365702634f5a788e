// The exact text of a variable's value or of a command's result, read once
// through the Tcl layer.
#pragma once
#include <Python.h>

namespace oskra {

// The text of the Tcl variable `name` (a str; an element as "a(i)"), read
// with one Tcl command through tk.call, so that the variable's read traces
// run once, inside the Tcl layer. Every character is kept (NUL included),
// whatever the value's internal type: a number keeps its own spelling
// ("0x10", "1.50"), a list its own spacing, a byte array gives its bytes
// as the characters U+0000..U+00FF. New reference, or null with the
// Tcl layer's error set (a TclError for a missing variable).
PyObject *read_var_text(PyObject *tk, PyObject *name);

// read_var_text, where an array (which has no value of its own) reads as
// the text of `array get`: the string read of a variable by name. A failed
// read of anything else keeps its error.
PyObject *read_var_or_array_text(PyObject *tk, PyObject *name);

// Whether joining `name` onto the local namespace ('') gives it back as it
// is: a str whose colons all come in pairs, none at its end ("a",
// "::a::b", "a(x y)"). A view of that namespace may then use the name
// without the join.
bool joins_as_itself_locally(PyObject *name);

// The text of the result of the Tcl command made of the `n` words (each a
// str), run once with tk.call, kept whole in the same way.
PyObject *call_text(PyObject *tk, PyObject *const *words, size_t n);

}  // namespace oskra
