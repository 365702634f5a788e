// The module oskra.tcl.namespace: its top level (imports, __all__, the
// classes in definition order) and the helpers shared by its files.
#include <nanobind/nanobind.h>

#include <vector>

#include "support/fast_method.h"
#include "core/callback_errors.h"
#include "core/tclsafe.h"
#include "core/tcltext.h"
#include "ns_private.h"
#include "parts.h"

namespace oskra::ns {

Classes classes;

static const char MODULE_DOC[] = "Implements abstraction of Tcl namespaces, variables and commands.\n"
                                 "\n"
                                 "Classes:\n"
                                 "    TclVariable, TempTclVariable, TclArrayVariable, TempTclArrayVariable,\n"
                                 "    TclCommand, TempTclCommand, TclNamespace, TempTclNamespace\n";

// Method objects --------------------------------------------------------

PyObject *make_method(const char *name, FastKw f, const Params &params, const char *doc) {
    // The definition lives as long as the process, like the class.
    auto *def = new PyMethodDef{name, c_function(f), METH_FASTCALL | METH_KEYWORDS,
                                params.doc_with_signature(name, doc)};
    Ref modname = Ref::steal(PyUnicode_FromString(MODULE_NAME));
    if (!modname) return nullptr;
    Ref fn = Ref::steal(PyCFunction_NewEx(def, nullptr, modname.get()));
    if (!fn) return nullptr;
    return params.self == SelfArg::none ? PyStaticMethod_New(fn.get()) : fast_method_new(fn.get());
}

// Class assembly --------------------------------------------------------

PyObject *make_class(const char *name, const char *qualname, const char *doc,
                     std::initializer_list<PyObject *> bases, std::initializer_list<MethodDef> methods,
                     std::initializer_list<std::pair<const char *, PyObject *>> extra) {
    Ref ns = Ref::steal(PyDict_New());
    if (!ns) return nullptr;
    auto put = [&](const char *key, PyObject *value) {  // steals value
        if (!value) return false;
        int rc = PyDict_SetItemString(ns.get(), key, value);
        Py_DECREF(value);
        return rc == 0;
    };
    if (!put("__module__", PyUnicode_FromString(MODULE_NAME)) ||
        !put("__qualname__", PyUnicode_FromString(qualname)) ||
        !put("__doc__", doc ? PyUnicode_FromString(doc) : Py_NewRef(Py_None)))
        return nullptr;
    for (const MethodDef &d : methods)
        if (!put(d.name, make_method(d.name, d.f, d.params, d.doc))) return nullptr;
    for (auto &e : extra)
        if (!put(e.first, Py_NewRef(e.second))) return nullptr;
    Ref b = Ref::steal(PyTuple_New((Py_ssize_t)bases.size()));
    if (!b) return nullptr;
    Py_ssize_t i = 0;
    for (PyObject *base : bases) PyTuple_SET_ITEM(b.get(), i++, Py_NewRef(base));
    Ref n = Ref::steal(PyUnicode_FromString(name));
    if (!n) return nullptr;
    PyObject *meta = (PyObject *)Py_TYPE(*bases.begin());
    return PyObject_CallFunctionObjArgs(meta, n.get(), b.get(), ns.get(), nullptr);
}

// Small helpers ---------------------------------------------------------

PyObject *wf(PyObject *obj) {
    if (PyUnicode_CheckExact(obj)) return Py_NewRef(obj);
    if (obj == Py_None) return Py_NewRef(names.empty);
    // A namespace object of ours converts to its name (its __str__); the
    // class defines neither conversion method.
    PyTypeObject *t = Py_TYPE(obj);
    if (classes.TclNamespace.is_valid() &&
        ((PyObject *)t == classes.TclNamespace.ptr() || (PyObject *)t == classes.TempTclNamespace.ptr())) {
        PyObject *name = PyObject_GetAttr(obj, names.ns);
        if (!name) return nullptr;
        if (PyUnicode_CheckExact(name)) return name;
        Py_DECREF(name);
    }
    return oskra::wordform(obj);
}

PyObject *wf_str(PyObject *obj, const char *what) {
    PyObject *s = wf(obj);
    if (s && !PyUnicode_Check(s)) {
        PyErr_Format(PyExc_TypeError, "%s: wordform() returned %.100s, not str", what, Py_TYPE(s)->tp_name);
        Py_DECREF(s);
        return nullptr;
    }
    return s;
}

PyObject *call_method(PyObject *self, PyObject *name, PyObject *const *args, size_t nargs,
                      PyObject *kwnames) {
    PyObject *stack[8];
    size_t nkw = kwnames ? (size_t)PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs + nkw + 1 > 8) {
        PyErr_SetString(PyExc_SystemError, "call_method: too many arguments");
        return nullptr;
    }
    stack[0] = self;
    for (size_t i = 0; i < nargs + nkw; i++) stack[i + 1] = args[i];
    return PyObject_VectorcallMethod(name, stack, (nargs + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
}

PyObject *tk_of(PyObject *self) {
    Ref tcl = Ref::steal(PyObject_GetAttr(self, names.tcl));
    if (!tcl) return nullptr;
    return PyObject_GetAttr(tcl.get(), names.tk);
}

PyObject *call_words(PyObject *tk, PyObject *words) {
    // Only what the Tcl layer converts safely (the value itself when it
    // already is).
    Ref safe = Ref::steal(tcl_safe_value(words));
    if (!safe) return nullptr;
    return run_tcl_call(tk, [&] { return call_method1(tk, names.call, safe.get()); });
}

PyObject *call_words_text(PyObject *tk, PyObject *words) {
    Ref result = Ref::steal(call_words(tk, words));
    if (!result) return nullptr;
    return result_text(tk, result.get());
}

PyObject *tk_call(PyObject *self, PyObject *arg) {
    Ref tk = Ref::steal(tk_of(self));
    if (!tk) return nullptr;
    return call_words(tk.get(), arg);
}

PyObject *tk_eval(PyObject *self, PyObject *arg) {
    Ref tk = Ref::steal(tk_of(self));
    if (!tk) return nullptr;
    return run_tcl_call(tk.get(), [&] { return call_method1(tk.get(), names.eval, arg); });
}

bool error_is_tcl() { return PyErr_ExceptionMatches(state->TclError); }

PyObject *raise_key_error_from_current() {
    PyObject *exc = PyErr_GetRaisedException();
    if (!exc) return nullptr;
    PyObject *ke = PyObject_CallOneArg(PyExc_KeyError, exc);
    if (!ke) {
        Py_DECREF(exc);
        return nullptr;
    }
    // raise KeyError(exc) from exc: the cause and the context are both exc.
    Py_INCREF(exc);
    PyException_SetContext(ke, exc);
    PyException_SetCause(ke, exc);  // steals; sets __suppress_context__
    PyErr_SetRaisedException(ke);  // steals
    return nullptr;
}

PyObject *tuple_of(std::initializer_list<PyObject *> items) {
    PyObject *t = PyTuple_New((Py_ssize_t)items.size());
    if (!t) return nullptr;
    Py_ssize_t i = 0;
    for (PyObject *o : items) {
        Py_INCREF(o);
        PyTuple_SET_ITEM(t, i++, o);
    }
    return t;
}

// Script text -------------------------------------------------------------

PyObject *words_script(PyObject *words) {
    Ref s = Ref::steal(wf(words));
    if (!s || !PyUnicode_Check(s.get())) return s.release();
    Py_ssize_t n = PyUnicode_GET_LENGTH(s.get());
    int kind = PyUnicode_KIND(s.get());
    const void *data = PyUnicode_DATA(s.get());
    if (n == 0 || PyUnicode_READ(kind, data, 0) != '#') return s.release();
    // The first word is written bare or with backslashes (a braced or
    // quoted word would not begin with "#"). Find its end.
    Py_ssize_t i = 0;
    bool backslashes = false;
    while (i < n) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == '\\') {
            backslashes = true;
            i += 2;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') break;
        i++;
    }
    if (i > n) i = n;
    if (backslashes) {
        Ref bs = Ref::steal(PyUnicode_FromString("\\"));
        if (!bs) return nullptr;
        return PyUnicode_Concat(bs.get(), s.get());
    }
    // A bare word holds no braces or backslashes: bracing it is safe.
    Ref head = Ref::steal(PyUnicode_Substring(s.get(), 0, i));
    Ref rest = Ref::steal(PyUnicode_Substring(s.get(), i, n));
    if (!head || !rest) return nullptr;
    return PyUnicode_FromFormat("{%U}%U", head.get(), rest.get());
}

// The weak interpreter reference ----------------------------------------

PyObject *interp_ref_raw(PyObject *tcl) {
    Ref t;
    int truth = tcl ? PyObject_IsTrue(tcl) : 0;
    if (truth < 0) return nullptr;
    if (!truth) {
        // The package oskra.tcl stands in for the default interpreter.
        Ref oskra = Ref::steal(PyImport_ImportModule("oskra.tcl"));
        if (!oskra) return nullptr;
        Ref top = Ref::steal(PyImport_ImportModule("oskra"));
        if (!top) return nullptr;
        t = Ref::steal(PyObject_GetAttr(top.get(), names.tcl));
        if (!t) return nullptr;
    } else {
        t = Ref::borrow(tcl);
    }
    if (PyWeakref_CheckProxy(t.get())) return t.release();
    return PyWeakref_NewProxy(t.get(), nullptr);
}

}  // namespace oskra::ns

