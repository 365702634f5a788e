// The end of an interpreter: close(), its aliases (the context manager's
// exit, destroy()) and the finaliser that closes an interpreter dropped
// without close().
//
// Every Python command of the Tcl layer holds its application object, so a
// Tcl interpreter with callbacks would never be freed: closing deletes every
// such command, then lets go of the application object, whose deallocation
// deletes the Tcl interpreter. A Tcl interpreter may only be deleted on the
// thread that created it (Tcl aborts the process otherwise): dropped on
// another thread, it is deliberately kept instead.
#include <tcl.h>

#include "core/tclconv.h"
#include "support/compat.h"
#include "support/tclapp.h"
#include "interp_private.h"

namespace oskra::interp {
namespace {

constexpr const char *CLOSED = "interpreter is closed";

// --- the application object of a closed interpreter --------------------------

// What `tk` holds once the interpreter is closed: every operation of the Tcl
// layer raises RuntimeError("interpreter is closed"); other names are plain
// misses, so probes such as hasattr() still answer False.
PyTypeObject *closed_type = nullptr;
PyTypeObject *tkapp_type = nullptr;  // the Tcl layer's application type
PyObject *closed_tk = nullptr;

PyObject *closed_getattro(PyObject *self, PyObject *name) {
    if (tkapp_type && PyUnicode_Check(name) && oskra::type_lookup(tkapp_type, name)) {
        PyErr_SetString(PyExc_RuntimeError, CLOSED);
        return nullptr;
    }
    return PyObject_GenericGetAttr(self, name);
}

PyObject *closed_repr(PyObject *) { return PyUnicode_FromString("<closed Tcl application>"); }

PyType_Slot closed_slots[] = {
        {Py_tp_getattro, (void *)closed_getattro},
        {Py_tp_repr, (void *)closed_repr},
        {Py_tp_doc, (void *)"The Tcl application object of a closed interpreter."},
        {0, nullptr},
};
PyType_Spec closed_spec = {"oskra.tcl.interpreter.ClosedTk", sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT,
                           closed_slots};

// --- Python commands ---------------------------------------------------------

// Every command name of the interpreter, in all namespaces.
constexpr const char *ALL_COMMANDS = R"tcl(apply {{} {
    set found {}
    set todo [list ::]
    while {[llength $todo]} {
        set ns [lindex $todo end]
        set todo [lreplace $todo end end]
        if {$ns eq "::"} {set pattern ::*} else {set pattern ${ns}::*}
        lappend found {*}[info commands $pattern]
        lappend todo {*}[namespace children $ns]
    }
    return $found
}})tcl";

// The deletion callback of the Tcl layer's Python commands, which tells
// them from all others: learnt from a command made for the purpose.
Tcl_CmdDeleteProc *python_command_delete = nullptr;

Tcl_CmdDeleteProc *delete_proc_of(Tcl_Interp *interp, const char *name) {
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, name, &info)) return nullptr;
    return info.deleteProc;
}

bool learn_python_command_delete(PyObject *tk, Tcl_Interp *interp) {
    if (python_command_delete) return true;
    const char *probe = "::__oskra__python_command_probe";
    Ref r = Ref::steal(PyObject_CallMethod(tk, "createcommand", "sO", probe, (PyObject *)&PyBaseObject_Type));
    if (!r) return false;
    python_command_delete = delete_proc_of(interp, probe);
    r = Ref::steal(PyObject_CallMethod(tk, "deletecommand", "s", probe));
    return r && python_command_delete;
}

// The names of the commands that call into Python; null on an error.
PyObject *python_commands(PyObject *tk, Tcl_Interp *interp) {
    Ref listing = Ref::steal(PyObject_CallMethod(tk, "eval", "s", ALL_COMMANDS));
    Ref names = listing ? Ref::steal(PyObject_CallMethod(tk, "splitlist", "O", listing.get())) : Ref();
    if (!names) return nullptr;
    Ref found = Ref::steal(PyList_New(0));
    if (!found) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(names.get()); ++i) {
        PyObject *name = PyTuple_GET_ITEM(names.get(), i);
        const char *text = PyUnicode_AsUTF8(name);
        if (!text) return nullptr;
        if (delete_proc_of(interp, text) == python_command_delete && PyList_Append(found.get(), name) < 0)
            return nullptr;
    }
    return found.release();
}

// Deletes every Python command. Deleting one may run Tcl traces, which may
// delete or create others: a few rounds, until none is left.
bool delete_python_commands(PyObject *tk) {
    Tcl_Interp *interp = tkapp_interp(tk);
    if (!learn_python_command_delete(tk, interp)) return false;
    for (int round = 0; round < 4; ++round) {
        Ref names = Ref::steal(python_commands(tk, interp));
        if (!names) return false;
        if (PyList_GET_SIZE(names.get()) == 0) return true;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(names.get()); ++i) {
            Ref r = Ref::steal(
                    PyObject_CallMethod(tk, "deletecommand", "O", PyList_GET_ITEM(names.get(), i)));
            if (!r) {
                if (!PyErr_ExceptionMatches(g.TclError)) return false;
                PyErr_Clear();  // already gone with an earlier one
            }
        }
    }
    return true;
}

// --- close -------------------------------------------------------------------

// The instance dict, owned: a lookup or a store in it may run a key's
// __eq__, which may replace the instance's dict.
Ref instance_dict(PyObject *self) {
    PyObject **dict = oskra::object_dict_ptr(self);
    return Ref::borrow(dict ? *dict : nullptr);
}

// The instance's own `tk` (never forwarded), or null with no error set.
Ref own_tk(PyObject *self) {
    Ref dict = instance_dict(self);
    return dict ? Ref::borrow(PyDict_GetItemWithError(dict.get(), names.tk)) : Ref();
}

