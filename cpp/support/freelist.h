// A small free list for a GC-tracked native type whose objects are made and
// dropped at a high rate (one per call). Released objects keep their memory
// and their reference to the type; reuse only resets the reference count and
// tracks the object again. Disabled under AddressSanitizer, so that a use
// after release is still caught there.
#pragma once
#include <Python.h>

#include <cstring>

#include "support/compat.h"

namespace oskra {

template <int N>
class FreeList {
public:
    // A zero-filled object of `type` (fields after the header), tracked.
    PyObject *alloc(PyTypeObject *type, size_t basicsize) {
#ifndef __SANITIZE_ADDRESS__
        if (n_ > 0) {
            PyObject *o = items_[--n_];
            std::memset(reinterpret_cast<char *>(o) + sizeof(PyObject), 0, basicsize - sizeof(PyObject));
            oskra::revive_object(o);
            PyObject_GC_Track(o);
            return o;
        }
#else
        (void)basicsize;
#endif
        return type->tp_alloc(type, 0);
    }

    // Takes an untracked object whose fields are already cleared; false
    // when the list is full (the caller then frees it as usual).
    bool keep(PyObject *o, PyTypeObject *type) {
#ifndef __SANITIZE_ADDRESS__
        if (n_ < N && Py_TYPE(o) == type) {
            items_[n_++] = o;
            return true;
        }
#else
        (void)o;
        (void)type;
#endif
        return false;
    }

private:
    PyObject *items_[N];
    int n_ = 0;
};

}  // namespace oskra
