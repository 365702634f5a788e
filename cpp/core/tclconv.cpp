// Quiet Tcl conversions for the casts (see tclconv.h).
#include "core/tclconv.h"

#include "core/stack_obj.h"
#include "support/tclapp.h"

#include <climits>
#include <cstring>

namespace oskra {

namespace {

bool is_bignum(Tcl_Obj *o) { return o->typePtr != nullptr && strcmp(o->typePtr->name, "bignum") == 0; }

// The UTF-8 text of an exact str, as tkinter hands it to Tcl; false (no
// error set) when tkinter would refuse it or treat it specially, or while
// Tcl's C library cannot be called yet.
bool str_utf8(PyObject *value, const char **s, Py_ssize_t *n) {
    if (!PyUnicode_CheckExact(value) || !tcl_stubs_ready()) return false;
    *s = PyUnicode_AsUTF8AndSize(value, n);
    if (*s == nullptr) {  // lone surrogates
        PyErr_Clear();
        return false;
    }
    if (*n > INT_MAX) return false;
    return strlen(*s) == (size_t)*n;  // an embedded NUL
}

}  // namespace

Tcl_Interp *tkapp_interp(PyObject *tkapp) {
    Tcl_Interp *interp = interp_of_tkapp(tkapp);
    if (!interp) PyErr_Clear();
    return interp;
}

bool tclobj_value(PyObject *obj, Tcl_Obj **out) {
    if ((PyObject *)Py_TYPE(obj) != tcl_obj_type() || !tcl_stubs_ready()) return false;
    *out = tcl_obj_value(obj);
    return true;
}

namespace {

ConvResult int_of(Tcl_Obj *obj, PyObject **out) {
    Tcl_WideInt w;
    if (Tcl_GetWideIntFromObj(nullptr, obj, &w) == TCL_OK) {
        // A bignum in the unsigned 64-bit range converts with wrap-around:
        // leave every bignum to the exact path.
        if (is_bignum(obj)) return CONV_UNSUPPORTED;
        *out = PyLong_FromLongLong((long long)w);
        if (*out) return CONV_OK;
        PyErr_Clear();
        return CONV_UNSUPPORTED;
    }
    return is_bignum(obj) ? CONV_UNSUPPORTED : CONV_NO;
}

}  // namespace

ConvResult conv_int(PyObject *value, PyObject **out) {
    Tcl_Obj *obj;
    if (tclobj_value(value, &obj)) return int_of(obj, out);
    const char *s;
    Py_ssize_t n;
    if (!str_utf8(value, &s, &n)) return CONV_UNSUPPORTED;
    StackObj tmp(s, n);
    return int_of(&tmp.obj, out);
}

ConvResult conv_double(PyObject *value, PyObject **out) {
    double d;
    Tcl_Obj *obj;
    int rc;
    if (tclobj_value(value, &obj)) {
        rc = Tcl_GetDoubleFromObj(nullptr, obj, &d);
    } else {
        const char *s;
        Py_ssize_t n;
        if (!str_utf8(value, &s, &n)) return CONV_UNSUPPORTED;
        rc = Tcl_GetDouble(nullptr, s, &d);
    }
    if (rc != TCL_OK) return CONV_NO;
    *out = PyFloat_FromDouble(d);
    if (*out == nullptr) {
        PyErr_Clear();
        return CONV_UNSUPPORTED;
    }
    return CONV_OK;
}

ConvResult conv_boolean(PyObject *value, PyObject **out) {
    int b;
    Tcl_Obj *obj;
    int rc;
    if (tclobj_value(value, &obj)) {
        rc = Tcl_GetBooleanFromObj(nullptr, obj, &b);
    } else {
        const char *s;
        Py_ssize_t n;
        if (!str_utf8(value, &s, &n)) return CONV_UNSUPPORTED;
        rc = Tcl_GetBoolean(nullptr, s, &b);
    }
    if (rc != TCL_OK) return CONV_NO;
    *out = PyBool_FromLong(b);
    return CONV_OK;
}

bool leading_zero_decimal(PyObject *str) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(str), i = 0;
    int kind = PyUnicode_KIND(str);
    const void *data = PyUnicode_DATA(str);
    auto at = [&](Py_ssize_t k) -> Py_UCS4 { return k < n ? PyUnicode_READ(kind, data, k) : 0; };
    while (i < n && Py_UNICODE_ISSPACE(at(i))) ++i;
    if (at(i) == '+' || at(i) == '-') ++i;
    return at(i) == '0' && at(i + 1) >= '0' && at(i + 1) <= '9';
}

ConvResult conv_number(PyObject *value, PyObject **out) {
    const char *s;
    Py_ssize_t n;
    if (!str_utf8(value, &s, &n)) return CONV_UNSUPPORTED;
    StackObj tmp(s, n);
    Tcl_Obj *obj = &tmp.obj;
    // Tcl's number parser leaves the narrowest type it found: an "int" rep
    // exactly when the text is a Tcl integer within 64 bits, a "double" rep
    // for a number that is no integer. Every integer is also a double, so a
    // failure here means neither conversion can succeed.
    double d;
    if (Tcl_GetDoubleFromObj(nullptr, obj, &d) != TCL_OK) return is_bignum(obj) ? CONV_UNSUPPORTED : CONV_NO;
    if (obj->typePtr == nullptr) return CONV_UNSUPPORTED;
    const char *type = obj->typePtr->name;
    if (strcmp(type, "int") == 0) return int_of(obj, out);
    if (strcmp(type, "double") != 0) return CONV_UNSUPPORTED;
    *out = PyFloat_FromDouble(d);
    if (*out) return CONV_OK;
    PyErr_Clear();
    return CONV_UNSUPPORTED;
}

}  // namespace oskra