bool set_closed(PyObject *self) {
    Ref dict = instance_dict(self);
    return dict && PyDict_SetItem(dict.get(), names.tk, closed_tk) == 0;
}

// Forgets a table of callables (create_callback's, the commands').
bool clear_table(PyObject *self, PyObject *name) {
    Ref dict = instance_dict(self);
    Ref held = dict ? Ref::borrow(PyDict_GetItemWithError(dict.get(), name)) : Ref();
    if (!held) return !PyErr_Occurred();
    if (PyDict_Check(held.get())) PyDict_Clear(held.get());
    return true;
}

// Deletes the commands named by the keys of one of the instance's tables
// (a snapshot of them: deleting runs Tcl traces and Python code).
bool delete_table_commands(PyObject *self, PyObject *tk, PyObject *table_name) {
    Ref dict = instance_dict(self);
    Ref table = dict ? Ref::borrow(PyDict_GetItemWithError(dict.get(), table_name)) : Ref();
    if (!table || !PyDict_Check(table.get())) return !PyErr_Occurred();
    Ref keys = Ref::steal(PyDict_Keys(table.get()));
    if (!keys) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
        Ref name = Ref::borrow(PyList_GET_ITEM(keys.get(), i));
        Ref r = Ref::steal(PyObject_CallMethod(tk, "deletecommand", "O", name.get()));
        if (!r) {
            if (!PyErr_ExceptionMatches(g.TclError)) return false;
            PyErr_Clear();  // gone already
        }
    }
    return true;
}

bool clear_callbacks(PyObject *self) {
    return clear_table(self, names.dunder_callbacks) && clear_table(self, names.dunder_commands);
}

bool close_interpreter(PyObject *self) {
    Ref tk = own_tk(self);
    if (PyErr_Occurred()) return false;
    if (tk.get() == closed_tk) return true;
    if (tk && is_tkapp(tk.get())) {
        if (!tkapp_on_owner_thread(tk.get())) {
            PyErr_SetString(PyExc_RuntimeError, WRONG_THREAD);
            return false;
        }
        if (!tkapp_type) tkapp_type = (PyTypeObject *)Py_NewRef(Py_TYPE(tk.get()));
        if (!delete_python_commands(tk.get())) {
            // The listing is a Tcl script: with the interpreter's own
            // commands gone or replaced (the global namespace deleted, say)
            // it cannot run. The callbacks are known by name; commands in
            // deleted namespaces went with them.
            if (!PyErr_ExceptionMatches(g.TclError)) return false;
            PyErr_Clear();
            if (!delete_table_commands(self, tk.get(), names.dunder_callbacks)) return false;
        }
    }
    if (!clear_callbacks(self) || !set_closed(self)) return false;
    return true;  // `tk` goes here: the Tcl interpreter with it, unless held elsewhere
}

const Params close_params{"Interpreter.close", SelfArg::separate, {}};
METHOD(m_close) {
    BIND(close_params);
    if (!close_interpreter(a[0])) return nullptr;
    Py_RETURN_NONE;
}

const Params enter_params{"Interpreter.__enter__", SelfArg::separate, {}};
METHOD(m_enter) {
    BIND(enter_params);
    return Py_NewRef(a[0]);
}

// The exception, if any, propagates: the arguments are not looked at.
const Params exit_params{"Interpreter.__exit__", SelfArg::separate, {}, "exc_info"};
METHOD(m_exit) {
    (void)kwnames;
    if (!self_) return nullptr;
    (void)args;
    (void)nargs;
    if (!close_interpreter(self_)) return nullptr;
    Py_RETURN_FALSE;
}

// Dropped without close(): closed here when this is the interpreter's
// thread; elsewhere the Tcl application is kept alive for good, since
// deleting its Tcl interpreter there would abort the process. Late in the
// shutdown of Python nothing is torn down on purpose.
const Params del_params{"Interpreter.__del__", SelfArg::separate, {}};
METHOD(m_del) {
    BIND(del_params);
    PyObject *self = a[0];
    PyObject *pending = PyErr_GetRaisedException();
    Ref tk = own_tk(self);
    if (tk && is_tkapp(tk.get())) {
        if (!tkapp_on_owner_thread(tk.get())) {
            Py_INCREF(tk.get());  // deliberately never released
        } else if (!python_is_finalizing() && !close_interpreter(self)) {
            PyErr_WriteUnraisable(self);
        }
    }
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
    Py_RETURN_NONE;
}

}  // namespace

bool interpreter_closed(PyObject *self) {
    Ref tk = own_tk(self);
    PyErr_Clear();
    return closed_tk && tk.get() == closed_tk;
}

void add_lifecycle_methods(ClassBuilder &cb) {
    closed_type = (PyTypeObject *)PyType_FromSpec(&closed_spec);
    if (!closed_type) throw nb::python_error();
    closed_tk = PyType_GenericAlloc(closed_type, 0);
    if (!closed_tk) throw nb::python_error();
    add_function(cb, "close", m_close, close_params,
                 "Delete this interpreter's Python commands and its Tcl interpreter.\n"
                 "Later use raises RuntimeError; closing again does nothing.");
    add_function(cb, "destroy", m_close, close_params, "The same as close().");
    add_function(cb, "__enter__", m_enter, enter_params, "Return the interpreter itself.");
    add_function(cb, "__exit__", m_exit, exit_params, "Close the interpreter; exceptions propagate.");
    add_function(cb, "__del__", m_del, del_params, "Close an interpreter dropped without close().");
}

}  // namespace oskra::interp
