// The temporaries: variables, arrays, commands and namespaces with a
// generated unique name, removed from Tcl when their `with` block ends.
#include <nanobind/nanobind.h>

#include "ns_private.h"
#include "parts.h"

namespace oskra::ns {

namespace {

#define TEMPLATE_NAME "::__oskra__{cls}_{id}_tmp"
constexpr const char *TEMPLATE = TEMPLATE_NAME;
constexpr const char *TEMPLATE_TEXT = "'" TEMPLATE_NAME "'";  // as the signatures show it

PyObject *kw_cls_id = nullptr;  // ("cls", "id")
PyObject *kw_nocomplain = nullptr;  // ("nocomplain",)

const Params enter_params{"__enter__", SelfArg::first, {}};
const Params exit_params{"__exit__", SelfArg::first, {}, "exc_info", nullptr, true};
const Params del_params{"__del__", SelfArg::first, {}};

// __exit__(self, *exc_info): self, and no keywords; exc_info is used
// where it lies, args[1:].
bool exit_args(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref exc_info;
    return exit_params.bind(args, nargs, kwnames, nullptr, &exc_info);
}

// str(template).format(cls=self.__class__.__name__, id=id(self))
PyObject *fill_template(PyObject *self, PyObject *tmpl) {
    Ref name = Ref::steal(tmpl ? PyObject_Str(tmpl) : PyUnicode_FromString(TEMPLATE));
    if (!name) return nullptr;
    Ref cls = Ref::steal(PyObject_GetAttr(self, names.dunder_class));
    if (!cls) return nullptr;
    Ref cls_name = Ref::steal(PyObject_GetAttr(cls.get(), names.dunder_name));
    if (!cls_name) return nullptr;
    Ref id = Ref::steal(PyLong_FromVoidPtr(self));
    if (!id) return nullptr;
    PyObject *kwvals[2] = {cls_name.get(), id.get()};
    return call_method(name.get(), names.format, kwvals, 0, kw_cls_id);
}

PyObject *super_of(PyObject *cls, PyObject *self) {
    return PyObject_CallFunctionObjArgs((PyObject *)&PySuper_Type, cls, self, nullptr);
}

// getattr(super(cls, self), attr, None): a new reference, or null with no
// error set when absent, or null with an error set.
PyObject *super_attr(PyObject *cls, PyObject *self, PyObject *attr) {
    Ref sup = Ref::steal(super_of(cls, self));
    if (!sup) return nullptr;
    PyObject *f = PyObject_GetAttr(sup.get(), attr);
    if (!f && PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    return f;
}

// super(cls, self).__init__(name, **kwargs)
PyObject *init_next(PyObject *cls, PyObject *self, PyObject *tmpl, PyObject *kwargs) {
    Ref name = Ref::steal(fill_template(self, tmpl));
    if (!name) return nullptr;
    Ref sup = Ref::steal(super_of(cls, self));
    if (!sup) return nullptr;
    Ref init = Ref::steal(PyObject_GetAttr(sup.get(), names.dunder_init));
    if (!init) return nullptr;
    Ref args = Ref::steal(PyTuple_Pack(1, name.get()));
    if (!args) return nullptr;
    Ref r = Ref::steal(PyObject_Call(init.get(), args.get(), kwargs));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

// The three-step constructor of TempTclVariable and TempTclNamespace.
PyObject *temp_init(PyObject *cls, const Params &params, PyObject *const *args, Py_ssize_t nargs,
                    PyObject *kwnames) {
    PyObject *tmpl;
    Ref kwargs;
    if (!params.bind(args, nargs, kwnames, &tmpl, nullptr, &kwargs)) return nullptr;
    return init_next(cls, args[0], tmpl, kwargs.get());
}

// The common __enter__: the next class's __enter__ if any, else self.
PyObject *enter_next(PyObject *cls, PyObject *self) {
    Ref f = Ref::steal(super_attr(cls, self, names.dunder_enter));
    if (!f && PyErr_Occurred()) return nullptr;
    int t = f ? PyObject_IsTrue(f.get()) : 0;
    if (t < 0) return nullptr;
    if (t) return PyObject_CallNoArgs(f.get());
    return Py_NewRef(self);
}

// The common end of __exit__: the next class's __exit__(*exc_info) if any,
// else False.
PyObject *exit_next(PyObject *cls, PyObject *self, PyObject *const *exc_info, Py_ssize_t n) {
    Ref f = Ref::steal(super_attr(cls, self, names.dunder_exit));
    if (!f && PyErr_Occurred()) return nullptr;
    int t = f ? PyObject_IsTrue(f.get()) : 0;
    if (t < 0) return nullptr;
    if (t) return PyObject_Vectorcall(f.get(), exc_info, (size_t)n, nullptr);
    Py_RETURN_FALSE;
}

// self.delete(), dropping a TclError only.
bool delete_quietly(PyObject *self) {
    Ref r = Ref::steal(call_method0(self, names.delete_));
    if (r) return true;
    if (error_is_tcl()) {
        PyErr_Clear();
        return true;
    }
    return false;
}

// TempTclVariable -----------------------------------------------------------

const Params tv_init_params{
        "TempTclVariable", SelfArg::first, {{"var_name", TEMPLATE_TEXT}}, nullptr, "kwargs"};
METHOD(tv_init) { return temp_init(classes.TempTclVariable.ptr(), tv_init_params, args, nargs, kwnames); }

METHOD(tv_enter) {
    if (!enter_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    return enter_next(classes.TempTclVariable.ptr(), args[0]);
}

METHOD(tv_exit) {
    if (!exit_args(args, nargs, kwnames)) return nullptr;
    PyObject *self = args[0];
    PyObject *kwv[2] = {self, Py_True};
    Ref r = Ref::steal(
            PyObject_VectorcallMethod(names.unset, kwv, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, kw_nocomplain));
    if (!r) return nullptr;
    return exit_next(classes.TempTclVariable.ptr(), self, args + 1, nargs - 1);
}

// TempTclCommand ------------------------------------------------------------

const Params tc_init_params{
        "TempTclCommand", SelfArg::first, {{"func", "None"}, {"cmd_name", TEMPLATE_TEXT}}, nullptr, "kwargs"};
METHOD(tc_init) {
    PyObject *a[2];
    Ref kwargs;
    if (!tc_init_params.bind(args, nargs, kwnames, a, nullptr, &kwargs)) return nullptr;
    PyObject *self = args[0];
    Ref r = Ref::steal(init_next(classes.TempTclCommand.ptr(), self, a[1], kwargs.get()));
    if (!r) return nullptr;
    int t = a[0] ? PyObject_IsTrue(a[0]) : 0;
    if (t < 0) return nullptr;
    if (t) {
        r = Ref::steal(call_method1(self, names.createcommand, a[0]));
        if (!r) return nullptr;
        PyObject *pair[2] = {self, a[0]};
        Ref uw = Ref::steal(PyObject_GetAttr(state->functools, names.update_wrapper));
        if (!uw) return nullptr;
        r = Ref::steal(PyObject_Vectorcall(uw.get(), pair, 2, nullptr));
        if (!r) return nullptr;
    }
    Py_RETURN_NONE;
}

METHOD(tc_enter) {
    if (!enter_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    return enter_next(classes.TempTclCommand.ptr(), args[0]);
}

METHOD(tc_exit) {
    if (!exit_args(args, nargs, kwnames)) return nullptr;
    if (!delete_quietly(args[0])) return nullptr;
    return exit_next(classes.TempTclCommand.ptr(), args[0], args + 1, nargs - 1);
}

METHOD(tc_del) {
    if (!del_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    PyObject *wrapped = PyObject_GetAttr(self, names.dunder_wrapped);
    if (wrapped) {
        Py_DECREF(wrapped);
        if (!delete_quietly(self)) return nullptr;
    } else if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
    } else {
        return nullptr;
    }
    Ref f = Ref::steal(super_attr(classes.TempTclCommand.ptr(), self, names.dunder_del));
    if (!f && PyErr_Occurred()) return nullptr;
    int t = f ? PyObject_IsTrue(f.get()) : 0;
    if (t < 0) return nullptr;
    if (t) {
        Ref r = Ref::steal(PyObject_CallNoArgs(f.get()));
        if (!r) return nullptr;
    }
    Py_RETURN_NONE;
}

// TempTclNamespace ----------------------------------------------------------

// Whether the name stands for the global namespace in Tcl: nothing but
// colons, two or more (Tcl reads any run of them as one separator).
bool names_global_namespace(PyObject *self, int *result) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return false;
    *result = 0;
    if (!PyUnicode_Check(ns.get())) return true;
    Py_ssize_t n = PyUnicode_GET_LENGTH(ns.get());
    if (n < 2) return true;
    int kind = PyUnicode_KIND(ns.get());
    const void *data = PyUnicode_DATA(ns.get());
    for (Py_ssize_t i = 0; i < n; i++)
        if (PyUnicode_READ(kind, data, i) != ':') return true;
    *result = 1;
    return true;
}

const Params tn_init_params{"TempTclNamespace", SelfArg::first, {{"ns", TEMPLATE_TEXT}}, nullptr, "kwargs"};
METHOD(tn_init) { return temp_init(classes.TempTclNamespace.ptr(), tn_init_params, args, nargs, kwnames); }

METHOD(tn_enter) {
    if (!enter_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    // A temporary namespace is deleted, with everything in it, on exit:
    // never let that be the global namespace.
    int global;
    if (!names_global_namespace(args[0], &global)) return nullptr;
    if (global) {
        PyErr_SetString(PyExc_ValueError, "Cannot use the global namespace as a temporary namespace");
        return nullptr;
    }
    Ref result = Ref::steal(enter_next(classes.TempTclNamespace.ptr(), args[0]));
    if (!result) return nullptr;
    Ref r = Ref::steal(call_method0(args[0], names.create));
    if (!r) return nullptr;
    return result.release();
}

METHOD(tn_exit) {
    if (!exit_args(args, nargs, kwnames)) return nullptr;
    int global;
    if (!names_global_namespace(args[0], &global)) return nullptr;
    if (!global && !delete_quietly(args[0])) return nullptr;
    return exit_next(classes.TempTclNamespace.ptr(), args[0], args + 1, nargs - 1);
}

// The constant keyword-name tuples, made once.
void init_kwnames() {
    if (kw_cls_id) return;
    kw_cls_id = tuple_of({names.cls, names.id});
    kw_nocomplain = tuple_of({names.nocomplain});
    if (!kw_cls_id || !kw_nocomplain) throw nb::python_error();
}

nb::object make_temp(const char *name, const char *doc, std::initializer_list<PyObject *> bases,
                     std::initializer_list<MethodDef> defs) {
    init_kwnames();
    PyObject *cls = make_class(name, name, doc, bases, defs);
    if (!cls) throw nb::python_error();
    return nb::steal(cls);
}

}  // namespace

nb::object make_TempTclVariable() {
    return make_temp("TempTclVariable",
                     "A TclVariable with a generated unique name, unset when its `with` block ends.",
                     {classes.TclVariable.ptr()},
                     {{"__init__", tv_init, tv_init_params},
                      {"__enter__", tv_enter, enter_params},
                      {"__exit__", tv_exit, exit_params}});
}

nb::object make_TempTclArrayVariable() {
    return make_temp("TempTclArrayVariable",
                     "A TclArrayVariable with a generated unique name, unset when its `with` block ends.",
                     {classes.TempTclVariable.ptr(), classes.TclArrayVariable.ptr()}, {});
}

nb::object make_TempTclCommand() {
    return make_temp("TempTclCommand",
                     "A TclCommand with a generated unique name; with a callable, the callable is\n"
                     "registered under that name. The command is deleted when the `with` block\n"
                     "ends, and (for a registered callable) when the object is destroyed.",
                     {classes.TclCommand.ptr()},
                     {{"__init__", tc_init, tc_init_params},
                      {"__enter__", tc_enter, enter_params},
                      {"__exit__", tc_exit, exit_params},
                      {"__del__", tc_del, del_params}});
}

nb::object make_TempTclNamespace() {
    return make_temp("TempTclNamespace",
                     "A TclNamespace with a generated unique name, created when its `with` block\n"
                     "starts and deleted, with everything in it, when the block ends.",
                     {classes.TclNamespace.ptr()},
                     {{"__init__", tn_init, tn_init_params},
                      {"__enter__", tn_enter, enter_params},
                      {"__exit__", tn_exit, exit_params}});
}

}  // namespace oskra::ns
