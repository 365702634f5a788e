// The parts of TclCommand (command.cpp) that the building of its command
// line (command_line.cpp) and its questions to Tcl (command_inspect.cpp)
// work on.
#pragma once
#include "varcmd.h"

namespace oskra::ns::cmd {

struct CmdObject {
    PyObject_HEAD vectorcallfunc vectorcall;
    PyObject *tcl;
    PyObject *cmd_name;
    PyObject *args;
    PyObject *keywords;
    PyObject *cast;
    PyObject *logger;
    PyObject *dict;
    PyObject *weakreflist;
};

inline CmdObject *C(PyObject *o) { return reinterpret_cast<CmdObject *>(o); }

// A field as an owned reference (AttributeError when it is not set).
#define FIELD(self, f) vc::field(self, C(self)->f, #f)

// The Tcl application object and the command word.
inline bool tk_and_name(PyObject *self, Ref &tk, Ref &name) {
    return vc::tk_and_name(self, &C(self)->tcl, &C(self)->cmd_name, "cmd_name", tk, name);
}

// TclCommand.build_tclcmd(*args, **kwargs) itself (no override looked up):
// (cmd_name,) + self.args + tclobj(args), then the dashed options of
// self.keywords updated with kwargs.
PyObject *build_impl(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

// TclCommand.kwargs_to_dashed_args(**kwargs), a static method.
PyObject *kwargs_to_dashed_args(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

// The methods of command_inspect.cpp (METH_NOARGS or METH_O).
PyObject *cmd_createcommand(PyObject *self, PyObject *func);
PyObject *cmd_exists(PyObject *self, PyObject *);
PyObject *cmd_is_proc(PyObject *self, PyObject *);
PyObject *cmd_is_command(PyObject *self, PyObject *);
PyObject *cmd_rename(PyObject *self, PyObject *new_name);
PyObject *cmd_delete(PyObject *self, PyObject *);
PyObject *cmd_origin(PyObject *self, PyObject *);
PyObject *cmd_proc_body(PyObject *self, PyObject *);
PyObject *cmd_proc_args(PyObject *self, PyObject *);
PyObject *cmd_proc_arg_default(PyObject *self, PyObject *arg_name);

}  // namespace oskra::ns::cmd
