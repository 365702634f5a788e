// tkinter's number and boolean conversions for a thread that does not own
// the interpreter (see tclconv.h).
//
// tkinter parses with the interpreter, whose result then carries the error
// message: from another thread that writes into an interpreter that its own
// thread may be using. Here the text is parsed without an interpreter and
// the message is built as Tcl builds it; values that tkinter converts or
// refuses before reaching Tcl are handed to tkinter itself.
#include <climits>
#include <cstring>
#include <string>

#include "core/stack_obj.h"
#include "core/tclconv.h"
#include "support/pyref.h"
#include "support/tclapp.h"

namespace oskra {

namespace {

bool is_type(Tcl_Obj *o, const char *name) { return o->typePtr && std::strcmp(o->typePtr->name, name) == 0; }

bool tcl_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// "expected <what> but got "<text>"", the text cut after 50 bytes at a
// character boundary as Tcl cuts it, plus Tcl's hint for a number that
// only fails as a malformed octal.
PyObject *expected_error(const char *what, const char *s, Py_ssize_t n, bool octal_hint) {
    Py_ssize_t shown = n <= 50 ? n : Tcl_UtfPrev(s + 51, s) - s;
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(s, shown, "surrogateescape"));
    if (!text) return nullptr;
    Ref msg = Ref::steal(PyUnicode_FromFormat("expected %s but got \"%U\"%s", what, text.get(),
                                              octal_hint ? " (looks like invalid octal number)" : ""));
    if (msg) PyErr_SetObject(tcl_error_type(), msg.get());
    return nullptr;
}

// Tcl's hint for a text whose reading stopped inside a malformed octal
// number: after optional white space and sign, a leading zero and a run of
// decimal digits holding an 8 or 9, ended by the text's end or by anything
// but a fraction or an exponent (which would make it a decimal float).
bool bad_octal(const char *s, Py_ssize_t n) {
    Py_ssize_t i = 0;
    while (i < n && tcl_space(s[i])) ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (i >= n || s[i] != '0') return false;
    bool high = false;
    for (++i; i < n && s[i] >= '0' && s[i] <= '9'; ++i) high |= s[i] >= '8';
    return high && (i == n || (s[i] != '.' && s[i] != 'e' && s[i] != 'E'));
}

// The int of an integer text that Tcl accepted but that does not fit in
// 64 bits: sign, then 0x/0o/0b or a leading zero (octal), else decimal.
PyObject *big_int(const char *s, Py_ssize_t n) {
    Py_ssize_t i = 0, end = n;
    while (i < end && tcl_space(s[i])) ++i;
    while (end > i && tcl_space(s[end - 1])) --end;
    std::string digits;
    if (i < end && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') digits += '-';
        ++i;
    }
    int base = 10;
    if (end - i >= 2 && s[i] == '0') {
        char p = s[i + 1] | 0x20;
        base = p == 'x' ? 16 : p == 'o' ? 8 : p == 'b' ? 2 : 8;
        i += (p == 'x' || p == 'o' || p == 'b') ? 2 : 1;
    }
    digits.append(s + i, end - i);
    return PyLong_FromString(digits.c_str(), nullptr, base);
}

PyObject *parse(ForeignKind kind, const char *s, Py_ssize_t n) {
    StackObj tmp(s, n);
    Tcl_Obj *obj = &tmp.obj;
    switch (kind) {
    case FOREIGN_INT: {
        Tcl_WideInt w;
        if (Tcl_GetWideIntFromObj(nullptr, obj, &w) == TCL_OK && !is_type(obj, "bignum"))
            return PyLong_FromLongLong((long long)w);
        if (is_type(obj, "bignum")) return big_int(s, n);
        return expected_error("integer", s, n, false);
    }
    case FOREIGN_DOUBLE: {
        double d;
        if (Tcl_GetDoubleFromObj(nullptr, obj, &d) == TCL_OK) return PyFloat_FromDouble(d);
        if (is_type(obj, "double")) {  // parsed, but Not a Number
            PyErr_SetString(tcl_error_type(), "floating point value is Not a Number");
            return nullptr;
        }
        return expected_error("floating-point number", s, n, bad_octal(s, n));
    }
    case FOREIGN_BOOLEAN: {
        int b;
        if (Tcl_GetBooleanFromObj(nullptr, obj, &b) == TCL_OK) return PyBool_FromLong(b);
        return expected_error("boolean value", s, n, false);
    }
    }
    return nullptr;
}

}  // namespace

PyObject *foreign_conversion(ForeignKind kind, PyObject *tkapp, PyObject *method, PyObject *value) {
    Ref text;
    if ((PyObject *)Py_TYPE(value) == tcl_obj_type()) {
        text = Ref::steal(PyObject_Str(value));  // the Tcl layer's own text of it
        if (!text) return nullptr;
        value = text.get();
    }
    if (PyUnicode_Check(value)) {
        Py_ssize_t n;
        const char *s = PyUnicode_AsUTF8AndSize(value, &n);
        if (s && n < INT_MAX && std::strlen(s) == (size_t)n && tcl_stubs_ready()) return parse(kind, s, n);
        PyErr_Clear();
    }
    // tkinter answers these itself (a number, or a refusal: a type it does
    // not take, NUL, a lone surrogate, a string too long) before any Tcl call.
    PyObject *buf[3] = {nullptr, tkapp, value};
    return PyObject_VectorcallMethod(method, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

}  // namespace oskra
