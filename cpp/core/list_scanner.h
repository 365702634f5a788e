// The Tcl list scanner over str code points (private to listsplit.cpp).
//
// The scanner follows Tcl 8.6's list syntax: elements are separated by
// space, \t, \n, \v, \f or \r; an element starting with "{" runs to its
// matching "}" and is taken verbatim; one starting with '"' runs to the next
// unescaped '"'; any other runs to the next separator. Quoted and bare
// elements undergo backslash substitution.
//
// Results match what the Tcl layer hands back through tkinter, including the
// visible effects of Tcl's 16-bit character build:
//   - \U beyond U+FFFF and a backslash before a character beyond U+FFFF
//     give U+FFFD;
//   - a surrogate produced by \u or \U pairs with an adjacent one into the
//     character beyond U+FFFF, and a lone one comes back as its three
//     encoded bytes in surrogate-escape form (U+DCxx each).
// NUL is an ordinary character (Tcl stores it as two bytes, never as a
// terminator): a backslash before it gives NUL, and messages quote it.
// The "followed by ... instead of space" messages quote at most 20 bytes of
// the encoded text, cut the way Tcl cuts it.
#pragma once
#include <Python.h>

#include <vector>

#include "core/listsplit.h"
#include "support/tclapp.h"

// Internal linkage (this header has one includer): the scanner's calls stay
// direct instead of going through the shared library's symbol table.
namespace oskra {
namespace {

inline bool is_list_space(Py_UCS4 c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline int hex_value(Py_UCS4 c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    return -1;
}

enum class BsKind { Char, Unicode };

// Bytes of a code point in the Tcl layer's encoding.
inline int tcl_utf_len(Py_UCS4 c) {
    if (c < 0x80) return c == 0 ? 2 : 1;
    if (c < 0x800) return 2;
    if (c < 0x10000) return 3;
    return 4;
}

// Appends the UTF-8 bytes of c (c beyond U+FFFF) as surrogate escapes.
inline void push_escaped_bytes(std::vector<Py_UCS4> &out, Py_UCS4 c, int count) {
    unsigned char b[4] = {(unsigned char)(0xF0 | (c >> 18)), (unsigned char)(0x80 | ((c >> 12) & 0x3F)),
                          (unsigned char)(0x80 | ((c >> 6) & 0x3F)), (unsigned char)(0x80 | (c & 0x3F))};
    for (int k = 0; k < count; ++k) out.push_back(0xDC00 | b[k]);
}

template <typename CharT>
class Splitter {
public:
    // The buffers are shared by every split: splitting runs no Python code,
    // so a split cannot start while another is in progress.
    // Splits str[begin:end), text of its own: Tcl looks no further than end.
    Splitter(PyObject *str, const CharT *s, Py_ssize_t begin, Py_ssize_t end)
        : str_(str), s_(s), begin_(begin), n_(end), items_(g_items), out_(g_out) {
        items_.clear();
        out_.clear();
    }

    PyObject *run() {
        Py_ssize_t i = skip_space(begin_);
        while (i < n_) {
            ListSpan span;
            Py_ssize_t next;
            if (!scan(i, &span, &next)) return fail();
            PyObject *elem = element(span);
            if (!elem) return fail();
            items_.push_back(elem);
            i = skip_space(next);
        }
        PyObject *tuple = PyTuple_New((Py_ssize_t)items_.size());
        if (!tuple) return fail();
        for (size_t k = 0; k < items_.size(); ++k) PyTuple_SET_ITEM(tuple, (Py_ssize_t)k, items_[k]);
        items_.clear();
        return tuple;
    }

    bool spans(std::vector<ListSpan> &out) {
        Py_ssize_t i = skip_space(begin_);
        while (i < n_) {
            ListSpan span;
            Py_ssize_t next;
            if (!scan(i, &span, &next)) return false;
            out.push_back(span);
            i = skip_space(next);
        }
        return true;
    }

    // The element at or after *pos: 1 with *span set and *pos moved past
    // it, 0 at the end, -1 on error.
    int next(Py_ssize_t *pos, ListSpan *span) {
        Py_ssize_t i = skip_space(*pos);
        if (i >= n_) return 0;
        if (!scan(i, span, pos)) return -1;
        return 1;
    }

    // Scans every element (a malformed one anywhere still fails) but keeps
    // only the first `keep` spans: the element count, or -1 on error.
    Py_ssize_t count(ListSpan *first, Py_ssize_t keep) {
        Py_ssize_t n = 0;
        Py_ssize_t i = skip_space(begin_);
        while (i < n_) {
            ListSpan span;
            Py_ssize_t next;
            if (!scan(i, &span, &next)) return -1;
            if (n < keep) first[n] = span;
            ++n;
            i = skip_space(next);
        }
        return n;
    }

    PyObject *element(const ListSpan &span) {
        return span.literal ? substring(span.start, span.end) : collapse(span.start, span.end);
    }

    ~Splitter() {
        for (PyObject *o : items_) Py_DECREF(o);
        items_.clear();
        // Keep small buffers for the next split; give large ones back.
        if (items_.capacity() > 65536) std::vector<PyObject *>().swap(items_);
        if (out_.capacity() > 65536) std::vector<Py_UCS4>().swap(out_);
    }

private:
    PyObject *fail() {
        for (PyObject *o : items_) Py_DECREF(o);
        items_.clear();
        return nullptr;
    }

    Py_ssize_t skip_space(Py_ssize_t i) const {
        while (i < n_ && is_list_space(s_[i])) ++i;
        return i;
    }

    // One backslash sequence at s_[i] == '\\', read no further than `end`:
    // its length, its value in *cp.
    Py_ssize_t backslash(Py_ssize_t i, Py_ssize_t end, Py_UCS4 *cp, BsKind *kind) const {
        *kind = BsKind::Char;
        if (i + 1 >= end) {
            *cp = '\\';
            return 1;
        }
        Py_UCS4 c = s_[i + 1];
        switch (c) {
        case 'a': *cp = 7; return 2;
        case 'b': *cp = 8; return 2;
        case 'f': *cp = 12; return 2;
        case 'n': *cp = 10; return 2;
        case 'r': *cp = 13; return 2;
        case 't': *cp = 9; return 2;
        case 'v': *cp = 11; return 2;
        case 'x':
        case 'u':
        case 'U': {
            int max_digits = c == 'x' ? 2 : c == 'u' ? 4 : 8;
            Py_UCS4 value = 0;
            Py_ssize_t j = i + 2;
            int digits = 0;
            while (digits < max_digits && j < end) {
                int h = hex_value(s_[j]);
                if (h < 0 || value > 0x10FFF) break;
                value = (value << 4) | (Py_UCS4)h;
                ++j;
                ++digits;
            }
            if (digits == 0) {
                *cp = c;
                return 2;
            }
            if (c != 'x') {
                *kind = BsKind::Unicode;
                if (value > 0xFFFF) value = 0xFFFD;
            }
            *cp = value;
            return j - i;
        }
        case '\n': {
            Py_ssize_t j = i + 2;
            while (j < end && (s_[j] == ' ' || s_[j] == '\t')) ++j;
            *cp = ' ';
            return j - i;
        }
        default: break;
        }
        if (c >= '0' && c <= '7') {
            Py_UCS4 value = c - '0';
            Py_ssize_t j = i + 2;
            if (j < end && s_[j] >= '0' && s_[j] <= '7') {
                value = (value << 3) + (s_[j] - '0');
                ++j;
                if (j < end && s_[j] >= '0' && s_[j] <= '7' && value < 0x20) {
                    value = ((value << 3) + (s_[j] - '0')) & 0xFF;
                    ++j;
                }
            }
            *cp = value;
            return j - i;
        }
        *cp = c > 0xFFFF ? 0xFFFD : c;
        return 2;
    }

    Py_ssize_t backslash_len(Py_ssize_t i) const {
        Py_UCS4 cp;
        BsKind kind;
        return backslash(i, n_, &cp, &kind);
    }

    PyObject *substring(Py_ssize_t start, Py_ssize_t end) const {
        return PyUnicode_Substring(str_, start, end);
    }

    // The element s_[start:end) with backslash substitution.
    PyObject *collapse(Py_ssize_t start, Py_ssize_t end) {
        out_.clear();
        Py_UCS4 pending_high = 0;  // a surrogate from \u waiting for its pair
        Py_ssize_t i = start;
        while (i < end) {
            Py_UCS4 c = s_[i];
            BsKind kind = BsKind::Char;
            if (c == '\\') {
                i += backslash(i, end, &c, &kind);
            } else {
                ++i;
            }
            if (kind == BsKind::Unicode && c >= 0xD800 && c <= 0xDFFF) {
                if (c >= 0xDC00 && pending_high) {
                    out_.push_back(0x10000 + ((pending_high - 0xD800) << 10) + (c - 0xDC00));
                    pending_high = 0;
                    continue;
                }
                flush_surrogate(pending_high);
                if (c < 0xDC00) {
                    pending_high = c;
                } else {
                    flush_surrogate(c);
                }
                continue;
            }
            flush_surrogate(pending_high);
            out_.push_back(c);
        }
        flush_surrogate(pending_high);
        return from_out();
    }

    // A surrogate that the Tcl layer could not pair comes back as the
    // surrogate escapes of its three encoded bytes.
    void flush_surrogate(Py_UCS4 &s) {
        if (!s) return;
        out_.push_back(0xDC00 | 0xED);
        out_.push_back(0xDC00 | (0x80 | ((s >> 6) & 0x3F)));
        out_.push_back(0xDC00 | (0x80 | (s & 0x3F)));
        s = 0;
    }

    PyObject *from_out() const {
        Py_UCS4 maxc = 0;
        for (Py_UCS4 c : out_) maxc = c > maxc ? c : maxc;
        Py_ssize_t len = (Py_ssize_t)out_.size();
        PyObject *r = PyUnicode_New(len, maxc);
        if (!r) return nullptr;
        int kind = PyUnicode_KIND(r);
        void *data = PyUnicode_DATA(r);
        if (kind == PyUnicode_1BYTE_KIND) {
            Py_UCS1 *d = static_cast<Py_UCS1 *>(data);
            for (Py_ssize_t k = 0; k < len; ++k) d[k] = (Py_UCS1)out_[k];
        } else if (kind == PyUnicode_2BYTE_KIND) {
            Py_UCS2 *d = static_cast<Py_UCS2 *>(data);
            for (Py_ssize_t k = 0; k < len; ++k) d[k] = (Py_UCS2)out_[k];
        } else {
            Py_UCS4 *d = static_cast<Py_UCS4 *>(data);
            for (Py_ssize_t k = 0; k < len; ++k) d[k] = out_[k];
        }
        return r;
    }

    // One element starting at s_[i], not a separator: its span and the index
    // after it; false with TclError set for a malformed list.
    bool scan(Py_ssize_t i, ListSpan *span, Py_ssize_t *next) {
        CharT c = s_[i];
        if (c == '{') return scan_braces(i, span, next);
        if (c == '"') return scan_quotes(i, span, next);
        scan_bare(i, span, next);
        return true;
    }

    bool scan_braces(Py_ssize_t i, ListSpan *span, Py_ssize_t *next) {
        Py_ssize_t depth = 1;
        Py_ssize_t j = i + 1;
        while (j < n_) {
            CharT c = s_[j];
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth == 0) break;
            } else if (c == '\\') {
                j += backslash_len(j);
                continue;
            }
            ++j;
        }
        if (j >= n_) {
            raise("unmatched open brace in list");
            return false;
        }
        if (!check_after(j + 1, "braces")) return false;
        *span = ListSpan{i + 1, j, true};
        *next = j + 1;
        return true;
    }

