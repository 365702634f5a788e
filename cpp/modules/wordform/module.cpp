// Module oskra.tcl.wordform: Python values as Tcl words, lists and
// Tcl-ready values, and the list-quoting functions underneath.
//
// The conversions themselves live in core/ (convert.h, quote.h), where the
// other modules call them directly; this module gives them their Python
// names. `wordform` and `tclobj` carry attributes (`from_sequence`,
// `from_mapping`), so they are instances of a small callable type with a
// __dict__ instead of plain built-in functions.
#include <nanobind/nanobind.h>

#include <cstddef>
#include <string>

#include "support/params.h"
#include "core/convert.h"
#include "core/quote.h"
#include "support/state.h"

namespace nb = nanobind;

namespace {

const char MODULE_NAME[] = "oskra.tcl.wordform";

using oskra::Params;
using oskra::SelfArg;

// ---------------------------------------------------------------------------
// Flag names.

PyObject *flags_to_set(unsigned flags) {
    PyObject *set = PySet_New(nullptr);
    if (!set) return nullptr;
    if (((flags & oskra::quote::USE_BRACES) && PySet_Add(set, oskra::names.flag_use_braces) < 0) ||
        ((flags & oskra::quote::DONT_USE_BRACES) && PySet_Add(set, oskra::names.flag_dont_use_braces) < 0) ||
        ((flags & oskra::quote::BRACES_UNMATCHED) &&
         PySet_Add(set, oskra::names.flag_braces_unmatched) < 0)) {
        Py_DECREF(set);
        return nullptr;
    }
    return set;
}

// Membership of the three names in any container (the `in` operator).
bool set_to_flags(PyObject *flags, unsigned *out) {
    const struct {
        PyObject *name;
        unsigned bit;
    } names[] = {{oskra::names.flag_use_braces, oskra::quote::USE_BRACES},
                 {oskra::names.flag_dont_use_braces, oskra::quote::DONT_USE_BRACES},
                 {oskra::names.flag_braces_unmatched, oskra::quote::BRACES_UNMATCHED}};
    *out = 0;
    for (const auto &n : names) {
        int r = PySequence_Contains(flags, n.name);
        if (r < 0) return false;
        if (r) *out |= n.bit;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The list-quoting functions.

const Params scan_element_params{"_Tcl_ScanElement", SelfArg::none, {{"string"}}};
PyObject *scan_element(PyObject *, PyObject *const *args, Py_ssize_t nargsf, PyObject *kwnames) {
    PyObject *arg;
    if (!scan_element_params.bind(args, nargsf, kwnames, &arg)) return nullptr;
    PyObject *s = oskra::wordform_text(arg);
    if (!s) return nullptr;
    unsigned flags = oskra::quote::scan_element(s);
    Py_ssize_t size = 2 * PyUnicode_GET_LENGTH(s) + 2;
    Py_DECREF(s);
    PyObject *set = flags_to_set(flags);
    if (!set) return nullptr;
    PyObject *size_obj = PyLong_FromSsize_t(size);
    if (!size_obj) {
        Py_DECREF(set);
        return nullptr;
    }
    PyObject *result = PyTuple_Pack(2, size_obj, set);
    Py_DECREF(size_obj);
    Py_DECREF(set);
    return result;
}

const Params convert_element_params{"_Tcl_ConvertElement", SelfArg::none, {{"src"}, {"flags"}}};
PyObject *convert_element(PyObject *, PyObject *const *args, Py_ssize_t nargsf, PyObject *kwnames) {
    PyObject *a[2];
    if (!convert_element_params.bind(args, nargsf, kwnames, a)) return nullptr;
    PyObject *s = oskra::wordform_text(a[0]);
    if (!s) return nullptr;
    unsigned flags;
    if (!set_to_flags(a[1], &flags)) {
        Py_DECREF(s);
        return nullptr;
    }
    bool braced = (flags & oskra::quote::USE_BRACES) && !(flags & oskra::quote::DONT_USE_BRACES);
    if (!braced && PyUnicode_GET_LENGTH(s) > 0 && PyUnicode_READ_CHAR(s, 0) == '{') {
        // An opening brace first in backslash form: every brace in the
        // element is backslashed, and the caller's flags record it.
        int r = PySet_CheckExact(a[1]) ? PySet_Add(a[1], oskra::names.flag_braces_unmatched) : -2;
        if (r == -2) {
            PyObject *res = PyObject_CallMethod(a[1], "add", "O", oskra::names.flag_braces_unmatched);
            r = res ? 0 : -1;
            Py_XDECREF(res);
        }
        if (r < 0) {
            Py_DECREF(s);
            return nullptr;
        }
    }
    PyObject *result = oskra::quote::convert_element(s, flags);
    Py_DECREF(s);
    return result;
}

// One argument, passed to a core conversion.
template <PyObject *(*Impl)(PyObject *), const Params &params>
PyObject *one_arg(PyObject *, PyObject *const *args, Py_ssize_t nargsf, PyObject *kwnames) {
    PyObject *obj;
    if (!params.bind(args, nargsf, kwnames, &obj)) return nullptr;
    return Impl(obj);
}

const Params update_string_of_list_params{"_tcl_UpdateStringOfList", SelfArg::none, {{"listObj"}}};
const Params wordform_from_mapping_params{"_wordform_from_mapping", SelfArg::none, {{"obj"}}};
const Params tclobj_from_sequence_params{"_tclobj_from_sequence", SelfArg::none, {{"obj"}}};
const Params tclobj_from_mapping_params{"_tclobj_from_mapping", SelfArg::none, {{"obj"}}};
const Params wordform_params{"wordform", SelfArg::none, {{"obj"}}};
const Params tclobj_params{"tclobj", SelfArg::none, {{"obj"}}};

// The module's plain functions: name, table, body and doc (the text
// signature is put in front of the doc at module set-up).
struct FunctionDef {
    const Params &params;
    PyCFunction body;
    const char *doc;
};
const FunctionDef FUNCTIONS[] = {
        {scan_element_params, oskra::c_function(scan_element),
         "Scan one list element: (2 * length + 2, set of quoting flag names)."},
        {convert_element_params, oskra::c_function(convert_element),
         "The element quoted as the flags say; may add \"BRACES_UNMATCHED\" to flags."},
        {update_string_of_list_params,
         oskra::c_function(one_arg<oskra::wordform_from_sequence, update_string_of_list_params>),
         "The Tcl list string of the elements of an iterable."},
        {wordform_from_mapping_params,
         oskra::c_function(one_arg<oskra::wordform_from_mapping, wordform_from_mapping_params>),
         "The Tcl list string key1 value1 key2 value2 ... of a mapping."},
        {tclobj_from_sequence_params,
         oskra::c_function(one_arg<oskra::tclobj_from_sequence, tclobj_from_sequence_params>),
         "Tuple of tclobj() of every element."},
        {tclobj_from_mapping_params,
         oskra::c_function(one_arg<oskra::tclobj_from_mapping, tclobj_from_mapping_params>),
         "Tuple (key1, value1, key2, value2, ...) of a mapping, each through tclobj()."},
};

// ---------------------------------------------------------------------------
// A callable with a __dict__, for the functions that carry attributes.

struct AttrFunction {
    PyObject_HEAD vectorcallfunc vectorcall;
    PyObject *dict;
    PyObject *name;
    PyObject *qualname;
    PyObject *module;
    PyObject *doc;
    PyObject *(*impl)(PyObject *);
    const Params *params;
};

int attrfn_traverse(PyObject *self, visitproc visit, void *arg) {
    AttrFunction *f = (AttrFunction *)self;
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->dict);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    return 0;
}

int attrfn_clear(PyObject *self) {
    AttrFunction *f = (AttrFunction *)self;
    Py_CLEAR(f->dict);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    return 0;
}

void attrfn_dealloc(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    attrfn_clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyObject *attrfn_vectorcall(PyObject *self, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    AttrFunction *f = (AttrFunction *)self;
    PyObject *obj;
    if (!f->params->bind(args, (Py_ssize_t)nargsf, kwnames, &obj)) return nullptr;
    return f->impl(obj);
}

PyObject *attrfn_repr(PyObject *self) {
    return PyUnicode_FromFormat("<built-in function %U>", ((AttrFunction *)self)->name);
}

PyObject *attrfn_signature(PyObject *self, void *) {
    // inspect.signature reads __signature__ first: (obj), like a Python
    // function of one argument.
    const char *param_name = ((AttrFunction *)self)->params->params[0].name;
    PyObject *inspect = PyImport_ImportModule("inspect");
    if (!inspect) return nullptr;
    PyObject *param_cls = PyObject_GetAttrString(inspect, "Parameter");
    PyObject *sig_cls = PyObject_GetAttrString(inspect, "Signature");
    Py_DECREF(inspect);
    PyObject *result = nullptr;
    if (param_cls && sig_cls) {
        PyObject *kind = PyObject_GetAttrString(param_cls, "POSITIONAL_OR_KEYWORD");
        PyObject *param = kind ? PyObject_CallFunction(param_cls, "sO", param_name, kind) : nullptr;
        PyObject *params = param ? PyTuple_Pack(1, param) : nullptr;
        if (params) result = PyObject_CallOneArg(sig_cls, params);
        Py_XDECREF(kind);
        Py_XDECREF(param);
        Py_XDECREF(params);
    }
    Py_XDECREF(param_cls);
    Py_XDECREF(sig_cls);
    return result;
}

// Pickled and copied by reference, like any module-level function.
PyObject *attrfn_reduce(PyObject *self, PyObject *) { return Py_NewRef(((AttrFunction *)self)->qualname); }

PyMethodDef ATTRFN_METHODS[] = {
        {"__reduce__", attrfn_reduce, METH_NOARGS, nullptr},
        {nullptr, nullptr, 0, nullptr},
};

PyMemberDef ATTRFN_MEMBERS[] = {
        {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(AttrFunction, vectorcall), Py_READONLY, nullptr},
        {"__dictoffset__", Py_T_PYSSIZET, offsetof(AttrFunction, dict), Py_READONLY, nullptr},
        {"__name__", Py_T_OBJECT_EX, offsetof(AttrFunction, name), 0, nullptr},
        {"__qualname__", Py_T_OBJECT_EX, offsetof(AttrFunction, qualname), 0, nullptr},
        {"__module__", Py_T_OBJECT_EX, offsetof(AttrFunction, module), 0, nullptr},
        {"__doc__", Py_T_OBJECT_EX, offsetof(AttrFunction, doc), 0, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef ATTRFN_GETSET[] = {
        {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
        {"__signature__", attrfn_signature, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot ATTRFN_SLOTS[] = {
        {Py_tp_dealloc, (void *)attrfn_dealloc},
        {Py_tp_traverse, (void *)attrfn_traverse},
        {Py_tp_clear, (void *)attrfn_clear},
        {Py_tp_repr, (void *)attrfn_repr},
        {Py_tp_call, (void *)PyVectorcall_Call},
        {Py_tp_methods, ATTRFN_METHODS},
        {Py_tp_members, ATTRFN_MEMBERS},
        {Py_tp_getset, ATTRFN_GETSET},
        {0, nullptr},
};

PyType_Spec ATTRFN_SPEC = {
        "oskra.tcl.wordform.conversion_function",
        sizeof(AttrFunction),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                Py_TPFLAGS_DISALLOW_INSTANTIATION,
        ATTRFN_SLOTS,
};

PyObject *new_attr_function(PyTypeObject *tp, const Params &params, const char *doc,
                            PyObject *(*impl)(PyObject *)) {
    const char *name = params.fname;
    AttrFunction *f = PyObject_GC_New(AttrFunction, tp);
    if (!f) return nullptr;
    Py_INCREF(tp);
    f->vectorcall = attrfn_vectorcall;
    f->dict = PyDict_New();
    f->name = PyUnicode_FromString(name);
    f->qualname = PyUnicode_FromString(name);
    f->module = PyUnicode_FromString(MODULE_NAME);
    f->doc = PyUnicode_FromString(doc);
    f->impl = impl;
    f->params = &params;
    PyObject_GC_Track((PyObject *)f);
    if (!f->dict || !f->name || !f->qualname || !f->module || !f->doc) {
        Py_DECREF(f);
        return nullptr;
    }
    return (PyObject *)f;
}

const char WORDFORM_DOC[] = "wordform(obj)\n\n"
                            "The Tcl form of obj as a str: __wordform__() or wordform(__tclobj__())\n"
                            "when defined, \"\" for None, the text of a str, \"true\"/\"false\" for a\n"
                            "bool, a quoted Tcl list for a sequence, set or mapping, else str(obj).";
const char TCLOBJ_DOC[] = "tclobj(obj)\n\n"
                          "A value the Tcl layer passes to Tcl with its type: __tclobj__() when\n"
                          "defined, \"\" for None, str, bytes, bool, float, Tcl_Obj and machine-sized\n"
                          "int unchanged, nested tuples for sequences, sets and mappings, else\n"
                          "wordform(obj).";

void check(int rc) {
    if (rc < 0) throw nb::python_error();
}
PyObject *check(PyObject *o) {
    if (!o) throw nb::python_error();
    return o;
}

}  // namespace

NB_MODULE(wordform, m) {
    PyObject *mod = m.ptr();
    m.doc() = "Python values as Tcl words and lists (wordform) and as Tcl-ready values (tclobj).";
    if (!oskra::attach_state()) throw nb::python_error();

    nb::module_ abc = nb::module_::import_("collections.abc");
    m.attr("Mapping") = abc.attr("Mapping");
    m.attr("Sequence") = abc.attr("Sequence");
    m.attr("Set") = abc.attr("Set");
    m.attr("_tkTcl_Obj") = nb::module_::import_("_tkinter").attr("Tcl_Obj");
    nb::module_ sys = nb::module_::import_("sys");
    m.attr("sys") = sys;
    m.attr("unicode") = nb::handle((PyObject *)&PyUnicode_Type);

    nb::object modname = nb::str(MODULE_NAME);
    auto add_cfunction = [&](const FunctionDef &f) {
        // The definition lives as long as the process, like the module.
        PyMethodDef *def = new PyMethodDef{f.params.fname, f.body, METH_FASTCALL | METH_KEYWORDS,
                                           f.params.doc_with_signature(f.params.fname, f.doc)};
        nb::object fn = nb::steal(check(PyCFunction_NewEx(def, nullptr, modname.ptr())));
        check(PyModule_AddObjectRef(mod, def->ml_name, fn.ptr()));
        return fn;
    };
    add_cfunction(FUNCTIONS[0]);
    add_cfunction(FUNCTIONS[1]);
    nb::object update = add_cfunction(FUNCTIONS[2]);
    m.attr("_wordform_from_sequence") = update;
    nb::object wf_mapping = add_cfunction(FUNCTIONS[3]);

    PyTypeObject *fn_type = (PyTypeObject *)check(PyType_FromModuleAndSpec(mod, &ATTRFN_SPEC, nullptr));
    nb::object fn_type_ref = nb::steal((PyObject *)fn_type);
    nb::object wordform =
            nb::steal(check(new_attr_function(fn_type, wordform_params, WORDFORM_DOC, oskra::wordform)));
    m.attr("wordform") = wordform;

    nb::object maxsize = sys.attr("maxsize");
    m.attr("_sysmaxsize") = maxsize;
    m.attr("_long_type") = nb::handle((PyObject *)Py_TYPE((maxsize + nb::int_(1)).ptr()));

    nb::object t_sequence = add_cfunction(FUNCTIONS[4]);
    nb::object t_mapping = add_cfunction(FUNCTIONS[5]);
    nb::object tclobj =
            nb::steal(check(new_attr_function(fn_type, tclobj_params, TCLOBJ_DOC, oskra::tclobj)));
    m.attr("tclobj") = tclobj;

    wordform.attr("from_sequence") = update;
    wordform.attr("from_mapping") = wf_mapping;
    tclobj.attr("from_sequence") = t_sequence;
    tclobj.attr("from_mapping") = t_mapping;
}
