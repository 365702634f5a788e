// The text of a Tcl value as a Python str, decoded the way the Tcl layer
// decodes the text it hands back, so that a value read through either path
// compares equal.
//
// Tcl's own text of a value is UTF-8 with two liberties: U+0000 may be the
// two bytes C0 80, and a character beyond U+FFFF may be a surrogate pair
// with each half encoded on its own (three bytes each). Bytes that are no
// UTF-8 at all come back as lone surrogates (U+DC80..U+DCFF), as Python's
// "surrogateescape" error handler gives them.
//
// Asked for objects (its default), the Tcl layer converts a Tcl result by
// the result's internal type: a list into a tuple, a byte array into bytes,
// numbers and booleans into int, float and bool, a value of another type
// into a Tcl_Obj wrapper, plain text into str. Where the caller wants a
// string, the answer is the value's Tcl text, never Python's form of the
// converted value ("('a', 'b c')", "b'...'").
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

// A byte array's text: its bytes as the characters U+0000-U+00FF.
PyObject *bytes_text(PyObject *bytes);

// The Tcl text of a value as the Tcl layer converted it: a str as it is,
// bytes as bytes_text, a tuple as the Tcl list of its elements' texts, and
// anything else as wordform() gives it (a Tcl_Obj's string form, an int in
// decimal, ...). A number keeps the text of its value only: the Tcl text it
// came from ("0x10", "1.50") is known to the Tcl object alone (see
// result_text).
PyObject *tcl_text(PyObject *value);

// The tuple of tcl_text() of each element of a tuple.
PyObject *element_texts(PyObject *tuple);

// True for bytes, or a tuple holding bytes at any depth: the values whose
// wordform() is not their Tcl text.
bool holds_bytes(PyObject *value);

// The Tcl text of `result`, which a successful call through the Tcl
// application object `tkapp` has just returned, with no Tcl work since. A
// str carries its text; otherwise the text is read from the Tcl object (a
// Tcl_Obj's own, else the interpreter's result, which the conversion left in
// place) where this thread may touch that interpreter, and is
// tcl_text(result) elsewhere.
PyObject *result_text(PyObject *tkapp, PyObject *result);

}  // namespace oskra
