// Variable readers and writers, and the casts from Tcl values to Python.
#include <cstring>

#include "core/convert.h"
#include "core/keyedlist.h"
#include "core/listsplit.h"
#include "core/tclconv.h"
#include "interp_private.h"

namespace oskra::interp {
namespace {

PyObject *call_method1(PyObject *obj, PyObject *name, PyObject *arg) {
    PyObject *buf[3] = {nullptr, obj, arg};
    return PyObject_VectorcallMethod(name, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

PyObject *call_method2(PyObject *obj, PyObject *name, PyObject *a1, PyObject *a2) {
    PyObject *buf[4] = {nullptr, obj, a1, a2};
    return PyObject_VectorcallMethod(name, buf + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

bool exact_interp(PyObject *self) { return Py_TYPE(self) == (PyTypeObject *)g.Interpreter; }

// While handling `context`, the new pending exception gets it as its
// __context__, as a raise inside an except block would.
void chain_context(PyObject *context) {
    PyObject *exc = PyErr_GetRaisedException();
    PyException_SetContext(exc, context);  // steals context
    PyErr_SetRaisedException(exc);
}

// The tkinter path of cast_int/cast_double: self.getint(value), retried
// with wordform(value) on TypeError.
PyObject *tk_number(PyObject *self, PyObject *method, PyObject *value) {
    PyObject *r = call_method1(self, method, value);
    if (r || !PyErr_ExceptionMatches(PyExc_TypeError)) return r;
    PyObject *type_error = PyErr_GetRaisedException();
    PyObject *text = wordform(value);
    if (text) {
        r = call_method1(self, method, text);
        Py_DECREF(text);
    }
    if (!r) {
        chain_context(type_error);
        return nullptr;
    }
    Py_DECREF(type_error);
    return r;
}

using Conv = ConvResult (*)(PyObject *, PyObject **);

PyObject *cast_number(PyObject *self, PyObject *value, Conv conv, PyObject *method) {
    if (exact_interp(self)) {
        PyObject *out;
        if (conv(value, &out) == CONV_OK) return out;
    }
    // Failures and unusual values take tkinter's own path: its results and
    // its error messages are the reference.
    return tk_number(self, method, value);
}

// Swallows TypeError and ValueError: 0 when one was swallowed, -1 for any
// other error (left set).
int swallow() {
    if (PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_ValueError)) {
        PyErr_Clear();
        return 0;
    }
    return -1;
}

// cast_int/cast_double inside cast_any and cast_boolean: 1 with *out set,
// 0 when the value is not of that kind (no error set), -1 on an error that
// is not swallowed. `method` is the cast method to call on a subclass,
// `tk_method` the tkinter conversion behind it.
int quiet_number(PyObject *self, PyObject *value, Conv conv, PyObject *method, PyObject *tk_method,
                 bool swallow_type_error, PyObject **out) {
    if (exact_interp(self)) {
        ConvResult r = conv(value, out);
        if (r == CONV_OK) return 1;
        if (r == CONV_NO) return 0;
        *out = tk_number(self, tk_method, value);
    } else {
        *out = call_method1(self, method, value);
    }
    if (*out) return 1;
    if (!swallow_type_error && PyErr_ExceptionMatches(PyExc_TypeError)) return -1;
    return swallow();
}

PyObject *tkapp_of(PyObject *self) { return own_attr(self, g.s_tk); }

// Tcl_ResetResult on the interpreter's Tcl interpreter.
bool reset_result(PyObject *self) {
    PyObject *tk = tkapp_of(self);
    if (!tk) return false;
    Tcl_Interp *interp = tkapp_interp(tk);
    Py_DECREF(tk);
    if (interp) {
        Tcl_ResetResult(interp);
        return true;
    }
    // Not a _tkinter application object: the low-level binding decides.
    PyObject *dll = PyObject_GetAttrString(g.module, "TclDLL");
    if (!dll) return false;
    PyObject *r = PyObject_CallMethod(dll, "Tcl_ResetResult", "O", self);
    Py_DECREF(dll);
    Py_XDECREF(r);
    return r != nullptr;
}

// bool(self.tk.getboolean(value)), retried with wordform(value) on TypeError.
PyObject *tk_boolean(PyObject *self, PyObject *value) {
    PyObject *tk = tkapp_of(self);
    if (!tk) return nullptr;
    PyObject *r = tk_number(tk, g.s_getboolean, value);
    Py_DECREF(tk);
    if (!r) return nullptr;
    int truth = PyObject_IsTrue(r);
    Py_DECREF(r);
    if (truth < 0) return nullptr;
    return PyBool_FromLong(truth);
}

PyObject *compare_nonzero(PyObject *number, PyObject *zero) {
    PyObject *r = PyObject_RichCompare(number, zero, Py_NE);
    Py_DECREF(number);
    return r;
}

// The full cast_boolean after the result reset: Tcl's boolean, else a
// non-zero integer or double, else ValueError from the boolean's TclError.
PyObject *boolean_full(PyObject *self, PyObject *value) {
    PyObject *r = tk_boolean(self, value);
    if (r || !PyErr_ExceptionMatches(g.TclError)) return r;
    PyObject *exc = PyErr_GetRaisedException();
    PyObject *n;
    int got = quiet_number(self, value, conv_int, g.s_cast_int, g.s_getint, false, &n);
    if (got == 1) {
        Py_DECREF(exc);
        return compare_nonzero(n, g.zero_int);
    }
    if (got == 0) {
        got = quiet_number(self, value, conv_double, g.s_cast_double, g.s_getdouble, false, &n);
        if (got == 1) {
            Py_DECREF(exc);
            return compare_nonzero(n, g.zero_float);
        }
    }
    if (got < 0) {
        chain_context(exc);
        return nullptr;
    }
    PyErr_SetRaisedException(exc);
    reraise_as_value_error();
    return nullptr;
}

PyObject *cast_boolean(PyObject *self, PyObject *value) {
    if (!reset_result(self)) return nullptr;
    if (exact_interp(self)) {
        PyObject *out;
        ConvResult r = conv_boolean(value, &out);
        if (r == CONV_OK) return out;
        if (r == CONV_NO) {
            r = conv_int(value, &out);
            if (r == CONV_OK) return compare_nonzero(out, g.zero_int);
            if (r == CONV_NO && conv_double(value, &out) == CONV_OK) return compare_nonzero(out, g.zero_float);
        }
    }
    return boolean_full(self, value);
}

// cast_boolean inside cast_any, where the integer and double attempts on
// the same text have already failed.
int quiet_boolean(PyObject *self, PyObject *value, PyObject **out) {
    if (exact_interp(self)) {
        if (!reset_result(self)) return -1;
        ConvResult r = conv_boolean(value, out);
        if (r == CONV_OK) return 1;
        if (r == CONV_NO) return 0;
        *out = boolean_full(self, value);
    } else {
        *out = PyObject_CallMethod(self, "cast_boolean", "O", value);
    }
    return *out ? 1 : swallow();
}

// item_cast applied to every value of a mapping built by from_tcl.
PyObject *cast_items(PyObject *result, PyObject *items_method, PyObject *item_cast) {
    if (item_cast == nullptr || item_cast == Py_None) return result;
    PyObject *items = PyObject_CallMethodNoArgs(result, items_method);
    PyObject *list = items ? PySequence_List(items) : nullptr;
    Py_XDECREF(items);
    if (!list) {
        Py_DECREF(result);
        return nullptr;
    }
    for (Py_ssize_t i = 0, n = PyList_GET_SIZE(list); i < n; ++i) {
        Ref pair = Ref::steal(PySequence_Tuple(PyList_GET_ITEM(list, i)));
        if (!pair) goto fail;
        if (PyTuple_GET_SIZE(pair.get()) != 2) {
            Py_ssize_t got = PyTuple_GET_SIZE(pair.get());
            if (got < 2)
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", got);
            else
                PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
            goto fail;
        }
        {
            Ref item = Ref::steal(PyObject_CallOneArg(item_cast, PyTuple_GET_ITEM(pair.get(), 1)));
            if (!item || PyObject_SetItem(result, PyTuple_GET_ITEM(pair.get(), 0), item.get()) < 0) goto fail;
        }
    }
    Py_DECREF(list);
    return result;
fail:
    Py_DECREF(list);
    Py_DECREF(result);
    return nullptr;
}

PyObject *from_tcl(PyObject *cls, PyObject *value, PyObject *items_method, PyObject *item_cast) {
    PyObject *result = call_method1(cls, g.s_from_tcl, value);
    if (!result) return nullptr;
    return cast_items(result, items_method, item_cast);
}

PyObject *cast_keyed_list(PyObject *value, PyObject *item_cast) {
    PyObject *result = keyed_list_from_tcl(value);  // NestMap.from_tcl, in C++
    if (!result) return nullptr;
    return cast_items(result, g.s_all_items, item_cast);
}

// ---------------------------------------------------------------------------
// The methods.

#define METHOD(fn) PyObject *fn(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)

#define BIND(qual, n, req, ...)                                                       \
    static const char *const names[] = {__VA_ARGS__};                                 \
    PyObject *a[n];                                                                   \
    if (!bind_args(qual, self_, args, nargs, kwnames, names, n, req, a)) return nullptr;

// A static method: its first C parameter is the class, not an argument.
#define SBIND(qual, n, req, ...)                                                      \
    static const char *const names[] = {__VA_ARGS__};                                 \
    PyObject *a[n];                                                                   \
    (void)self_;                                                                      \
    if (!bind_args(qual, nullptr, args, nargs, kwnames, names, n, req, a)) return nullptr;

// self.vars
PyObject *vars_of(PyObject *self) { return own_attr(self, g.s_vars); }

PyObject *read_var(PyObject *self, PyObject *name) {
    PyObject *vars = vars_of(self);
    if (!vars) return nullptr;
    PyObject *r = PyObject_GetItem(vars, name);
    Py_DECREF(vars);
    return r;
}

// tkinter refuses a str with lone surrogates with UnicodeEncodeError, but
// crashes on one nested in a tuple: nested values are checked first and
// refused with the error of the flat case.
int check_encodable(PyObject *value) {
    if (PyUnicode_Check(value)) return PyUnicode_AsUTF8AndSize(value, nullptr) ? 0 : -1;
    if (!PyTuple_Check(value) && !PyList_Check(value)) return 0;
    if (Py_EnterRecursiveCall(" while checking a Tcl value")) return -1;
    int rc = 0;
    for (Py_ssize_t i = 0; rc == 0 && i < PySequence_Fast_GET_SIZE(value); ++i) {
        PyObject *item = Py_NewRef(PySequence_Fast_GET_ITEM(value, i));
        rc = check_encodable(item);
        Py_DECREF(item);
    }
    Py_LeaveRecursiveCall();
    return rc;
}

PyObject *write_var(PyObject *self, PyObject *name, PyObject *value) {
    if (check_encodable(value) < 0) return nullptr;
    PyObject *vars = vars_of(self);
    if (!vars) return nullptr;
    int rc = PyObject_SetItem(vars, name, value);
    Py_DECREF(vars);
    if (rc < 0) return nullptr;
    Py_RETURN_NONE;
}

// Applies a cast (C++ for the class itself, the method for a subclass).
using CastFn = PyObject *(*)(PyObject *, PyObject *);
PyObject *apply(PyObject *self, CastFn fn, const char *method, PyObject *value) {
    if (!value) return nullptr;
    PyObject *r = exact_interp(self) ? fn(self, value) : PyObject_CallMethod(self, method, "O", value);
    Py_DECREF(value);
    return r;
}

// A variable's value through one of the static casts (no item cast).
using ValueCast = PyObject *(*)(PyObject *value, PyObject *item_cast);
PyObject *read_cast(PyObject *self, PyObject *name, ValueCast cast) {
    PyObject *v = read_var(self, name);
    if (!v) return nullptr;
    PyObject *r = cast(v, nullptr);
    Py_DECREF(v);
    return r;
}

PyObject *cast_int(PyObject *self, PyObject *value) { return cast_number(self, value, conv_int, g.s_getint); }
PyObject *cast_double(PyObject *self, PyObject *value) {
    return cast_number(self, value, conv_double, g.s_getdouble);
}

METHOD(m_get_array) {
    BIND("Interpreter.get_array", 2, 2, "self", "name");
    PyObject *vars = vars_of(a[0]);
    if (!vars) return nullptr;
    PyObject *r = call_method1(vars, g.s_array_get, a[1]);
    Py_DECREF(vars);
    return r;
}
METHOD(m_get_list) {
    BIND("Interpreter.get_list", 2, 2, "self", "name");
    return read_cast(a[0], a[1], cast_list);
}
METHOD(m_get_keyed_list) {
    BIND("Interpreter.get_keyed_list", 2, 2, "self", "name");
    return read_cast(a[0], a[1], cast_keyed_list);
}
METHOD(m_get_int) {
    BIND("Interpreter.get_int", 2, 2, "self", "name");
    return apply(a[0], cast_int, "cast_int", read_var(a[0], a[1]));
}
METHOD(m_get_boolean) {
    BIND("Interpreter.get_boolean", 2, 2, "self", "name");
    return apply(a[0], cast_boolean, "cast_boolean", read_var(a[0], a[1]));
}
METHOD(m_get_double) {
    BIND("Interpreter.get_double", 2, 2, "self", "name");
    return apply(a[0], cast_double, "cast_double", read_var(a[0], a[1]));
}
METHOD(m_get_var) {
    BIND("Interpreter.get_var", 2, 2, "self", "name");
    return read_var(a[0], a[1]);
}

METHOD(m_set_array) {
    BIND("Interpreter.set_array", 3, 3, "self", "name", "obj");
    PyObject *vars = vars_of(a[0]);
    if (!vars) return nullptr;
    PyObject *r = call_method2(vars, g.s_array_set, a[1], a[2]);
    Py_DECREF(vars);
    if (!r) return nullptr;
    Py_DECREF(r);
    Py_RETURN_NONE;
}
METHOD(m_set_keyed_list) {
    BIND("Interpreter.set_keyed_list", 3, 3, "self", "name", "obj");
    PyObject *obj = a[2];
    int is = PyObject_IsInstance(obj, g.NestMap);
    if (is < 0) return nullptr;
    Ref converted = is ? Ref::borrow(obj) : Ref::steal(PyObject_CallOneArg(g.NestMap, obj));
    if (!converted) return nullptr;
    return write_var(a[0], a[1], converted.get());
}
METHOD(m_set_var) {
    BIND("Interpreter.set_var", 3, 3, "self", "name", "value");
    return write_var(a[0], a[1], a[2]);
}
METHOD(m_set_boolean) {
    BIND("Interpreter.set_boolean", 3, 3, "self", "name", "value");
    int truth = PyObject_IsTrue(a[2]);
    if (truth < 0) return nullptr;
    return write_var(a[0], a[1], truth ? g.one_int : g.zero_int);
}
METHOD(m_set_list) {
    BIND("Interpreter.set_list", 3, 3, "self", "name", "value");
    Ref list = Ref::steal(PyObject_CallOneArg(g.tclobj_from_sequence, a[2]));
    if (!list) return nullptr;
    return write_var(a[0], a[1], list.get());
}

METHOD(m_cast_list) {
    SBIND("Interpreter.cast_list", 2, 1, "value", "item_cast");
    return cast_list(a[0], a[1]);
}
METHOD(m_cast_int) {
    BIND("Interpreter.cast_int", 2, 2, "self", "value");
    return cast_int(a[0], a[1]);
}
METHOD(m_cast_double) {
    BIND("Interpreter.cast_double", 2, 2, "self", "value");
    return cast_double(a[0], a[1]);
}
METHOD(m_cast_boolean) {
    BIND("Interpreter.cast_boolean", 2, 2, "self", "value");
    return cast_boolean(a[0], a[1]);
}
METHOD(m_cast_array) {
    SBIND("Interpreter.cast_array", 2, 1, "value", "item_cast");
    return from_tcl(g.Array, a[0], g.s_items, a[1]);
}
METHOD(m_cast_keyed_list) {
    SBIND("Interpreter.cast_keyed_list", 2, 1, "value", "item_cast");
    return cast_keyed_list(a[0], a[1]);
}
METHOD(m_cast_any) {
    BIND("Interpreter.cast_any", 2, 2, "self", "value");
    return cast_any(a[0], a[1]);
}

}  // namespace

PyObject *cast_list(PyObject *value, PyObject *item_cast) {
    PyObject *result = split_list(value);
    if (!result) return list_error_as_value_error();
    if (item_cast == nullptr || item_cast == Py_None) return result;
    Py_ssize_t n = PyTuple_GET_SIZE(result);
    PyObject *out = PyTuple_New(n);
    if (!out) {
        Py_DECREF(result);
        return nullptr;
    }
    bool native = item_cast == g.wordform;  // the module's own wordform: call it directly
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *item = PyTuple_GET_ITEM(result, i);
        PyObject *cast = native ? wordform(item) : PyObject_CallOneArg(item_cast, item);
        if (!cast) {
            Py_DECREF(out);
            Py_DECREF(result);
            return nullptr;
        }
        PyTuple_SET_ITEM(out, i, cast);
    }
    Py_DECREF(result);
    return out;
}

PyObject *cast_any(PyObject *self, PyObject *value) {
    PyTypeObject *t = Py_TYPE(value);
    if (t == &PyTuple_Type) {
        if (exact_interp(self)) return cast_list(value, g.wordform);
        PyObject *fn = PyObject_GetAttrString(self, "cast_list");
        if (!fn) return nullptr;
        PyObject *kw = PyTuple_Pack(1, g.s_item_cast);
        PyObject *all[2] = {value, g.wordform};
        PyObject *r = kw ? PyObject_Vectorcall(fn, all, 1, kw) : nullptr;
        Py_XDECREF(kw);
        Py_DECREF(fn);
        return r;
    }
    if (t == &PyLong_Type || t == &PyFloat_Type || t == &PyBool_Type) return Py_NewRef(value);
    if ((PyObject *)t == g.Tcl_Obj && is_keyed_list_obj(value)) return cast_keyed_list(value, nullptr);
    PyObject *s = PyObject_Str(value);
    if (!s) return nullptr;
    PyObject *out;
    int got = -2;
    if (exact_interp(self)) {
        ConvResult r = conv_number(s, &out);
        got = r == CONV_OK ? 1 : r == CONV_NO ? 0 : -2;
    }
    if (got == -2) {
        got = quiet_number(self, s, conv_int, g.s_cast_int, g.s_getint, true, &out);
        if (got == 0) got = quiet_number(self, s, conv_double, g.s_cast_double, g.s_getdouble, true, &out);
    }
    if (got == 0) got = quiet_boolean(self, s, &out);
    if (got == 0 && PyUnicode_GET_LENGTH(s) > 0) {
        // Only asking whether it is a keyed list: no ValueError is built.
        out = keyed_list_from_tcl_quiet(s);
        got = out ? 1 : PyErr_Occurred() ? swallow() : 0;
    }
    if (got != 0) {
        Py_DECREF(s);
        return got > 0 ? out : nullptr;
    }
    return s;
}

void add_variable_methods(ClassBuilder &cb) {
    add_function(cb, "get_array", m_get_array, "($self, /, name)", "The Tcl array `name` as an Array.");
    add_function(cb, "get_list", m_get_list, "($self, /, name)", "The Tcl list in variable `name` as a tuple.");
    add_function(cb, "get_keyed_list", m_get_keyed_list, "($self, /, name)",
                 "The keyed list in variable `name` as a NestMap.");
    add_function(cb, "get_int", m_get_int, "($self, /, name)", "The variable `name` as an int.");
    add_function(cb, "get_boolean", m_get_boolean, "($self, /, name)", "The variable `name` as a bool.");
    add_function(cb, "get_double", m_get_double, "($self, /, name)", "The variable `name` as a float.");
    add_function(cb, "get_var", m_get_var, "($self, /, name)", "The value of variable `name`.");
    add_function(cb, "set_array", m_set_array, "($self, /, name, obj)", "Set the Tcl array `name` from a mapping.");
    add_function(cb, "set_keyed_list", m_set_keyed_list, "($self, /, name, obj)",
                 "Set variable `name` to a keyed list built from `obj`.");
    add_function(cb, "set_var", m_set_var, "($self, /, name, value)", "Set variable `name` to `value`.");
    cb.set("set_int", cb.get("set_var"));
    cb.set("set_double", cb.get("set_var"));
    add_function(cb, "set_boolean", m_set_boolean, "($self, /, name, value)",
                 "Set variable `name` to 1 or 0 after the truth of `value`.");
    add_function(cb, "set_list", m_set_list, "($self, /, name, value)",
                 "Set variable `name` to the Tcl list of the iterable `value`.");
}

void add_cast_methods(ClassBuilder &cb) {
    add_function(cb, "cast_list", m_cast_list, "(value, item_cast=None)",
                 "The elements of a Tcl list as a tuple (each passed through `item_cast`).", true);
    add_function(cb, "cast_int", m_cast_int, "($self, /, value)", "A Tcl integer as an int.");
    add_function(cb, "cast_double", m_cast_double, "($self, /, value)", "A Tcl double as a float.");
    add_function(cb, "cast_boolean", m_cast_boolean, "($self, /, value)",
                 "A Tcl boolean (or any non-zero number) as a bool.");
    add_function(cb, "cast_array", m_cast_array, "(value, item_cast=None)",
                 "An \"array get\" list as an Array (values passed through `item_cast`).", true);
    add_function(cb, "cast_keyed_list", m_cast_keyed_list, "(value, item_cast=None)",
                 "A keyed list as a NestMap (values passed through `item_cast`).", true);
    add_function(cb, "cast_any", m_cast_any, "($self, /, value)",
                 "The best-fitting Python value: int, float, bool, NestMap, else the string.");
}

}  // namespace oskra::interp
