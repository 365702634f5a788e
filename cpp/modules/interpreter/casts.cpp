// The casts from Tcl values to Python: numbers and booleans through Tcl's
// own parsers, lists, arrays and keyed lists, and cast_any's best fit.
#include <cstring>

#include "core/convert.h"
#include "core/keyedlist.h"
#include "core/listsplit.h"
#include "core/tclconv.h"
#include "core/tcltext.h"
#include "support/tclapp.h"
#include "interp_private.h"

namespace oskra::interp {
namespace {

// While handling `context`, the new pending exception gets it as its
// __context__, as a raise inside an except block would.
void chain_context(Ref context) {
    PyObject *exc = PyErr_GetRaisedException();
    PyException_SetContext(exc, context.release());  // steals context
    PyErr_SetRaisedException(exc);
}

PyObject *tkapp_of(PyObject *self) { return own_attr(self, names.tk); }

// The tkapp whose interpreter belongs to another thread: `obj` itself (a
// tkapp) or, for an exact Interpreter, its `tk`; else null, with no error
// set unless reading `tk` failed.
Ref foreign_tkapp(PyObject *obj) {
    Ref tk = Ref::borrow(obj);
    if (!is_tkapp(obj)) {
        if (!exact_interp(obj)) return Ref();
        tk = Ref::steal(tkapp_of(obj));
        if (!tk || !is_tkapp(tk.get())) return Ref();
    }
    return tkapp_on_owner_thread(tk.get()) ? Ref() : tk;
}

// obj.<method>(value) for the Tcl layer's getint, getdouble (on the
// Interpreter, which turns a TclError into ValueError) or getboolean (on the
// tkapp). From a thread that does not own the interpreter the conversion is
// done without touching it: same results, same messages.
PyObject *convert_once(PyObject *obj, PyObject *method, PyObject *value) {
    Ref tk = foreign_tkapp(obj);
    if (!tk) return PyErr_Occurred() ? nullptr : call_method1(obj, method, value);
    ForeignKind kind = method == names.getint ? FOREIGN_INT
            : method == names.getdouble       ? FOREIGN_DOUBLE
                                              : FOREIGN_BOOLEAN;
    PyObject *r = foreign_conversion(kind, tk.get(), method, value);
    if (!r && kind != FOREIGN_BOOLEAN && PyErr_ExceptionMatches(g.TclError)) {
        // As tkinter's Misc.getint: raise ValueError(str(exc)) inside the handler.
        Ref exc = Ref::steal(PyErr_GetRaisedException());
        Ref text = Ref::steal(PyObject_Str(exc.get()));
        if (text) PyErr_SetObject(PyExc_ValueError, text.get());
        chain_context(std::move(exc));
    }
    return r;
}

// Whether Tcl's C library may read `value` here: a Tcl value may be shared
// with the interpreter, so only its own thread converts it in place.
int direct_ok(PyObject *self, PyObject *value) {
    if ((PyObject *)Py_TYPE(value) != g.Tcl_Obj) return 1;
    Ref tk = foreign_tkapp(self);
    return tk ? 0 : PyErr_Occurred() ? -1 : 1;
}

// The tkinter path of cast_int/cast_double: self.getint(value), retried
// with wordform(value) on TypeError.
PyObject *tk_number(PyObject *self, PyObject *method, PyObject *value) {
    PyObject *r = convert_once(self, method, value);
    if (r || !PyErr_ExceptionMatches(PyExc_TypeError)) return r;
    Ref type_error = Ref::steal(PyErr_GetRaisedException());
    Ref text = Ref::steal(wordform(value));
    if (text) r = convert_once(self, method, text.get());
    if (!r) chain_context(std::move(type_error));
    return r;
}

using Conv = ConvResult (*)(PyObject *, PyObject **);

PyObject *cast_number(PyObject *self, PyObject *value, Conv conv, PyObject *method) {
    int direct = exact_interp(self) ? direct_ok(self, value) : 0;
    if (direct < 0) return nullptr;
    if (direct) {
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
        int direct = direct_ok(self, value);
        if (direct < 0) return -1;
        ConvResult r = direct ? conv(value, out) : CONV_UNSUPPORTED;
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

// Tcl_ResetResult on the interpreter's Tcl interpreter.
bool reset_result(PyObject *self) {
    Ref tk = Ref::steal(tkapp_of(self));
    if (!tk) return false;
    if (Tcl_Interp *interp = tkapp_interp(tk.get())) {
        // Another thread's interpreter may be running a script: its result
        // is not ours to reset.
        if (tkapp_on_owner_thread(tk.get())) Tcl_ResetResult(interp);
        return true;
    }
    // Not a _tkinter application object: the low-level binding decides.
    Ref dll = Ref::steal(PyObject_GetAttrString(g.module, "TclDLL"));
    if (!dll) return false;
    return bool(Ref::steal(PyObject_CallMethod(dll.get(), "Tcl_ResetResult", "O", self)));
}

// bool(self.tk.getboolean(value)), retried with wordform(value) on TypeError.
PyObject *tk_boolean(PyObject *self, PyObject *value) {
    Ref tk = Ref::steal(tkapp_of(self));
    if (!tk) return nullptr;
    Ref r = Ref::steal(tk_number(tk.get(), names.getboolean, value));
    if (!r) return nullptr;
    int truth = PyObject_IsTrue(r.get());
    if (truth < 0) return nullptr;
    return PyBool_FromLong(truth);
}

// number != zero, stealing number.
PyObject *compare_nonzero(PyObject *number, PyObject *zero) {
    Ref n = Ref::steal(number);
    return PyObject_RichCompare(n.get(), zero, Py_NE);
}

// The full cast_boolean after the result reset: Tcl's boolean, else a
// non-zero integer or double, else ValueError from the boolean's TclError.
PyObject *boolean_full(PyObject *self, PyObject *value) {
    PyObject *r = tk_boolean(self, value);
    if (r || !PyErr_ExceptionMatches(g.TclError)) return r;
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    PyObject *n;
    int got = quiet_number(self, value, conv_int, names.cast_int, names.getint, false, &n);
    if (got == 1) return compare_nonzero(n, g.zero_int);
    if (got == 0) {
        got = quiet_number(self, value, conv_double, names.cast_double, names.getdouble, false, &n);
        if (got == 1) return compare_nonzero(n, g.zero_float);
    }
    if (got < 0) {
        chain_context(std::move(exc));
        return nullptr;
    }
    PyErr_SetRaisedException(exc.release());
    reraise_as_value_error();
    return nullptr;
}

}  // namespace

PyObject *cast_boolean(PyObject *self, PyObject *value) {
    if (!reset_result(self)) return nullptr;
    int direct = exact_interp(self) ? direct_ok(self, value) : 0;
    if (direct < 0) return nullptr;
    if (direct) {
        PyObject *out;
        ConvResult r = conv_boolean(value, &out);
        if (r == CONV_OK) return out;
        if (r == CONV_NO) {
            r = conv_int(value, &out);
            if (r == CONV_OK) return compare_nonzero(out, g.zero_int);
            if (r == CONV_NO && conv_double(value, &out) == CONV_OK)
                return compare_nonzero(out, g.zero_float);
        }
    }
    return boolean_full(self, value);
}

namespace {

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
        *out = call_method1(self, names.cast_boolean, value);
    }
    return *out ? 1 : swallow();
}

// item_cast applied to every value of a mapping built by from_tcl; steals
// `result`. The pairs are read into a list of our own first: the casts run
// Python code, which may change the mapping.
PyObject *cast_items(PyObject *result, PyObject *items_method, PyObject *item_cast) {
    Ref res = Ref::steal(result);
    if (!res || item_cast == nullptr || item_cast == Py_None) return res.release();
    Ref items = Ref::steal(PyObject_CallMethodNoArgs(res.get(), items_method));
    if (!items) return nullptr;
    Ref list = Ref::steal(PySequence_List(items.get()));
    if (!list) return nullptr;
    for (Py_ssize_t i = 0, n = PyList_GET_SIZE(list.get()); i < n; ++i) {
        Ref pair = Ref::steal(PySequence_Tuple(PyList_GET_ITEM(list.get(), i)));
        if (!pair) return nullptr;
        Py_ssize_t got = PyTuple_GET_SIZE(pair.get());
        if (got != 2) {
            if (got < 2)
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", got);
            else PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
            return nullptr;
        }
        Ref item = Ref::steal(PyObject_CallOneArg(item_cast, PyTuple_GET_ITEM(pair.get(), 1)));
        if (!item || PyObject_SetItem(res.get(), PyTuple_GET_ITEM(pair.get(), 0), item.get()) < 0)
            return nullptr;
    }
    return res.release();
}

PyObject *from_tcl(PyObject *cls, PyObject *value, PyObject *items_method, PyObject *item_cast) {
    return cast_items(call_method1(cls, names.from_tcl, value), items_method, item_cast);
}

}  // namespace

PyObject *cast_keyed_list(PyObject *value, PyObject *item_cast) {
    // NestMap.from_tcl, in C++
    return cast_items(keyed_list_from_tcl(value), names.all_items, item_cast);
}

PyObject *cast_int(PyObject *self, PyObject *value) {
    return cast_number(self, value, conv_int, names.getint);
}
PyObject *cast_double(PyObject *self, PyObject *value) {
    return cast_number(self, value, conv_double, names.getdouble);
}

namespace {

const Params m_cast_list_params{"Interpreter.cast_list", SelfArg::none, {{"value"}, {"item_cast", "None"}}};
METHOD(m_cast_list) {
    SBIND(m_cast_list_params);
    return cast_list(a[0], a[1]);
}
const Params m_cast_int_params{"Interpreter.cast_int", SelfArg::separate, {{"value"}}};
METHOD(m_cast_int) {
    BIND(m_cast_int_params);
    return cast_int(a[0], a[1]);
}
const Params m_cast_double_params{"Interpreter.cast_double", SelfArg::separate, {{"value"}}};
METHOD(m_cast_double) {
    BIND(m_cast_double_params);
    return cast_double(a[0], a[1]);
}
const Params m_cast_boolean_params{"Interpreter.cast_boolean", SelfArg::separate, {{"value"}}};
METHOD(m_cast_boolean) {
    BIND(m_cast_boolean_params);
    return cast_boolean(a[0], a[1]);
}
const Params m_cast_array_params{"Interpreter.cast_array", SelfArg::none, {{"value"}, {"item_cast", "None"}}};
METHOD(m_cast_array) {
    SBIND(m_cast_array_params);
    return from_tcl(g.Array, a[0], names.items, a[1]);
}
const Params m_cast_keyed_list_params{
        "Interpreter.cast_keyed_list", SelfArg::none, {{"value"}, {"item_cast", "None"}}};
METHOD(m_cast_keyed_list) {
    SBIND(m_cast_keyed_list_params);
    return cast_keyed_list(a[0], a[1]);
}
const Params m_cast_any_params{"Interpreter.cast_any", SelfArg::separate, {{"value"}}};
METHOD(m_cast_any) {
    BIND(m_cast_any_params);
    return cast_any(a[0], a[1]);
}

}  // namespace

PyObject *cast_list(PyObject *value, PyObject *item_cast) {
    Ref result = Ref::steal(split_list(value));
    if (!result) return list_error_as_value_error();
    if (item_cast == nullptr || item_cast == Py_None) return result.release();
    Py_ssize_t n = PyTuple_GET_SIZE(result.get());
    Ref out = Ref::steal(PyTuple_New(n));
    if (!out) return nullptr;
    bool native = item_cast == g.wordform;  // the module's own wordform: call it directly
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *item = PyTuple_GET_ITEM(result.get(), i);  // a tuple of our own
        PyObject *cast = native ? wordform(item) : PyObject_CallOneArg(item_cast, item);
        if (!cast) return nullptr;
        PyTuple_SET_ITEM(out.get(), i, cast);
    }
    return out.release();
}

