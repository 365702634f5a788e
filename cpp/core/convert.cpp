// Python value -> Tcl word/list text (wordform) and Tcl-ready value (tclobj).
//
// Exact built-in types (str, int, float, bool, None, tuple, list, dict and
// the other built-in containers) cannot carry the conversion protocol
// methods, so they take a fast path that skips the protocol lookup; all
// other objects follow the rules in their order.
#include "core/convert.h"

#include "core/quote.h"
#include "support/state.h"
#include "support/compat.h"
#include "support/pyref.h"

namespace oskra {
namespace {

const char RECURSION_WHERE[] = " while converting a Python object for Tcl";

inline PyObject *new_ref(PyObject *o) {
    Py_INCREF(o);
    return o;
}

// getattr(obj, name, None): 1 with a new reference in *out when present,
// 0 when reading it raised AttributeError, -1 on any other error.
inline int lookup_attr(PyObject *obj, PyObject *name, PyObject **out) {
    return get_optional_attr(obj, name, out);
}

// The protocol method `name` of obj, called, when it is present and
// truthy: 1 with the result in *out, 0 when absent or falsy, -1 on error.
int call_protocol(PyObject *obj, PyObject *name, PyObject **out) {
    PyObject *found_method = nullptr;
    int found = lookup_attr(obj, name, &found_method);
    Ref method = Ref::steal(found_method);
    if (found <= 0) return found;
    int truthy = PyObject_IsTrue(method.get());
    if (truthy <= 0) return truthy;
    *out = PyObject_CallNoArgs(method.get());
    return *out ? 1 : -1;
}

// Owned references with a small inline buffer (kept small: it lives on the
// stack of every nesting level).
class ObjVec {
public:
    ObjVec() = default;
    ObjVec(const ObjVec &) = delete;
    ObjVec &operator=(const ObjVec &) = delete;
    ~ObjVec() {
        for (Py_ssize_t i = 0; i < n_; ++i) Py_DECREF(p_[i]);
        if (p_ != inline_) PyMem_Free(p_);
    }
    // Takes the reference; returns false (reference dropped, MemoryError
    // set) when out of memory.
    bool push(PyObject *o) {
        if (n_ == cap_ && !grow()) {
            Py_DECREF(o);
            return false;
        }
        p_[n_++] = o;
        return true;
    }
    Py_ssize_t size() const { return n_; }
    PyObject **data() { return p_; }
    PyObject *operator[](Py_ssize_t i) const { return p_[i]; }
    // Puts the new reference `o` in place i (whose reference is dropped).
    void replace(Py_ssize_t i, PyObject *o) { Py_SETREF(p_[i], o); }
    // Moves the references into a new tuple.
    PyObject *to_tuple() {
        PyObject *t = PyTuple_New(n_);
        if (!t) return nullptr;
        for (Py_ssize_t i = 0; i < n_; ++i) PyTuple_SET_ITEM(t, i, p_[i]);
        n_ = 0;
        return t;
    }

private:
    bool grow() {
        Py_ssize_t cap = cap_ * 2;
        PyObject **p;
        if (p_ == inline_) {
            p = (PyObject **)PyMem_Malloc(sizeof(PyObject *) * (size_t)cap);
            if (p) memcpy(p, inline_, sizeof inline_);
        } else {
            p = (PyObject **)PyMem_Realloc(p_, sizeof(PyObject *) * (size_t)cap);
        }
        if (!p) {
            PyErr_NoMemory();
            return false;
        }
        p_ = p;
        cap_ = cap;
        return true;
    }
    PyObject *inline_[8];
    PyObject **p_ = inline_;
    Py_ssize_t n_ = 0, cap_ = 8;
};

typedef PyObject *(*Convert)(PyObject *);

// Pushes conv(e) for every element e of `iterable`, in iteration order.
// A list is read by index with its length checked at every step, exactly
// as its iterator would, so a conversion that changes the list is safe.
bool collect(PyObject *iterable, Convert conv, ObjVec &out) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        bool is_list = PyList_CheckExact(iterable);
        for (Py_ssize_t i = 0;; ++i) {
            Ref item;
            if (is_list) {
                if (i >= PyList_GET_SIZE(iterable)) break;
                item = Ref::borrow(PyList_GET_ITEM(iterable, i));
            } else {
                if (i >= PyTuple_GET_SIZE(iterable)) break;
                item = Ref::borrow(PyTuple_GET_ITEM(iterable, i));
            }
            PyObject *r = conv(item.get());
            if (!r || !out.push(r)) return false;
        }
        return true;
    }
    Ref it = Ref::steal(PyObject_GetIter(iterable));
    if (!it) return false;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        PyObject *r = conv(item.get());
        if (!r || !out.push(r)) return false;
    }
    return !PyErr_Occurred();
}

