// Tcl text to str (see tcltext.h).
#include "core/tcltext.h"

#include "core/convert.h"
#include "core/tclconv.h"
#include "support/pyref.h"
#include "support/tclapp.h"

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

PyObject *bytes_text(PyObject *bytes) {
    return PyUnicode_DecodeLatin1(PyBytes_AS_STRING(bytes), PyBytes_GET_SIZE(bytes), nullptr);
}

bool holds_bytes(PyObject *value) {
    if (PyBytes_Check(value)) return true;
    if (!PyTuple_Check(value)) return false;
    // A tuple from the Tcl layer is as deep as the Tcl list it came from;
    // one built in Python may be deeper than the stack allows.
    if (Py_EnterRecursiveCall(" while reading a Tcl list")) {
        PyErr_Clear();
        return true;  // tcl_text then reports the RecursionError itself
    }
    bool found = false;
    for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(value); i < n && !found; ++i)
        found = holds_bytes(PyTuple_GET_ITEM(value, i));
    Py_LeaveRecursiveCall();
    return found;
}

PyObject *element_texts(PyObject *tuple) {
    Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    Ref texts = Ref::steal(PyTuple_New(n));
    if (!texts) return nullptr;
    if (Py_EnterRecursiveCall(" while reading a Tcl list")) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *t = tcl_text(PyTuple_GET_ITEM(tuple, i));
        if (!t) {
            Py_LeaveRecursiveCall();
            return nullptr;
        }
        PyTuple_SET_ITEM(texts.get(), i, t);
    }
    Py_LeaveRecursiveCall();
    return texts.release();
}

PyObject *tcl_text(PyObject *value) {
    if (PyUnicode_CheckExact(value)) return Py_NewRef(value);
    if (PyBytes_Check(value)) return bytes_text(value);
    if (PyTuple_Check(value) && holds_bytes(value)) {
        Ref texts = Ref::steal(element_texts(value));
        return texts ? wordform_from_sequence(texts.get()) : nullptr;
    }
    return wordform_text(value);
}

PyObject *result_text(PyObject *tkapp, PyObject *result) {
    if (PyUnicode_CheckExact(result)) return Py_NewRef(result);
    Tcl_Interp *interp = interp_on_own_thread(tkapp);
    if (!interp) return tcl_text(result);  // not a tkapp, or another thread's
    Tcl_Obj *obj;
    if (tclobj_value(result, &obj)) return text_of_tcl_obj(obj);
    // Converting the result ran no Tcl code: the interpreter's result is
    // still the value it was converted from, and its string form is the
    // exact text.
    return text_of_tcl_obj(Tcl_GetObjResult(interp));
}

}  // namespace oskra