using namespace oskra::ns;

NB_MODULE(namespace, m) {
    m.doc() = MODULE_DOC;
    if (!oskra::attach_state() || !oskra::callback_errors_init()) throw nb::python_error();

    nb::module_ abc = nb::module_::import_("collections.abc");
    nb::module_ wordform_mod = nb::module_::import_("oskra.tcl.wordform");
    nb::module_ tkinter = nb::module_::import_("tkinter");
    nb::module_ types = nb::module_::import_("types");

    classes.MutableMapping = abc.attr("MutableMapping");
    m.attr("MutableMapping") = classes.MutableMapping;
    m.attr("wordform") = wordform_mod.attr("wordform");
    m.attr("tclobj") = wordform_mod.attr("tclobj");
    m.attr("TclError") = tkinter.attr("TclError");
    m.attr("Tk") = tkinter.attr("Tk");
    m.attr("MethodType") = types.attr("MethodType");
    m.attr("weakref") = nb::module_::import_("weakref");
    m.attr("sys") = nb::module_::import_("sys");
    m.attr("functools") = nb::borrow(oskra::state->functools);
    m.attr("__all__") =
            nb::make_tuple("TclVariable", "TempTclVariable", "TclArrayVariable", "TempTclArrayVariable",
                           "TclCommand", "TempTclCommand", "TclNamespace", "TempTclNamespace");

    // In definition order: each builder takes its bases from `classes`.
    struct {
        const char *name;
        nb::object *slot;
        nb::object (*make)();
    } built[] = {
            {"TclVariable", &classes.TclVariable, make_TclVariable},
            {"TempTclVariable", &classes.TempTclVariable, make_TempTclVariable},
            {"TclArrayVariable", &classes.TclArrayVariable, make_TclArrayVariable},
            {"TempTclArrayVariable", &classes.TempTclArrayVariable, make_TempTclArrayVariable},
            {"TclCommand", &classes.TclCommand, make_TclCommand},
            {"TempTclCommand", &classes.TempTclCommand, make_TempTclCommand},
            {"TclNamespace", &classes.TclNamespace, make_TclNamespace},
            {"TempTclNamespace", &classes.TempTclNamespace, make_TempTclNamespace},
    };
    // The classes live as long as the process: keep them past interpreter
    // finalization order issues.
    for (auto &c : built) {
        *c.slot = c.make();
        m.attr(c.name) = *c.slot;
        c.slot->inc_ref();
    }
    classes.MutableMapping.inc_ref();
}
