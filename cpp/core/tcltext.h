// The text of a Tcl value as a Python str, decoded the way the Tcl layer
// decodes the text it hands back, so that a value read through either path
// compares equal.
//
// Tcl's own text of a value is UTF-8 with two liberties: U+0000 may be the
// two bytes C0 80, and a character beyond U+FFFF may be a surrogate pair
// with each half encoded on its own (three bytes each). Bytes that are no
// UTF-8 at all come back as lone surrogates (U+DC80..U+DCFF), as Python's
// "surrogateescape" error handler gives them.
#pragma once
#include <Python.h>
#include <tcl.h>

namespace oskra {

// New reference, or null with a Python error set (memory only).
PyObject *text_of_utf(const char *s, Py_ssize_t n);

// The text of a Tcl value: builds its string form if it has none (pure
// object inspection, which runs no script). Call on the interpreter's own
// thread only.
PyObject *text_of_tcl_obj(Tcl_Obj *obj);

}  // namespace oskra
