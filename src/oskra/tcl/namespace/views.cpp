// The four mapping views nested in TclNamespace: variables (as strings and
// as typed objects), commands and procedures. A view holds its namespace
// object and nothing else; every operation builds a fresh TclVariable or
// TclCommand for the key joined onto the namespace's name and asks Tcl.
#include <nanobind/nanobind.h>

#include "namespace/ns_private.h"
#include "namespace/parts.h"

namespace oskra::ns {

ViewClasses views;

namespace {

struct Consts {
    PyObject *kw_tcl, *kw_array_index, *kw_pattern, *kw_unset;  // kwnames tuples
    PyObject *info_vars, *info_commands, *info_procs;           // listing words
} k;

bool init_consts() {
    Ref info = Ref::steal(PyUnicode_InternFromString("::info"));
    Ref vars = Ref::steal(PyUnicode_InternFromString("vars"));
    Ref commands = Ref::steal(PyUnicode_InternFromString("commands"));
    Ref procs = Ref::steal(PyUnicode_InternFromString("procs"));
    if (!info || !vars || !commands || !procs) return false;
    k.kw_tcl = tuple_of({names.tcl});
    k.kw_array_index = tuple_of({names.array_index});
    k.kw_pattern = tuple_of({names.pattern});
    k.kw_unset = tuple_of({names.array_index, names.nocomplain});
    k.info_vars = tuple_of({info.get(), vars.get()});
    k.info_commands = tuple_of({info.get(), commands.get()});
    k.info_procs = tuple_of({info.get(), procs.get()});
    return k.kw_tcl && k.kw_array_index && k.kw_pattern && k.kw_unset && k.info_vars &&
           k.info_commands && k.info_procs;
}

inline bool is_type(PyObject *self, PyObject *cls) { return (PyObject *)Py_TYPE(self) == cls; }

// TclNamespace.join(self.ns, name)
PyObject *joined(PyObject *self, PyObject *name) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return nullptr;
    PyObject *pair[2] = {ns.get(), name};
    return ns_join_raw(pair, 2);
}

// self.ns.tcl
PyObject *view_tcl(PyObject *self) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return nullptr;
    return PyObject_GetAttr(ns.get(), names.tcl);
}

