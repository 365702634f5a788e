// TclNamespace's wrappers around Tcl's `namespace` command: children,
// code, current, create, delete, exists, export, forget, import, origin,
// parent and which. Listings of a missing namespace are empty and create
// nothing; read-only questions give Tcl's own "not found" error.
#include "tcl_namespace.h"

#include "name_algebra.h"

namespace oskra::ns::tn {

// The text of `words` run where the caller stands, but only when the
// namespace `ns` exists: a listing of a missing namespace is empty, and
// asking creates nothing.
static PyObject *if_exists_text(PyObject *self, PyObject *ns, PyObject *words) {
    Ref test = Ref::steal(words_of(w.exists, {ns}));
    Ref test_text = test ? Ref::steal(wf_str(test.get(), "if_exists")) : Ref();
    Ref expr = test_text ? Ref::steal(PyUnicode_FromFormat("[%U]", test_text.get())) : Ref();
    Ref body = expr ? Ref::steal(wf_str(words, "if_exists")) : Ref();
    Ref guarded = body ? Ref::steal(tuple_of({w.if_, expr.get(), body.get()})) : Ref();
    Ref tk = guarded ? Ref::steal(tk_of(self)) : Ref();
    return tk ? call_words_text(tk.get(), guarded.get()) : nullptr;
}

// `words` run inside the namespace without creating it: Tcl's own "namespace
// ... not found" error for a missing one. The empty name runs them as they
// are.
static PyObject *ns_read_call(PyObject *self, PyObject *words) {
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int wrapped = PyObject_IsTrue(ns.get());
    if (wrapped < 0) return nullptr;
    Ref cmd = wrapped ? Ref::steal(words_of(w.inscope, {ns.get(), words})) : Ref::borrow(words);
    if (!cmd) return nullptr;
    Ref obj = Ref::steal(oskra::tclobj(cmd.get()));
    if (!obj) return nullptr;
    return tk_call(self, obj.get());
}

const Params children_params{"children", SelfArg::first, {{"pattern", "None"}}};
METHOD(children) {
    PyObject *pattern;
    if (!children_params.bind(args, nargs, kwnames, &pattern)) return nullptr;
    PyObject *self = args[0];
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int named = PyObject_IsTrue(ns.get());
    if (named < 0) return nullptr;
    Ref p;
    if (pattern && pattern != Py_None && !(p = Ref::steal(wf(pattern)))) return nullptr;
    Ref result;
    if (named) {
        // `namespace children N ?pattern?`, asked from where the caller
        // stands: a missing namespace has no children.
        Ref words =
                Ref::steal(p ? words_of(w.children, {ns.get(), p.get()}) : words_of(w.children, {ns.get()}));
        if (!words) return nullptr;
        result = Ref::steal(if_exists_text(self, ns.get(), words.get()));
    } else if (p) {
        // `namespace children` reads a single argument as a namespace name,
        // not as a pattern: name the current namespace explicitly and give
        // the pattern as the second argument.
        Ref one = Ref::steal(PyTuple_Pack(1, p.get()));
        if (!one) return nullptr;
        Ref quoted = Ref::steal(wf(one.get()));
        if (!quoted || !PyUnicode_Check(quoted.get())) {
            if (quoted) PyErr_SetString(PyExc_TypeError, "children: pattern is not a word");
            return nullptr;
        }
        Ref script = Ref::steal(
                PyUnicode_FromFormat("::namespace children [::namespace current] %U", quoted.get()));
        if (!script) return nullptr;
        result = Ref::steal(eval_impl(self, script.get(), nullptr, 0));
    } else {
        result = Ref::steal(ns_call(self, w.children));
    }
    if (!result) return nullptr;
    return cast_list_of(self, result.get());
}

const Params code_params{"code", SelfArg::first, {{"script"}}};
METHOD(code) {
    PyObject *script;
    if (!code_params.bind(args, nargs, kwnames, &script)) return nullptr;
    Ref words = Ref::steal(words_of(w.code, {script}));
    if (!words) return nullptr;
    return ns_read_call(args[0], words.get());
}

PyObject *current_impl(PyObject *self) { return tk_call(self, w.current); }

const Params current_params{"current", SelfArg::first, {}};
METHOD(current) {
    if (!current_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    return current_impl(self);
}

const Params create_params{"create", SelfArg::first, {}};
METHOD(create) {
    if (!create_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    if (!t) {
        PyErr_SetString(PyExc_ValueError, "Cannot create current namespace");
        return nullptr;
    }
    Ref r = Ref::steal(eval_impl(self, names.empty, nullptr, 0));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

// N for delete and exists: the name, or the current namespace for the
// empty name.
static PyObject *name_or_current(PyObject *self) {
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    if (t) return ns.release();
    return current_impl(self);
}

const Params delete_params{"delete", SelfArg::first, {}};
METHOD(delete_) {
    if (!delete_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    Ref n = Ref::steal(name_or_current(self));
    if (!n) return nullptr;
    Ref words = Ref::steal(words_of(w.delete_, {n.get()}));
    if (!words) return nullptr;
    Ref r = Ref::steal(tk_call(self, words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

const Params exists_params{"exists", SelfArg::first, {}};
METHOD(exists) {
    if (!exists_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    PyObject *self = args[0];
    Ref n = Ref::steal(name_or_current(self));
    if (!n) return nullptr;
    Ref words = Ref::steal(words_of(w.exists, {n.get()}));
    if (!words) return nullptr;
    Ref r = Ref::steal(tk_call(self, words.get()));
    if (!r) return nullptr;
    Ref tcl = Ref::steal(tcl_of(self));
    if (!tcl) return nullptr;
    return call_method1(tcl.get(), names.cast_boolean, r.get());
}

// Shared by export and import_: (prefix, flag word if flag, *patterns).
static PyObject *flagged(PyObject *prefix, PyObject *flag, PyObject *word, PyObject *patterns,
                         int *flag_true) {
    int t = flag ? PyObject_IsTrue(flag) : 0;
    if (t < 0) return nullptr;
    *flag_true = t;
    return t ? words_of(prefix, {word}, patterns) : words_of(prefix, {}, patterns);
}

const Params export_params{"export", SelfArg::first, {{"clear", "False"}}, "patterns"};
METHOD(export_) {
    PyObject *clear;
    Ref patterns;
    if (!export_params.bind(args, nargs, kwnames, &clear, &patterns)) return nullptr;
    PyObject *self = args[0];
    int clear_true;
    Ref words = Ref::steal(flagged(w.export_, clear, names.opt_clear, patterns.get(), &clear_true));
    if (!words) return nullptr;
    if (!clear_true && PyTuple_GET_SIZE(patterns.get()) == 0) {
        // Only a question: the export list of a missing namespace is empty.
        Ref ns = Ref::steal(self_ns(self));
        if (!ns) return nullptr;
        int named = PyObject_IsTrue(ns.get());
        if (named < 0) return nullptr;
        Ref r;
        if (named) {
            Ref inside = Ref::steal(words_of(w.eval, {ns.get(), w.export_query}));
            if (!inside) return nullptr;
            r = Ref::steal(if_exists_text(self, ns.get(), inside.get()));
        } else {
            r = Ref::steal(ns_call(self, words.get()));
        }
        if (!r) return nullptr;
        return cast_list_of(self, r.get());
    }
    Ref r = Ref::steal(ns_call(self, words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

const Params forget_params{"forget", SelfArg::first, {}, "patterns"};
METHOD(forget) {
    Ref patterns;
    if (!forget_params.bind(args, nargs, kwnames, nullptr, &patterns)) return nullptr;
    Ref words = Ref::steal(words_of(w.forget, {}, patterns.get()));
    if (!words) return nullptr;
    Ref r = Ref::steal(ns_call(args[0], words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

const Params import_params{"import_", SelfArg::first, {{"force", "False"}}, "patterns"};
METHOD(import_) {
    PyObject *force;
    Ref patterns;
    if (!import_params.bind(args, nargs, kwnames, &force, &patterns)) return nullptr;
    int force_true;
    Ref words = Ref::steal(flagged(w.import_, force, names.opt_force, patterns.get(), &force_true));
    if (!words) return nullptr;
    Ref r = Ref::steal(ns_call(args[0], words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

const Params origin_params{"origin", SelfArg::first, {{"command"}}};
METHOD(origin) {
    PyObject *command;
    if (!origin_params.bind(args, nargs, kwnames, &command)) return nullptr;
    Ref words = Ref::steal(words_of(w.origin, {command}));
    if (!words) return nullptr;
    return ns_read_call(args[0], words.get());
}

const Params parent_params{"parent", SelfArg::first, {{"force_eval", "False"}}};
METHOD(parent) {
    PyObject *force_eval;
    if (!parent_params.bind(args, nargs, kwnames, &force_eval)) return nullptr;
    PyObject *self = args[0];
    int force = force_eval ? PyObject_IsTrue(force_eval) : 0;
    if (force < 0) return nullptr;
    if (force) {
        Ref isabs = Ref::steal(is_abs_impl(self, true));
        if (!isabs) return nullptr;
        int t = PyObject_IsTrue(isabs.get());
        if (t < 0) return nullptr;
        if (t) {
            Ref ns = Ref::steal(self_ns(self));
            if (!ns) return nullptr;
            Ref s = Ref::steal(wf_str(ns.get(), "split"));
            if (!s) return nullptr;
            Ref parts = Ref::steal(split_name(s.get()));
            if (!parts) return nullptr;
            Py_ssize_t n = PyList_GET_SIZE(parts.get());
            if (n <= 1) return Py_NewRef(names.empty);
            if (n == 2) return Py_NewRef(names.colons);
            Ref head = Ref::steal(PyList_GetSlice(parts.get(), 0, n - 1));
            if (!head) return nullptr;
            return PyUnicode_Join(names.colons, head.get());
        }
    }
    Ref ns = Ref::steal(self_ns(self));
    if (!ns) return nullptr;
    int t = PyObject_IsTrue(ns.get());
    if (t < 0) return nullptr;
    Ref words = t ? Ref::steal(words_of(w.parent, {ns.get()})) : Ref::borrow(w.parent);
    if (!words) return nullptr;
    Ref obj = Ref::steal(oskra::tclobj(words.get()));
    if (!obj) return nullptr;
    return tk_call(self, obj.get());
}

const Params which_params{"which", SelfArg::first, {{"name"}, {"command", "False"}, {"variable", "False"}}};
METHOD(which) {
    PyObject *a[3];
    if (!which_params.bind(args, nargs, kwnames, a)) return nullptr;
    int c = a[1] ? PyObject_IsTrue(a[1]) : 0;
    if (c < 0) return nullptr;
    int v = a[2] ? PyObject_IsTrue(a[2]) : 0;
    if (v < 0) return nullptr;
    Ref words;
    if (c && v) words = Ref::steal(words_of(w.which, {names.opt_command, names.opt_variable, a[0]}));
    else if (c) words = Ref::steal(words_of(w.which, {names.opt_command, a[0]}));
    else if (v) words = Ref::steal(words_of(w.which, {names.opt_variable, a[0]}));
    else words = Ref::steal(words_of(w.which, {a[0]}));
    if (!words) return nullptr;
    return ns_read_call(args[0], words.get());
}

}  // namespace oskra::ns::tn
