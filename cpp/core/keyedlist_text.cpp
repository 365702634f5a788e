// Reading TclX keyed-list text (a str, a Tcl_Obj or a sequence of pairs)
// into NestMaps, and the Tcl value type test.
//
// A keyed list is a list of key/value pairs; a value that is itself such a
// list becomes a nested NestMap. Results and errors are those of building
// a dict from the split pairs and updating a new NestMap with it.
#include <cstring>
#include <vector>

#include "core/keyedlist.h"
#include "core/listsplit.h"
#include "support/compat.h"
#include "support/pyref.h"
#include "support/tclapp.h"

namespace oskra {

namespace {

const Tcl_ObjType *g_keyed_type = nullptr;

// cast_list(value): the elements of a Tcl list; a malformed list is a
// ValueError wrapping the TclError, or with `soft` nothing at all.
PyObject *cast_list(PyObject *value, bool soft) {
    PyObject *r = split_list(value);
    return r ? r : list_error_as_value_error(soft);
}

// True for a non-empty str that is one plain Tcl word (no separator, brace,
// quote or backslash anywhere): it splits into itself, twice over, so it is
// never a list of pairs.
bool is_plain_word(PyObject *value) {
    if (!PyUnicode_CheckExact(value)) return false;
    Py_ssize_t n = PyUnicode_GET_LENGTH(value);
    if (n == 0) return false;
    int kind = PyUnicode_KIND(value);
    const void *data = PyUnicode_DATA(value);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == ' ' || (c >= '\t' && c <= '\r') || c == '{' || c == '"' || c == '\\') return false;
    }
    return true;
}

PyObject *from_tcl(PyObject *value, bool soft);

// Converts, in place, every value of the dict d that reads as a keyed list.
bool nest_values(PyObject *d) {
    Py_ssize_t pos = 0;
    PyObject *key, *val;
    while (PyDict_Next(d, &pos, &key, &val)) {
        if (keyed::is_nestmap(val) || is_plain_word(val)) continue;
        if (!enter_recursion(" while reading a keyed list")) return false;
        PyObject *sub = from_tcl(val, true);
        leave_recursion();
        if (!sub) {
            if (PyErr_Occurred()) return false;
            continue;
        }
        // Replacing the value of an existing key leaves the iteration intact.
        int rc = PyDict_SetItem(d, key, sub);
        Py_DECREF(sub);
        if (rc < 0) return false;
    }
    return true;
}

// True if the str has a "." (a key path that builds nested levels).
bool has_dot(PyObject *key) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(key);
    if (PyUnicode_KIND(key) == PyUnicode_1BYTE_KIND)
        return std::memchr(PyUnicode_1BYTE_DATA(key), '.', n) != nullptr;
    return PyUnicode_FindChar(key, '.', 0, n, 1) >= 0;
}

// One element of a keyed list, split as a pair: 2 with *key and *value set
// (new references), the element count when it is not a pair, -1 on error.
// The element is text[span] when literal; otherwise it is built first (its
// backslashes substituted) and split as a text of its own.
Py_ssize_t split_pair(PyObject *text, const ListSpan &sp, PyObject **key, PyObject **value) {
    Ref elem;
    PyObject *src = text;
    Py_ssize_t start = sp.start, end = sp.end;
    if (!sp.literal) {
        elem = Ref::steal(span_element(text, sp));
        if (!elem) return -1;
        src = elem.get();
        start = 0;
        end = PyUnicode_GET_LENGTH(src);
    }
    ListSpan kv[2];
    Py_ssize_t n = count_spans(src, start, end, kv, 2);
    if (n != 2) return n;
    *key = span_element(src, kv[0]);
    if (!*key) return -1;
    *value = span_element(src, kv[1]);
    if (!*value) {
        Py_CLEAR(*key);
        return -1;
    }
    return 2;
}

