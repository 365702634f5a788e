// Python callables registered as Tcl commands.
#include "interp_private.h"

namespace oskra::interp {
namespace {

constexpr const char *BACKUP_PREFIX = "::pivotlib::_cbBkup::";

// Where a command displaced by a forced registration waits.
nb::str backup_name(nb::handle cmd_name) {
    nb::object bare = cmd_name.attr("lstrip")(":");
    return nb::str(nb::str(BACKUP_PREFIX) + nb::str(bare));
}

// The TclCommand of that place. A one-word command line: the backup name
// is a name, never parsed as a list.
nb::object backup_command(nb::handle self, nb::handle cmd_name) {
    return nb::handle(g.TclCommand)(nb::make_tuple(backup_name(cmd_name)), nb::arg("tcl") = self);
}

// getattr(obj, name, fallback)
nb::object attr_or(nb::handle obj, PyObject *name, nb::object fallback) {
    PyObject *v = PyObject_GetAttr(obj.ptr(), name);
    if (v) return nb::steal(v);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw nb::python_error();
    PyErr_Clear();
    return fallback;
}

nb::object generate_name(nb::handle callback, bool mangle) {
    nb::object func =
            attr_or(callback, names.dunder_func, nb::borrow(callback));  // a functools.partial's function
    nb::object cmd_name = attr_or(func, names.dunder_name, nb::str(""));
    int truth = PyObject_IsTrue(cmd_name.ptr());
    if (truth < 0) throw nb::python_error();
    if (!truth || mangle) {
        nb::object prefix = nb::str(nb::int_(reinterpret_cast<uintptr_t>(callback.ptr()))) + nb::str("_");
        PyObject *joined = PyNumber_Add(prefix.ptr(), cmd_name.ptr());
        if (!joined) throw nb::python_error();
        cmd_name = nb::steal(joined);
    }
    return cmd_name;
}

nb::object global_cmds(nb::handle self) { return self.attr("global_ns").attr("cmds"); }

// Whether a command of exactly that name exists (TclCommand.exists() would
// take the name as a pattern).
bool command_exists(nb::handle self, nb::handle cmd_name) {
    int has = PySequence_Contains(global_cmds(self).ptr(), cmd_name.ptr());
    if (has < 0) throw nb::python_error();
    return has;
}

const Params m_generate_params{"Interpreter.generate_callback_cmd_name",
                               SelfArg::none,
                               {{"callback"}, {"mangle_cmd_name", "False"}}};
PyObject *m_generate(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    SBIND(m_generate_params);
    int mangle = a[1] ? PyObject_IsTrue(a[1]) : 0;
    if (mangle < 0) return nullptr;
    return guarded([&] { return generate_name(a[0], mangle); });
}

const Params m_create_params{"Interpreter.create_callback",
                             SelfArg::separate,
                             {{"callback"}, {"cmd_name", "None"}, {"force", "False"}}};
PyObject *m_create(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    BIND(m_create_params);
    return guarded([&]() -> nb::object {
        nb::handle self = a[0], callback = a[1];
        nb::object cmd_name = nb::borrow(a[2] ? a[2] : Py_None);
        if (!nb::bool_(cmd_name)) cmd_name = generate_name(callback, false);
        cmd_name = nb::str(cmd_name);
        nb::object tclcmd = global_cmds(self)[cmd_name];
        // The absolute name itself, not str(tclcmd): that is the command line
        // as a Tcl list, which braces a name with a space or a brace in it.
        cmd_name = tclcmd.attr("cmd_name");
        if (command_exists(self, cmd_name)) {
            if (!(a[3] && nb::bool_(nb::handle(a[3])))) {
                nb::object msg =
                        nb::str("Cannot create command '") + cmd_name + nb::str("': command already exists");
                PyErr_SetObject(PyExc_ValueError, msg.ptr());
                throw nb::python_error();
            }
            // One backup per name: when it is taken (a forced registration
            // on a forced registration), it keeps the command displaced
            // first and the current one is simply replaced.
            if (!command_exists(self, backup_name(cmd_name))) {
                // A second object for the name: tclcmd keeps naming cmd_name.
                global_cmds(self)[cmd_name].attr("rename")(backup_name(cmd_name));
            }
        }
        tclcmd.attr("createcommand")(callback);
        self.attr("__callbacks__")[cmd_name] = callback;
        return tclcmd;
    });
}

const Params m_remove_params{"Interpreter.remove_callback", SelfArg::separate, {{"callback"}}};
PyObject *m_remove(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    BIND(m_remove_params);
    return guarded([&]() -> nb::object {
        nb::handle self = a[0], callback = a[1];
        nb::object tclcmd;
        int is_cmd = PyObject_IsInstance(callback.ptr(), g.TclCommand);
        if (is_cmd < 0) throw nb::python_error();
        if (is_cmd) {
            tclcmd = nb::borrow(callback);
        } else {
            nb::object name =
                    PyCallable_Check(callback.ptr()) ? generate_name(callback, false) : nb::borrow(callback);
            tclcmd = global_cmds(self)[name];
        }
        nb::object cmd_name = tclcmd.attr("cmd_name");
        nb::object table = self.attr("__callbacks__");
        int has = PySequence_Contains(table.ptr(), cmd_name.ptr());
        if (has < 0) throw nb::python_error();
        if (!has) {
            nb::object msg = nb::str("No callback in this interpreter named '") + cmd_name + nb::str("'");
            PyErr_SetObject(PyExc_ValueError, msg.ptr());
            throw nb::python_error();
        }
        tclcmd.attr("delete")();
        table.attr("__delitem__")(cmd_name);
        if (command_exists(self, backup_name(cmd_name)))
            backup_command(self, cmd_name).attr("rename")(cmd_name);
        return nb::none();
    });
}

}  // namespace

void add_callback_methods(ClassBuilder &cb) {
    add_function(cb, "generate_callback_cmd_name", m_generate, m_generate_params,
                 "A Tcl command name for `callback`: its function's __name__, prefixed\n"
                 "with its id when it has none or when `mangle_cmd_name` is true.");
    add_function(cb, "create_callback", m_create, m_create_params,
                 "Register `callback` as a Tcl command and return its TclCommand. With\n"
                 "`force`, an existing command of that name is moved aside meanwhile.");
    add_function(cb, "remove_callback", m_remove, m_remove_params,
                 "Remove a callback registered by create_callback (given as its\n"
                 "TclCommand, its name or the callable) and restore what it displaced.");
}

}  // namespace oskra::interp
