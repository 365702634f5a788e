// Callback exceptions: Tcl's error state for them, the per-interpreter slot
// that keeps them for the call that ran the Tcl code, and the attributes of
// the TclError that call raises.
#include "core/callback_errors.h"

#include <climits>

#include "core/listsplit.h"
#include "core/tclconv.h"
#include "support/pyref.h"
#include "support/state.h"
#include "support/tclapp.h"

namespace oskra {

namespace {

// Interpreter address (int) -> (exception, its ::errorCode as a tuple): the
// process's dict (support/state.h), set by callback_errors_init.
PyObject *g_pending = nullptr;
// What the Tcl layer is given as the callback's exception. It keeps that
// object until someone runs its event loop; a stand-in keeps the user's
// exception (and the frames of its traceback) from living on there.
PyObject *g_stand_in = nullptr;
PyObject *g_logger = nullptr;  // logging.getLogger("oskra.tcl")
PyObject *g_format_tb = nullptr;  // traceback.format_tb
// The number of package calls into the Tcl layer under way (the process's
// counter, support/state.h).
long *g_active_calls = nullptr;

bool is_interrupt(PyObject *exc) { return !PyObject_TypeCheck(exc, (PyTypeObject *)PyExc_Exception); }

PyObject *key_of(Tcl_Interp *interp) { return PyLong_FromVoidPtr(interp); }

// Removes and returns the slot of `interp` (a new reference), or null with
// no error set when it is empty.
PyObject *take_pending(Tcl_Interp *interp) {
    if (!g_pending || !interp || PyDict_GET_SIZE(g_pending) == 0) return nullptr;
    Ref key = Ref::steal(key_of(interp));
    Ref entry = key ? Ref::borrow(PyDict_GetItemWithError(g_pending, key.get())) : Ref();
    if (entry && PyDict_DelItem(g_pending, key.get()) < 0) entry = Ref();
    if (!entry) PyErr_Clear();
    return entry.release();
}

// The slot of `interp` without removing it (borrowed), or null.
PyObject *peek_pending(Tcl_Interp *interp) {
    if (!g_pending || !interp || PyDict_GET_SIZE(g_pending) == 0) return nullptr;
    Ref key = Ref::steal(key_of(interp));
    PyObject *entry = key ? PyDict_GetItemWithError(g_pending, key.get()) : nullptr;
    if (!entry) PyErr_Clear();
    return entry;
}

// A str as a Tcl value, the way the Tcl layer converts one (UTF-16 or
// UTF-32 code units, lone surrogates kept).
Tcl_Obj *tcl_text(PyObject *text) {
    const char *codec = sizeof(Tcl_UniChar) == 2 ? "utf-16-le" : "utf-32-le";
    Ref units = Ref::steal(PyUnicode_AsEncodedString(text, codec, "surrogatepass"));
    if (!units) {
        PyErr_Clear();
        return Tcl_NewObj();
    }
    Py_ssize_t n = PyBytes_GET_SIZE(units.get()) / (Py_ssize_t)sizeof(Tcl_UniChar);
    if (n > INT_MAX) return Tcl_NewObj();
    return Tcl_NewUnicodeObj(reinterpret_cast<const Tcl_UniChar *>(PyBytes_AS_STRING(units.get())), (int)n);
}

// "Type: message" (or "Type" when the message is empty), as Python's own
// traceback ends. A TclError that comes back from Tcl code (a nested call)
// brings its whole trace as its text: its first line is its message, so
// that errors passed up through many levels do not grow with each level.
PyObject *exception_text(PyObject *exc, PyObject **type_name, PyObject **message) {
    *type_name = PyType_GetName(Py_TYPE(exc));
    if (!*type_name) return nullptr;
    *message = PyObject_Str(exc);
    if (!*message) {
        PyErr_Clear();
        *message = PyUnicode_FromString("<exception str() failed>");
        if (!*message) return nullptr;
    }
    PyObject *tcl_error = tcl_error_type();
    if (tcl_error && PyObject_TypeCheck(exc, (PyTypeObject *)tcl_error)) {
        Py_ssize_t end = PyUnicode_FindChar(*message, '\n', 0, PyUnicode_GET_LENGTH(*message), 1);
        if (end >= 0) Py_SETREF(*message, PyUnicode_Substring(*message, 0, end));
        if (!*message) return nullptr;
    }
    if (PyUnicode_GET_LENGTH(*message) == 0) return Py_NewRef(*type_name);
    return PyUnicode_FromFormat("%U: %U", *type_name, *message);
}

// The stack part of the exception's traceback as Python prints it (the
// message, which Python prints last, opens ::errorInfo already), without
// the last newline; null when there is none or formatting fails.
PyObject *traceback_text(PyObject *exc) {
    Ref tb = Ref::steal(PyException_GetTraceback(exc));
    if (!tb) return nullptr;
    Ref lines = Ref::steal(PyObject_CallOneArg(g_format_tb, tb.get()));
    Ref joined;
    if (lines) {
        Ref head = Ref::steal(PyUnicode_FromString("Traceback (most recent call last):\n"));
        Ref empty = Ref::steal(PyUnicode_FromString(""));
        Ref body = head && empty ? Ref::steal(PyUnicode_Join(empty.get(), lines.get())) : Ref();
        if (body) joined = Ref::steal(PyUnicode_Concat(head.get(), body.get()));
    }
    if (!joined) {
        PyErr_Clear();
        return nullptr;
    }
    Py_ssize_t n = PyUnicode_GET_LENGTH(joined.get());
    if (n > 0 && PyUnicode_READ_CHAR(joined.get(), n - 1) == '\n')
        return PyUnicode_Substring(joined.get(), 0, n - 1);
    return joined.release();
}

// Tcl's error state for a failed command: the message as the result,
// errorInfo the message followed by the trace, errorCode the given words.
void set_tcl_error(Tcl_Interp *interp, PyObject *text, PyObject *code, PyObject *trace) {
    Tcl_ResetResult(interp);
    Tcl_SetObjResult(interp, tcl_text(text));
    Tcl_Obj *words = Tcl_NewListObj(0, nullptr);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(code); ++i)
        Tcl_ListObjAppendElement(nullptr, words, tcl_text(PyTuple_GET_ITEM(code, i)));
    Tcl_SetObjErrorCode(interp, words);
    if (trace) {
        Ref more = Ref::steal(PyUnicode_FromFormat("\n%U", trace));
        if (more) {
            Tcl_AppendObjToErrorInfo(interp, tcl_text(more.get()));
        } else {
            PyErr_Clear();
        }
    }
}

PyObject *hand_stand_in() {
    PyErr_SetRaisedException(Py_NewRef(g_stand_in));
    return nullptr;
}

// A Python exception is logged as an error with its traceback; a Tcl error
// coming back through a callback (reported where it arose) and an
// interrupt only at lower levels.
void log_failure(PyObject *cmd_name, PyObject *text, PyObject *exc) {
    bool interrupt = is_interrupt(exc);
    PyObject *tcl_error = tcl_error_type();
    bool from_tcl = tcl_error && PyObject_TypeCheck(exc, (PyTypeObject *)tcl_error);
    const char *level = interrupt ? "info" : from_tcl ? "debug" : "error";
    Ref method = Ref::steal(PyObject_GetAttrString(g_logger, level));
    Ref fmt = Ref::steal(PyUnicode_FromString("Python callback of Tcl command %s raised %s"));
    Ref args = method && fmt ? Ref::steal(PyTuple_Pack(3, fmt.get(), cmd_name ? cmd_name : Py_None, text))
                             : Ref();
    Ref kwargs = Ref::steal(PyDict_New());
    if (args && kwargs && (interrupt || PyDict_SetItemString(kwargs.get(), "exc_info", exc) == 0)) {
        Ref r = Ref::steal(PyObject_Call(method.get(), args.get(), kwargs.get()));
    }
    PyErr_Clear();  // a failing log handler must not replace the callback's error
}

// The TclError `exc` gets Tcl's error state as attributes.
// A global variable read through the Tcl layer: getvar (no script to
// parse) while the value comes back as a str, or a tuple of str words
// when `words`; else the text through eval, split into words when `words`.
// Null with no error set when the variable cannot be read.
PyObject *read_error_var(PyObject *tk, const char *name, bool words) {
    Ref value = Ref::steal(PyObject_CallMethod(tk, "getvar", "s", name));
    if (value && PyUnicode_CheckExact(value.get())) {
        if (!words) return value.release();
        PyObject *split = split_list(value.get());
        if (split) return split;
    }
    if (value && words && PyTuple_CheckExact(value.get())) {
        bool all_str = true;
        for (Py_ssize_t i = 0; all_str && i < PyTuple_GET_SIZE(value.get()); ++i)
            all_str = PyUnicode_CheckExact(PyTuple_GET_ITEM(value.get(), i));
        if (all_str) return value.release();
    }
    PyErr_Clear();
    Ref script = Ref::steal(PyUnicode_FromFormat("::set %s", name));
    Ref text = script ? Ref::steal(PyObject_CallMethod(tk, "eval", "O", script.get())) : Ref();
    Ref out =
            text && PyUnicode_Check(text.get()) ? (words ? Ref::steal(split_list(text.get())) : text) : Ref();
    if (!out) PyErr_Clear();
    return out.release();
}

void attach_error_state(PyObject *tk, PyObject *exc, PyObject *info) {
    Ref text = info ? Ref::borrow(info) : Ref::steal(read_error_var(tk, "::errorInfo", false));
    if (!text) text = Ref::steal(PyUnicode_FromString(""));
    Ref code = Ref::steal(read_error_var(tk, "::errorCode", true));
    if (!code) code = Ref::steal(PyTuple_New(0));
    if (!text || !code || PyObject_SetAttrString(exc, "errorinfo", text.get()) < 0 ||
        PyObject_SetAttrString(exc, "errorcode", code.get()) < 0)
        PyErr_Clear();
}

// Whether ::errorCode names the kept exception: {PYTHON <Type> ...}.
bool same_origin(PyObject *exc, PyObject *kept_code) {
    Ref code = Ref::steal(PyObject_GetAttrString(exc, "errorcode"));
    if (!code || !PyTuple_Check(code.get()) || PyTuple_GET_SIZE(code.get()) < 2) {
        PyErr_Clear();
        return false;
    }
    for (Py_ssize_t i = 0; i < 2; ++i) {
        int eq = PyObject_RichCompareBool(PyTuple_GET_ITEM(code.get(), i), PyTuple_GET_ITEM(kept_code, i),
                                          Py_EQ);
        if (eq <= 0) {
            PyErr_Clear();
            return false;
        }
    }
    return true;
}

}  // namespace