    bool scan_quotes(Py_ssize_t i, ListSpan *span, Py_ssize_t *next) {
        bool literal = true;
        Py_ssize_t j = i + 1;
        while (j < n_) {
            CharT c = s_[j];
            if (c == '"') break;
            if (c == '\\') {
                literal = false;
                j += backslash_len(j);
            } else {
                ++j;
            }
        }
        if (j >= n_) {
            raise("unmatched open quote in list");
            return false;
        }
        if (!check_after(j + 1, "quotes")) return false;
        *span = ListSpan{i + 1, j, literal};
        *next = j + 1;
        return true;
    }

    void scan_bare(Py_ssize_t i, ListSpan *span, Py_ssize_t *next) {
        bool literal = true;
        Py_ssize_t j = i;
        while (j < n_) {
            CharT c = s_[j];
            if (is_list_space(c)) break;
            if (c == '\\') {
                literal = false;
                j += backslash_len(j);
            } else {
                ++j;
            }
        }
        *span = ListSpan{i, j, literal};
        *next = j;
    }

    bool check_after(Py_ssize_t p, const char *what) {
        if (p >= n_ || is_list_space(s_[p])) return true;
        PyObject *frag = fragment(p);
        if (!frag) return false;
        PyObject *msg =
                PyUnicode_FromFormat("list element in %s followed by \"%U\" instead of space", what, frag);
        Py_DECREF(frag);
        if (!msg) return false;
        raise_obj(msg);
        return false;
    }

