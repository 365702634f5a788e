// Tcl list quoting over str code points. See quote.h.
#include "core/quote.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace oskra {
namespace quote {
namespace {

// Character classes of the scanner (ASCII only; everything above is plain).
enum : unsigned char { S_PLAIN = 0, S_OPEN, S_CLOSE, S_BACKSLASH, S_BRACES };
// Character classes of the converter's backslash form.
enum : unsigned char { C_PLAIN = 0, C_SELF, C_BRACE, C_LETTER };

struct Tables {
    unsigned char scan[128];
    unsigned char conv[128];
    char letter[128];
    Tables() : scan(), conv(), letter() {
        scan[(int)'{'] = S_OPEN;
        scan[(int)'}'] = S_CLOSE;
        scan[(int)'\\'] = S_BACKSLASH;
        for (char c : {'[', '$', ';', ' ', '\f', '\n', '\r', '\t', '\v'}) scan[(int)c] = S_BRACES;
        for (char c : {']', '[', '$', ';', ' ', '\\', '"'}) conv[(int)c] = C_SELF;
        conv[(int)'{'] = conv[(int)'}'] = C_BRACE;
        const char ctl[] = {'\f', '\n', '\r', '\t', '\v'};
        const char let[] = {'f', 'n', 'r', 't', 'v'};
        for (int i = 0; i < 5; ++i) {
            conv[(int)ctl[i]] = C_LETTER;
            letter[(int)ctl[i]] = let[i];
        }
    }
};
const Tables T;

inline bool is_hex(Py_UCS4 c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Length of the backslash sequence at s[0] (a backslash that is neither the
// last character nor followed by a newline; avail >= 2), measured as Tcl's
// own parser measures it: \xhh, \uhhhh, \Uhhhhhhhh, up to three octal
// digits, else the backslash and the one character it quotes.
template <typename S>
Py_ssize_t backslash_length(const S *s, Py_ssize_t avail) {
    Py_ssize_t digits = 0, count = 2;
    switch (s[1]) {
    case 'x': digits = 2; break;
    case 'u': digits = 4; break;
    case 'U': digits = 8; break;
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
        while (count < 4 && count < avail && s[count] >= '0' && s[count] <= '7') ++count;
        return count;
    default: return 2;
    }
    while (digits-- > 0 && count < avail && is_hex(s[count])) ++count;
    return count;
}

template <typename S>
unsigned scan(const S *s, Py_ssize_t n) {
    unsigned flags = 0;
    Py_ssize_t level = 0;
    if (n == 0 || s[0] == '{' || s[0] == '"') flags |= USE_BRACES;
    for (Py_ssize_t p = 0; p < n; ++p) {
        Py_UCS4 c = s[p];
        if (c >= 128) continue;
        switch (T.scan[c]) {
        case S_PLAIN: break;
        case S_OPEN: ++level; break;
        case S_CLOSE:
            if (--level < 0) flags |= DONT_USE_BRACES | BRACES_UNMATCHED;
            break;
        case S_BRACES: flags |= USE_BRACES; break;
        case S_BACKSLASH:
            if (p + 1 == n || s[p + 1] == '\n') {
                flags = DONT_USE_BRACES | BRACES_UNMATCHED;
            } else {
                flags |= USE_BRACES;
                // Skip the whole sequence: a quoted brace does not count
                // toward the nesting level, as in Tcl's list parser.
                p += backslash_length(s + p, n - p) - 1;
            }
            break;
        }
    }
    if (level != 0) flags = DONT_USE_BRACES | BRACES_UNMATCHED;
    return flags;
}

inline bool braced(unsigned flags) { return (flags & USE_BRACES) && !(flags & DONT_USE_BRACES); }

// Number of characters of the backslash form.
template <typename S>
Py_ssize_t backslash_form_length(const S *s, Py_ssize_t n, unsigned flags) {
    bool unmatched = (flags & BRACES_UNMATCHED) || s[0] == '{';
    Py_ssize_t len = n;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = s[i];
        if (c >= 128) continue;
        unsigned char k = T.conv[c];
        len += (k == C_SELF || k == C_LETTER || (k == C_BRACE && unmatched));
    }
    return len;
}

template <typename S>
Py_ssize_t quoted_length(const S *s, Py_ssize_t n, unsigned flags) {
    if (n == 0) return 2;
    if (braced(flags)) return n + 2;
    return backslash_form_length(s, n, flags);
}

template <typename S, typename D>
D *write_element(const S *s, Py_ssize_t n, unsigned &flags, D *d) {
    if (n == 0) {
        *d++ = '{';
        *d++ = '}';
        return d;
    }
    if (braced(flags)) {
        *d++ = '{';
        if (sizeof(S) == sizeof(D)) {
            std::memcpy(d, s, n * sizeof(D));
            d += n;
        } else {
            for (Py_ssize_t i = 0; i < n; ++i) *d++ = (D)s[i];
        }
        *d++ = '}';
        return d;
    }
    Py_ssize_t i = 0;
    if (s[0] == '{') {
        *d++ = '\\';
        *d++ = '{';
        i = 1;
        flags |= BRACES_UNMATCHED;
    }
    bool unmatched = flags & BRACES_UNMATCHED;
    for (; i < n; ++i) {
        Py_UCS4 c = s[i];
        if (c < 128) {
            switch (T.conv[c]) {
            case C_PLAIN: break;
            case C_SELF: *d++ = '\\'; break;
            case C_BRACE:
                if (unmatched) *d++ = '\\';
                break;
            case C_LETTER:
                *d++ = '\\';
                c = (Py_UCS4)T.letter[c];
                break;
            }
        }
        *d++ = (D)c;
    }
    return d;
}

template <typename D>
D *write_any(PyObject *str, unsigned &flags, D *d) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(str);
    const void *data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: return write_element((const Py_UCS1 *)data, n, flags, d);
    case PyUnicode_2BYTE_KIND: return write_element((const Py_UCS2 *)data, n, flags, d);
    default: return write_element((const Py_UCS4 *)data, n, flags, d);
    }
}

// Writes the element into the str `out` at position `pos`; returns the new position.
Py_ssize_t write_into(PyObject *out, Py_ssize_t pos, PyObject *str, unsigned &flags) {
    void *base = PyUnicode_DATA(out);
    switch (PyUnicode_KIND(out)) {
    case PyUnicode_1BYTE_KIND: {
        Py_UCS1 *d = (Py_UCS1 *)base + pos;
        return pos + (write_any(str, flags, d) - d);
    }
    case PyUnicode_2BYTE_KIND: {
        Py_UCS2 *d = (Py_UCS2 *)base + pos;
        return pos + (write_any(str, flags, d) - d);
    }
    default: {
        Py_UCS4 *d = (Py_UCS4 *)base + pos;
        return pos + (write_any(str, flags, d) - d);
    }
    }
}

Py_ssize_t length_of(PyObject *str, unsigned flags) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(str);
    const void *data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: return quoted_length((const Py_UCS1 *)data, n, flags);
    case PyUnicode_2BYTE_KIND: return quoted_length((const Py_UCS2 *)data, n, flags);
    default: return quoted_length((const Py_UCS4 *)data, n, flags);
    }
}

