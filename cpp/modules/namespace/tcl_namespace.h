// What the two files of TclNamespace share: tcl_namespace.cpp (the class,
// its name forms, eval and call) and ns_subcommands.cpp (the wrappers around
// Tcl's `namespace` command).
#pragma once
#include "ns_private.h"
#include "parts.h"

namespace oskra::ns::tn {

// Constant leading words, made once with the class.
struct Words {
    PyObject *children, *code, *current, *delete_, *exists, *export_, *forget, *import_, *origin, *parent,
            *which, *eval, *inscope;  // each: ("::namespace", <sub>)
    PyObject *if_, *export_query;  // "::if", "::namespace export"
};
extern Words w;
bool init_words();

// prefix + items (+ the items of tail_tuple), as a new tuple.
PyObject *words_of(PyObject *prefix, std::initializer_list<PyObject *> items, PyObject *tail_tuple = nullptr);

// self.ns
PyObject *self_ns(PyObject *self);
// self.tcl.cast_list(value)
PyObject *cast_list_of(PyObject *self, PyObject *value);
// `namespace current`
PyObject *current_impl(PyObject *self);
// TclNamespace.eval(tclcmd, *extra)
PyObject *eval_impl(PyObject *self, PyObject *tclcmd, PyObject *const *extra, Py_ssize_t nextra);
// is_absolute() (want_absolute) or is_relative(): the empty name itself
// when it is false.
PyObject *is_abs_impl(PyObject *self, bool want_absolute);

// The methods of ns_subcommands.cpp and their tables.
extern const Params children_params, code_params, current_params, create_params, delete_params, exists_params,
        export_params, forget_params, import_params, origin_params, parent_params, which_params;
METHOD(children);
METHOD(code);
METHOD(current);
METHOD(create);
METHOD(delete_);
METHOD(exists);
METHOD(export_);
METHOD(forget);
METHOD(import_);
METHOD(origin);
METHOD(parent);
METHOD(which);

}  // namespace oskra::ns::tn