    // At most 20 encoded bytes of the text at p, up to a separator, as
    // Tcl quotes them: an incomplete character at the cut is dropped, except
    // one beyond U+FFFF, which keeps one byte less than it has there; and a
    // whole one beyond U+FFFF that ends the quoted bytes keeps three.
    PyObject *fragment(Py_ssize_t p) {
        out_.clear();
        int used = 0;
        Py_ssize_t q = p;
        for (; q < n_; ++q) {
            Py_UCS4 c = s_[q];
            if (is_list_space(c)) break;
            int len = tcl_utf_len(c);
            if (used + len > 20) {
                int room = 20 - used;
                if (room == 0) break;
                if (len == 4 && room > 1) push_escaped_bytes(out_, c, room - 1);
                return from_out();
            }
            used += len;
            out_.push_back(c);
        }
        if (!out_.empty() && out_.back() > 0xFFFF) {
            Py_UCS4 c = out_.back();
            out_.pop_back();
            push_escaped_bytes(out_, c, 3);
        }
        return from_out();
    }

    static void raise(const char *msg) {
        PyObject *o = PyUnicode_FromString(msg);
        if (o) raise_obj(o);
    }

    static void raise_obj(PyObject *msg) {
        PyObject *err = tcl_error_type();
        if (err) PyErr_SetObject(err, msg);
        Py_DECREF(msg);
    }

    PyObject *str_;
    const CharT *s_;
    Py_ssize_t begin_;
    Py_ssize_t n_;
    std::vector<PyObject *> &items_;
    std::vector<Py_UCS4> &out_;

public:
    static std::vector<PyObject *> g_items;
    static std::vector<Py_UCS4> g_out;
};

template <typename CharT>
std::vector<PyObject *> Splitter<CharT>::g_items;
template <typename CharT>
std::vector<Py_UCS4> Splitter<CharT>::g_out;

}  // namespace
}  // namespace oskra
