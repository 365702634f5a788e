// Interpreter.eval and get_errorInfo: a script recorded in the history,
// evaluated through the Tcl layer, its error re-raised with Tcl's trace.
#include "core/callback_errors.h"
#include "core/tclconv.h"
#include "support/tclapp.h"
#include "interp_private.h"

namespace oskra::interp {

namespace {

PyTypeObject *tk_type = nullptr;  // the tkapp type whose eval is cached
PyObject *tk_eval = nullptr;  // its method descriptor

PyObject *tk_eval_call(PyObject *tk, PyObject *code) {
    PyObject *buf[3] = {nullptr, tk, code};
    if (Py_TYPE(tk) != tk_type) {
        PyObject *descr = PyObject_GetAttr((PyObject *)Py_TYPE(tk), names.eval);
        if (!descr) {  // an object that answers for itself (a closed interpreter's)
            PyErr_Clear();
            return PyObject_VectorcallMethod(names.eval, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                             nullptr);
        }
        if (tk_type == nullptr && Py_IS_TYPE(descr, &PyMethodDescr_Type)) {
            tk_type = Py_TYPE(tk);
            Py_INCREF(tk_type);
            tk_eval = descr;
        } else {
            Py_DECREF(descr);
            return PyObject_VectorcallMethod(names.eval, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                             nullptr);
        }
    }
    return PyObject_Vectorcall(tk_eval, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

// Re-raises the pending TclError as TclError(::errorInfo), from None, with
// Tcl's error state and any callback exception behind it (tcl_call_done).
void raise_with_errorinfo(PyObject *self, PyObject *tk) {
    PyObject *exc = PyErr_GetRaisedException();
    // Taken before ::errorInfo is read through the view, which would see it.
    PyObject *kept = take_callback_error(tk);
    PyObject *info = nullptr;
    PyObject *vars = own_attr(self, names.vars);
    if (vars) {
        info = PyObject_GetItem(vars, names.errorInfo_abs);
        Py_DECREF(vars);
    }
    PyObject *fresh = info ? PyObject_CallOneArg(g.TclError, info) : nullptr;
    if (!fresh) {  // reading ::errorInfo failed: that failure propagates
        Py_XDECREF(info);
        Py_XDECREF(kept);
        PyObject *failure = PyErr_GetRaisedException();
        PyException_SetContext(failure, exc);
        PyErr_SetRaisedException(failure);
        return;
    }
    PyException_SetContext(fresh, exc);
    PyException_SetCause(fresh, nullptr);  // also sets __suppress_context__
    PyErr_SetRaisedException(fresh);
    finish_tcl_error(tk, kept, info);
    Py_DECREF(info);
}

const Params interp_eval_params{
        "Interpreter.eval", SelfArg::separate, {{"code"}, {"typecast", "False"}, {"record", "True"}}};
PyObject *interp_eval(PyObject *self_, PyObject *const *args, Py_ssize_t nargsf, PyObject *kwnames) {
    PyObject *a[4];
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    a[0] = self_;
    if (kwnames == nullptr && nargs >= 1 && nargs <= 3) {  // the usual call, bound inline
        for (int i = 1; i < 4; ++i) a[i] = i - 1 < nargs ? args[i - 1] : nullptr;
    } else if (!interp_eval_params.bind(args, nargs, kwnames, a + 1)) {
        return nullptr;
    }
    PyObject *self = a[0], *code = a[1];
    int record = a[3] ? PyObject_IsTrue(a[3]) : 1;
    if (record < 0) return nullptr;
    Ref entry;  // of this call, to be marked if it fails
    if (record) {
        PyObject *history = own_attr(self, names.history);
        if (!history) return nullptr;
        PyObject *buf[3] = {nullptr, history, code};
        // The package's own history hands back the entry (for the same cost);
        // another object is asked to append, as documented.
        PyObject *method = Py_IS_TYPE(history, (PyTypeObject *)g.History) ? names.record_entry : names.append;
        entry = Ref::steal(
                PyObject_VectorcallMethod(method, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
        Py_DECREF(history);
        if (!entry) return nullptr;
    }
    PyObject *tk = own_attr(self, names.tk);
    if (!tk) return nullptr;
    PyObject *result;
    {
        TclCallScope scope;
        result = tk_eval_call(tk, code);
    }
    if (result) {
        result = tcl_call_done(tk, result);
    } else if (PyErr_ExceptionMatches(g.TclError)) {
        raise_with_errorinfo(self, tk);
    }
    Py_DECREF(tk);
    if (!result) {
        mark_failed_entry(entry.get());
        return nullptr;
    }
    int typecast = a[2] ? PyObject_IsTrue(a[2]) : 0;
    if (typecast <= 0) {
        if (typecast < 0) Py_CLEAR(result);
        return result;
    }
    PyObject *cast;
    if (Py_TYPE(self) == (PyTypeObject *)g.Interpreter) {
        cast = cast_any(self, result);
    } else {
        PyObject *buf[3] = {nullptr, self, result};
        cast = PyObject_VectorcallMethod(names.cast_any, buf + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                         nullptr);
    }
    Py_DECREF(result);
    return cast;
}

const Params interp_get_errorinfo_params{"Interpreter.get_errorInfo", SelfArg::separate, {}};
PyObject *interp_get_errorinfo(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    BIND(interp_get_errorinfo_params);
    Ref ns = Ref::steal(own_attr(a[0], names.global_ns));
    if (!ns) return nullptr;
    Ref vars = Ref::steal(PyObject_GetAttr(ns.get(), names.vars));
    if (!vars) return nullptr;
    return PyObject_GetItem(vars.get(), names.errorInfo);
}

}  // namespace

void add_eval_methods(ClassBuilder &cb) {
    add_function(cb, "eval", interp_eval, interp_eval_params,
                 "Record `code` in the history, evaluate it and return the result\n"
                 "(typecast with cast_any when `typecast` is true).");
    add_function(cb, "get_errorInfo", interp_get_errorinfo, interp_get_errorinfo_params,
                 "The Tcl error trace of the last error (::errorInfo).");
}

}  // namespace oskra::interp
