// A variable's value as text (see var_text.h).
//
// The Tcl layer hands a command's result back converted by its internal
// type (an int, a float, a tuple, bytes, ...), which loses the exact text,
// and its eval cuts a result at the first NUL. So the read is one
// tk.call("::set", name); when the value came back converted, its text is
// taken from the interpreter's result, which still holds the variable's own
// Tcl value: reading an object's text runs no script and no trace.
#include "support/var_text.h"

#include <cstring>

#include "core/callback_errors.h"
#include "core/convert.h"
#include "core/tclconv.h"
#include "core/tcltext.h"
#include "support/kept_words.h"
#include "support/names.h"
#include "support/pyref.h"
#include "support/tclapp.h"

namespace oskra {

namespace {

struct Words {
    PyObject *set, *subst, *array, *exists, *get;
};

// The words of these commands, from the names registry (support/names.h).
const Words *interned() {
    static const Words w{names.set_cmd, names.subst_cmd, names.array_cmd, names.exists, names.get};
    return &w;
}

// tk.call(*words), as one call of the package: a read can run traces, so a
// failure is reported as every other Tcl call's (core/callback_errors.h).
PyObject *tk_call(PyObject *tk, PyObject *const *words, size_t n) {
    constexpr size_t MAX = 5;
    PyObject *stack[MAX + 1] = {tk};
    if (n > MAX) {
        PyErr_SetString(PyExc_SystemError, "call_text: too many words");
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i) stack[i + 1] = words[i];
    return run_tcl_call(tk, [&] { return tk_method(TkMethod::call, stack, n + 1); });
}

// From another thread the interpreter's result cannot be inspected: Tcl
// builds a fresh string of the result itself (a substitution of the command).
PyObject *call_off_thread(PyObject *tk, PyObject *const *words, size_t n) {
    Ref tuple = Ref::steal(PyTuple_New((Py_ssize_t)n));
    if (!tuple) return nullptr;
    for (size_t i = 0; i < n; ++i) PyTuple_SET_ITEM(tuple.get(), (Py_ssize_t)i, Py_NewRef(words[i]));
    Ref command = Ref::steal(wordform(tuple.get()));
    if (!command) return nullptr;
    Ref script = Ref::steal(PyUnicode_FromFormat("[%S]", command.get()));
    if (!script) return nullptr;
    PyObject *subst[2] = {interned()->subst, script.get()};
    Ref r = Ref::steal(tk_call(tk, subst, 2));
    if (!r || PyUnicode_CheckExact(r.get())) return r.release();
    return tcl_text(r.get());
}

}  // namespace

namespace {

// call_text, given the interpreter when the caller runs on its thread.
PyObject *text_of_call(PyObject *tk, Tcl_Interp *interp, PyObject *const *words, size_t n) {
    Ref r = Ref::steal(tk_call(tk, words, n));
    if (!r || PyUnicode_CheckExact(r.get()) || !interp) return r.release();
    return result_text(tk, r.get());
}

}  // namespace

PyObject *call_text(PyObject *tk, PyObject *const *words, size_t n) {
    if (!interned()) return nullptr;
    Tcl_Interp *interp = interp_on_own_thread(tk);
    if (!interp && interp_of_tkapp(tk)) return call_off_thread(tk, words, n);
    PyErr_Clear();  // not a tkapp at all: whatever its call returns
    return text_of_call(tk, interp, words, n);
}

PyObject *read_var_text(PyObject *tk, PyObject *name) {
    const Words *w = interned();
    if (!w) return nullptr;
    PyObject *command[2] = {w->set, name};
    Tcl_Interp *interp = interp_on_own_thread(tk);
    if (!interp && interp_of_tkapp(tk)) return call_off_thread(tk, command, 2);
    PyErr_Clear();
    Ref set = Ref::steal(command_word(tk, w->set));
    command[0] = set.get();
    return text_of_call(tk, interp, command, 2);
}

bool joins_as_itself_locally(PyObject *name) {
    if (!PyUnicode_CheckExact(name)) return false;
    const int kind = PyUnicode_KIND(name);
    const void *data = PyUnicode_DATA(name);
    const Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    Py_ssize_t i = 0;
    if (kind == PyUnicode_1BYTE_KIND) {  // the usual name: find the colons directly
        const void *colon = memchr(data, ':', (size_t)n);
        if (!colon) return true;
        i = (const Py_UCS1 *)colon - (const Py_UCS1 *)data;
    }
    while (i < n) {
        if (PyUnicode_READ(kind, data, i) != ':') {
            ++i;
            continue;
        }
        Py_ssize_t run = 0;
        for (; i < n && PyUnicode_READ(kind, data, i) == ':'; ++i) ++run;
        if (run != 2 || i == n) return false;
    }
    return true;
}

PyObject *read_var_or_array_text(PyObject *tk, PyObject *name) {
    PyObject *r = read_var_text(tk, name);
    if (r || !PyErr_ExceptionMatches(tcl_error_type())) return r;
    Ref failure = Ref::steal(PyErr_GetRaisedException());
    const Words *w = interned();
    PyObject *exists[3] = {w->array, w->exists, name};
    Ref is = Ref::steal(tk_call(tk, exists, 3));
    // `array exists` answers with a Tcl integer (text if Tcl's result was
    // shared as a string).
    int array = -1;
    if (is)
        array = PyUnicode_Check(is.get()) ? PyUnicode_CompareWithASCIIString(is.get(), "1") == 0
                                          : PyObject_IsTrue(is.get());
    if (array <= 0) {
        if (array < 0) PyErr_Clear();
        PyErr_SetRaisedException(failure.release());
        return nullptr;
    }
    PyObject *get[3] = {w->array, w->get, name};
    return call_text(tk, get, 3);
}

}  // namespace oskra
