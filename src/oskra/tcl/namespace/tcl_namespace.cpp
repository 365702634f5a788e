// TclNamespace: the name algebra on Tcl namespace names (code point by code
// point, one pass, no Python objects per component) and the wrappers around
// Tcl's `namespace` command.
#include <nanobind/nanobind.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "namespace/ns_private.h"
#include "namespace/parts.h"

namespace oskra::ns {

namespace {

constexpr const char *QUAL = "TclNamespace";

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

bool starts_with_colons(PyObject *s) {
    if (PyUnicode_GET_LENGTH(s) < 2) return false;
    int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    return PyUnicode_READ(kind, data, 0) == ':' && PyUnicode_READ(kind, data, 1) == ':';
}

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
    if (count == 1 && (size_t)len == total && PyUnicode_CheckExact(parts[0]))
        return Py_NewRef(parts[0]);
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

PyObject *split_impl(PyObject *s) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND: return split_narrow(s);
        case PyUnicode_2BYTE_KIND: return split_kind(s, PyUnicode_2BYTE_DATA(s), n);
        default: return split_kind(s, PyUnicode_4BYTE_DATA(s), n);
    }
}

// The single argument `string` of a name-algebra function, converted.
PyObject *string_arg(const char *fname, PyObject *const *args, Py_ssize_t nargs,
                     PyObject *kwnames) {
    static const char *const kw[] = {"string"};
    PyObject *string;
    if (!parse_args(fname, kw, 1, 1, args, nargs, kwnames, &string)) return nullptr;
    return wf_str(string, fname);
}

PyObject *split(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs == 1 && !kwnames && PyUnicode_CheckExact(args[0])) return split_impl(args[0]);
    Ref s = Ref::steal(string_arg("split", args, nargs, kwnames));
    if (!s) return nullptr;
    return split_impl(s.get());
}

PyObject *normalize(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref s = Ref::steal(string_arg("normalize", args, nargs, kwnames));
    if (!s) return nullptr;
    PyObject *one = s.get();
    return normalize_strs(&one, 1);
}

PyObject *qualifiers(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref s = Ref::steal(string_arg("qualifiers", args, nargs, kwnames));
    if (!s) return nullptr;
    Py_ssize_t n = PyUnicode_GET_LENGTH(s.get());
    Py_ssize_t p = PyUnicode_Find(s.get(), names.colons, 0, n, -1);
    if (p == -2) return nullptr;
    if (p < 0) return Py_NewRef(names.empty);
    int kind = PyUnicode_KIND(s.get());
    const void *data = PyUnicode_DATA(s.get());
    while (p > 0 && PyUnicode_READ(kind, data, p - 1) == ':') p--;
    return PyUnicode_Substring(s.get(), 0, p);
}

PyObject *tail(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref s = Ref::steal(string_arg("tail", args, nargs, kwnames));
    if (!s) return nullptr;
    Py_ssize_t n = PyUnicode_GET_LENGTH(s.get());
    Py_ssize_t p = PyUnicode_Find(s.get(), names.colons, 0, n, -1);
    if (p == -2) return nullptr;
    if (p < 0) return s.release();
    return PyUnicode_Substring(s.get(), p + 2, n);
}

PyObject *join(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!kwnames && nargs >= 1) return ns_join_raw(args, (size_t)nargs);
    static const char *const kw[] = {"string"};
    PyObject *string;
    Ref rest;
    if (!parse_args("join", kw, 1, 1, args, nargs, kwnames, &string, &rest)) return nullptr;
    if (nargs == 0) return ns_join_raw(&string, 1);  // given by keyword
    return ns_join_raw(args, (size_t)nargs);
}

}  // namespace

PyObject *ns_join_raw(PyObject *const *args, size_t nargs) {
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
    PyObject **kept = room <= LOCAL ? kept_local : (kept_heap.reset(new PyObject *[room]), kept_heap.get());
    size_t count = 0;
    kept[count++] = conv[first];
    for (size_t i = first + 1; i < nargs; i++)
        if (PyUnicode_GET_LENGTH(conv[i]) != 0) kept[count++] = conv[i];
    return normalize_strs(kept, count);
}

