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
    PyObject *all_below;  // "::*"
    PyObject *stand_in;  // "x"
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

// The view methods are raw functions bound by make_method: self is args[0].
#define METHOD(name) PyObject *name(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)

// Parses `fname(self, <names...>)` into a[], the first NREQ required.
#define ARGS(fname, ...)                                                                                     \
    static const char *const kw[] = {__VA_ARGS__};                                                           \
    constexpr int NK = sizeof(kw) / sizeof(kw[0]);                                                           \
    PyObject *a[NK];                                                                                         \
    if (!parse_method(fname, kw, NK, NREQ, args, nargs, kwnames, a)) return nullptr;                         \
    PyObject *self = args[0];

// __init__(self, ns) of the two root views (cls: the view class itself).
PyObject *view_init(PyObject *cls, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

// len(view) and iter(view) over the names one listing command yields.
METHOD(view_len);
METHOD(view_repr);
PyObject *new_iter(PyObject *view, PyObject *words);
template <PyObject *Consts::*listing>
METHOD(names_iter) {
    if (!self_only("__iter__", args, nargs, kwnames)) return nullptr;
    return new_iter(args[0], k.*listing);
}

// Fill views.VariablesView and ObjectsView / CommandsView and ProcsView.
bool make_variable_views();
bool make_command_views();

}  // namespace oskra::ns::view