// Pushes key1, value1, key2, value2, ... of a mapping, the values read by
// indexing with each key.
bool collect_pairs(PyObject *mapping, ObjVec &out) {
    if (PyDict_CheckExact(mapping)) {
        Py_ssize_t pos = 0;
        PyObject *k, *v;
        while (PyDict_Next(mapping, &pos, &k, &v)) {
            if (!out.push(new_ref(k)) || !out.push(new_ref(v))) return false;
        }
        return true;
    }
    Ref it = Ref::steal(PyObject_GetIter(mapping));
    if (!it) return false;
    while (Ref key = Ref::steal(PyIter_Next(it.get()))) {
        Ref value = Ref::steal(PyObject_GetItem(mapping, key.get()));
        if (!value || !out.push(key.release()) || !out.push(value.release())) return false;
    }
    return !PyErr_Occurred();
}

// The Tcl form of an object that a __wordform__ method returned instead of
// a str: converted once more, and it must then be a str.
PyObject *second_pass(PyObject *w) {
    Ref w2 = Ref::steal(wordform(w));
    if (!w2 || PyUnicode_Check(w2.get())) return w2.release();
    PyErr_Format(PyExc_TypeError, "Tcl word form must be str, not %.200s", Py_TYPE(w2.get())->tp_name);
    return nullptr;
}

// The list string of the word forms in `items` (non-str ones converted
// once more).
PyObject *list_text(ObjVec &items) {
    for (Py_ssize_t i = 0; i < items.size(); ++i) {
        if (PyUnicode_Check(items[i])) continue;
        PyObject *s = second_pass(items[i]);
        if (!s) return nullptr;
        items.replace(i, s);
    }
    return quote::build_list(items.data(), items.size());
}

PyObject *as_tuple(ObjVec &items) { return items.to_tuple(); }

using Finish = PyObject *(*)(ObjVec &);

// finish() of conv(e) for every element e of `iterable`.
PyObject *convert_sequence(PyObject *iterable, Convert conv, Finish finish) {
    if (!enter_recursion(RECURSION_WHERE)) return nullptr;
    PyObject *r = nullptr;
    {
        ObjVec items;
        if (collect(iterable, conv, items)) r = finish(items);
    }
    leave_recursion();
    return r;
}

// finish() of key1, value1, key2, value2, ... of a mapping, each passed
// through conv (an exact str is its own result under both conversions).
PyObject *convert_mapping(PyObject *mapping, Convert conv, Finish finish) {
    if (!enter_recursion(RECURSION_WHERE)) return nullptr;
    PyObject *r = nullptr;
    {
        ObjVec items;
        bool ok = collect_pairs(mapping, items);
        for (Py_ssize_t i = 0; ok && i < items.size(); ++i) {
            if (PyUnicode_CheckExact(items[i])) continue;
            PyObject *c = conv(items[i]);
            if (!c) ok = false;
            else items.replace(i, c);
        }
        if (ok) r = finish(items);
    }
    leave_recursion();
    return r;
}

int is_sequence_or_set(PyObject *obj) {
    int r = PyObject_IsInstance(obj, state->abc_Sequence);
    if (r) return r;
    return PyObject_IsInstance(obj, state->abc_Set);
}

// Exact built-in containers: no protocol methods possible.
inline bool exact_builtin_sequence(PyObject *obj) {
    return PyList_CheckExact(obj) || PyTuple_CheckExact(obj) || PyAnySet_CheckExact(obj) ||
            PyBytes_CheckExact(obj) || PyByteArray_CheckExact(obj) || PyRange_Check(obj);
}

}  // namespace