TclCallScope::TclCallScope() {
    if (g_active_calls) ++*g_active_calls;
}

TclCallScope::~TclCallScope() {
    if (g_active_calls) --*g_active_calls;
}

bool callback_errors_init() {
    if (g_pending) return true;
    if (!state) {
        PyErr_SetString(PyExc_SystemError, "callback_errors_init before attach_state");
        return false;
    }
    Ref logging = Ref::steal(PyImport_ImportModule("logging"));
    Ref traceback = Ref::steal(PyImport_ImportModule("traceback"));
    if (!logging || !traceback) return false;
    Ref logger = Ref::steal(PyObject_CallMethod(logging.get(), "getLogger", "s", "oskra.tcl"));
    Ref format = Ref::steal(PyObject_GetAttrString(traceback.get(), "format_tb"));
    PyObject *tcl_error = tcl_error_type();
    Ref stand_in = tcl_error
            ? Ref::steal(PyObject_CallFunction(tcl_error, "s",
                                               "a Python callback raised; see the error of the Tcl call"))
            : Ref();
    if (!logger || !format || !stand_in) return false;
    // Kept for the life of the process.
    g_logger = logger.release();
    g_format_tb = format.release();
    g_stand_in = stand_in.release();
    g_active_calls = &state->active_tcl_calls;
    g_pending = state->callback_errors;
    return true;
}

