// The name algebra of TclNamespace (its static methods split, normalize,
// qualifiers, tail and join): code point by code point, in one pass, with
// no Python object made per component but the pieces split returns.
#include <cstring>
#include <memory>
#include <vector>

#include "support/errors.h"
#include "name_algebra.h"
#include "ns_private.h"

namespace oskra::ns {

namespace {

// Scratch storage for one name: on the stack for ordinary names, on the
// heap for long ones.
template <typename C>
struct Scratch {
    C local[256];
    std::unique_ptr<C[]> heap;
    C *get(size_t n) {
        if (n <= 256) return local;
        heap.reset(new C[n]);
        return heap.get();
    }
};

template <typename C>
PyObject *invalid_name(const C *b, size_t n) {
    int kind = sizeof(C) == 1 ? PyUnicode_1BYTE_KIND : PyUnicode_4BYTE_KIND;
    Ref s = Ref::steal(PyUnicode_FromKindAndData(kind, b, (Py_ssize_t)n));
    if (s) PyErr_Format(PyExc_ValueError, "Invalid Tcl namespace '%U'", s.get());
    return nullptr;
}

// normalize() of the text b[0:n], written to out (room for n). The pieces
// between "::" separators (cut left to right, without overlap) that are not
// empty are joined with "::", behind a leading "::" when the text is
// absolute. A ":" that does not start a "::" lies inside a piece, which is
// invalid. Returns the output length, or -1 for an invalid name.
template <typename C>
Py_ssize_t normalize_into(const C *b, size_t n, C *out) {
    bool absolute = n >= 2 && b[0] == ':' && b[1] == ':';
    size_t o = 0, i = 0, start = 0;
    bool first = true;
    for (;;) {
        bool end = i >= n;
        if (end || (b[i] == ':' && i + 1 < n && b[i + 1] == ':')) {
            if (i > start) {
                if (absolute || !first) {
                    out[o++] = ':';
                    out[o++] = ':';
                }
                first = false;
                for (size_t k = start; k < i; k++) out[o++] = b[k];
            }
            if (end) break;
            i += 2;
            start = i;
        } else if (b[i] == ':') {
            return -1;
        } else {
            i++;
        }
    }
    return (Py_ssize_t)o;
}

// Copies the given strings, separated by "::", into buf (room for `total`).
template <typename C>
void concat(PyObject *const *parts, size_t count, C *buf) {
    size_t o = 0;
    for (size_t k = 0; k < count; k++) {
        if (k) {
            buf[o++] = ':';
            buf[o++] = ':';
        }
        PyObject *s = parts[k];
        Py_ssize_t len = PyUnicode_GET_LENGTH(s);
        int kind = PyUnicode_KIND(s);
        const void *data = PyUnicode_DATA(s);
        if (sizeof(C) == 1) {
            memcpy(buf + o, data, (size_t)len);
            o += (size_t)len;
        } else {
            for (Py_ssize_t i = 0; i < len; i++) buf[o++] = (C)PyUnicode_READ(kind, data, i);
        }
    }
}

// normalize() of the strings joined with "::". With a single string that is
// already normal, that string itself is returned.
template <typename C>
PyObject *normalize_parts(PyObject *const *parts, size_t count, size_t total) {
    Scratch<C> in, out;
    C *b = in.get(total);
    C *o = out.get(total);
    concat(parts, count, b);
    Py_ssize_t len = normalize_into(b, total, o);
    if (len < 0) return invalid_name(b, total);
    if (count == 1 && (size_t)len == total && PyUnicode_CheckExact(parts[0])) return Py_NewRef(parts[0]);
    int kind = sizeof(C) == 1 ? PyUnicode_1BYTE_KIND : PyUnicode_4BYTE_KIND;
    return PyUnicode_FromKindAndData(kind, o, len);
}

PyObject *normalize_strs(PyObject *const *parts, size_t count) {
    size_t total = count ? 2 * (count - 1) : 0;
    bool narrow = true;
    for (size_t k = 0; k < count; k++) {
        total += (size_t)PyUnicode_GET_LENGTH(parts[k]);
        narrow = narrow && PyUnicode_KIND(parts[k]) == PyUnicode_1BYTE_KIND;
    }
    return narrow ? normalize_parts<Py_UCS1>(parts, count, total)
                  : normalize_parts<Py_UCS4>(parts, count, total);
}

// Component strings recently cut from narrow (one byte per character)
// names, direct-mapped by a hash of their text: names repeat, and handing
// out the same immutable str again saves an allocation per component.
struct PieceCache {
    static constexpr size_t SIZE = 512, MAX_LEN = 48;
    PyObject *slot[SIZE] = {};

