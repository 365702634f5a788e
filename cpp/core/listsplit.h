// Tcl list splitting over str code points, following Tcl 8.6's list syntax.
#pragma once
#include <Python.h>

#include <vector>

namespace oskra {

// The elements of a Tcl list given as a str, a _tkinter.Tcl_Obj (its string
// form) or a Python sequence (its elements, unchanged), as a tuple. A
// malformed list raises tkinter.TclError with Tcl's own message.
// New reference, or null with a Python error set.
PyObject *split_list(PyObject *value);

// For a caller whose split_list just failed: a TclError (a malformed list)
// becomes `raise ValueError(exc) from exc`, or with `quiet` is cleared.
// Other errors stay as they are. Returns null.
PyObject *list_error_as_value_error(bool quiet = false);

// `raise ValueError(exc) from exc` for the exception currently set.
void reraise_as_value_error();

// The same over part of a str, for parsers that split elements again
// without copying them out first. str[start:end) is split as a text of its
// own; a span is an element's extent in str, `literal` when it needs no
// backslash substitution (the element is then exactly str[start:end)).
struct ListSpan {
    Py_ssize_t start, end;
    bool literal;
};
PyObject *split_range(PyObject *str, Py_ssize_t start, Py_ssize_t end);
bool split_spans(PyObject *str, Py_ssize_t start, Py_ssize_t end, std::vector<ListSpan> &out);
PyObject *span_element(PyObject *str, const ListSpan &span);
// One element at a time: the element of str[*pos:end) at or after *pos.
// 1 with *span set and *pos moved past it, 0 at the end, -1 with TclError
// set for a malformed element (the text after it is not looked at).
int next_span(PyObject *str, Py_ssize_t *pos, Py_ssize_t end, ListSpan *span);
// The number of elements of str[start:end) without building any, the first
// `keep` spans stored in first[]; -1 with TclError set for a malformed list.
Py_ssize_t count_spans(PyObject *str, Py_ssize_t start, Py_ssize_t end, ListSpan *first, Py_ssize_t keep);

}  // namespace oskra
