// The command views of TclNamespace: CommandsView (name -> TclCommand)
// and ProcsView (the procedures only).
#include "view_common.h"

namespace oskra::ns::view {

namespace {

METHOD(cv_init) { return view_init(views.CommandsView, args, nargs, kwnames); }

METHOD(cv_byref) {
    static const char *const kw[] = {"cmd_name"};
    PyObject *cmd_name;
    Ref extra, kwargs;
    if (!parse_method("byref", kw, 1, 1, args, nargs, kwnames, &cmd_name, &extra, &kwargs)) return nullptr;
    PyObject *self = args[0];
    Ref n = Ref::steal(joined(self, cmd_name));
    if (!n) return nullptr;
    Ref one = Ref::steal(PyTuple_Pack(1, n.get()));
    if (!one) return nullptr;
    return build("TclCommand", self, classes.TclCommand.ptr(), one.get(), extra.get(), kwargs.get());
}

PyObject *cv_exists_impl(PyObject *self, PyObject *name) { return on(cmd_of(self, name), names.exists, {}); }
PyObject *pv_exists_impl(PyObject *self, PyObject *name) { return on(cmd_of(self, name), names.is_proc, {}); }
PyObject *cv_create_impl(PyObject *self, PyObject *name, PyObject *func) {
    return on(cmd_of(self, name), names.createcommand, {func}, nullptr, true);
}
PyObject *cv_delete_impl(PyObject *self, PyObject *name) {
    return on(cmd_of(self, name), names.delete_, {}, nullptr, true);
}

METHOD(cv_exists) {
    constexpr int NREQ = 1;
    ARGS("exists", "cmd_name");
    return cv_exists_impl(self, a[0]);
}

METHOD(cv_createcommand) {
    constexpr int NREQ = 2;
    ARGS("createcommand", "cmd_name", "func");
    return cv_create_impl(self, a[0], a[1]);
}

METHOD(cv_delete) {
    constexpr int NREQ = 1;
    ARGS("delete", "cmd_name");
    return cv_delete_impl(self, a[0]);
}

METHOD(cv_rename) {
    constexpr int NREQ = 2;
    ARGS("rename", "cmd_name", "new_name");
    Ref cmd = Ref::steal(cmd_of(self, a[0]));
    if (!cmd) return nullptr;
    Ref n = Ref::steal(joined(self, a[1]));
    if (!n) return nullptr;
    return on(cmd.release(), names.rename, {n.get()}, nullptr, true);
}

METHOD(cv_origin) {
    constexpr int NREQ = 1;
    ARGS("origin", "cmd_name");
    return on(cmd_of(self, a[0]), names.origin, {});
}

METHOD(cv_proc_body) {
    constexpr int NREQ = 1;
    ARGS("proc_body", "cmd_name");
    return on(cmd_of(self, a[0]), names.proc_body, {});
}

METHOD(cv_proc_args) {
    constexpr int NREQ = 1;
    ARGS("proc_args", "cmd_name");
    return on(cmd_of(self, a[0]), names.proc_args, {});
}

METHOD(cv_proc_arg_default) {
    constexpr int NREQ = 2;
    ARGS("proc_arg_default", "cmd_name", "arg_name");
    return on(cmd_of(self, a[0]), names.proc_arg_default, {a[1]});
}

inline bool own_cmd_view(PyObject *self) {
    return is_type(self, views.CommandsView) || is_type(self, views.ProcsView);
}

METHOD(cv_getitem) {
    constexpr int NREQ = 1;
    ARGS("__getitem__", "name");
    if (own_cmd_view(self)) return cmd_of(self, a[0]);
    return call_method1(self, names.byref, a[0]);
}

METHOD(cv_contains) {
    constexpr int NREQ = 1;
    ARGS("__contains__", "name");
    if (is_type(self, views.CommandsView)) return cv_exists_impl(self, a[0]);
    if (is_type(self, views.ProcsView)) return pv_exists_impl(self, a[0]);
    return call_method1(self, names.exists, a[0]);
}

METHOD(cv_setitem) {
    constexpr int NREQ = 2;
    ARGS("__setitem__", "name", "value");
    if (own_cmd_view(self)) return cv_create_impl(self, a[0], a[1]);
    PyObject *pair[2] = {a[0], a[1]};
    Ref r = Ref::steal(call_method(self, names.createcommand, pair, 2));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

METHOD(cv_delitem) {
    constexpr int NREQ = 1;
    ARGS("__delitem__", "name");
    Ref r = Ref::steal(own_cmd_view(self) ? cv_delete_impl(self, a[0])
                                          : call_method1(self, names.delete_, a[0]));
    if (r) Py_RETURN_NONE;
    if (error_is_tcl()) return raise_key_error_from_current();
    return nullptr;
}

METHOD(pv_exists) {
    constexpr int NREQ = 1;
    ARGS("exists", "cmd_name");
    return pv_exists_impl(self, a[0]);
}

}  // namespace

bool make_command_views() {
    views.CommandsView = make_class(
            "CommandsView", "TclNamespace.CommandsView",
            "The commands of a namespace as a mapping: name -> TclCommand.", {classes.MutableMapping.ptr()},
            {{"__init__", cv_init, "($self, ns)"},
             {"byref", cv_byref, "($self, cmd_name, *args, **kwargs)", false,
              "A TclCommand for the name joined onto the namespace (further arguments as TclCommand's)."},
             {"exists", cv_exists, "($self, cmd_name)", false, "Whether a command of that name exists."},
             {"createcommand", cv_createcommand, "($self, cmd_name, func)", false,
              "Register the Python callable `func` as the Tcl command of that name."},
             {"delete", cv_delete, "($self, cmd_name)", false, "Delete the command."},
             {"rename", cv_rename, "($self, cmd_name, new_name)", false,
              "Rename the command; a relative new name is taken inside the namespace."},
             {"origin", cv_origin, "($self, cmd_name)", false,
              "The command's origin (``namespace origin``)."},
             {"proc_body", cv_proc_body, "($self, cmd_name)", false, "The procedure's body."},
             {"proc_args", cv_proc_args, "($self, cmd_name)", false,
              "The procedure's argument names as a tuple."},
             {"proc_arg_default", cv_proc_arg_default, "($self, cmd_name, arg_name)", false,
              "The default of a procedure argument, or None."},
             {"__getitem__", cv_getitem, "($self, name, /)"},
             {"__contains__", cv_contains, "($self, name, /)"},
             {"__setitem__", cv_setitem, "($self, name, value, /)"},
             {"__delitem__", cv_delitem, "($self, name, /)"},
             {"__len__", view_len, "($self, /)"},
             {"__repr__", view_repr, "($self, /)"},
             {"__iter__", names_iter<&Consts::info_commands>, "($self, /)"}});
    if (!views.CommandsView) return false;
    views.ProcsView = make_class(
            "ProcsView", "TclNamespace.ProcsView",
            "The procedures of a namespace as a mapping: name -> TclCommand.", {views.CommandsView},
            {{"exists", pv_exists, "($self, cmd_name)", false,
              "Whether a procedure of that name exists (built-in commands do not count)."},
             {"__iter__", names_iter<&Consts::info_procs>, "($self, /)"}});
    return views.ProcsView != nullptr;
}

}  // namespace oskra::ns::view
