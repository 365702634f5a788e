// Python exceptions raised by callbacks that Tcl code called, and the error
// state of a failed Tcl call carried by the TclError raised for it.
//
// The Tcl layer turns a callback's exception into a Tcl error with an empty
// message and keeps the exception to itself. The callback wrapper
// (core/tclsafe.h) does better: Tcl sees the exception's text, ::errorInfo
// holds the Python traceback and ::errorCode says {PYTHON <Type> <message>}.
// The exception waits in a per-interpreter slot until the package's call
// that ran the Tcl code returns: a TclError raised by that call gets it as
// its __cause__, and KeyboardInterrupt or SystemExit replace that call's
// outcome even when Tcl code caught the error on the way.
#pragma once
#include <Python.h>
#include <tcl.h>

namespace oskra {

// Binds the process-wide slot table (oskra.tcl.internal keeps it, so that
// every extension module sees the same one). Called at the initialisation
// of each module that runs Tcl code or registers callbacks; false with an
// error set if that fails.
bool callback_errors_init();

// Brackets a call into the Tcl layer made by the package. A callback's
// exception is kept only while such a call runs: one raised under a call
// made on the Tcl layer directly (tk.call, ...) has no one to go to.
class TclCallScope {
public:
    TclCallScope();
    ~TclCallScope();
    TclCallScope(const TclCallScope &) = delete;
    TclCallScope &operator=(const TclCallScope &) = delete;
};

// For the wrapper of a callback of `interp` whose callable just raised (the
// exception is set): sets Tcl's error state, logs the exception on the
// "oskra.tcl" logger and, under a call of the package, keeps it in the
// interpreter's slot. `cmd_name`
// names the command in the log. Returns null with the exception the Tcl
// layer is to see set (a stand-in: the Tcl layer keeps what it is given).
PyObject *fail_callback(Tcl_Interp *interp, PyObject *cmd_name);

// For the wrapper, before it calls its callable: when a KeyboardInterrupt
// or SystemExit of an earlier callback of `interp` is still on its way out,
// the callable is not run: the Tcl error of that exception is set again and
// null is returned as fail_callback does. Otherwise false (returns 0).
bool refuse_callback(Tcl_Interp *interp);

// The end of a call into the Tcl layer object `tk` that may have run Tcl
// code. `result` (stolen) is the call's result, or null with its error set.
// On success a pending interrupt is raised in place of the result, and any
// other pending exception is dropped (the Tcl code handled it). A TclError
// gets the attributes `errorinfo` (`info` when given, else ::errorInfo)
// and `errorcode` (::errorCode split as a list); the callback exception
// behind it becomes its __cause__, and a pending interrupt is raised
// instead of it. Returns the result, or null with the error set.
PyObject *tcl_call_done(PyObject *tk, PyObject *result, PyObject *info = nullptr);

// The failure path of tcl_call_done in two steps, for a caller that reads
// Tcl state through the package (which would see the slot) before it
// raises its TclError: take_callback_error() first (a new reference, or
// null), then finish_tcl_error() with the TclError set, which steals `kept`.
PyObject *take_callback_error(PyObject *tk);
PyObject *finish_tcl_error(PyObject *tk, PyObject *kept, PyObject *info);

// Forgets what the slot of the interpreter of `tk` holds (a new
// interpreter may have the address of one that is gone).
void drop_callback_errors(PyObject *tk);

// `call()` (a new reference or null) inside a TclCallScope, then
// tcl_call_done: the whole of one Tcl call made by the package.
template <typename F>
PyObject *run_tcl_call(PyObject *tk, F &&call) {
    PyObject *result;
    {
        TclCallScope scope;
        result = call();
    }
    return tcl_call_done(tk, result);
}

// For a call that failed (its exception is set, and stays set): records
// the error's text as `entry.error` (a history entry; None is skipped).
void mark_failed_entry(PyObject *entry);

}  // namespace oskra
