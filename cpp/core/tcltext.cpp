// Tcl text to str (see tcltext.h).
#include "core/tcltext.h"

namespace oskra {

namespace {

inline bool in(unsigned char c, unsigned char lo, unsigned char hi) { return c >= lo && c <= hi; }

// At p: the six bytes of a surrogate pair encoded half by half
// (ED A0..AF xx ED B0..BF xx); the code point they stand for, else 0.
Py_UCS4 split_pair_at(const unsigned char *p, const unsigned char *end) {
    if (end - p < 6 || p[0] != 0xED || !in(p[1], 0xA0, 0xAF) || !in(p[2], 0x80, 0xBF) || p[3] != 0xED ||
        !in(p[4], 0xB0, 0xBF) || !in(p[5], 0x80, 0xBF))
        return 0;
    Py_UCS4 high = 0xD000 | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    Py_UCS4 low = 0xD000 | ((p[4] & 0x3F) << 6) | (p[5] & 0x3F);
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace

PyObject *text_of_utf(const char *s, Py_ssize_t n) {
    // Plain UTF-8 (the common case, real NUL bytes included) decodes as is.
    PyObject *r = PyUnicode_DecodeUTF8(s, n, nullptr);
    if (r || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return r;
    PyErr_Clear();
    // Otherwise rewrite Tcl's two liberties into plain UTF-8 first (never
    // longer than the input), then decode what is left with escapes.
    char *buf = (char *)PyMem_Malloc(n > 0 ? (size_t)n : 1);
    if (!buf) return PyErr_NoMemory();
    char *q = buf;
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    const unsigned char *end = p + n;
    while (p < end) {
        if (p[0] == 0xC0 && end - p >= 2 && p[1] == 0x80) {
            *q++ = '\0';
            p += 2;
        } else if (Py_UCS4 cp = p[0] == 0xED ? split_pair_at(p, end) : 0) {
            *q++ = (char)(0xF0 | (cp >> 18));
            *q++ = (char)(0x80 | ((cp >> 12) & 0x3F));
            *q++ = (char)(0x80 | ((cp >> 6) & 0x3F));
            *q++ = (char)(0x80 | (cp & 0x3F));
            p += 6;
        } else {
            *q++ = (char)*p++;
        }
    }
    r = PyUnicode_DecodeUTF8(buf, q - buf, "surrogateescape");
    PyMem_Free(buf);
    return r;
}

PyObject *text_of_tcl_obj(Tcl_Obj *obj) {
    int n = 0;
    const char *s = Tcl_GetStringFromObj(obj, &n);
    return text_of_utf(s, n);
}

}  // namespace oskra