PyObject *cast_any(PyObject *self, PyObject *value) {
    PyTypeObject *t = Py_TYPE(value);
    if (t == &PyTuple_Type) {
        // Byte arrays in a list are text (wordform() would make each a list
        // of numbers).
        if (holds_bytes(value)) return element_texts(value);
        if (exact_interp(self)) return cast_list(value, g.wordform);
        Ref fn = Ref::steal(PyObject_GetAttr(self, names.cast_list));
        if (!fn) return nullptr;
        Ref kw = Ref::steal(PyTuple_Pack(1, names.item_cast));
        PyObject *all[2] = {value, g.wordform};
        return kw ? PyObject_Vectorcall(fn.get(), all, 1, kw.get()) : nullptr;
    }
    if (t == &PyLong_Type || t == &PyFloat_Type || t == &PyBool_Type) return Py_NewRef(value);
    if ((PyObject *)t == g.Tcl_Obj && is_keyed_list_obj(value)) return cast_keyed_list(value, nullptr);
    // A byte array is its text, bytes as the characters U+0000-U+00FF.
    Ref text = Ref::steal(PyBytes_Check(value) ? bytes_text(value) : PyObject_Str(value));
    if (!text) return nullptr;
    PyObject *s = text.get();
    // A decimal number with a leading zero stays text: Tcl would read it as
    // octal, and a serial number or postcode is not a number anyway.
    if (leading_zero_decimal(s)) return text.release();
    PyObject *out;
    int got = -2;
    bool braced = false;
    if (exact_interp(self)) {
        // Text that opens with a brace (a keyed list, typically) is no
        // number and no boolean: of those attempts only the boolean's
        // result reset has an effect.
        braced = PyUnicode_GET_LENGTH(s) > 0 && PyUnicode_READ_CHAR(s, 0) == '{';
        if (braced) {
            got = reset_result(self) ? 0 : -1;
        } else {
            ConvResult r = conv_number(s, &out);
            got = r == CONV_OK ? 1 : r == CONV_NO ? 0 : -2;
        }
    }
    if (got == -2) {
        got = quiet_number(self, s, conv_int, names.cast_int, names.getint, true, &out);
        if (got == 0)
            got = quiet_number(self, s, conv_double, names.cast_double, names.getdouble, true, &out);
    }
    if (got == 0 && !braced) got = quiet_boolean(self, s, &out);
    if (got == 0 && PyUnicode_GET_LENGTH(s) > 0) {
        // Only asking whether it is a keyed list: no ValueError is built.
        out = keyed_list_from_tcl_quiet(s);
        got = out ? 1 : PyErr_Occurred() ? swallow() : 0;
    }
    if (got != 0) return got > 0 ? out : nullptr;
    return text.release();
}

void add_cast_methods(ClassBuilder &cb) {
    add_function(cb, "cast_list", m_cast_list, m_cast_list_params,
                 "The elements of a Tcl list as a tuple (each passed through `item_cast`).");
    add_function(cb, "cast_int", m_cast_int, m_cast_int_params, "A Tcl integer as an int.");
    add_function(cb, "cast_double", m_cast_double, m_cast_double_params, "A Tcl double as a float.");
    add_function(cb, "cast_boolean", m_cast_boolean, m_cast_boolean_params,
                 "A Tcl boolean (or any non-zero number) as a bool.");
    add_function(cb, "cast_array", m_cast_array, m_cast_array_params,
                 "An \"array get\" list as an Array (values passed through `item_cast`).");
    add_function(cb, "cast_keyed_list", m_cast_keyed_list, m_cast_keyed_list_params,
                 "A keyed list as a NestMap (values passed through `item_cast`).");
    add_function(cb, "cast_any", m_cast_any, m_cast_any_params,
                 "The best-fitting Python value: int, float, bool, NestMap, else the string.");
}

}  // namespace oskra::interp
