// Tcl list quoting over str code points: the element scanner, the element
// converter and the list builder. Inputs are str objects (exact or
// subclass); every function reads the code points directly and writes its
// result in one pass into a str of the right kind.
#pragma once
#include <Python.h>

namespace oskra {
namespace quote {

// Quoting flags of one element.
enum : unsigned {
    USE_BRACES = 1u,  // the element may be enclosed in braces
    DONT_USE_BRACES = 2u,  // braces must not be used: backslash form
    BRACES_UNMATCHED = 4u,  // every brace is backslashed
};

// Scans one element and returns its flags.
unsigned scan_element(PyObject *str);

// The quoted element under `flags`. The converter may add BRACES_UNMATCHED
// to `flags` (an element starting with "{" in backslash form).
// New reference, or null with a Python error set.
PyObject *convert_element(PyObject *str, unsigned &flags);

// The Tcl list string of `n` str elements: each scanned, converted and
// joined with single spaces. New reference, or null with an error set.
PyObject *build_list(PyObject *const *items, Py_ssize_t n);

// The same when every item is an exact str; null with no error set as soon
// as one is not (nothing is then allocated). Runs no Python code.
PyObject *build_list_of_exact_str(PyObject *const *items, Py_ssize_t n);

// A qualified Tcl name as a pattern of `info commands`/`info procs` that
// matches that name only: the glob characters *?[]\ of its tail (after the
// last "::") get a backslash. Tcl takes a pattern's namespace part as a
// name, so that part is left as it is. New reference (the same str when
// there is nothing to escape), or null with an error set.
PyObject *literal_name_pattern(PyObject *name);

}  // namespace quote
}  // namespace oskra