nb::str ns_join(nb::handle string, nb::handle *args, size_t nargs) {
    std::vector<PyObject *> all;
    all.reserve(nargs + 1);
    all.push_back(string.ptr());
    for (size_t i = 0; i < nargs; i++) all.push_back(args[i].ptr());
    PyObject *r = ns_join_raw(all.data(), all.size());
    if (!r) throw nb::python_error();
    return nb::steal<nb::str>(r);
}

PyObject *words_script(PyObject *words) {
    Ref s = Ref::steal(wf(words));
    if (!s || !PyUnicode_Check(s.get())) return s.release();
    Py_ssize_t n = PyUnicode_GET_LENGTH(s.get());
    int kind = PyUnicode_KIND(s.get());
    const void *data = PyUnicode_DATA(s.get());
    if (n == 0 || PyUnicode_READ(kind, data, 0) != '#') return s.release();
    // The first word is written bare or with backslashes (a braced or
    // quoted word would not begin with "#"). Find its end.
    Py_ssize_t i = 0;
    bool backslashes = false;
    while (i < n) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == '\\') {
            backslashes = true;
            i += 2;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') break;
        i++;
    }
    if (i > n) i = n;
    if (backslashes) {
        Ref bs = Ref::steal(PyUnicode_FromString("\\"));
        if (!bs) return nullptr;
        return PyUnicode_Concat(bs.get(), s.get());
    }
    // A bare word holds no braces or backslashes: bracing it is safe.
    Ref head = Ref::steal(PyUnicode_Substring(s.get(), 0, i));
    Ref rest = Ref::steal(PyUnicode_Substring(s.get(), i, n));
    if (!head || !rest) return nullptr;
    return PyUnicode_FromFormat("{%U}%U", head.get(), rest.get());
}

// TclNamespace methods -----------------------------------------------------