inline Py_UCS4 max_char(PyObject *str) {
    Py_UCS4 m = PyUnicode_MAX_CHAR_VALUE(str);
    return m < 127 ? 127 : m;
}

}  // namespace

unsigned scan_element(PyObject *str) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(str);
    const void *data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: return scan((const Py_UCS1 *)data, n);
    case PyUnicode_2BYTE_KIND: return scan((const Py_UCS2 *)data, n);
    default: return scan((const Py_UCS4 *)data, n);
    }
}

PyObject *convert_element(PyObject *str, unsigned &flags) {
    Py_ssize_t len = length_of(str, flags);
    if (len == PyUnicode_GET_LENGTH(str) && PyUnicode_CheckExact(str)) {
        // Nothing to quote (the result would be a copy).
        Py_INCREF(str);
        return str;
    }
    PyObject *out = PyUnicode_New(len, max_char(str));
    if (!out) return nullptr;
    write_into(out, 0, str, flags);
    return out;
}

namespace {

// The list text under construction, in the narrowest kind that holds every
// character so far. Each element is scanned and written while it is still
// in cache; the text is copied into its str once at the end.
class Buffer {
public:
    ~Buffer() { PyMem_Free(p_); }
    Py_ssize_t length() const { return len_; }
    Py_UCS4 max_char() const { return maxc_; }
    bool reserve_hint(Py_ssize_t chars) { return reserve(chars, kind_); }