PyObject *fail_callback(Tcl_Interp *interp, PyObject *cmd_name) {
    if (!interp || !g_pending) return nullptr;  // the Tcl layer reports it its own way
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    PyObject *type_name = nullptr, *message = nullptr;
    Ref text = Ref::steal(exception_text(exc.get(), &type_name, &message));
    Ref type_ref = Ref::steal(type_name), message_ref = Ref::steal(message);
    Ref python = Ref::steal(PyUnicode_FromString("PYTHON"));
    Ref code = text && python ? Ref::steal(PyTuple_Pack(3, python.get(), type_name, message)) : Ref();
    if (!code) {
        // Out of memory: the Tcl layer's own handling is all there is.
        PyErr_Clear();
        PyErr_SetRaisedException(exc.release());
        return nullptr;
    }
    log_failure(cmd_name, text.get(), exc.get());
    Ref trace = Ref::steal(traceback_text(exc.get()));
    // An interrupt on its way out is not replaced by a later error.
    PyObject *kept = peek_pending(interp);
    if (*g_active_calls > 0 && (!kept || !is_interrupt(PyTuple_GET_ITEM(kept, 0)))) {
        Ref key = Ref::steal(key_of(interp));
        Ref entry = Ref::steal(PyTuple_Pack(2, exc.get(), code.get()));
        if (!key || !entry || PyDict_SetItem(g_pending, key.get(), entry.get()) < 0) PyErr_Clear();
    }
    set_tcl_error(interp, text.get(), code.get(), trace.get());
    return hand_stand_in();
}

