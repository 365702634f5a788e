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

// The variable listing: the variables `::info vars` lists that exist (it
// also lists variables that are only declared), run as a lambda so that
// its own variable touches nothing of the caller, which it reaches through
// uplevel. The one optional argument is the pattern.
constexpr const char *VARS_LAMBDA =
        "args {::lmap v [::uplevel 1 [::list ::info vars {*}$args]] "
        "{::if {[::uplevel 1 [::list ::info exists $v]]} {::set v} else ::continue}}";

bool init_consts() {
    Ref lambda = Ref::steal(PyUnicode_FromString(VARS_LAMBDA));
    if (!lambda) return false;
    k.kw_tcl = tuple_of({names.tcl});
    k.kw_array_index = tuple_of({names.array_index});
    k.kw_pattern = tuple_of({names.pattern});
    k.kw_unset = tuple_of({names.array_index, names.nocomplain});
    k.info_vars = tuple_of({names.apply_cmd, lambda.get()});
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

// The pattern for everything directly in the namespace `name` (non-empty):
// the name without its trailing separators, then "::*". Tcl takes the
// namespace part of a pattern literally.
PyObject *all_below(PyObject *name) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    while (n > 0 && PyUnicode_READ_CHAR(name, n - 1) == ':') --n;
    Ref head = Ref::steal(PyUnicode_Substring(name, 0, n));
    if (!head) return nullptr;
    return PyUnicode_Concat(head.get(), names.all_below);
}

// What follows the last "::" of a qualified name (all of it if none).
PyObject *name_tail(PyObject *name) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    Py_ssize_t at = PyUnicode_Find(name, names.colons, 0, n, -1);
    if (at == -2) return nullptr;
    if (at < 0) return Py_NewRef(name);
    return PyUnicode_Substring(name, at + 2, n);
}

// The names a listing gives: words + the namespace's pattern, issued where
// the caller stands (a listing never creates the namespace, and a missing
// one lists nothing), split by self.ns.tcl.cast_list; each name is the text
// after the namespace part. The namespace with the empty name lists what
// the command sees where it runs, as it is.
PyObject *list_names(PyObject *view, PyObject *words) {
    Ref ns = Ref::steal(PyObject_GetAttr(view, names.ns));
    if (!ns) return nullptr;
    Ref name = Ref::steal(wf_str(ns.get(), "listing"));
    if (!name) return nullptr;
    Ref tcl = Ref::steal(PyObject_GetAttr(ns.get(), names.tcl));
    if (!tcl) return nullptr;
    Ref tk = Ref::steal(PyObject_GetAttr(tcl.get(), names.tk));
    if (!tk) return nullptr;
    bool qualified = PyUnicode_GET_LENGTH(name.get()) > 0;
    Ref cmd = Ref::borrow(words);
    if (qualified) {
        Ref pattern = Ref::steal(all_below(name.get()));
        if (!pattern) return nullptr;
        Ref one = Ref::steal(PyTuple_Pack(1, pattern.get()));
        if (!one) return nullptr;
        cmd = Ref::steal(PySequence_Concat(words, one.get()));
        if (!cmd) return nullptr;
    }
    Ref text = Ref::steal(call_words_text(tk.get(), cmd.get()));
    if (!text) return nullptr;
    Ref list = Ref::steal(call_method1(tcl.get(), names.cast_list, text.get()));
    if (!list) return nullptr;
    Ref items = Ref::steal(PySequence_Tuple(list.get()));
    if (!items) return nullptr;
    Py_ssize_t n = PyTuple_GET_SIZE(items.get());
    Ref out = Ref::steal(PyTuple_New(n));
    if (!out) return nullptr;
    for (Py_ssize_t i = 0; i < n; i++) {
        // A cast_list of our own gives str; any other is asked for text.
        Ref item = Ref::steal(wf_str(PyTuple_GET_ITEM(items.get(), i), "listing"));
        if (!item) return nullptr;
        PyObject *key = qualified ? name_tail(item.get()) : item.release();
        if (!key) return nullptr;
        PyTuple_SET_ITEM(out.get(), i, key);
    }
    return out.release();
}

}  // namespace

// TclNamespace.join(self.ns, name)
// A key that is one simple name with a single ":" in it ("file:counter") is
// a valid Tcl variable or command name, though no valid namespace name: it
// is placed under the namespace as it is, so that every name a listing
// gives can be read back.
bool colon_in_simple_name(PyObject *name) {
    if (!PyUnicode_CheckExact(name)) return false;
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    if (n == 0 || PyUnicode_READ_CHAR(name, 0) == ':') return false;
    return PyUnicode_FindChar(name, ':', 0, n, 1) >= 0 && PyUnicode_Find(name, names.colons, 0, n, 1) == -1;
}

PyObject *joined(PyObject *self, PyObject *name) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return nullptr;
    if (!colon_in_simple_name(name)) {
        PyObject *pair[2] = {ns.get(), name};
        return ns_join_raw(pair, 2);
    }
    // The namespace joined with a one-letter stand-in, which is then
    // replaced by the name.
    PyObject *pair[2] = {ns.get(), names.stand_in};
    Ref placed = Ref::steal(ns_join_raw(pair, 2));
    if (!placed) return nullptr;
    Ref head = Ref::steal(PyUnicode_Substring(placed.get(), 0, PyUnicode_GET_LENGTH(placed.get()) - 1));
    return head ? PyUnicode_Concat(head.get(), name) : nullptr;
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

const Params view_init_params{"__init__", SelfArg::first, {{"ns"}}};
PyObject *view_init(PyObject *cls, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[1];
    if (!view_init_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
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

const Params names_iter_params{"__iter__", SelfArg::first, {}};

PyObject *new_iter(PyObject *view, PyObject *words) { return lazy_names(view, list_names, words); }

// len(view): the number of names one listing yields.
const Params view_len_params{"__len__", SelfArg::first, {}};
METHOD(view_len) {
    if (!view_len_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
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
const Params view_repr_params{"__repr__", SelfArg::first, {}};
METHOD(view_repr) {
    if (!view_repr_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    Ref cls = Ref::steal(PyType_GetQualName(Py_TYPE(args[0])));
    Ref ns = Ref::steal(PyObject_GetAttr(args[0], names.ns));
    if (!cls || !ns) return nullptr;
    return PyUnicode_FromFormat("%U(%R)", cls.get(), ns.get());
}

}  // namespace view

bool make_views() { return view::init_consts() && view::make_variable_views() && view::make_command_views(); }

}  // namespace oskra::ns
