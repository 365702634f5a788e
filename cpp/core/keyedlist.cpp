// The NestMap operations: item access by dotted key path, update, and the
// listings of leaves. Reading keyed-list text is in keyedlist_text.cpp.
//
// "base" operations below are the dict's own, acting on the top level only;
// the path-aware ones split a key once at its first "." and hand the rest to
// the nested object. For exact NestMap levels the walk stays in C++; any
// other object (a subclass, a leaf) is reached through its own Python
// protocol, so overridden methods and leaf semantics are honoured.
#include "core/keyedlist.h"

#include "core/convert.h"
#include "support/compat.h"
#include "support/pyref.h"
#include "support/state.h"

namespace oskra {

namespace {

inline bool exact_nestmap(PyObject *o) { return (PyObject *)Py_TYPE(o) == state->NestMap; }

void set_key_error(PyObject *key) {
    PyObject *t = PyTuple_Pack(1, key);
    if (t) {
        PyErr_SetObject(PyExc_KeyError, t);
        Py_DECREF(t);
    }
}

void set_target_key_error(PyObject *key) {
    PyObject *msg = PyUnicode_FromFormat(
            "target key \"%S\" is a value, cannot update value against another keyed list", key);
    if (msg) {
        PyErr_SetObject(PyExc_KeyError, msg);
        Py_DECREF(msg);
    }
}

// The dict's own item read, raising KeyError for a missing key.
PyObject *base_get(PyObject *self, PyObject *key) {
    PyObject *v = PyDict_GetItemWithError(self, key);
    if (v) return Py_NewRef(v);
    if (!PyErr_Occurred()) set_key_error(key);
    return nullptr;
}

// Splits a key at its first ".": 1 with *head and *rest set (new
// references), 0 for a key without a dot, -1 on error ("." in key raises
// TypeError for a key that does not support the test).
int split_path(PyObject *key, PyObject **head, PyObject **rest) {
    if (PyUnicode_CheckExact(key)) {
        Py_ssize_t len = PyUnicode_GET_LENGTH(key);
        Py_ssize_t i = PyUnicode_FindChar(key, '.', 0, len, 1);
        if (i == -2) return -1;
        if (i < 0) return 0;
        *head = PyUnicode_Substring(key, 0, i);
        if (!*head) return -1;
        *rest = PyUnicode_Substring(key, i + 1, len);
        if (!*rest) {
            Py_CLEAR(*head);
            return -1;
        }
        return 1;
    }
    int has = PySequence_Contains(key, names.dot);
    if (has <= 0) return has;
    Ref parts = Ref::steal(PyObject_CallMethod(key, "split", "Oi", names.dot, 1));
    if (!parts) return -1;
    Ref seq = Ref::steal(PySequence_Fast(parts.get(), "cannot unpack non-iterable object"));
    if (!seq) return -1;
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    if (n != 2) {
        if (n < 2) PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", n);
        else PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        return -1;
    }
    *head = Py_NewRef(PySequence_Fast_GET_ITEM(seq.get(), 0));
    *rest = Py_NewRef(PySequence_Fast_GET_ITEM(seq.get(), 1));
    return 1;
}

// self[key] for a key without a dot, as the object's own __getitem__ sees
// it: 1 found (*out set), 0 missing (KeyError swallowed), -1 error.
int get_plain(PyObject *self, PyObject *key, PyObject **out) {
    if (exact_nestmap(self)) {
        PyObject *v = PyDict_GetItemWithError(self, key);
        if (v) {
            *out = Py_NewRef(v);
            return 1;
        }
        return PyErr_Occurred() ? -1 : 0;
    }
    *out = PyObject_GetItem(self, key);
    if (*out) return 1;
    if (PyErr_ExceptionMatches(PyExc_KeyError)) {
        PyErr_Clear();
        return 0;
    }
    return -1;
}

// self[key] through the path-aware read: as get_plain, for any key.
int get_path(PyObject *self, PyObject *key, PyObject **out) {
    *out = exact_nestmap(self) ? keyed::getitem(self, key) : PyObject_GetItem(self, key);
    if (*out) return 1;
    if (PyErr_ExceptionMatches(PyExc_KeyError)) {
        PyErr_Clear();
        return 0;
    }
    return -1;
}

int set_path(PyObject *self, PyObject *key, PyObject *value) {
    return exact_nestmap(self) ? keyed::setitem(self, key, value) : PyObject_SetItem(self, key, value);
}

PyObject *call_update_one(PyObject *self, PyObject *other) {
    if (exact_nestmap(self)) {
        PyObject *args[1] = {other};
        if (keyed::update(self, args, 1, nullptr) < 0) return nullptr;
        Py_RETURN_NONE;
    }
    return PyObject_CallMethodOneArg(self, names.update, other);
}

// key + "." + sub
PyObject *join_path(PyObject *key, PyObject *sub) {
    if (PyUnicode_CheckExact(key) && PyUnicode_CheckExact(sub)) {
        Py_ssize_t a = PyUnicode_GET_LENGTH(key), b = PyUnicode_GET_LENGTH(sub);
        Py_UCS4 maxc = PyUnicode_MAX_CHAR_VALUE(key);
        Py_UCS4 m2 = PyUnicode_MAX_CHAR_VALUE(sub);
        if (m2 > maxc) maxc = m2;
        PyObject *r = PyUnicode_New(a + 1 + b, maxc);
        if (!r) return nullptr;
        PyUnicode_CopyCharacters(r, 0, key, 0, a);
        PyUnicode_WRITE(PyUnicode_KIND(r), PyUnicode_DATA(r), a, '.');
        PyUnicode_CopyCharacters(r, a + 1, sub, 0, b);
        return r;
    }
    Ref left = Ref::steal(PyNumber_Add(key, names.dot));
    if (!left) return nullptr;
    return PyNumber_Add(left.get(), sub);
}

// The walk shared by all_keys and all_items.
PyObject *all_entries(PyObject *self, bool items) {
    Ref ret = Ref::steal(PyList_New(0));
    if (!ret) return nullptr;
    Ref snapshot = Ref::steal(PyDict_Items(self));
    if (!snapshot) return nullptr;
    Py_ssize_t n = PyList_GET_SIZE(snapshot.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *kv = PyList_GET_ITEM(snapshot.get(), i);
        PyObject *key = PyTuple_GET_ITEM(kv, 0);
        PyObject *value = PyTuple_GET_ITEM(kv, 1);
        if (!keyed::is_nestmap(value)) {
            if (PyList_Append(ret.get(), items ? kv : key) < 0) return nullptr;
            continue;
        }
        Ref sub;
        if (exact_nestmap(value)) {
            if (!enter_recursion(" while listing a keyed list")) return nullptr;
            sub = Ref::steal(all_entries(value, items));
            leave_recursion();
        } else {
            sub = Ref::steal(PyObject_CallMethodNoArgs(value, items ? names.all_items : names.all_keys));
        }
        if (!sub) return nullptr;
        Ref it = Ref::steal(PyObject_GetIter(sub.get()));
        if (!it) return nullptr;
        while (PyObject *entry = PyIter_Next(it.get())) {
            Ref e = Ref::steal(entry);
            Ref out;
            if (items) {
                Ref seq = Ref::steal(PySequence_Tuple(entry));
                if (!seq) return nullptr;
                if (PyTuple_GET_SIZE(seq.get()) != 2) {
                    PyErr_SetString(PyExc_ValueError, "all_items() entries must be (key, value) pairs");
                    return nullptr;
                }
                Ref path = Ref::steal(join_path(key, PyTuple_GET_ITEM(seq.get(), 0)));
                if (!path) return nullptr;
                out = Ref::steal(PyTuple_Pack(2, path.get(), PyTuple_GET_ITEM(seq.get(), 1)));
            } else {
                out = Ref::steal(join_path(key, entry));
            }
            if (!out || PyList_Append(ret.get(), out.get()) < 0) return nullptr;
        }
        if (PyErr_Occurred()) return nullptr;
    }
    return ret.release();
}

}  // namespace

namespace keyed {

PyObject *nestmap_class() {
    if (state->NestMap) return state->NestMap;
    Ref mod = Ref::steal(PyImport_ImportModule("oskra.tcl.nestmap"));
    if (!mod) return nullptr;
    PyObject *cls = PyObject_GetAttrString(mod.get(), "NestMap");
    if (!cls) return nullptr;
    if (!PyType_Check(cls)) {
        Py_DECREF(cls);
        PyErr_SetString(PyExc_TypeError, "oskra.tcl.nestmap.NestMap is not a class");
        return nullptr;
    }
    state->NestMap = cls;
    return state->NestMap;
}

void set_nestmap_class(PyObject *cls) {
    Py_XINCREF(cls);
    Py_XSETREF(state->NestMap, cls);
}

bool is_nestmap(PyObject *obj) {
    PyObject *cls = state->NestMap;  // no NestMap exists before its class does
    return cls && (exact_nestmap(obj) || PyType_IsSubtype(Py_TYPE(obj), (PyTypeObject *)cls));
}

PyObject *new_nestmap() {
    PyTypeObject *tp = (PyTypeObject *)nestmap_class();
    if (!tp) return nullptr;
    // What NestMap() leaves behind: __init__ with no arguments stores nothing.
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    return tp->tp_new(tp, empty.get(), nullptr);
}

int init(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref dsc = Ref::steal(PyObject_Vectorcall((PyObject *)&PyDict_Type, args, nargs, kwnames));
    if (!dsc) return -1;
    Py_ssize_t pos = 0;
    PyObject *key, *val;
    while (PyDict_Next(dsc.get(), &pos, &key, &val)) {
        if (is_nestmap(val)) continue;
        Ref sub = Ref::steal(new_nestmap());
        if (!sub) return -1;
        if (!enter_recursion(" while building a NestMap")) return -1;
        Ref hold = Ref::borrow(val);
        PyObject *sub_args[1] = {val};
        int rc = init(sub.get(), sub_args, 1, nullptr);
        leave_recursion();
        if (rc < 0) {
            if (PyErr_ExceptionMatches(PyExc_ValueError) || PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                continue;
            }
            return -1;
        }
        if (PyDict_SetItem(dsc.get(), key, sub.get()) < 0) return -1;
    }
    Ref r = Ref::steal(call_update_one(self, dsc.get()));
    return r ? 0 : -1;
}

PyObject *getitem(PyObject *self, PyObject *key) {
    Ref cur = Ref::borrow(self);
    Ref k = Ref::borrow(key);
    for (;;) {
        PyObject *head, *rest;
        int dotted = split_path(k.get(), &head, &rest);
        if (dotted < 0) return nullptr;
        if (!dotted) return base_get(cur.get(), k.get());
        Ref h = Ref::steal(head), r = Ref::steal(rest);
        Ref sub = Ref::steal(base_get(cur.get(), h.get()));
        if (!sub) return nullptr;
        if (!exact_nestmap(sub.get())) return PyObject_GetItem(sub.get(), r.get());
        cur = sub;
        k = r;
    }
}

int setitem(PyObject *self, PyObject *key, PyObject *value) {
    Ref v = Ref::borrow(value);
    if (is_keyed_list_obj(value)) {
        v = Ref::steal(keyed_list_from_tcl(value));
        if (!v) return -1;
    }
    Ref cur = Ref::borrow(self);
    Ref k = Ref::borrow(key);
    for (;;) {
        PyObject *head, *rest;
        int dotted = split_path(k.get(), &head, &rest);
        if (dotted < 0) return -1;
        if (dotted) {
            Ref h = Ref::steal(head), r = Ref::steal(rest);
            PyObject *found;
            int got = get_plain(cur.get(), h.get(), &found);
            if (got < 0) return -1;
            Ref sub;
            if (got == 0) {
                sub = Ref::steal(new_nestmap());
                if (!sub || PyDict_SetItem(cur.get(), h.get(), sub.get()) < 0) return -1;
            } else {
                sub = Ref::steal(found);
                if (!is_nestmap(sub.get())) {
                    set_target_key_error(h.get());
                    return -1;
                }
            }
            if (!exact_nestmap(sub.get())) return PyObject_SetItem(sub.get(), r.get(), v.get());
            cur = sub;
            k = r;
            continue;
        }
        if (is_nestmap(v.get())) {
            PyObject *found;
            int got = get_plain(cur.get(), k.get(), &found);
            if (got < 0) return -1;
            if (got) {
                Ref existing = Ref::steal(found);
                if (!is_nestmap(existing.get())) {
                    set_target_key_error(k.get());
                    return -1;
                }
            }
        }
        return PyDict_SetItem(cur.get(), k.get(), v.get());
    }
}

PyObject *contains(PyObject *self, PyObject *key) {
    Ref cur = Ref::borrow(self);
    Ref k = Ref::borrow(key);
    for (;;) {
        PyObject *head, *rest;
        int dotted = split_path(k.get(), &head, &rest);
        if (dotted < 0) return nullptr;
        if (!dotted) {
            int has = PyDict_Contains(cur.get(), k.get());
            if (has < 0) return nullptr;
            return PyBool_FromLong(has);
        }
        Ref h = Ref::steal(head), r = Ref::steal(rest);
        PyObject *found = PyDict_GetItemWithError(cur.get(), h.get());
        if (!found) {
            if (PyErr_Occurred()) return nullptr;
            Py_RETURN_FALSE;
        }
        Ref sub = Ref::borrow(found);
        if (!exact_nestmap(sub.get())) {
            return PyObject_CallMethodOneArg(sub.get(), names.dunder_contains, r.get());
        }
        cur = sub;
        k = r;
    }
}

int delitem(PyObject *self, PyObject *key) {
    PyObject *head, *rest;
    int dotted = split_path(key, &head, &rest);
    if (dotted < 0) return -1;
    if (!dotted) return PyDict_DelItem(self, key);
    Ref h = Ref::steal(head), r = Ref::steal(rest);
    Ref sub = Ref::steal(base_get(self, h.get()));
    if (!sub) return -1;
    int rc;
    if (exact_nestmap(sub.get())) {
        if (!enter_recursion(" while deleting from a keyed list")) return -1;
        rc = delitem(sub.get(), r.get());
        leave_recursion();
    } else {
        rc = PyObject_DelItem(sub.get(), r.get());
    }
    if (rc < 0) return -1;
    int truth = PyObject_IsTrue(sub.get());
    if (truth < 0) return -1;
    if (!truth) return PyDict_DelItem(self, h.get());
    return 0;
}

int update(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "update() takes at most 1 positional arguments (%zd given)", nargs);
        return -1;
    }
    if (nargs == 1) {
        PyObject *other = args[0];
        if (is_nestmap(other)) {
            Ref entries;
            if (exact_nestmap(other)) {
                entries = Ref::steal(all_entries(other, true));
            } else {
                entries = Ref::steal(PyObject_CallMethodNoArgs(other, names.all_items));
            }
            if (!entries) return -1;
            Ref it = Ref::steal(PyObject_GetIter(entries.get()));
            if (!it) return -1;
            while (PyObject *entry = PyIter_Next(it.get())) {
                Ref e = Ref::steal(entry);
                Ref seq = Ref::steal(PySequence_Tuple(entry));
                if (!seq) return -1;
                if (PyTuple_GET_SIZE(seq.get()) != 2) {
                    PyErr_SetString(PyExc_ValueError, "all_items() entries must be (key, value) pairs");
                    return -1;
                }
                if (set_path(self, PyTuple_GET_ITEM(seq.get(), 0), PyTuple_GET_ITEM(seq.get(), 1)) < 0)
                    return -1;
            }
            if (PyErr_Occurred()) return -1;
        } else if (PyDict_CheckExact(other)) {
            // MutableMapping.update over a plain dict: self[key] = other[key].
            Py_ssize_t size = PyDict_GET_SIZE(other);
            Py_ssize_t pos = 0;
            PyObject *key, *val;
            while (PyDict_Next(other, &pos, &key, &val)) {
                Ref kh = Ref::borrow(key), vh = Ref::borrow(val);
                if (set_path(self, key, val) < 0) return -1;
                if (PyDict_GET_SIZE(other) != size) {
                    PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
                    return -1;
                }
            }
        } else {
            PyObject *call_args[2] = {self, other};
            Ref r = Ref::steal(PyObject_Vectorcall(state->mutable_mapping_update, call_args, 2, nullptr));
            if (!r) return -1;
        }
    }
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, i);
        PyObject *value = args[nargs + i];
        if (!is_nestmap(value)) {
            if (set_path(self, key, value) < 0) return -1;
            continue;
        }
        PyObject *found;
        int got = get_path(self, key, &found);
        if (got < 0) return -1;
        Ref sub;
        if (got == 0) {
            sub = Ref::steal(new_nestmap());
            if (!sub || set_path(self, key, sub.get()) < 0) return -1;
        } else {
            sub = Ref::steal(found);
            if (!is_nestmap(sub.get())) {
                set_target_key_error(key);
                return -1;
            }
        }
        if (!enter_recursion(" while merging keyed lists")) return -1;
        Ref r = Ref::steal(call_update_one(sub.get(), value));
        leave_recursion();
        if (!r) return -1;
    }
    return 0;
}

PyObject *all_keys(PyObject *self) { return all_entries(self, false); }

PyObject *all_items(PyObject *self) { return all_entries(self, true); }

PyObject *to_tclobj(PyObject *self) {
    Ref pairs = Ref::steal(PyDict_Items(self));
    if (!pairs) return nullptr;
    return tclobj(pairs.get());
}

}  // namespace keyed
}  // namespace oskra
