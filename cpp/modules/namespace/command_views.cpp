// The command views of TclNamespace: CommandsView (name -> TclCommand)
// and ProcsView (the procedures only).
#include "core/quote.h"
#include "view_common.h"

namespace oskra::ns::view {

namespace {

METHOD(cv_init) { return view_init(views.CommandsView, args, nargs, kwnames); }

const Params cv_byref_params{"byref", SelfArg::first, {{"cmd_name"}}, "args", "kwargs"};
METHOD(cv_byref) {
    PyObject *cmd_name;
    Ref extra, kwargs;
    if (!cv_byref_params.bind(args, nargs, kwnames, &cmd_name, &extra, &kwargs)) return nullptr;
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

const Params cv_exists_params{"exists", SelfArg::first, {{"cmd_name"}}};
METHOD(cv_exists) {
    PyObject *a[1];
    if (!cv_exists_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return cv_exists_impl(self, a[0]);
}

const Params cv_createcommand_params{"createcommand", SelfArg::first, {{"cmd_name"}, {"func"}}};
METHOD(cv_createcommand) {
    PyObject *a[2];
    if (!cv_createcommand_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return cv_create_impl(self, a[0], a[1]);
}

const Params cv_delete_params{"delete", SelfArg::first, {{"cmd_name"}}};
METHOD(cv_delete) {
    PyObject *a[1];
    if (!cv_delete_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return cv_delete_impl(self, a[0]);
}

const Params cv_rename_params{"rename", SelfArg::first, {{"cmd_name"}, {"new_name"}}};
METHOD(cv_rename) {
    PyObject *a[2];
    if (!cv_rename_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    Ref cmd = Ref::steal(cmd_of(self, a[0]));
    if (!cmd) return nullptr;
    Ref n = Ref::steal(joined(self, a[1]));
    if (!n) return nullptr;
    return on(cmd.release(), names.rename, {n.get()}, nullptr, true);
}

const Params cv_origin_params{"origin", SelfArg::first, {{"cmd_name"}}};
METHOD(cv_origin) {
    PyObject *a[1];
    if (!cv_origin_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(cmd_of(self, a[0]), names.origin, {});
}

const Params cv_proc_body_params{"proc_body", SelfArg::first, {{"cmd_name"}}};
METHOD(cv_proc_body) {
    PyObject *a[1];
    if (!cv_proc_body_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(cmd_of(self, a[0]), names.proc_body, {});
}

const Params cv_proc_args_params{"proc_args", SelfArg::first, {{"cmd_name"}}};
METHOD(cv_proc_args) {
    PyObject *a[1];
    if (!cv_proc_args_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(cmd_of(self, a[0]), names.proc_args, {});
}

const Params cv_proc_arg_default_params{"proc_arg_default", SelfArg::first, {{"cmd_name"}, {"arg_name"}}};
METHOD(cv_proc_arg_default) {
    PyObject *a[2];
    if (!cv_proc_arg_default_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(cmd_of(self, a[0]), names.proc_arg_default, {a[1]});
}

inline bool own_cmd_view(PyObject *self) {
    return is_type(self, views.CommandsView) || is_type(self, views.ProcsView);
}

const Params cv_getitem_params{"__getitem__", SelfArg::first, {{"name"}}, nullptr, nullptr, true};
METHOD(cv_getitem) {
    PyObject *a[1];
    if (!cv_getitem_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    if (own_cmd_view(self)) return cmd_of(self, a[0]);
    return call_method1(self, names.byref, a[0]);
}

const Params cv_contains_params{"__contains__", SelfArg::first, {{"name"}}, nullptr, nullptr, true};
METHOD(cv_contains) {
    PyObject *a[1];
    if (!cv_contains_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    const bool commands = is_type(self, views.CommandsView);
    if (!commands && !is_type(self, views.ProcsView)) return call_method1(self, names.exists, a[0]);
    // Membership is by name: exists() takes the name as a pattern, so the
    // glob characters of the name are escaped first.
    Ref name = Ref::steal(joined(self, a[0]));
    if (!name) return nullptr;
    Ref pattern = Ref::steal(quote::literal_name_pattern(name.get()));
    if (!pattern) return nullptr;
    Ref one = Ref::steal(PyTuple_Pack(1, pattern.get()));
    if (!one) return nullptr;
    PyObject *cmd = build("byref", self, classes.TclCommand.ptr(), one.get(), nullptr, nullptr);
    return on(cmd, commands ? names.exists : names.is_proc, {});
}

const Params cv_setitem_params{"__setitem__", SelfArg::first, {{"name"}, {"value"}}, nullptr, nullptr, true};
METHOD(cv_setitem) {
    PyObject *a[2];
    if (!cv_setitem_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    if (own_cmd_view(self)) return cv_create_impl(self, a[0], a[1]);
    PyObject *pair[2] = {a[0], a[1]};
    Ref r = Ref::steal(call_method(self, names.createcommand, pair, 2));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

const Params cv_delitem_params{"__delitem__", SelfArg::first, {{"name"}}, nullptr, nullptr, true};
METHOD(cv_delitem) {
    PyObject *a[1];
    if (!cv_delitem_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    Ref r = Ref::steal(own_cmd_view(self) ? cv_delete_impl(self, a[0])
                                          : call_method1(self, names.delete_, a[0]));
    if (r) Py_RETURN_NONE;
    if (error_is_tcl()) return raise_key_error_from_current();
    return nullptr;
}

const Params pv_exists_params{"exists", SelfArg::first, {{"cmd_name"}}};
METHOD(pv_exists) {
    PyObject *a[1];
    if (!pv_exists_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return pv_exists_impl(self, a[0]);
}

}  // namespace

bool make_command_views() {
    views.CommandsView = make_class(
            "CommandsView", "TclNamespace.CommandsView",
            "The commands of a namespace as a mapping: name -> TclCommand.", {classes.MutableMapping.ptr()},
            {{"__init__", cv_init, view_init_params},
             {"byref", cv_byref, cv_byref_params,
              "A TclCommand for the name joined onto the namespace (further arguments as TclCommand's)."},
             {"exists", cv_exists, cv_exists_params, "Whether a command of that name exists."},
             {"createcommand", cv_createcommand, cv_createcommand_params,
              "Register the Python callable `func` as the Tcl command of that name."},
             {"delete", cv_delete, cv_delete_params, "Delete the command."},
             {"rename", cv_rename, cv_rename_params,
              "Rename the command; a relative new name is taken inside the namespace."},
             {"origin", cv_origin, cv_origin_params, "The command's origin (``namespace origin``)."},
             {"proc_body", cv_proc_body, cv_proc_body_params, "The procedure's body."},
             {"proc_args", cv_proc_args, cv_proc_args_params, "The procedure's argument names as a tuple."},
             {"proc_arg_default", cv_proc_arg_default, cv_proc_arg_default_params,
              "The default of a procedure argument, or None."},
             {"__getitem__", cv_getitem, cv_getitem_params},
             {"__contains__", cv_contains, cv_contains_params},
             {"__setitem__", cv_setitem, cv_setitem_params},
             {"__delitem__", cv_delitem, cv_delitem_params},
             {"__len__", view_len, view_len_params},
             {"__repr__", view_repr, view_repr_params},
             {"__iter__", names_iter<&Consts::info_commands>, names_iter_params}});
    if (!views.CommandsView) return false;
    views.ProcsView = make_class(
            "ProcsView", "TclNamespace.ProcsView",
            "The procedures of a namespace as a mapping: name -> TclCommand.", {views.CommandsView},
            {{"exists", pv_exists, pv_exists_params,
              "Whether a procedure of that name exists (built-in commands do not count)."},
             {"__iter__", names_iter<&Consts::info_procs>, names_iter_params}});
    return views.ProcsView != nullptr;
}

}  // namespace oskra::ns::view
