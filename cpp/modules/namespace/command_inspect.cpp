// TclCommand's questions to Tcl about its command and the changes it makes
// to it: exists, is_proc, rename, delete, origin, the procedure's body,
// arguments and defaults, and registering a Python callable under the name.
#include "command.h"

#include "core/callback_errors.h"
#include "core/convert.h"
#include "core/tcltext.h"
#include "support/compat.h"
#include "support/errors.h"
#include "support/kept_words.h"
#include "parts.h"

namespace oskra::ns::cmd {

namespace {

// Whether a result the Tcl layer converted is a tuple of str: each element
// is then the text Tcl holds for it.
bool is_text_tuple(PyObject *r) {
    if (!PyTuple_CheckExact(r)) return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(r); ++i)
        if (!PyUnicode_CheckExact(PyTuple_GET_ITEM(r, i))) return false;
    return true;
}

// tk.call((w0, w1, cmd_name[, extra])), or with `text` the Tcl text of its
// result (a tuple of str, which is its list of texts, as it is). The two
// fixed words (a command and its subcommand) are passed as kept Tcl
// values, which keep Tcl's lookup of both between calls.
PyObject *info_call(PyObject *self, PyObject *w0, PyObject *w1, PyObject *extra = nullptr,
                    bool text = false) {
    Ref tk, name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    Ref cmd = Ref::steal(command_word(tk.get(), w0));
    Ref sub = Ref::steal(command_word(tk.get(), w1));
    Ref words = Ref::steal(extra ? PyTuple_Pack(4, cmd.get(), sub.get(), name.get(), extra)
                                 : PyTuple_Pack(3, cmd.get(), sub.get(), name.get()));
    if (!words) return nullptr;
    Ref r = Ref::steal(call_words(tk.get(), words.get()));
    if (!r || !text || PyUnicode_CheckExact(r.get()) || is_text_tuple(r.get())) return r.release();
    return result_text(tk.get(), r.get());
}

PyObject *truth_of(PyObject *result) {
    Ref r = Ref::steal(result);
    if (!r) return nullptr;
    int t = PyObject_IsTrue(r.get());
    return t < 0 ? nullptr : PyBool_FromLong(t);
}

// The body of proc_arg_default: Tcl stores the default of arg_name, if
// there is one, into the variable var; it is read back as text.
PyObject *arg_default_into(PyObject *self, PyObject *tcl, PyObject *arg_name, PyObject *var) {
    Ref tk = Ref::steal(vc::tk_of(tcl));
    if (!tk) return nullptr;
    Ref name = FIELD(self, cmd_name);
    if (!name) return nullptr;
    Ref arg = Ref::steal(wordform(arg_name));
    if (!arg) return nullptr;
    Ref words = Ref::steal(PyTuple_Pack(5, names.info_cmd, names.default_, name.get(), arg.get(), var));
    if (!words) return nullptr;
    Ref result = Ref::steal(call_words(tk.get(), words.get()));
    if (!result) return nullptr;
    Ref has = Ref::steal(call_method1(tcl, names.cast_boolean, result.get()));
    if (!has) return nullptr;
    int t = PyObject_IsTrue(has.get());
    if (t < 0) return nullptr;
    if (!t) Py_RETURN_NONE;
    // The default's text: once the procedure has run, Tcl may hold it as a
    // number (a default of 010 would read as 8).
    return PyObject_CallMethodNoArgs(var, names.get_str);
}

}  // namespace

