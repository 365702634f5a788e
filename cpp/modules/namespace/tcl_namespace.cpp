// TclNamespace: the class itself, its constructor, the forms of its name
// and the eval/call of scripts and words inside it. The wrappers around
// Tcl's `namespace` command are in ns_subcommands.cpp, the name algebra in
// name_algebra.cpp.
#include <nanobind/nanobind.h>

#include <utility>

#include "name_algebra.h"
#include "tcl_namespace.h"

namespace oskra::ns {

namespace tn {

Words w;

namespace {

constexpr const char *QUAL = "TclNamespace";

}  // namespace

bool init_words() {
    struct {
        PyObject **slot;
        PyObject *sub;
    } t[] = {{&w.children, names.children}, {&w.code, names.code},       {&w.current, names.current},
             {&w.delete_, names.delete_},   {&w.exists, names.exists},   {&w.export_, names.export_},
             {&w.forget, names.forget},     {&w.import_, names.import_}, {&w.origin, names.origin},
             {&w.parent, names.parent},     {&w.which, names.which},     {&w.eval, names.eval},
             {&w.inscope, names.inscope}};
    for (auto &e : t)
        if (!(*e.slot = tuple_of({names.namespace_cmd, e.sub}))) return false;
    w.if_ = names.if_cmd;
    w.export_query = names.namespace_export;
    return true;
}

// prefix + items, as a new tuple.
PyObject *words_of(PyObject *prefix, std::initializer_list<PyObject *> items, PyObject *tail_tuple) {
    Py_ssize_t np = PyTuple_GET_SIZE(prefix);
    Py_ssize_t nt = tail_tuple ? PyTuple_GET_SIZE(tail_tuple) : 0;
    PyObject *t = PyTuple_New(np + (Py_ssize_t)items.size() + nt);
    if (!t) return nullptr;
    Py_ssize_t k = 0;
    for (Py_ssize_t i = 0; i < np; i++) PyTuple_SET_ITEM(t, k++, Py_NewRef(PyTuple_GET_ITEM(prefix, i)));
    for (PyObject *o : items) PyTuple_SET_ITEM(t, k++, Py_NewRef(o));
    for (Py_ssize_t i = 0; i < nt; i++) PyTuple_SET_ITEM(t, k++, Py_NewRef(PyTuple_GET_ITEM(tail_tuple, i)));
    return t;
}

PyObject *self_ns(PyObject *self) { return PyObject_GetAttr(self, names.ns); }

PyObject *cast_list_of(PyObject *self, PyObject *value) {
    Ref tcl = Ref::steal(tcl_of(self));
    if (!tcl) return nullptr;
    return call_method1(tcl.get(), names.cast_list, value);
}

// (tclcmd,) + extra when there are extra arguments, else tclcmd itself.
PyObject *with_extra(PyObject *tclcmd, PyObject *const *extra, Py_ssize_t nextra) {
    if (nextra <= 0) return Py_NewRef(tclcmd);
    PyObject *t = PyTuple_New(nextra + 1);
    if (!t) return nullptr;
    PyTuple_SET_ITEM(t, 0, Py_NewRef(tclcmd));
    for (Py_ssize_t i = 0; i < nextra; i++) PyTuple_SET_ITEM(t, i + 1, Py_NewRef(extra[i]));
    return t;
}

const Params init_params{"TclNamespace", SelfArg::first, {{"ns"}, {"tcl", "None"}}};
METHOD(m_init) {
    PyObject *a[2];
    if (!init_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    Ref sup = Ref::steal(PyObject_CallFunctionObjArgs((PyObject *)&PySuper_Type, classes.TclNamespace.ptr(),
                                                      self, nullptr));
    if (!sup) return nullptr;
    Ref r = Ref::steal(call_method0(sup.get(), names.dunder_init));
    if (!r) return nullptr;
    Ref ns = Ref::steal(wf(a[0]));
    if (!ns || PyObject_SetAttr(self, names.ns, ns.get()) < 0) return nullptr;
    Ref tcl = Ref::steal(interp_ref_raw(a[1]));
    if (!tcl || PyObject_SetAttr(self, names.tcl, tcl.get()) < 0) return nullptr;
    std::pair<PyObject *, PyObject *> vs[] = {{names.vars, views.VariablesView},
                                              {names.objs, views.ObjectsView},
                                              {names.procs, views.ProcsView},
                                              {names.cmds, views.CommandsView}};
    for (auto &v : vs) {
        Ref view = Ref::steal(PyObject_CallOneArg(v.second, self));
        if (!view || PyObject_SetAttr(self, v.first, view.get()) < 0) return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject *eval_impl(PyObject *self, PyObject *tclcmd, PyObject *const *extra, Py_ssize_t nextra) {
    bool built = nextra > 0 || PyTuple_Check(tclcmd);
    Ref cmd = Ref::steal(with_extra(tclcmd, extra, nextra));
    if (!cmd) return nullptr;
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int wrapped = PyObject_IsTrue(ns.get());
    if (wrapped < 0) return nullptr;
    Ref script;
    if (wrapped) {
        Ref inner = built ? Ref::steal(words_script(cmd.get())) : cmd;
        if (!inner) return nullptr;
        Ref outer = Ref::steal(words_of(w.eval, {ns.get(), inner.get()}));
        if (!outer) return nullptr;
        script = Ref::steal(wf(outer.get()));
    } else {
        script = Ref::steal(built ? words_script(cmd.get()) : wf(cmd.get()));
    }
    if (!script) return nullptr;
    return tk_eval(self, script.get());
}

const Params eval_params{"eval", SelfArg::first, {{"tclcmd"}}, "args"};
METHOD(eval) {
    PyObject *tclcmd;
    Ref extra;
    if (!eval_params.bind(args, nargs, kwnames, &tclcmd, &extra)) return nullptr;
    return eval_impl(args[0], tclcmd, &PyTuple_GET_ITEM(extra.get(), 0), PyTuple_GET_SIZE(extra.get()));
}

const Params call_params{"call", SelfArg::first, {{"tclcmd"}}, "args"};
METHOD(call) {
    PyObject *tclcmd;
    Ref extra;
    if (!call_params.bind(args, nargs, kwnames, &tclcmd, &extra)) return nullptr;
    Ref cmd =
            Ref::steal(with_extra(tclcmd, &PyTuple_GET_ITEM(extra.get(), 0), PyTuple_GET_SIZE(extra.get())));
    if (!cmd) return nullptr;
    return ns_call(args[0], cmd.get());
}

// is_absolute / is_relative: the empty name itself when it is false.
PyObject *is_abs_impl(PyObject *self, bool want_absolute) {
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    if (!t) return ns.release();
    int abs;
    if (PyUnicode_Check(ns.get())) {
        abs = starts_with_colons(ns.get());
    } else {
        Ref r = Ref::steal(call_method1(ns.get(), names.startswith, names.colons));
        if (!r) return nullptr;
        abs = PyObject_IsTrue(r.get());
        if (abs < 0) return nullptr;
    }
    return PyBool_FromLong(want_absolute ? abs : !abs);
}

const Params is_absolute_params{"is_absolute", SelfArg::first, {}};
METHOD(is_absolute) {
    if (!is_absolute_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    return is_abs_impl(self, true);
}

const Params is_relative_params{"is_relative", SelfArg::first, {}};
METHOD(is_relative) {
    if (!is_relative_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    return is_abs_impl(self, false);
}

PyObject *absolute_impl(PyObject *self) {
    Ref isabs = Ref::steal(is_abs_impl(self, true));
    if (!isabs) return nullptr;
    int t = PyObject_IsTrue(isabs.get());
    if (t < 0) return nullptr;
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    if (t) return ns.release();
    Ref cur = Ref::steal(current_impl(self));
    if (!cur) return nullptr;
    PyObject *pair[2] = {cur.get(), ns.get()};
    return ns_join_raw(pair, 2);
}

const Params absolute_params{"absolute", SelfArg::first, {}};
METHOD(absolute) {
    if (!absolute_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    return absolute_impl(self);
}

const Params make_absolute_params{"make_absolute", SelfArg::first, {}};
METHOD(make_absolute) {
    if (!make_absolute_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    Ref a = Ref::steal(absolute_impl(self));
    if (!a || PyObject_SetAttr(self, names.ns, a.get()) < 0) return nullptr;
    Py_RETURN_NONE;
}

const Params str_params{"__str__", SelfArg::first, {}};
METHOD(str_) {
    if (!str_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    return self_ns(self);
}

// TclNamespace('::shop'): the class (a subclass shows its own) and the name.
const Params repr_params{"__repr__", SelfArg::first, {}};
METHOD(repr_) {
    if (!repr_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    Ref cls = Ref::steal(PyType_GetName(Py_TYPE(self)));
    Ref ns = Ref::steal(self_ns(self));
    if (!cls || !ns) return nullptr;
    return PyUnicode_FromFormat("%U(%R)", cls.get(), ns.get());
}

}  // namespace tn

using namespace tn;

PyObject *ns_eval_words(PyObject *self, PyObject *words) { return eval_impl(self, words, nullptr, 0); }

PyObject *ns_call(PyObject *self, PyObject *tclcmd) {
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int wrapped = PyObject_IsTrue(ns.get());
    if (wrapped < 0) return nullptr;
    Ref cmd = wrapped ? Ref::steal(words_of(w.eval, {ns.get(), tclcmd})) : Ref::borrow(tclcmd);
    if (!cmd) return nullptr;
    Ref obj = Ref::steal(oskra::tclobj(cmd.get()));
    if (!obj) return nullptr;
    return tk_call(self, obj.get());
}

static const char TCLNAMESPACE_DOC[] =
        "One Tcl namespace of one interpreter.\n"
        "\n"
        "TclNamespace(ns, tcl=None): `ns` is the namespace name (converted with\n"
        "wordform; absolute, relative or empty), `tcl` the interpreter (held\n"
        "through a weak proxy; the package's shared interpreter by default).\n"
        "The views `vars`, `objs`, `procs` and `cmds` map the names of the\n"
        "namespace's variables, procedures and commands.";

nb::object make_TclNamespace() {
    if (!init_words()) throw nb::python_error();
    if (!make_views()) throw nb::python_error();
    PyObject *cls = make_class(
            QUAL, QUAL, TCLNAMESPACE_DOC, {(PyObject *)&PyBaseObject_Type},
            {
                    {"__init__", m_init, init_params},
                    {"children", children, children_params,
                     "The names of the child namespaces (those matching the glob `pattern`), as a tuple."},
                    {"code", code, code_params,
                     "``namespace code script`` run in this namespace: the script wrapped to run here "
                     "later."},
                    {"current", current, current_params,
                     "The interpreter's current namespace (``namespace current``)."},
                    {"create", create, create_params,
                     "Create the namespace in Tcl (nothing happens if it exists). ValueError for the empty "
                     "name."},
                    {"delete", delete_, delete_params,
                     "Delete the namespace and everything in it (the current one for the empty name)."},
                    {"eval", eval, eval_params,
                     "Evaluate `tclcmd` (with `args` appended as words) as a script inside the namespace; "
                     "the result as a str."},
                    {"call", call, call_params,
                     "Run `tclcmd` (a word tuple, with `args` appended) inside the namespace, each word "
                     "passed as one Tcl word."},
                    {"exists", exists, exists_params, "Whether the namespace exists."},
                    {"export", export_, export_params,
                     "Without arguments: the export patterns as a tuple. Else set them (`clear` true clears "
                     "first)."},
                    {"forget", forget, forget_params,
                     "``namespace forget``: remove commands imported from the namespaces of the `patterns`."},
                    {"import_", import_, import_params,
                     "``namespace import`` of the commands matching `patterns` (`force` replaces existing "
                     "ones)."},
                    {"origin", origin, origin_params,
                     "The fully qualified name of the command that `command`, as seen from here, imports "
                     "from."},
                    {"parent", parent, parent_params,
                     "The parent namespace's name, from Tcl; with `force_eval`, an absolute name's parent "
                     "without Tcl."},
                    {"which", which, which_params,
                     "``namespace which``: the fully qualified name of a command (or, with `variable`, a "
                     "variable) as seen from here."},
                    {"is_absolute", is_absolute, is_absolute_params,
                     "Whether the name starts with \"::\" (the empty name itself when it is empty)."},
                    {"is_relative", is_relative, is_relative_params,
                     "Whether the name is relative (the empty name itself when it is empty)."},
                    {"absolute", absolute, absolute_params,
                     "The name made absolute against the current namespace."},
                    {"make_absolute", make_absolute, make_absolute_params,
                     "Make the name absolute, in place."},
                    {"__str__", str_, str_params},
                    {"__repr__", repr_, repr_params},
                    {"qualifiers", name_qualifiers, name_qualifiers_params,
                     "Everything before the last \"::\" of a name (\"\" when there is none)."},
                    {"tail", name_tail, name_tail_params, "Everything after the last \"::\" of a name."},
                    {"join", name_join, name_join_params,
                     "The names joined with \"::\" and normalized; an absolute name replaces what comes "
                     "before it."},
                    {"split", name_split, name_split_params,
                     "The components of a name as a list (\"\" first for an absolute name). ValueError for a "
                     "single \":\"."},
                    {"normalize", name_normalize, name_normalize_params,
                     "The name with repeated and trailing separators removed (\"::\" itself becomes \"\")."},
            },
            {{"VariablesView", views.VariablesView},
             {"ObjectsView", views.ObjectsView},
             {"CommandsView", views.CommandsView},
             {"ProcsView", views.ProcsView}});
    if (!cls) throw nb::python_error();
    return nb::steal(cls);
}

}  // namespace oskra::ns