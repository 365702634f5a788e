// A method for a class assembled with type(): a wrapper around a C function
// that receives self as its first argument.
//
// Python's own wrapper for this (instancemethod) makes a bound method object
// on every call made through an instance, and its calls cannot be
// specialised. This wrapper is a method descriptor: Python calls it with
// self prepended, with no object made per call, exactly as it calls the
// methods of a built-in type.
#pragma once
#include <Python.h>

namespace oskra {

// `func` is a C function object (METH_FASTCALL, optionally
// METH_KEYWORDS, no bound self) whose first argument is the instance. Read
// from the class, the wrapper gives `func` itself, so that its name,
// signature and documentation are what Python shows. New reference or null.
PyObject *fast_method_new(PyObject *func);

}  // namespace oskra