PyObject *cmd_createcommand(PyObject *self, PyObject *func) {
    Ref tk, name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    // The result of a callback reaches the Tcl layer's unchecked conversion:
    // register a wrapper that checks it first.
    // An interpreter keeps the callables of its commands in its own table.
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    Ref table = Ref::steal(PyObject_GetAttr(tcl.get(), names.dunder_commands));
    if (!table) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
        PyErr_Clear();
    } else if (!PyDict_Check(table.get())) {
        table = Ref();
    }
    Ref safe = Ref::steal(tcl_safe_callable(func, tk.get(), name.get(), table.get()));
    if (!safe) return nullptr;
    Ref r = Ref::steal(call_method2(tk.get(), names.createcommand, name.get(), safe.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *cmd_exists(PyObject *self, PyObject *) {
    return truth_of(info_call(self, names.info_cmd, names.commands));
}
PyObject *cmd_is_proc(PyObject *self, PyObject *) {
    return truth_of(info_call(self, names.info_cmd, names.procs));
}

PyObject *cmd_is_command(PyObject *self, PyObject *) {
    Ref e = Ref::steal(cmd_exists(self, nullptr));
    if (!e) return nullptr;
    if (e.get() == Py_False) return e.release();
    Ref p = Ref::steal(cmd_is_proc(self, nullptr));
    if (!p) return nullptr;
    return PyBool_FromLong(p.get() == Py_False);
}

PyObject *cmd_rename(PyObject *self, PyObject *new_name) {
    Ref tk, name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    Ref renamed = Ref::steal(wordform(new_name));
    if (!renamed) return nullptr;
    Ref words = Ref::steal(PyTuple_Pack(3, names.rename_cmd, name.get(), renamed.get()));
    if (!words) return nullptr;
    Ref r = Ref::steal(call_words(tk.get(), words.get()));
    if (!r) return nullptr;
    Py_XSETREF(C(self)->cmd_name, renamed.release());
    Py_RETURN_NONE;
}

PyObject *cmd_delete(PyObject *self, PyObject *) {
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    Ref name = FIELD(self, cmd_name);
    if (!name) return nullptr;
    Ref words = Ref::steal(PyTuple_Pack(3, names.rename_cmd, name.get(), names.empty));
    if (!words) return nullptr;
    Ref r = Ref::steal(vc::tk_call_words(tcl.get(), words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *cmd_origin(PyObject *self, PyObject *) {
    return info_call(self, names.namespace_cmd, names.origin);
}
PyObject *cmd_proc_body(PyObject *self, PyObject *) { return info_call(self, names.info_cmd, names.body); }

PyObject *cmd_proc_args(PyObject *self, PyObject *) {
    // The names as Tcl's text, whatever Tcl's internal type for the list
    // (split from its text unless they came as their own texts).
    Ref r = Ref::steal(info_call(self, names.info_cmd, names.args, nullptr, true));
    if (!r) return nullptr;
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    return call_method1(tcl.get(), names.cast_list, r.get());
}

PyObject *cmd_proc_arg_default(PyObject *self, PyObject *arg_name) {
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    // with TempTclVariable(tcl=self.tcl) as tmp_var: ...
    static PyObject *kw = nullptr;
    if (!kw && !(kw = Py_BuildValue("(s)", "tcl"))) return nullptr;
    PyObject *stack[1] = {tcl.get()};
    Ref manager = Ref::steal(PyObject_Vectorcall(classes.TempTclVariable.ptr(), stack, 0, kw));
    if (!manager) return nullptr;
    Ref exit = Ref::steal(PyObject_GetAttr(manager.get(), names.dunder_exit));
    if (!exit) return nullptr;
    Ref var = Ref::steal(PyObject_CallMethodNoArgs(manager.get(), names.dunder_enter));
    if (!var) return nullptr;
    Ref result = Ref::steal(arg_default_into(self, tcl.get(), arg_name, var.get()));
    if (result) {
        Ref r = Ref::steal(PyObject_CallFunctionObjArgs(exit.get(), Py_None, Py_None, Py_None, nullptr));
        return r ? result.release() : nullptr;
    }
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    PyObject *exc_type = reinterpret_cast<PyObject *>(Py_TYPE(exc.get()));
    Ref tb = Ref::steal(PyException_GetTraceback(exc.get()));
    Ref r = Ref::steal(
            PyObject_CallFunctionObjArgs(exit.get(), exc_type, exc.get(), tb ? tb.get() : Py_None, nullptr));
    if (!r) {
        // The clean-up error, with the original one as its context.
        chain_context(exc.release());
        return nullptr;
    }
    int suppress = PyObject_IsTrue(r.get());
    if (suppress < 0) return nullptr;
    if (suppress) Py_RETURN_NONE;
    PyErr_SetRaisedException(exc.release());
    return nullptr;
}

}  // namespace oskra::ns::cmd