namespace {

// Constant leading words.
struct Words {
    PyObject *children, *code, *current, *delete_, *exists, *export_, *forget, *import_,
        *origin, *parent, *which, *eval;  // each: ("namespace", <sub>)
    PyObject *clear, *force, *command, *variable;
} w;

bool init_words() {
    auto pair = [](const char *sub) -> PyObject * {
        Ref s = Ref::steal(PyUnicode_InternFromString(sub));
        if (!s) return nullptr;
        return tuple_of({names.namespace_, s.get()});
    };
    struct {
        PyObject **slot;
        const char *sub;
    } t[] = {{&w.children, "children"}, {&w.code, "code"},       {&w.current, "current"},
             {&w.delete_, "delete"},     {&w.exists, "exists"},   {&w.export_, "export"},
             {&w.forget, "forget"},      {&w.import_, "import"},  {&w.origin, "origin"},
             {&w.parent, "parent"},      {&w.which, "which"},     {&w.eval, "eval"}};
    for (auto &e : t)
        if (!(*e.slot = pair(e.sub))) return false;
    return (w.clear = PyUnicode_InternFromString("-clear")) &&
           (w.force = PyUnicode_InternFromString("-force")) &&
           (w.command = PyUnicode_InternFromString("-command")) &&
           (w.variable = PyUnicode_InternFromString("-variable"));
}

// prefix + items, as a new tuple.
PyObject *words_of(PyObject *prefix, std::initializer_list<PyObject *> items,
                   PyObject *tail_tuple = nullptr) {
    Py_ssize_t np = PyTuple_GET_SIZE(prefix);
    Py_ssize_t nt = tail_tuple ? PyTuple_GET_SIZE(tail_tuple) : 0;
    PyObject *t = PyTuple_New(np + (Py_ssize_t)items.size() + nt);
    if (!t) return nullptr;
    Py_ssize_t k = 0;
    for (Py_ssize_t i = 0; i < np; i++) PyTuple_SET_ITEM(t, k++, Py_NewRef(PyTuple_GET_ITEM(prefix, i)));
    for (PyObject *o : items) PyTuple_SET_ITEM(t, k++, Py_NewRef(o));
    for (Py_ssize_t i = 0; i < nt; i++) PyTuple_SET_ITEM(t, k++, Py_NewRef(PyTuple_GET_ITEM(tail_tuple, i)));
    return t;
}

PyObject *self_ns(PyObject *self) { return PyObject_GetAttr(self, names.ns); }

PyObject *cast_list_of(PyObject *self, PyObject *value) {
    Ref tcl = Ref::steal(tcl_of(self));
    if (!tcl) return nullptr;
    return call_method1(tcl.get(), names.cast_list, value);
}

// (tclcmd,) + extra when there are extra arguments, else tclcmd itself.
PyObject *with_extra(PyObject *tclcmd, PyObject *const *extra, Py_ssize_t nextra) {
    if (nextra <= 0) return Py_NewRef(tclcmd);
    PyObject *t = PyTuple_New(nextra + 1);
    if (!t) return nullptr;
    PyTuple_SET_ITEM(t, 0, Py_NewRef(tclcmd));
    for (Py_ssize_t i = 0; i < nextra; i++) PyTuple_SET_ITEM(t, i + 1, Py_NewRef(extra[i]));
    return t;
}

#define SELF_ONLY(fname)                                          \
    if (!self_only(fname, args, nargs, kwnames)) return nullptr; \
    PyObject *self = args[0]

PyObject *m_init(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"ns", "tcl"};
    PyObject *a[2];
    if (!parse_method("TclNamespace", kw, 2, 1, args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    Ref sup = Ref::steal(PyObject_CallFunctionObjArgs((PyObject *)&PySuper_Type,
                                                      classes.TclNamespace.ptr(), self, nullptr));
    if (!sup) return nullptr;
    Ref r = Ref::steal(call_method0(sup.get(), names.dunder_init));
    if (!r) return nullptr;
    Ref ns = Ref::steal(wf(a[0]));
    if (!ns || PyObject_SetAttr(self, names.ns, ns.get()) < 0) return nullptr;
    Ref tcl = Ref::steal(interp_ref_raw(a[1]));
    if (!tcl || PyObject_SetAttr(self, names.tcl, tcl.get()) < 0) return nullptr;
    std::pair<PyObject *, PyObject *> vs[] = {{names.vars, views.VariablesView},
                                              {names.objs, views.ObjectsView},
                                              {names.procs, views.ProcsView},
                                              {names.cmds, views.CommandsView}};
    for (auto &v : vs) {
        Ref view = Ref::steal(PyObject_CallOneArg(v.second, self));
        if (!view || PyObject_SetAttr(self, v.first, view.get()) < 0) return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject *eval_impl(PyObject *self, PyObject *tclcmd, PyObject *const *extra, Py_ssize_t nextra);

PyObject *children(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"pattern"};
    PyObject *pattern;
    if (!parse_method("children", kw, 1, 0, args, nargs, kwnames, &pattern)) return nullptr;
    PyObject *self = args[0];
    Ref result;
    if (pattern && pattern != Py_None) {
        // `namespace children` reads a single argument as a namespace name,
        // not as a pattern: name this namespace explicitly, as Tcl sees it
        // from inside, and give the pattern as the second argument.
        Ref p = Ref::steal(wf(pattern));
        if (!p) return nullptr;
        Ref one = Ref::steal(PyTuple_Pack(1, p.get()));
        if (!one) return nullptr;
        Ref quoted = Ref::steal(wf(one.get()));
        if (!quoted || !PyUnicode_Check(quoted.get())) {
            if (quoted) PyErr_SetString(PyExc_TypeError, "children: pattern is not a word");
            return nullptr;
        }
        Ref script = Ref::steal(
            PyUnicode_FromFormat("namespace children [namespace current] %U", quoted.get()));
        if (!script) return nullptr;
        result = Ref::steal(eval_impl(self, script.get(), nullptr, 0));
    } else {
        result = Ref::steal(ns_call(self, w.children));
    }
    if (!result) return nullptr;
    return cast_list_of(self, result.get());
}

PyObject *code(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"script"};
    PyObject *script;
    if (!parse_method("code", kw, 1, 1, args, nargs, kwnames, &script)) return nullptr;
    Ref words = Ref::steal(words_of(w.code, {script}));
    if (!words) return nullptr;
    return ns_call(args[0], words.get());
}

PyObject *current_impl(PyObject *self) { return tk_call(self, w.current); }

PyObject *current(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("current");
    return current_impl(self);
}

PyObject *eval_impl(PyObject *self, PyObject *tclcmd, PyObject *const *extra, Py_ssize_t nextra) {
    bool built = nextra > 0 || PyTuple_Check(tclcmd);
    Ref cmd = Ref::steal(with_extra(tclcmd, extra, nextra));
    if (!cmd) return nullptr;
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int wrapped = PyObject_IsTrue(ns.get());
    if (wrapped < 0) return nullptr;
    Ref script;
    if (wrapped) {
        Ref inner = built ? Ref::steal(words_script(cmd.get())) : cmd;
        if (!inner) return nullptr;
        Ref outer = Ref::steal(words_of(w.eval, {ns.get(), inner.get()}));
        if (!outer) return nullptr;
        script = Ref::steal(wf(outer.get()));
    } else {
        script = Ref::steal(built ? words_script(cmd.get()) : wf(cmd.get()));
    }
    if (!script) return nullptr;
    return tk_eval(self, script.get());
}

PyObject *create(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("create");
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    if (!t) {
        PyErr_SetString(PyExc_ValueError, "Cannot create current namespace");
        return nullptr;
    }
    Ref r = Ref::steal(eval_impl(self, names.empty, nullptr, 0));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

// N for delete and exists: the name, or the current namespace for the
// empty name.
PyObject *name_or_current(PyObject *self) {
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    if (t) return ns.release();
    return current_impl(self);
}

PyObject *delete_(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("delete");
    Ref n = Ref::steal(name_or_current(self));
    if (!n) return nullptr;
    Ref words = Ref::steal(words_of(w.delete_, {n.get()}));
    if (!words) return nullptr;
    Ref r = Ref::steal(tk_call(self, words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *eval(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"tclcmd"};
    PyObject *tclcmd;
    Ref extra;
    if (!parse_method("eval", kw, 1, 1, args, nargs, kwnames, &tclcmd, &extra))
        return nullptr;
    return eval_impl(args[0], tclcmd, &PyTuple_GET_ITEM(extra.get(), 0),
                     PyTuple_GET_SIZE(extra.get()));
}

PyObject *call(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"tclcmd"};
    PyObject *tclcmd;
    Ref extra;
    if (!parse_method("call", kw, 1, 1, args, nargs, kwnames, &tclcmd, &extra))
        return nullptr;
    Ref cmd = Ref::steal(with_extra(tclcmd, &PyTuple_GET_ITEM(extra.get(), 0),
                                    PyTuple_GET_SIZE(extra.get())));
    if (!cmd) return nullptr;
    return ns_call(args[0], cmd.get());
}

PyObject *exists(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("exists");
    Ref n = Ref::steal(name_or_current(self));
    if (!n) return nullptr;
    Ref words = Ref::steal(words_of(w.exists, {n.get()}));
    if (!words) return nullptr;
    Ref r = Ref::steal(tk_call(self, words.get()));
    if (!r) return nullptr;
    Ref tcl = Ref::steal(tcl_of(self));
    if (!tcl) return nullptr;
    return call_method1(tcl.get(), names.cast_boolean, r.get());
}

// Shared by export and import_: (prefix, flag word if flag, *patterns).
PyObject *flagged(PyObject *prefix, PyObject *flag, PyObject *word, PyObject *patterns,
                  int *flag_true) {
    int t = flag ? PyObject_IsTrue(flag) : 0;
    if (t < 0) return nullptr;
    *flag_true = t;
    return t ? words_of(prefix, {word}, patterns) : words_of(prefix, {}, patterns);
}

PyObject *export_(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"clear"};
    PyObject *clear;
    Ref patterns;
    if (!parse_method("export", kw, 1, 0, args, nargs, kwnames, &clear, &patterns))
        return nullptr;
    PyObject *self = args[0];
    int clear_true;
    Ref words = Ref::steal(flagged(w.export_, clear, w.clear, patterns.get(), &clear_true));
    if (!words) return nullptr;
    Ref r = Ref::steal(ns_call(self, words.get()));
    if (!r) return nullptr;
    if (!clear_true && PyTuple_GET_SIZE(patterns.get()) == 0) return cast_list_of(self, r.get());
    Py_RETURN_NONE;
}

PyObject *forget(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref patterns;
    if (!parse_method("forget", nullptr, 0, 0, args, nargs, kwnames, nullptr, &patterns))
        return nullptr;
    Ref words = Ref::steal(words_of(w.forget, {}, patterns.get()));
    if (!words) return nullptr;
    Ref r = Ref::steal(ns_call(args[0], words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *import_(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"force"};
    PyObject *force;
    Ref patterns;
    if (!parse_method("import_", kw, 1, 0, args, nargs, kwnames, &force, &patterns))
        return nullptr;
    int force_true;
    Ref words = Ref::steal(flagged(w.import_, force, w.force, patterns.get(), &force_true));
    if (!words) return nullptr;
    Ref r = Ref::steal(ns_call(args[0], words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *origin(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"command"};
    PyObject *command;
    if (!parse_method("origin", kw, 1, 1, args, nargs, kwnames, &command)) return nullptr;
    Ref words = Ref::steal(words_of(w.origin, {command}));
    if (!words) return nullptr;
    return ns_call(args[0], words.get());
}

// is_absolute / is_relative: the empty name itself when it is false.
PyObject *is_abs_impl(PyObject *self, bool want_absolute) {
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    if (!t) return ns.release();
    int abs;
    if (PyUnicode_Check(ns.get())) {
        abs = starts_with_colons(ns.get());
    } else {
        Ref r = Ref::steal(call_method1(ns.get(), names.startswith, names.colons));
        if (!r) return nullptr;
        abs = PyObject_IsTrue(r.get());
        if (abs < 0) return nullptr;
    }
    return PyBool_FromLong(want_absolute ? abs : !abs);
}

PyObject *parent(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"force_eval"};
    PyObject *force_eval;
    if (!parse_method("parent", kw, 1, 0, args, nargs, kwnames, &force_eval)) return nullptr;
    PyObject *self = args[0];
    int force = force_eval ? PyObject_IsTrue(force_eval) : 0;
    if (force < 0) return nullptr;
    if (force) {
        Ref isabs = Ref::steal(is_abs_impl(self, true));
        if (!isabs) return nullptr;
        int t = PyObject_IsTrue(isabs.get());
        if (t < 0) return nullptr;
        if (t) {
            Ref ns = Ref::steal(self_ns(self));
            if (!ns) return nullptr;
            Ref s = Ref::steal(wf_str(ns.get(), "split"));
            if (!s) return nullptr;
            Ref parts = Ref::steal(split_impl(s.get()));
            if (!parts) return nullptr;
            Py_ssize_t n = PyList_GET_SIZE(parts.get());
            if (n <= 1) return Py_NewRef(names.empty);
            if (n == 2) return Py_NewRef(names.colons);
            Ref head = Ref::steal(PyList_GetSlice(parts.get(), 0, n - 1));
            if (!head) return nullptr;
            return PyUnicode_Join(names.colons, head.get());
        }
    }
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    Ref words = t ? Ref::steal(words_of(w.parent, {ns.get()})) : Ref::borrow(w.parent);
    if (!words) return nullptr;
    Ref obj = Ref::steal(oskra::tclobj(words.get()));
    if (!obj) return nullptr;
    return tk_call(self, obj.get());
}

PyObject *which(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const kw[] = {"name", "command", "variable"};
    PyObject *a[3];
    if (!parse_method("which", kw, 3, 1, args, nargs, kwnames, a)) return nullptr;
    int c = a[1] ? PyObject_IsTrue(a[1]) : 0;
    if (c < 0) return nullptr;
    int v = a[2] ? PyObject_IsTrue(a[2]) : 0;
    if (v < 0) return nullptr;
    Ref words;
    if (c && v)
        words = Ref::steal(words_of(w.which, {w.command, w.variable, a[0]}));
    else if (c)
        words = Ref::steal(words_of(w.which, {w.command, a[0]}));
    else if (v)
        words = Ref::steal(words_of(w.which, {w.variable, a[0]}));
    else
        words = Ref::steal(words_of(w.which, {a[0]}));
    if (!words) return nullptr;
    return ns_call(args[0], words.get());
}

PyObject *is_absolute(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("is_absolute");
    return is_abs_impl(self, true);
}

PyObject *is_relative(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("is_relative");
    return is_abs_impl(self, false);
}

PyObject *absolute_impl(PyObject *self) {
    Ref isabs = Ref::steal(is_abs_impl(self, true));
    if (!isabs) return nullptr;
    int t = PyObject_IsTrue(isabs.get());
    if (t < 0) return nullptr;
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    if (t) return ns.release();
    Ref cur = Ref::steal(current_impl(self));
    if (!cur) return nullptr;
    PyObject *pair[2] = {cur.get(), ns.get()};
    return ns_join_raw(pair, 2);
}

PyObject *absolute(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("absolute");
    return absolute_impl(self);
}

PyObject *make_absolute(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("make_absolute");
    Ref a = Ref::steal(absolute_impl(self));
    if (!a || PyObject_SetAttr(self, names.ns, a.get()) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *str_(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SELF_ONLY("__str__");
    return self_ns(self);
}

}  // namespace

PyObject *ns_eval_words(PyObject *self, PyObject *words) { return eval_impl(self, words, nullptr, 0); }

PyObject *ns_call(PyObject *self, PyObject *tclcmd) {
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int wrapped = PyObject_IsTrue(ns.get());
    if (wrapped < 0) return nullptr;
    Ref cmd = wrapped ? Ref::steal(words_of(w.eval, {ns.get(), tclcmd})) : Ref::borrow(tclcmd);
    if (!cmd) return nullptr;
    Ref obj = Ref::steal(oskra::tclobj(cmd.get()));
    if (!obj) return nullptr;
    return tk_call(self, obj.get());
}

static const char TCLNAMESPACE_DOC[] =
    "One Tcl namespace of one interpreter.\n"
    "\n"
    "TclNamespace(ns, tcl=None): `ns` is the namespace name (converted with\n"
    "wordform; absolute, relative or empty), `tcl` the interpreter (held\n"
    "through a weak proxy; the package's shared interpreter by default).\n"
    "The views `vars`, `objs`, `procs` and `cmds` map the names of the\n"
    "namespace's variables, procedures and commands.";

nb::object make_TclNamespace() {
    if (!init_words()) throw nb::python_error();
    if (!make_views()) throw nb::python_error();
    PyObject *cls = make_class(
        QUAL, QUAL, TCLNAMESPACE_DOC, {(PyObject *)&PyBaseObject_Type},
        {
            {"__init__", m_init, "($self, ns, tcl=None)"},
            {"children", children, "($self, pattern=None)"},
            {"code", code, "($self, script)"},
            {"current", current, "($self)"},
            {"create", create, "($self)"},
            {"delete", delete_, "($self)"},
            {"eval", eval, "($self, tclcmd, *args)"},
            {"call", call, "($self, tclcmd, *args)"},
            {"exists", exists, "($self)"},
            {"export", export_, "($self, clear=False, *patterns)"},
            {"forget", forget, "($self, *patterns)"},
            {"import_", import_, "($self, force=False, *patterns)"},
            {"origin", origin, "($self, command)"},
            {"parent", parent, "($self, force_eval=False)"},
            {"which", which, "($self, name, command=False, variable=False)"},
            {"is_absolute", is_absolute, "($self)"},
            {"is_relative", is_relative, "($self)"},
            {"absolute", absolute, "($self)"},
            {"make_absolute", make_absolute, "($self)"},
            {"__str__", str_, "($self, /)"},
            {"qualifiers", qualifiers, "(string)", true},
            {"tail", tail, "(string)", true},
            {"join", join, "(string, *args)", true},
            {"split", split, "(string)", true},
            {"normalize", normalize, "(string)", true},
        },
        {{"VariablesView", views.VariablesView},
         {"ObjectsView", views.ObjectsView},
         {"CommandsView", views.CommandsView},
         {"ProcsView", views.ProcsView}});
    if (!cls) throw nb::python_error();
    return nb::steal(cls);
}

}  // namespace oskra::ns