bool refuse_callback(Tcl_Interp *interp) {
    PyObject *kept = peek_pending(interp);
    if (!kept || !is_interrupt(PyTuple_GET_ITEM(kept, 0))) return false;
    PyObject *code = PyTuple_GET_ITEM(kept, 1);
    PyObject *type_name = PyTuple_GET_ITEM(code, 1);
    set_tcl_error(interp, type_name, code, nullptr);
    hand_stand_in();
    return true;
}

PyObject *tcl_call_done(PyObject *tk, PyObject *result, PyObject *info) {
    if (result) {
        if (!g_pending || PyDict_GET_SIZE(g_pending) == 0) return result;
        Ref r = Ref::steal(result);
        Ref kept = Ref::steal(take_pending(tkapp_interp(tk)));
        if (kept && is_interrupt(PyTuple_GET_ITEM(kept.get(), 0))) {
            PyErr_SetRaisedException(Py_NewRef(PyTuple_GET_ITEM(kept.get(), 0)));
            return nullptr;
        }
        return r.release();
    }
    PyObject *tcl_error = tcl_error_type();
    if (!tcl_error || !PyErr_ExceptionMatches(tcl_error)) return nullptr;
    PyObject *exc = PyErr_GetRaisedException();
    PyObject *kept = take_callback_error(tk);
    PyErr_SetRaisedException(exc);
    return finish_tcl_error(tk, kept, info);
}

PyObject *take_callback_error(PyObject *tk) { return take_pending(tkapp_interp(tk)); }

PyObject *finish_tcl_error(PyObject *tk, PyObject *kept_, PyObject *info) {
    Ref kept = Ref::steal(kept_);
    PyObject *tcl_error = tcl_error_type();
    if (!tcl_error || !PyErr_ExceptionMatches(tcl_error)) return nullptr;
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    attach_error_state(tk, exc.get(), info);
    if (kept) {
        PyObject *original = PyTuple_GET_ITEM(kept.get(), 0);
        if (is_interrupt(original)) {
            PyErr_SetRaisedException(Py_NewRef(original));
            return nullptr;
        }
        if (same_origin(exc.get(), PyTuple_GET_ITEM(kept.get(), 1)))
            PyException_SetCause(exc.get(), Py_NewRef(original));
    }
    PyErr_SetRaisedException(exc.release());
    return nullptr;
}

void drop_callback_errors(PyObject *tk) { Py_XDECREF(take_pending(tkapp_interp(tk))); }

void mark_failed_entry(PyObject *entry) {
    if (!entry || entry == Py_None) return;
    PyObject *exc = PyErr_GetRaisedException();
    if (!exc) return;
    PyObject *tcl_error = tcl_error_type();
    Ref text;
    if (tcl_error && PyObject_TypeCheck(exc, (PyTypeObject *)tcl_error)) {
        text = Ref::steal(PyObject_Str(exc));
    } else {
        PyObject *type_name = nullptr, *message = nullptr;
        text = Ref::steal(exception_text(exc, &type_name, &message));
        Py_XDECREF(type_name);
        Py_XDECREF(message);
    }
    if (!text || PyObject_SetAttrString(entry, "error", text.get()) < 0) PyErr_Clear();
    PyErr_SetRaisedException(exc);
}

}  // namespace oskra
