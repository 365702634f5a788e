// What differs between the supported CPython versions (3.12 and 3.13), and
// the few CPython internals the package relies on: every version check lives
// here, so the rest of the code reads the same on every Python.
#pragma once
#include <Python.h>

namespace oskra {

// ---------------------------------------------------------------------------
// Recursion bound for C++ code that recurses over user data (nested
// containers, protocol methods returning more objects to convert).
//
// Py_EnterRecursiveCall alone does not bound it on every version: 3.12
// counts C recursion against a small fixed limit, 3.13 against a much larger
// one (about 10000) that a chain of protocol calls overruns the C stack
// before reaching. So the guard also keeps its own depth per thread, bounded
// by the interpreter's recursion limit (sys.getrecursionlimit()), and raises
// the same RecursionError as Python itself.

inline thread_local int t_recursion_depth = 0;

// False with RecursionError set when the bound is reached; otherwise the
// caller must call leave_recursion() once it is done.
inline bool enter_recursion(const char *where) {
    if (t_recursion_depth >= Py_GetRecursionLimit()) {
        PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
        return false;
    }
    if (Py_EnterRecursiveCall(where)) return false;
    ++t_recursion_depth;
    return true;
}

inline void leave_recursion() {
    --t_recursion_depth;
    Py_LeaveRecursiveCall();
}

// ---------------------------------------------------------------------------
// From 3.13 on, Python's own message for an unknown keyword argument names
// the closest parameter ("... 'flag'. Did you mean 'flags'?"); the binder
// does the same where Python does.
inline constexpr bool keyword_suggestions = PY_VERSION_HEX >= 0x030D0000;

// ---------------------------------------------------------------------------
// getattr(obj, name, None) without raising AttributeError: 1 with a new
// reference in *out when present, 0 when absent (AttributeError swallowed),
// -1 on any other error.
inline int get_optional_attr(PyObject *obj, PyObject *name, PyObject **out) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, out);
#else
    return _PyObject_LookupAttr(obj, name, out);
#endif
}

// The referent of a weak reference or proxy: 1 with a new reference in *out,
// 0 once it is gone (*out null), -1 on error. (PyWeakref_GetObject, which
// hands out a borrowed reference, is deprecated from 3.13 on.)
inline int weakref_target(PyObject *ref, PyObject **out) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyWeakref_GetRef(ref, out);
#else
    PyObject *o = PyWeakref_GetObject(ref);
    *out = nullptr;
    if (!o) return -1;
    if (o == Py_None) return 0;
    *out = Py_NewRef(o);
    return 1;
#endif
}

// Whether the interpreter is shutting down (public from 3.13 on).
inline bool python_is_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing();
#else
    return _Py_IsFinalizing();
#endif
}

// ---------------------------------------------------------------------------
// Private CPython calls, present with these signatures in 3.12 and 3.13.
// Each stands for work the public API can only do through slower generic
// paths (attribute lookups that raise and catch, a fresh allocation).

// The attribute `name` found on the type's MRO, without calling descriptors;
// borrowed, null when absent (no error set).
inline PyObject *type_lookup(PyTypeObject *type, PyObject *name) { return _PyType_Lookup(type, name); }

// A type's name without its module, as Python's own messages give it.
inline const char *type_short_name(PyTypeObject *type) { return _PyType_Name(type); }

// object.__getattribute__(obj, name) that returns null without raising when
// the attribute is missing (AttributeError suppressed; other errors set).
inline PyObject *generic_getattr_or_null(PyObject *obj, PyObject *name) {
    return _PyObject_GenericGetAttrWithDict(obj, name, nullptr, 1);
}

// The address of the instance dict slot, or null for a type without one.
inline PyObject **object_dict_ptr(PyObject *obj) { return _PyObject_GetDictPtr(obj); }

// Raise the pending exception with `exc` (stolen) as its __context__; with
// nothing pending, raise `exc` itself.
inline void chain_exception(PyObject *exc) { _PyErr_ChainExceptions1(exc); }

// Bring a freed-list object back to life with a reference count of one.
inline void revive_object(PyObject *obj) { _Py_NewReference(obj); }

}  // namespace oskra
