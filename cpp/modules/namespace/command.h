// The parts of TclCommand (command.cpp) that the building of its command
// line (command_line.cpp) works on.
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

// TclCommand.build_tclcmd(*args, **kwargs) itself (no override looked up):
// (cmd_name,) + self.args + tclobj(args), then the dashed options of
// self.keywords updated with kwargs.
PyObject *build_impl(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

// TclCommand.kwargs_to_dashed_args(**kwargs), a static method.
PyObject *kwargs_to_dashed_args(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

}  // namespace oskra::ns::cmd
