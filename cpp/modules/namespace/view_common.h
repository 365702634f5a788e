// What the view files share (views.cpp, variable_views.cpp,
// command_views.cpp): a view holds its namespace object and nothing else;
// every operation builds a fresh TclVariable or TclCommand for the key
// joined onto the namespace's name and asks Tcl.
#pragma once
#include "ns_private.h"
#include "parts.h"

namespace oskra::ns::view {

// Constants, made once by make_views.
struct Consts {
    PyObject *kw_tcl, *kw_array_index, *kw_pattern, *kw_unset;  // kwnames tuples
    PyObject *info_vars, *info_commands, *info_procs;  // listing words
};
extern Consts k;

inline bool is_type(PyObject *self, PyObject *cls) { return (PyObject *)Py_TYPE(self) == cls; }

// TclNamespace.join(self.ns, name)
PyObject *joined(PyObject *self, PyObject *name);

// cls(first, *extra, tcl=self.ns.tcl, **kwargs); kwargs may be null and
// must not hold "tcl".
PyObject *build(const char *fname, PyObject *self, PyObject *cls, PyObject *first, PyObject *extra,
                PyObject *kwargs);

// The default factories: byref(name) of a variable and of a command view.
PyObject *var_of(PyObject *self, PyObject *name);
PyObject *cmd_of(PyObject *self, PyObject *name);

// obj.<method>(*args, **kw) on a freshly built object (stolen), returning
// the result, or None when `none` is set.
PyObject *on(PyObject *obj, PyObject *method, std::initializer_list<PyObject *> args,
             PyObject *kwnames = nullptr, bool none = false);

inline PyObject *or_none(PyObject *o) { return o ? o : Py_None; }
inline PyObject *or_false(PyObject *o) { return o ? o : Py_False; }

// __init__(self, ns) of the two root views (cls: the view class itself).
extern const Params view_init_params;
PyObject *view_init(PyObject *cls, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

// len(view) and iter(view) over the names one listing command yields.
METHOD(view_len);
METHOD(view_repr);
extern const Params view_len_params, view_repr_params, names_iter_params;
PyObject *new_iter(PyObject *view, PyObject *words);
template <PyObject *Consts::*listing>
METHOD(names_iter) {
    if (!names_iter_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    return new_iter(args[0], k.*listing);
}

// Fill views.VariablesView and ObjectsView / CommandsView and ProcsView.
bool make_variable_views();
bool make_command_views();

}  // namespace oskra::ns::view