// from_tcl over a str, in one pass: each element is split as a pair where
// it stands, and the pairs go straight into the result, which is what
// klist.update(dict(pairs)) leaves when no key has a dot. No NestMap is
// made before the first pair, so text that is not a keyed list costs
// little more than its scan.
PyObject *from_tcl_str(PyObject *text, bool soft) {
    Py_ssize_t text_len = PyUnicode_GET_LENGTH(text);
    // A malformed list wins over an odd element anywhere before it, so the
    // whole list is scanned first. With `soft` both only mean "not a keyed
    // list": elements are taken as the scan meets them.
    std::vector<ListSpan> spans;
    if (!soft && !split_spans(text, 0, text_len, spans)) return list_error_as_value_error(soft);
    Py_ssize_t pos = 0;
    size_t taken = 0;
    Ref klist;
    bool dotted = false;
    Py_ssize_t bad = -1, bad_len = 0;
    for (Py_ssize_t i = 0;; ++i) {
        ListSpan sp;
        if (soft) {
            int got = next_span(text, &pos, text_len, &sp);
            if (got < 0) return list_error_as_value_error(soft);
            if (got == 0) break;
        } else {
            if (taken == spans.size()) break;
            sp = spans[taken++];
        }
        PyObject *key = nullptr, *value = nullptr;
        Py_ssize_t len = split_pair(text, sp, &key, &value);
        if (len < 0) return list_error_as_value_error(soft);
        // Every element is split before dict() sees any, so a malformed
        // element wins over an earlier one of the wrong length.
        if (len != 2) {
            if (soft) return nullptr;
            if (bad < 0) {
                bad = i;
                bad_len = len;
            }
            continue;
        }
        Ref k = Ref::steal(key), v = Ref::steal(value);
        if (bad >= 0) continue;
        if (!klist && !(klist = Ref::steal(keyed::new_nestmap()))) return nullptr;
        if (!dotted) dotted = has_dot(key);
        if (PyDict_SetItem(klist.get(), key, value) < 0) return nullptr;
    }
    if (bad >= 0) {
        PyErr_Format(PyExc_ValueError,
                     "dictionary update sequence element #%zd has length %zd; 2 is required", bad, bad_len);
        return nullptr;
    }
    if (!klist) {
        // Blank text is a list of no pairs, but read as a value it is the
        // text itself: only the empty value stands for an empty keyed list
        // (as in TclX, which cannot tell the two apart either).
        if (soft && text_len > 0) return nullptr;
        return keyed::new_nestmap();
    }
    if (!nest_values(klist.get())) return nullptr;
    if (!dotted) return klist.release();
    // Dotted keys build nested levels through the path-aware assignment.
    Ref dsc = Ref::steal(PyDict_Copy(klist.get()));
    if (!dsc) return nullptr;
    Ref result = Ref::steal(keyed::new_nestmap());
    if (!result) return nullptr;
    PyObject *args[1] = {dsc.get()};
    if (keyed::update(result.get(), args, 1, nullptr) < 0) return nullptr;
    return result.release();
}

// from_tcl; with `soft`, a ValueError of this level (not of the nested
// attempts, which are handled here) is reported as null with no error set,
// and so is blank text that is not empty (it stays a value).
PyObject *from_tcl(PyObject *value, bool soft) {
    if (soft && is_plain_word(value)) return nullptr;
    if (PyUnicode_Check(value)) return from_tcl_str(value, soft);
    PyObject *tcl_obj = tcl_obj_type();
    if (!tcl_obj) return nullptr;
    if (PyObject_TypeCheck(value, (PyTypeObject *)tcl_obj)) {
        Ref text = Ref::steal(PyObject_Str(value));
        if (!text) return nullptr;
        return from_tcl_str(text.get(), soft);
    }
    Ref elems = Ref::steal(cast_list(value, soft));
    if (!elems) return nullptr;
    Ref dsc = Ref::steal(PyDict_New());
    if (!dsc) return nullptr;
    // Every element is split before any is checked for being a pair, so a
    // malformed element wins over an earlier one of the wrong length.
    Py_ssize_t n = PyTuple_GET_SIZE(elems.get());
    Ref pairs = Ref::steal(PyTuple_New(n));
    if (!pairs) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *pair = cast_list(PyTuple_GET_ITEM(elems.get(), i), soft);
        if (!pair) return nullptr;
        PyTuple_SET_ITEM(pairs.get(), i, pair);
        if (soft && PyTuple_GET_SIZE(pair) != 2) return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *pair = PyTuple_GET_ITEM(pairs.get(), i);
        Py_ssize_t len = PyTuple_GET_SIZE(pair);
        if (len != 2) {
            if (!soft)
                PyErr_Format(PyExc_ValueError,
                             "dictionary update sequence element #%zd has length %zd; 2 is required", i, len);
            return nullptr;
        }
        if (PyDict_SetItem(dsc.get(), PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1)) < 0)
            return nullptr;
    }
    if (!nest_values(dsc.get())) return nullptr;
    Ref klist = Ref::steal(keyed::new_nestmap());
    if (!klist) return nullptr;
    PyObject *args[1] = {dsc.get()};
    if (keyed::update(klist.get(), args, 1, nullptr) < 0) return nullptr;
    return klist.release();
}

}  // namespace

bool is_keyed_list_obj(PyObject *obj) {
    PyObject *tcl_obj = tcl_obj_type();
    if (!tcl_obj) {
        PyErr_Clear();
        return false;
    }
    if ((PyObject *)Py_TYPE(obj) != tcl_obj) return false;
    const Tcl_ObjType *type = tcl_obj_value(obj)->typePtr;
    if (!type) return false;
    if (type == g_keyed_type) return true;
    if (g_keyed_type == nullptr && type->name && std::strcmp(type->name, "keyedList") == 0) {
        g_keyed_type = type;
        return true;
    }
    return false;
}

PyObject *keyed_list_from_tcl(PyObject *value) {
    if (!keyed::nestmap_class()) return nullptr;
    return from_tcl(value, false);
}

PyObject *keyed_list_from_tcl_quiet(PyObject *value) {
    if (!keyed::nestmap_class()) return nullptr;
    return from_tcl(value, true);
}

}  // namespace oskra