    static size_t index(size_t h) { return (h ^ (h >> 9)) & (SIZE - 1); }

    // The piece text[start:end], whose hash the caller computed.
    PyObject *get(PyObject *src, const Py_UCS1 *text, Py_ssize_t start, Py_ssize_t end, size_t h) {
        size_t len = (size_t)(end - start);
        if (len > MAX_LEN) return PyUnicode_Substring(src, start, end);
        const Py_UCS1 *p = text + start;
        PyObject *&cached = slot[index(h)];
        if (cached && (size_t)PyUnicode_GET_LENGTH(cached) == len) {
            const Py_UCS1 *c = PyUnicode_1BYTE_DATA(cached);
            size_t i = 0;
            while (i < len && c[i] == p[i]) i++;
            if (i == len) return Py_NewRef(cached);
        }
        PyObject *piece = PyUnicode_Substring(src, start, end);
        if (piece && PyUnicode_KIND(piece) == PyUnicode_1BYTE_KIND) Py_XSETREF(cached, Py_NewRef(piece));
        return piece;
    }

    PyObject *get(PyObject *src, const Py_UCS1 *text, Py_ssize_t start, Py_ssize_t end) {
        size_t len = (size_t)(end - start);
        if (!len) return PyUnicode_Substring(src, start, end);
        size_t h = len * 0x9E3779B1u ^ (size_t)text[start] << 5 ^ (size_t)text[end - 1] << 13 ^
                (size_t)text[start + (Py_ssize_t)len / 2] << 21;
        return get(src, text, start, end, h);
    }
} piece_cache;

// split() of a narrow str: each component is found by scanning to the
// next ":", which must begin a "::" separator (a lone ":" lies inside a
// component, which is invalid), and is looked up in the cache at once; the
// list is made at the end.
PyObject *split_narrow(PyObject *s) {
    const Py_UCS1 *d = PyUnicode_1BYTE_DATA(s);
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    constexpr Py_ssize_t LOCAL = 32;
    PyObject *local[LOCAL + 1];
    PyObject **items = local;
    std::unique_ptr<PyObject *[]> heap;
    Py_ssize_t count = 0;
    bool absolute = n >= 2 && d[0] == ':' && d[1] == ':';
    if (absolute) items[count++] = Py_NewRef(names.empty);
    auto fail = [&]() -> PyObject * {
        for (Py_ssize_t k = 0; k < count; k++) Py_DECREF(items[k]);
        return nullptr;
    };
    for (Py_ssize_t i = absolute ? 2 : 0;;) {
        Py_ssize_t start = i;
        while (i < n && d[i] != ':') i++;
        if (i > start) {
            if (items == local && count == LOCAL) {
                heap.reset(new PyObject *[(size_t)n]);  // at most n pieces
                for (Py_ssize_t k = 0; k < count; k++) heap[k] = local[k];
                items = heap.get();
            }
            size_t len = (size_t)(i - start);
            size_t h = len * 0x9E3779B1u ^ (size_t)d[start] << 5 ^ (size_t)d[i - 1] << 13 ^
                    (size_t)d[start + (Py_ssize_t)len / 2] << 21;
            PyObject *piece = piece_cache.get(s, d, start, i, h);
            if (!piece) return fail();
            items[count++] = piece;
        }
        if (i >= n) break;
        if (i + 1 < n && d[i + 1] == ':') {
            i += 2;
            continue;
        }
        fail();
        PyErr_Format(PyExc_ValueError, "Invalid Tcl namespace '%U'", s);
        return nullptr;
    }
    PyObject *list = PyList_New(count);
    if (!list) return fail();
    for (Py_ssize_t k = 0; k < count; k++) PyList_SET_ITEM(list, k, items[k]);
    return list;
}

inline PyObject *cut(PyObject *src, const Py_UCS1 *text, Py_ssize_t start, Py_ssize_t end) {
    return piece_cache.get(src, text, start, end);
}
template <typename C>
inline PyObject *cut(PyObject *src, const C *, Py_ssize_t start, Py_ssize_t end) {
    return PyUnicode_Substring(src, start, end);
}

// split() of a str in one scan: the piece boundaries are noted on the
// stack (on the heap for names with very many components), then cut.
template <typename C>
PyObject *split_kind(PyObject *s, const C *d, Py_ssize_t n) {
    bool absolute = n >= 2 && d[0] == ':' && d[1] == ':';
    constexpr size_t LOCAL = 32;
    Py_ssize_t local[2 * LOCAL];
    std::vector<Py_ssize_t> heap;
    Py_ssize_t *bounds = local;
    size_t count = 0, room = LOCAL;
    for (Py_ssize_t i = 0, start = 0;;) {
        bool end = i >= n;
        if (end || (d[i] == ':' && i + 1 < n && d[i + 1] == ':')) {
            if (i > start) {
                if (count == room) {
                    if (heap.empty()) heap.assign(local, local + 2 * LOCAL);
                    room *= 2;
                    heap.resize(2 * room);
                    bounds = heap.data();
                }
                bounds[2 * count] = start;
                bounds[2 * count + 1] = i;
                count++;
            }
            if (end) break;
            i += 2;
            start = i;
        } else if (d[i] == ':') {
            PyErr_Format(PyExc_ValueError, "Invalid Tcl namespace '%U'", s);
            return nullptr;
        } else {
            i++;
        }
    }
    Ref list = Ref::steal(PyList_New((Py_ssize_t)count + (absolute ? 1 : 0)));
    if (!list) return nullptr;
    Py_ssize_t k = 0;
    if (absolute) PyList_SET_ITEM(list.get(), k++, Py_NewRef(names.empty));
    for (size_t c = 0; c < count; c++) {
        PyObject *piece = cut(s, d, bounds[2 * c], bounds[2 * c + 1]);
        if (!piece) return nullptr;
        PyList_SET_ITEM(list.get(), k++, piece);
    }
    return list.release();
}

}  // namespace

bool starts_with_colons(PyObject *s) {
    if (PyUnicode_GET_LENGTH(s) < 2) return false;
    int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    return PyUnicode_READ(kind, data, 0) == ':' && PyUnicode_READ(kind, data, 1) == ':';
}

PyObject *split_name(PyObject *s) {
    return no_throw([&]() -> PyObject * {
        Py_ssize_t n = PyUnicode_GET_LENGTH(s);
        switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND: return split_narrow(s);
        case PyUnicode_2BYTE_KIND: return split_kind(s, PyUnicode_2BYTE_DATA(s), n);
        default: return split_kind(s, PyUnicode_4BYTE_DATA(s), n);
        }
    });
}

