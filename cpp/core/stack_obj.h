// A Tcl value on the C stack over borrowed UTF-8 text.
#pragma once
#include <Python.h>
#include <tcl.h>

namespace oskra {

// A Tcl value on the C stack over borrowed UTF-8 text, as Tcl's own
// Tcl_GetDouble and Tcl_GetBoolean use one: parsing gives it an internal
// representation, which the destructor frees; the text is never Tcl's.
struct StackObj {
    Tcl_Obj obj;
    StackObj(const char *s, Py_ssize_t n) {
        obj.refCount = 1;
        obj.bytes = const_cast<char *>(s);
        obj.length = (int)n;
        obj.typePtr = nullptr;
    }
    ~StackObj() {
        if (obj.typePtr && obj.typePtr->freeIntRepProc) obj.typePtr->freeIntRepProc(&obj);
    }
    StackObj(const StackObj &) = delete;
    StackObj &operator=(const StackObj &) = delete;
};

}  // namespace oskra