    bool append(PyObject *str, unsigned flags, bool space) {
        Py_ssize_t need = length_of(str, flags) + space;
        Py_UCS4 m = PyUnicode_MAX_CHAR_VALUE(str);
        if (m > maxc_) maxc_ = m;
        int kind = maxc_ < 256 ? 1 : maxc_ < 65536 ? 2 : 4;
        if (need > PY_SSIZE_T_MAX / 4 - len_) {
            PyErr_NoMemory();
            return false;
        }
        if (!reserve(len_ + need, kind)) return false;
        switch (kind_) {
        case 1: put((Py_UCS1 *)p_, str, flags, space); break;
        case 2: put((Py_UCS2 *)p_, str, flags, space); break;
        default: put((Py_UCS4 *)p_, str, flags, space); break;
        }
        return true;
    }

    PyObject *finish() {
        PyObject *out = PyUnicode_New(len_, maxc_);
        if (out && len_) std::memcpy(PyUnicode_DATA(out), p_, (size_t)len_ * kind_);
        return out;
    }

private:
    template <typename D>
    void put(D *base, PyObject *str, unsigned flags, bool space) {
        D *d = base + len_;
        if (space) *d++ = ' ';
        len_ = write_any(str, flags, d) - base;
    }

    template <typename From, typename To>
    static void widen(const From *src, To *dst, Py_ssize_t n) {
        for (Py_ssize_t i = 0; i < n; ++i) dst[i] = src[i];
    }

    bool reserve(Py_ssize_t chars, int kind) {
        if (chars <= cap_ && kind == kind_) return true;
        Py_ssize_t cap = cap_;
        while (cap < chars) cap = cap < 64 ? 64 : cap + cap / 2;
        if (cap > PY_SSIZE_T_MAX / 4) cap = chars;
        if (kind == kind_) {
            void *p = PyMem_Realloc(p_, (size_t)cap * kind);
            if (!p) {
                PyErr_NoMemory();
                return false;
            }
            p_ = p;
        } else {
            void *p = PyMem_Malloc((size_t)cap * kind);
            if (!p) {
                PyErr_NoMemory();
                return false;
            }
            if (kind_ == 1 && kind == 2) widen((Py_UCS1 *)p_, (Py_UCS2 *)p, len_);
            else if (kind_ == 1) widen((Py_UCS1 *)p_, (Py_UCS4 *)p, len_);
            else widen((Py_UCS2 *)p_, (Py_UCS4 *)p, len_);
            PyMem_Free(p_);
            p_ = p;
            kind_ = kind;
        }
        cap_ = cap;
        return true;
    }

    void *p_ = nullptr;
    Py_ssize_t len_ = 0, cap_ = 0;
    int kind_ = 1;
    Py_UCS4 maxc_ = 127;
};

// The list builder; with `only_exact_str`, returns null with no error set
// as soon as an item is not an exact str.
PyObject *build(PyObject *const *items, Py_ssize_t n, bool only_exact_str) {
    if (n == 0) return PyUnicode_New(0, 0);
    Buffer buf;
    if (n < PY_SSIZE_T_MAX / 64 && !buf.reserve_hint(n * 8)) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *s = items[i];
        if (only_exact_str && !PyUnicode_CheckExact(s)) return nullptr;
        if (!buf.append(s, scan_element(s), i > 0)) return nullptr;
    }
    return buf.finish();
}

}  // namespace

PyObject *build_list(PyObject *const *items, Py_ssize_t n) { return build(items, n, false); }

PyObject *build_list_of_exact_str(PyObject *const *items, Py_ssize_t n) { return build(items, n, true); }

PyObject *literal_name_pattern(PyObject *name) {
    const int kind = PyUnicode_KIND(name);
    const void *data = PyUnicode_DATA(name);
    const Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    auto is_glob = [](Py_UCS4 c) { return c == '*' || c == '?' || c == '[' || c == ']' || c == '\\'; };
    Py_ssize_t tail = 0, globs = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == ':' && i + 1 < n && PyUnicode_READ(kind, data, i + 1) == ':') tail = i + 2, globs = 0;
        else if (is_glob(c)) ++globs;
    }
    if (!globs) return Py_NewRef(name);
    PyObject *out = PyUnicode_New(n + globs, PyUnicode_MAX_CHAR_VALUE(name));
    if (!out) return nullptr;
    const int out_kind = PyUnicode_KIND(out);
    void *out_data = PyUnicode_DATA(out);
    Py_ssize_t j = 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (i >= tail && is_glob(c)) PyUnicode_WRITE(out_kind, out_data, j++, '\\');
        PyUnicode_WRITE(out_kind, out_data, j++, c);
    }
    return out;
}

}  // namespace quote
}  // namespace oskra