// cls(first, *extra, tcl=self.ns.tcl, **kwargs); kwargs may be null and
// must not hold "tcl".
PyObject *build(const char *fname, PyObject *self, PyObject *cls, PyObject *first,
                PyObject *extra, PyObject *kwargs) {
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
    for (Py_ssize_t i = 0; i < n; i++) PyTuple_SET_ITEM(args.get(), i + 1, Py_NewRef(PyTuple_GET_ITEM(extra, i)));
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
PyObject *on(PyObject *obj, PyObject *method, std::initializer_list<PyObject *> args,
             PyObject *kwnames = nullptr, bool none = false) {
    if (!obj) return nullptr;
    Ref o = Ref::steal(obj);
    Ref r = Ref::steal(call_method(o.get(), method, args.begin(),
                                   args.size() - (kwnames ? (size_t)PyTuple_GET_SIZE(kwnames) : 0),
                                   kwnames));
    if (!r) return nullptr;
    if (none) Py_RETURN_NONE;
    return r.release();
}

inline PyObject *or_none(PyObject *o) { return o ? o : Py_None; }
inline PyObject *or_false(PyObject *o) { return o ? o : Py_False; }

#define ARGS(fname, ...)                                                               \
    static const char *const kw[] = {__VA_ARGS__};                                    \
    constexpr int NK = sizeof(kw) / sizeof(kw[0]);                                     \
    PyObject *a[NK];                                                                   \
    if (!parse_method(fname, kw, NK, NREQ, args, nargs, kwnames, a)) return nullptr; \
    PyObject *self = args[0];

#define METHOD(name) PyObject *name(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)

// __init__ of both root views -------------------------------------------

PyObject *view_init(PyObject *cls, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    constexpr int NREQ = 1;
    ARGS("__init__", "ns");
    if (names.asserts_enabled) {
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

METHOD(vv_init) { return view_init(views.VariablesView, args, nargs, kwnames); }
METHOD(cv_init) { return view_init(views.CommandsView, args, nargs, kwnames); }

// VariablesView ------------------------------------------------------------

METHOD(vv_byref) {
    constexpr int NREQ = 1;
    static const char *const kw[] = {"var_name"};
    PyObject *var_name;
    Ref extra, kwargs;
    if (!parse_method("byref", kw, 1, NREQ, args, nargs, kwnames, &var_name, &extra, &kwargs))
        return nullptr;
    PyObject *self = args[0];
    PyObject *var_type = classes.TclVariable.ptr();
    Ref vt;
    if (kwargs) {
        PyObject *given = PyDict_GetItemWithError(kwargs.get(), names.var_type);
        if (given) {
            vt = Ref::borrow(given);
            var_type = given;
            if (PyDict_DelItem(kwargs.get(), names.var_type) < 0) return nullptr;
        } else if (PyErr_Occurred()) {
            return nullptr;
        }
    }
    Ref n = Ref::steal(joined(self, var_name));
    if (!n) return nullptr;
    return build("byref", self, var_type, n.get(), extra.get(), kwargs.get());
}

METHOD(vv_array_byref) {
    constexpr int NREQ = 1;
    static const char *const kw[] = {"var_name"};
    PyObject *var_name;
    Ref extra, kwargs;
    if (!parse_method("array_byref", kw, 1, NREQ, args, nargs, kwnames, &var_name, &extra, &kwargs))
        return nullptr;
    PyObject *self = args[0];
    if (kwargs) {
        int has = PyDict_Contains(kwargs.get(), names.var_type);
        if (has < 0) return nullptr;
        if (has) {
            PyErr_SetString(PyExc_TypeError,
                            "byref() got multiple values for keyword argument 'var_type'");
            return nullptr;
        }
    }
    Ref n = Ref::steal(joined(self, var_name));
    if (!n) return nullptr;
    return build("byref", self, classes.TclArrayVariable.ptr(), n.get(), extra.get(), kwargs.get());
}

PyObject *vv_get_impl(PyObject *self, PyObject *name) {
    return on(var_of(self, name), names.get_str, {});
}

METHOD(vv_get) {
    constexpr int NREQ = 1;
    ARGS("get", "var_name");
    return vv_get_impl(self, a[0]);
}

PyObject *vv_set_impl(PyObject *self, PyObject *name, PyObject *value, PyObject *index) {
    return on(var_of(self, name), names.set, {value, or_none(index)}, k.kw_array_index);
}

METHOD(vv_set) {
    constexpr int NREQ = 2;
    ARGS("set", "var_name", "value", "array_index");
    return vv_set_impl(self, a[0], a[1], a[2]);
}

PyObject *vv_unset_impl(PyObject *self, PyObject *name, PyObject *index, PyObject *nocomplain) {
    return on(var_of(self, name), names.unset, {or_none(index), or_false(nocomplain)}, k.kw_unset,
              true);
}

METHOD(vv_unset) {
    constexpr int NREQ = 1;
    ARGS("unset", "var_name", "array_index", "nocomplain");
    return vv_unset_impl(self, a[0], a[1], a[2]);
}

METHOD(vv_array_get) {
    constexpr int NREQ = 1;
    ARGS("array_get", "var_name", "pattern");
    return on(var_of(self, a[0]), names.array_get_str, {or_none(a[1])}, k.kw_pattern);
}

METHOD(vv_array_set) {
    constexpr int NREQ = 2;
    ARGS("array_set", "var_name", "value");
    return on(var_of(self, a[0]), names.array_set, {a[1]}, nullptr, true);
}

METHOD(vv_array_unset) {
    constexpr int NREQ = 1;
    ARGS("array_unset", "var_name", "pattern");
    return on(var_of(self, a[0]), names.array_unset, {or_none(a[1])}, k.kw_pattern, true);
}

METHOD(vv_array_names) {
    constexpr int NREQ = 1;
    ARGS("array_names", "var_name", "pattern");
    return on(var_of(self, a[0]), names.array_names, {or_none(a[1])}, k.kw_pattern);
}

METHOD(vv_is_array) {
    constexpr int NREQ = 1;
    ARGS("is_array", "var_name");
    return on(var_of(self, a[0]), names.is_array, {});
}

PyObject *vv_exists_impl(PyObject *self, PyObject *name) {
    return on(var_of(self, name), names.exists, {Py_None}, k.kw_array_index);
}

METHOD(vv_exists) {
    constexpr int NREQ = 1;
    ARGS("exists", "var_name", "array_index");
    return on(var_of(self, a[0]), names.exists, {or_none(a[1])}, k.kw_array_index);
}

PyObject *ov_get_impl(PyObject *self, PyObject *name, PyObject *index) {
    return on(var_of(self, name), names.get_obj, {or_none(index)}, k.kw_array_index);
}

METHOD(ov_get) {
    constexpr int NREQ = 1;
    ARGS("get", "var_name", "array_index");
    return ov_get_impl(self, a[0], a[1]);
}

METHOD(ov_array_get) {
    constexpr int NREQ = 1;
    ARGS("array_get", "var_name", "pattern");
    return on(var_of(self, a[0]), names.array_get_obj, {or_none(a[1])}, k.kw_pattern);
}

// self.get(name), self.exists(name), ...: the C++ body for our own classes,
// a method call for a subclass that may override it.
PyObject *dispatch_get(PyObject *self, PyObject *name) {
    if (is_type(self, views.VariablesView)) return vv_get_impl(self, name);
    if (is_type(self, views.ObjectsView)) return ov_get_impl(self, name, nullptr);
    return call_method1(self, names.get, name);
}

METHOD(vv_getitem) {
    constexpr int NREQ = 1;
    ARGS("__getitem__", "name");
    PyObject *r = dispatch_get(self, a[0]);
    if (r) return r;
    if (error_is_tcl() || PyErr_ExceptionMatches(PyExc_ValueError))
        return raise_key_error_from_current();
    return nullptr;
}

METHOD(vv_contains) {
    constexpr int NREQ = 1;
    ARGS("__contains__", "name");
    if (is_type(self, views.VariablesView) || is_type(self, views.ObjectsView))
        return vv_exists_impl(self, a[0]);
    return call_method1(self, names.exists, a[0]);
}

METHOD(vv_setitem) {
    constexpr int NREQ = 2;
    ARGS("__setitem__", "name", "value");
    if (is_type(self, views.VariablesView) || is_type(self, views.ObjectsView)) {
        Ref r = Ref::steal(vv_set_impl(self, a[0], a[1], nullptr));
        if (!r) return nullptr;
        Py_RETURN_NONE;
    }
    PyObject *pair[2] = {a[0], a[1]};
    Ref r = Ref::steal(call_method(self, names.set, pair, 2));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

METHOD(vv_delitem) {
    constexpr int NREQ = 1;
    ARGS("__delitem__", "name");
    Ref r = Ref::steal((is_type(self, views.VariablesView) || is_type(self, views.ObjectsView))
                           ? vv_unset_impl(self, a[0], nullptr, nullptr)
                           : call_method1(self, names.unset, a[0]));
    if (r) Py_RETURN_NONE;
    if (error_is_tcl()) return raise_key_error_from_current();
    return nullptr;
}

// Listing: a lazy iterator over the names Tcl lists -------------------------

struct NameIter {
    PyObject_HEAD
    PyObject *view;   // the view; dropped once the names are fetched
    PyObject *words;  // the listing command (borrowed constant)
    PyObject *items;  // the names, a tuple, once fetched
    Py_ssize_t pos;
};

PyTypeObject *NameIterType = nullptr;

int ni_traverse(PyObject *o, visitproc visit, void *arg) {
    auto *it = (NameIter *)o;
    Py_VISIT(Py_TYPE(o));
    Py_VISIT(it->view);
    Py_VISIT(it->items);
    return 0;
}

int ni_clear(PyObject *o) {
    auto *it = (NameIter *)o;
    Py_CLEAR(it->view);
    Py_CLEAR(it->items);
    return 0;
}

void ni_dealloc(PyObject *o) {
    PyTypeObject *tp = Py_TYPE(o);
    PyObject_GC_UnTrack(o);
    ni_clear(o);
    tp->tp_free(o);
    Py_DECREF(tp);
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
    else
        result = Ref::steal(call_method1(ns.get(), names.call, words));
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

PyObject *ni_next(PyObject *o) {
    auto *it = (NameIter *)o;
    if (!it->items) {
        if (!it->view) return nullptr;  // exhausted or failed
        PyObject *items = list_names(it->view, it->words);
        Py_CLEAR(it->view);
        if (!items) return nullptr;
        it->items = items;
    }
    if (it->pos < PyTuple_GET_SIZE(it->items)) return Py_NewRef(PyTuple_GET_ITEM(it->items, it->pos++));
    Py_CLEAR(it->items);
    return nullptr;
}

bool make_iter_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, (void *)ni_dealloc},  {Py_tp_traverse, (void *)ni_traverse},
        {Py_tp_clear, (void *)ni_clear},      {Py_tp_iter, (void *)PyObject_SelfIter},
        {Py_tp_iternext, (void *)ni_next},    {0, nullptr},
    };
    static PyType_Spec spec = {"oskra.tcl.namespace.name_iterator", sizeof(NameIter), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                               slots};
    NameIterType = (PyTypeObject *)PyType_FromSpec(&spec);
    return NameIterType != nullptr;
}

PyObject *new_iter(PyObject *view, PyObject *words) {
    auto *it = PyObject_GC_New(NameIter, NameIterType);
    if (!it) return nullptr;
    it->view = Py_NewRef(view);
    it->words = words;
    it->items = nullptr;
    it->pos = 0;
    PyObject_GC_Track((PyObject *)it);
    return (PyObject *)it;
}

// iter(view): the names of one listing command (a member of Consts).
template <PyObject *Consts::*listing>
METHOD(names_iter) {
    if (!self_only("__iter__", args, nargs, kwnames)) return nullptr;
    return new_iter(args[0], k.*listing);
}

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

// CommandsView ---------------------------------------------------------------

METHOD(cv_byref) {
    static const char *const kw[] = {"cmd_name"};
    PyObject *cmd_name;
    Ref extra, kwargs;
    if (!parse_method("byref", kw, 1, 1, args, nargs, kwnames, &cmd_name, &extra, &kwargs))
        return nullptr;
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

bool make_views() {
    if (!init_consts() || !make_iter_type()) return false;
    views.VariablesView = make_class(
        "VariablesView", "TclNamespace.VariablesView",
        "The variables of a namespace as a mapping: name -> value as a string.", {classes.MutableMapping.ptr()},
        {{"__init__", vv_init, "($self, ns)"},
         {"byref", vv_byref, "($self, var_name, *args, **kwargs)"},
         {"array_byref", vv_array_byref, "($self, var_name, *args, **kwargs)"},
         {"get", vv_get, "($self, var_name)"},
         {"set", vv_set, "($self, var_name, value, array_index=None)"},
         {"unset", vv_unset, "($self, var_name, array_index=None, nocomplain=False)"},
         {"array_get", vv_array_get, "($self, var_name, pattern=None)"},
         {"array_set", vv_array_set, "($self, var_name, value)"},
         {"array_unset", vv_array_unset, "($self, var_name, pattern=None)"},
         {"array_names", vv_array_names, "($self, var_name, pattern=None)"},
         {"is_array", vv_is_array, "($self, var_name)"},
         {"exists", vv_exists, "($self, var_name, array_index=None)"},
         {"__getitem__", vv_getitem, "($self, name, /)"},
         {"__contains__", vv_contains, "($self, name, /)"},
         {"__setitem__", vv_setitem, "($self, name, value, /)"},
         {"__delitem__", vv_delitem, "($self, name, /)"},
         {"__len__", view_len, "($self, /)"},
         {"__iter__", names_iter<&Consts::info_vars>, "($self, /)"}});
    if (!views.VariablesView) return false;
    views.ObjectsView = make_class(
        "ObjectsView", "TclNamespace.ObjectsView",
        "The variables of a namespace as a mapping: name -> typed value.", {views.VariablesView},
        {{"get", ov_get, "($self, var_name, array_index=None)"},
         {"array_get", ov_array_get, "($self, var_name, pattern=None)"}});
    if (!views.ObjectsView) return false;
    views.CommandsView = make_class(
        "CommandsView", "TclNamespace.CommandsView",
        "The commands of a namespace as a mapping: name -> TclCommand.", {classes.MutableMapping.ptr()},
        {{"__init__", cv_init, "($self, ns)"},
         {"byref", cv_byref, "($self, cmd_name, *args, **kwargs)"},
         {"exists", cv_exists, "($self, cmd_name)"},
         {"createcommand", cv_createcommand, "($self, cmd_name, func)"},
         {"delete", cv_delete, "($self, cmd_name)"},
         {"rename", cv_rename, "($self, cmd_name, new_name)"},
         {"origin", cv_origin, "($self, cmd_name)"},
         {"proc_body", cv_proc_body, "($self, cmd_name)"},
         {"proc_args", cv_proc_args, "($self, cmd_name)"},
         {"proc_arg_default", cv_proc_arg_default, "($self, cmd_name, arg_name)"},
         {"__getitem__", cv_getitem, "($self, name, /)"},
         {"__contains__", cv_contains, "($self, name, /)"},
         {"__setitem__", cv_setitem, "($self, name, value, /)"},
         {"__delitem__", cv_delitem, "($self, name, /)"},
         {"__len__", view_len, "($self, /)"},
         {"__iter__", names_iter<&Consts::info_commands>, "($self, /)"}});
    if (!views.CommandsView) return false;
    views.ProcsView = make_class(
        "ProcsView", "TclNamespace.ProcsView",
        "The procedures of a namespace as a mapping: name -> TclCommand.", {views.CommandsView},
        {{"exists", pv_exists, "($self, cmd_name)"}, {"__iter__", names_iter<&Consts::info_procs>, "($self, /)"}});
    return views.ProcsView != nullptr;
}

}  // namespace oskra::ns