namespace {

// The single argument `string` of a name-algebra function, converted.
PyObject *string_arg(const Params &params, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *string;
    if (!params.bind(args, nargs, kwnames, &string)) return nullptr;
    return wf_str(string, params.fname);
}

// The converted `string` argument and the position of its last "::" (-1
// for none). False with the error set.
bool string_and_last_colons(const Params &params, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                            Ref &s, Py_ssize_t &p) {
    s = Ref::steal(string_arg(params, args, nargs, kwnames));
    if (!s) return false;
    p = PyUnicode_Find(s.get(), names.colons, 0, PyUnicode_GET_LENGTH(s.get()), -1);
    return p != -2;
}

}  // namespace

const Params name_split_params{"split", SelfArg::none, {{"string"}}};
const Params name_normalize_params{"normalize", SelfArg::none, {{"string"}}};
const Params name_qualifiers_params{"qualifiers", SelfArg::none, {{"string"}}};
const Params name_tail_params{"tail", SelfArg::none, {{"string"}}};
const Params name_join_params{"join", SelfArg::none, {{"string"}}, "args"};

PyObject *name_split(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return no_throw([&]() -> PyObject * {
        if (nargs == 1 && !kwnames && PyUnicode_CheckExact(args[0])) return split_name(args[0]);
        Ref s = Ref::steal(string_arg(name_split_params, args, nargs, kwnames));
        if (!s) return nullptr;
        return split_name(s.get());
    });
}

