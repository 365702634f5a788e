// The mapping views nested in TclNamespace: what they share (the
// constants, building the object a key stands for, the listing iterator)
// and their assembly. The views themselves are in variable_views.cpp and
// command_views.cpp.
#include <nanobind/nanobind.h>

#include "lazy_names.h"
#include "view_common.h"

namespace oskra::ns {

ViewClasses views;

namespace view {

Consts k;

namespace {

bool init_consts() {
    k.kw_tcl = tuple_of({names.tcl});
    k.kw_array_index = tuple_of({names.array_index});
    k.kw_pattern = tuple_of({names.pattern});
    k.kw_unset = tuple_of({names.array_index, names.nocomplain});
    k.info_vars = tuple_of({names.info_cmd, names.vars});
    k.info_commands = tuple_of({names.info_cmd, names.commands});
    k.info_procs = tuple_of({names.info_cmd, names.procs});
    return k.kw_tcl && k.kw_array_index && k.kw_pattern && k.kw_unset && k.info_vars && k.info_commands &&
            k.info_procs;
}

// self.ns.tcl
PyObject *view_tcl(PyObject *self) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return nullptr;
    return PyObject_GetAttr(ns.get(), names.tcl);
}

// self.ns.tcl.cast_list(self.ns.call(words))
PyObject *list_names(PyObject *view, PyObject *words) {
    Ref ns = Ref::steal(PyObject_GetAttr(view, names.ns));
    if (!ns) return nullptr;
    Ref result;
    if (is_type(ns.get(), classes.TclNamespace.ptr()) || is_type(ns.get(), classes.TempTclNamespace.ptr()))
        // The same command in the same namespace; asked for as one string,
        // the names come back as one list text instead of one Tcl object
        // wrapper per name, which would then each need converting.
        result = Ref::steal(ns_eval_words(ns.get(), words));
    else result = Ref::steal(call_method1(ns.get(), names.call, words));
    if (!result) return nullptr;
    Ref tcl = Ref::steal(PyObject_GetAttr(ns.get(), names.tcl));
    if (!tcl) return nullptr;
    Ref list = Ref::steal(call_method1(tcl.get(), names.cast_list, result.get()));
    if (!list) return nullptr;
    Ref items = Ref::steal(PySequence_Tuple(list.get()));
    if (!items) return nullptr;
    // The Tcl layer hands some names back as Tcl objects (a variable name
    // has its own Tcl type): the names are yielded as strings.
    Py_ssize_t n = PyTuple_GET_SIZE(items.get());
    Py_ssize_t first = 0;
    while (first < n && PyUnicode_CheckExact(PyTuple_GET_ITEM(items.get(), first))) first++;
    if (first == n) return items.release();
    Ref out = Ref::steal(PyTuple_New(n));
    if (!out) return nullptr;
    for (Py_ssize_t i = 0; i < n; i++) {
        PyObject *e = PyTuple_GET_ITEM(items.get(), i);
        PyObject *s = PyUnicode_CheckExact(e) ? Py_NewRef(e) : PyObject_Str(e);
        if (!s) return nullptr;
        PyTuple_SET_ITEM(out.get(), i, s);
    }
    items = out;
    return items.release();
}

}  // namespace

// TclNamespace.join(self.ns, name)
PyObject *joined(PyObject *self, PyObject *name) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return nullptr;
    PyObject *pair[2] = {ns.get(), name};
    return ns_join_raw(pair, 2);
}