PyObject *wordform_text(PyObject *obj) {
    Ref w = Ref::steal(wordform(obj));
    if (!w || PyUnicode_Check(w.get())) return w.release();
    return second_pass(w.get());
}

PyObject *wordform(PyObject *obj) {
    PyTypeObject *tp = Py_TYPE(obj);
    if (tp == &PyUnicode_Type) return new_ref(obj);
    if (tp == &PyLong_Type || tp == &PyFloat_Type) return PyObject_Str(obj);
    if (tp == &PyBool_Type) return new_ref(obj == Py_True ? names.true_ : names.false_);
    if (obj == Py_None) return new_ref(names.empty);
    if (exact_builtin_sequence(obj)) return wordform_from_sequence(obj);
    if (tp == &PyDict_Type) return wordform_from_mapping(obj);

    PyObject *r = nullptr;
    int found = call_protocol(obj, names.dunder_wordform, &r);
    if (found) return found > 0 ? r : nullptr;
    found = call_protocol(obj, names.dunder_tclobj, &r);
    if (found < 0) return nullptr;
    if (found) {
        Ref result = Ref::steal(r);
        if (!enter_recursion(RECURSION_WHERE)) return nullptr;
        PyObject *w = wordform(result.get());
        leave_recursion();
        return w;
    }
    if (PyUnicode_Check(obj)) return PyObject_Str(obj);
    int is = is_sequence_or_set(obj);
    if (is < 0) return nullptr;
    if (is) return wordform_from_sequence(obj);
    is = PyObject_IsInstance(obj, state->abc_Mapping);
    if (is < 0) return nullptr;
    if (is) return wordform_from_mapping(obj);
    return PyObject_Str(obj);
}

PyObject *wordform_from_sequence(PyObject *iterable) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        // A list or tuple of plain strings: quoted straight from its items.
        PyObject *r = quote::build_list_of_exact_str(PySequence_Fast_ITEMS(iterable),
                                                     PySequence_Fast_GET_SIZE(iterable));
        if (r || PyErr_Occurred()) return r;
    }
    return convert_sequence(iterable, wordform, list_text);
}

PyObject *wordform_from_mapping(PyObject *mapping) {
    return convert_mapping(mapping, wordform, list_text);  // a non-str word form: see list_text
}

PyObject *tclobj(PyObject *obj) {
    PyTypeObject *tp = Py_TYPE(obj);
    if (tp == &PyUnicode_Type || tp == &PyFloat_Type || tp == &PyBool_Type || tp == &PyBytes_Type)
        return new_ref(obj);
    if (obj == Py_None) return new_ref(names.empty);
    if (tp == &PyLong_Type) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (v == -1 && PyErr_Occurred()) return nullptr;
        if (!overflow && v >= (long long)PY_SSIZE_T_MIN && v <= (long long)PY_SSIZE_T_MAX)
            return new_ref(obj);
        return wordform(obj);
    }
    if (tp == &PyList_Type || tp == &PyTuple_Type || PyAnySet_CheckExact(obj) || tp == &PyByteArray_Type ||
        tp == &PyRange_Type)
        return tclobj_from_sequence(obj);
    if (tp == &PyDict_Type) return tclobj_from_mapping(obj);

    PyObject *r = nullptr;
    int found = call_protocol(obj, names.dunder_tclobj, &r);
    if (found) return found > 0 ? r : nullptr;
    if (PyBytes_Check(obj) || PyFloat_Check(obj) || PyUnicode_Check(obj) ||
        PyObject_TypeCheck(obj, (PyTypeObject *)state->Tcl_Obj))
        return new_ref(obj);
    int is = is_sequence_or_set(obj);
    if (is < 0) return nullptr;
    if (is) return tclobj_from_sequence(obj);
    is = PyObject_IsInstance(obj, state->abc_Mapping);
    if (is < 0) return nullptr;
    if (is) return tclobj_from_mapping(obj);
    return wordform(obj);
}

PyObject *tclobj_from_sequence(PyObject *iterable) { return convert_sequence(iterable, tclobj, as_tuple); }

PyObject *tclobj_from_mapping(PyObject *mapping) { return convert_mapping(mapping, tclobj, as_tuple); }

}  // namespace oskra