PyObject *name_normalize(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return no_throw([&]() -> PyObject * {
        Ref s = Ref::steal(string_arg(name_normalize_params, args, nargs, kwnames));
        if (!s) return nullptr;
        PyObject *one = s.get();
        return normalize_strs(&one, 1);
    });
}

PyObject *name_qualifiers(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return no_throw([&]() -> PyObject * {
        Ref s;
        Py_ssize_t p;
        if (!string_and_last_colons(name_qualifiers_params, args, nargs, kwnames, s, p)) return nullptr;
        if (p < 0) return Py_NewRef(names.empty);
        int kind = PyUnicode_KIND(s.get());
        const void *data = PyUnicode_DATA(s.get());
        while (p > 0 && PyUnicode_READ(kind, data, p - 1) == ':') p--;
        return PyUnicode_Substring(s.get(), 0, p);
    });
}

PyObject *name_tail(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return no_throw([&]() -> PyObject * {
        Ref s;
        Py_ssize_t p;
        if (!string_and_last_colons(name_tail_params, args, nargs, kwnames, s, p)) return nullptr;
        if (p < 0) return s.release();
        return PyUnicode_Substring(s.get(), p + 2, PyUnicode_GET_LENGTH(s.get()));
    });
}

PyObject *name_join(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return no_throw([&]() -> PyObject * {
        if (!kwnames && nargs >= 1) return ns_join_raw(args, (size_t)nargs);
        PyObject *string;
        Ref rest;
        if (!name_join_params.bind(args, nargs, kwnames, &string, &rest)) return nullptr;
        if (nargs == 0) return ns_join_raw(&string, 1);  // given by keyword
        return ns_join_raw(args, (size_t)nargs);
    });
}

PyObject *ns_join_raw(PyObject *const *args, size_t nargs) {
    return no_throw([&]() -> PyObject * {
        // Convert every argument, then keep the pieces the algorithm keeps:
        // string = args[0]; for each arg: if string is empty or arg is absolute,
        // string = arg; elif arg: string += "::" + arg.
        constexpr size_t LOCAL = 8;
        PyObject *local[LOCAL];
        std::unique_ptr<PyObject *[]> heap;
        PyObject **conv = nargs <= LOCAL ? local : (heap.reset(new PyObject *[nargs]), heap.get());
        size_t done = 0;
        struct Release {
            PyObject **c;
            size_t *n;
            ~Release() {
                for (size_t i = 0; i < *n; i++) Py_DECREF(c[i]);
            }
        } release{conv, &done};
        for (; done < nargs;) {
            PyObject *s = wf_str(args[done], "join");
            if (!s) return nullptr;
            conv[done++] = s;
        }
        size_t first = 0;  // the pieces kept are conv[first:] minus the empty ones
        bool empty = PyUnicode_GET_LENGTH(conv[0]) == 0;
        for (size_t i = 1; i < nargs; i++) {
            if (empty || starts_with_colons(conv[i])) {
                first = i;
                empty = PyUnicode_GET_LENGTH(conv[i]) == 0;
            }
        }
        // The empty pieces after the first one kept are skipped.
        PyObject *kept_local[LOCAL];
        std::unique_ptr<PyObject *[]> kept_heap;
        size_t room = nargs - first;
        PyObject **kept =
                room <= LOCAL ? kept_local : (kept_heap.reset(new PyObject *[room]), kept_heap.get());
        size_t count = 0;
        kept[count++] = conv[first];
        for (size_t i = first + 1; i < nargs; i++)
            if (PyUnicode_GET_LENGTH(conv[i]) != 0) kept[count++] = conv[i];
        return normalize_strs(kept, count);
    });
}

}  // namespace oskra::ns