// cls(first, *extra, tcl=self.ns.tcl, **kwargs); kwargs may be null and
// must not hold "tcl".
PyObject *build(const char *fname, PyObject *self, PyObject *cls, PyObject *first, PyObject *extra,
                PyObject *kwargs) {
    Ref tcl = Ref::steal(view_tcl(self));
    if (!tcl) return nullptr;
    bool no_extra = !extra || PyTuple_GET_SIZE(extra) == 0;
    if (no_extra && (!kwargs || PyDict_GET_SIZE(kwargs) == 0)) {
        PyObject *stack[3] = {nullptr, first, tcl.get()};
        return PyObject_Vectorcall(cls, stack + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, k.kw_tcl);
    }
    Ref kw = Ref::steal(kwargs ? PyDict_Copy(kwargs) : PyDict_New());
    if (!kw) return nullptr;
    int has = PyDict_Contains(kw.get(), names.tcl);
    if (has < 0) return nullptr;
    if (has) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument 'tcl'", fname);
        return nullptr;
    }
    if (PyDict_SetItem(kw.get(), names.tcl, tcl.get()) < 0) return nullptr;
    Py_ssize_t n = extra ? PyTuple_GET_SIZE(extra) : 0;
    Ref args = Ref::steal(PyTuple_New(n + 1));
    if (!args) return nullptr;
    PyTuple_SET_ITEM(args.get(), 0, Py_NewRef(first));
    for (Py_ssize_t i = 0; i < n; i++)
        PyTuple_SET_ITEM(args.get(), i + 1, Py_NewRef(PyTuple_GET_ITEM(extra, i)));
    return PyObject_Call(cls, args.get(), kw.get());
}

// The default factories: byref(name) of a variable and of a command view.
PyObject *var_of(PyObject *self, PyObject *name) {
    Ref n = Ref::steal(joined(self, name));
    if (!n) return nullptr;
    return build("byref", self, classes.TclVariable.ptr(), n.get(), nullptr, nullptr);
}

PyObject *cmd_of(PyObject *self, PyObject *name) {
    Ref n = Ref::steal(joined(self, name));
    if (!n) return nullptr;
    Ref one = Ref::steal(PyTuple_Pack(1, n.get()));
    if (!one) return nullptr;
    return build("byref", self, classes.TclCommand.ptr(), one.get(), nullptr, nullptr);
}

// obj.<method>(*args, **kw) on a freshly built object, returning the result
// or None when `none` is set.
PyObject *on(PyObject *obj, PyObject *method, std::initializer_list<PyObject *> args, PyObject *kwnames,
             bool none) {
    if (!obj) return nullptr;
    Ref o = Ref::steal(obj);
    Ref r = Ref::steal(call_method(o.get(), method, args.begin(),
                                   args.size() - (kwnames ? (size_t)PyTuple_GET_SIZE(kwnames) : 0), kwnames));
    if (!r) return nullptr;
    if (none) Py_RETURN_NONE;
    return r.release();
}

PyObject *view_init(PyObject *cls, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    constexpr int NREQ = 1;
    ARGS("__init__", "ns");
    if (state->asserts_enabled) {
        int ok = PyObject_IsInstance(a[0], classes.TclNamespace.ptr());
        if (ok < 0) return nullptr;
        if (!ok) {
            PyErr_SetNone(PyExc_AssertionError);
            return nullptr;
        }
    }
    Ref sup = Ref::steal(PyObject_CallFunctionObjArgs((PyObject *)&PySuper_Type, cls, self, nullptr));
    if (!sup) return nullptr;
    Ref r = Ref::steal(call_method0(sup.get(), names.dunder_init));
    if (!r) return nullptr;
    if (PyObject_SetAttr(self, names.ns, a[0]) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *new_iter(PyObject *view, PyObject *words) { return lazy_names(view, list_names, words); }

// len(view): the number of names one listing yields.
METHOD(view_len) {
    if (!self_only("__len__", args, nargs, kwnames)) return nullptr;
    Ref it = Ref::steal(PyObject_GetIter(args[0]));
    if (!it) return nullptr;
    Py_ssize_t n = 0;
    for (;;) {
        PyObject *item = PyIter_Next(it.get());
        if (!item) break;
        Py_DECREF(item);
        n++;
    }
    if (PyErr_Occurred()) return nullptr;
    return PyLong_FromSsize_t(n);
}

// TclNamespace.VariablesView(TclNamespace('::shop')): the view's class and
// the namespace object it shows.
METHOD(view_repr) {
    if (!self_only("__repr__", args, nargs, kwnames)) return nullptr;
    Ref cls = Ref::steal(PyType_GetQualName(Py_TYPE(args[0])));
    Ref ns = Ref::steal(PyObject_GetAttr(args[0], names.ns));
    if (!cls || !ns) return nullptr;
    return PyUnicode_FromFormat("%U(%R)", cls.get(), ns.get());
}

}  // namespace view

bool make_views() { return view::init_consts() && view::make_variable_views() && view::make_command_views(); }

}  // namespace oskra::ns
