// TclVariable: a native type with its fields in C slots. The parts
// TclArrayVariable reuses are declared in variable.h.
#include "variable.h"

#include "core/callback_errors.h"
#include "core/convert.h"
#include "core/listsplit.h"
#include "core/tcltext.h"
#include "support/tclapp.h"
#include "support/var_text.h"
#include "parts.h"

namespace oskra::ns {

namespace var {

PyTypeObject *var_type = nullptr;
PyObject *marker = nullptr;  // TclVariable._TclVariable__marker

// --- life cycle -------------------------------------------------------------

int var_traverse(PyObject *self, visitproc visit, void *arg) {
    VarObject *v = V(self);
    Py_VISIT(Py_TYPE(self));
    return vc::visit_fields({v->tcl, v->cast, v->var_name, v->dict}, visit, arg);
}

int var_clear(PyObject *self) {
    VarObject *v = V(self);
    vc::clear_fields({&v->tcl, &v->cast, &v->var_name, &v->dict});
    return 0;
}

void var_dealloc(PyObject *self) { vc::dealloc_gc(self, var_clear, V(self)->weakreflist); }

// The constructor's work, shared with TclArrayVariable.__init__.
int init_fields(PyObject *self, PyObject *var_name, PyObject *array_index, PyObject *tcl, PyObject *cast) {
    int t = vc::truthy(tcl);
    if (t < 0) return -1;
    PyObject *ref = interp_ref_raw(t ? tcl : Py_None);
    if (!ref) return -1;
    Py_XSETREF(V(self)->tcl, ref);
    Py_XSETREF(V(self)->cast, Py_NewRef(cast ? cast : Py_None));
    Ref name = Ref::steal(wordform(var_name));
    if (!name) return -1;
    if (array_index && array_index != Py_None) {
        Ref index = Ref::steal(wordform(array_index));
        if (!index) return -1;
        name = Ref::steal(PyUnicode_FromFormat("%S(%S)", name.get(), index.get()));
        if (!name) return -1;
    }
    Py_XSETREF(V(self)->var_name, name.release());
    return 0;
}

int var_init(PyObject *self, PyObject *args, PyObject *kwargs) {
    static const char *kwlist[] = {"var_name", "array_index", "tcl", "cast", nullptr};
    PyObject *var_name, *array_index = Py_None, *tcl = Py_None, *cast = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOO:TclVariable", const_cast<char **>(kwlist),
                                     &var_name, &array_index, &tcl, &cast))
        return -1;
    return init_fields(self, var_name, array_index, tcl, cast);
}

// --- helpers ----------------------------------------------------------------

#define FIELD(self, f) vc::field(self, V(self)->f, #f)

// The Tcl name of the variable, or of its element `index` when given.
// A word form that is not a str (a __wordform__ may return anything) cannot
// be joined into the name: TypeError, as the writers' setvar refuses it.
PyObject *name_of(PyObject *self, PyObject *index) {
    Ref name = FIELD(self, var_name);
    if (!name) return nullptr;
    if (!index || index == Py_None) return name.release();
    Ref w = Ref::steal(wordform_text(index));  // a str: it is formatted with %U
    if (!w) return nullptr;
    if (!PyUnicode_Check(name.get())) {
        PyErr_Format(PyExc_TypeError, "var_name must be str, not %.100s", Py_TYPE(name.get())->tp_name);
        return nullptr;
    }
    if (!PyUnicode_Check(w.get())) {
        PyErr_Format(PyExc_TypeError, "can only concatenate str (not \"%.200s\") to str",
                     Py_TYPE(w.get())->tp_name);
        return nullptr;
    }
    return PyUnicode_FromFormat("%U(%U)", name.get(), w.get());
}

// The Tcl application object and the variable's name.
bool tk_and_name(PyObject *self, Ref &tk, Ref &name) {
    return vc::tk_and_name(self, &V(self)->tcl, &V(self)->var_name, "var_name", tk, name);
}

PyObject *tk_element_call(PyObject *tk, TkMethod method, PyObject *name, PyObject *index, PyObject *value) {
    PyObject *stack[4] = {tk, name};
    size_t n = 2;
    Ref w, v;
    // The index is converted like the writers convert it, so that a
    // non-string key reads back what the same key wrote.
    if (index && index != Py_None) {
        w = Ref::steal(wordform(index));
        if (!w) return nullptr;
        stack[n++] = w.get();
    }
    if (value) {
        v = Ref::steal(tclobj(value));
        if (v) v = Ref::steal(tcl_safe_value(v.get()));
        if (!v) return nullptr;
        stack[n++] = v.get();
    }
    return run_tcl_call(tk, [&] { return tk_method(method, stack, n); });
}

// tk_element_call on this variable.
PyObject *element_call(PyObject *self, TkMethod method, PyObject *index, PyObject *value = nullptr) {
    Ref tk, name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    return tk_element_call(tk.get(), method, name.get(), index, value);
}

// An `array get` result with its names (the even elements) taken from its
// text: the Tcl layer converts each by its internal type (a tuple, an int).
PyObject *names_as_text(PyObject *tk, PyObject *result) {
    Ref r = Ref::steal(result);
    if (!r || !PyTuple_CheckExact(r.get())) return r.release();
    Ref text = Ref::steal(result_text(tk, r.get()));
    Ref texts = text ? Ref::steal(split_list(text.get())) : Ref();
    if (!texts) return nullptr;
    Py_ssize_t n = PyTuple_GET_SIZE(r.get());
    if (PyTuple_GET_SIZE(texts.get()) != n) return r.release();
    for (Py_ssize_t i = 1; i < n; i += 2) {
        PyObject *value = PyTuple_GET_ITEM(r.get(), i);
        Py_SETREF(PyTuple_GET_ITEM(texts.get(), i), Py_NewRef(value));
    }
    return texts.release();
}

// tk.call(("::array", sub, var_name[, wordform(pattern)])).
PyObject *array_call(PyObject *self, PyObject *sub, PyObject *pattern, Reply reply) {
    Ref tk, name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    bool with = pattern && pattern != Py_None;
    Ref words = Ref::steal(PyTuple_New(with ? 4 : 3));
    if (!words) return nullptr;
    PyTuple_SET_ITEM(words.get(), 0, Py_NewRef(names.array_cmd));
    PyTuple_SET_ITEM(words.get(), 1, Py_NewRef(sub));
    PyTuple_SET_ITEM(words.get(), 2, name.release());
    if (with) {
        PyObject *p = wordform(pattern);
        if (!p) return nullptr;
        PyTuple_SET_ITEM(words.get(), 3, p);
    }
    if (reply == Reply::text) return call_words_text(tk.get(), words.get());
    if (reply == Reply::names_as_text) return names_as_text(tk.get(), call_words(tk.get(), words.get()));
    return call_words(tk.get(), words.get());
}

// self.tcl.<cast>(value), stealing `value`.
PyObject *tcl_cast(PyObject *self, PyObject *cast_name, PyObject *value) {
    Ref v = Ref::steal(value);
    if (!v) return nullptr;
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    return call_method1(tcl.get(), cast_name, v.get());
}

// --- reading and writing ----------------------------------------------------

PyObject *get_obj_impl(PyObject *self, PyObject *index, PyObject *cast) {
    Ref result = Ref::steal(element_call(self, TkMethod::getvar, index));
    if (!result) return nullptr;
    Ref own = (!cast || cast == marker) ? FIELD(self, cast) : Ref::borrow(cast);
    if (!own) return nullptr;
    int t = vc::truthy(own.get());
    if (t < 0) return nullptr;
    if (!t) return result.release();
    return PyObject_CallOneArg(own.get(), result.get());
}

// No text signature: the default cast is the object's own, which no
// default value can show.
const Params get_obj_params{"get_obj", SelfArg::separate, {{"array_index", "None"}, {"cast", "None"}}};
PyObject *var_get_obj(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[2];
    if (!get_obj_params.bind(args, nargs, kwnames, a)) return nullptr;
    return get_obj_impl(self, a[0], a[1]);
}

const Params get_str_params{"get_str", SelfArg::separate, {{"array_index", "None"}}};
PyObject *var_get_str(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[1];
    if (!get_str_params.bind(args, nargs, kwnames, a)) return nullptr;
    Ref tk, var_name;
    if (!tk_and_name(self, tk, var_name)) return nullptr;
    Ref name = Ref::steal(name_of(self, a[0]));
    if (!name) return nullptr;
    return read_var_text(tk.get(), name.get());
}

PyObject *set_impl(PyObject *self, PyObject *value, PyObject *index) {
    Ref result = Ref::steal(element_call(self, TkMethod::setvar, index, value));
    if (!result) return nullptr;
    Py_RETURN_NONE;
}

const Params set_params{"set", SelfArg::separate, {{"value"}, {"array_index", "None"}}};
PyObject *var_set(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[2];
    if (!set_params.bind(args, nargs, kwnames, a)) return nullptr;
    return set_impl(self, a[0], a[1]);
}

PyObject *unset_impl(PyObject *self, PyObject *index, PyObject *nocomplain) {
    PyObject *tcl_error = tcl_error_type();  // before any error is set
    if (!tcl_error) return nullptr;
    Ref result = Ref::steal(element_call(self, TkMethod::unsetvar, index));
    if (result) Py_RETURN_NONE;
    if (!PyErr_ExceptionMatches(tcl_error)) return nullptr;
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    int quiet = vc::truthy(nocomplain);
    if (quiet < 0) return nullptr;  // the new error replaces the Tcl one
    if (!quiet) {
        PyErr_SetRaisedException(exc.release());
        return nullptr;
    }
    Py_RETURN_NONE;
}

const Params unset_params{"unset", SelfArg::separate, {{"array_index", "None"}, {"nocomplain", "False"}}};
PyObject *var_unset(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[2];
    if (!unset_params.bind(args, nargs, kwnames, a)) return nullptr;
    return unset_impl(self, a[0], a[1]);
}

PyObject *exists_impl(PyObject *self, PyObject *index) {
    Ref tk, var_name;
    if (!tk_and_name(self, tk, var_name)) return nullptr;
    Ref name = Ref::steal(name_of(self, index));
    if (!name) return nullptr;
    Ref words = Ref::steal(PyTuple_Pack(3, names.info_cmd, names.exists, name.get()));
    if (!words) return nullptr;
    return tcl_cast(self, names.cast_boolean, call_words(tk.get(), words.get()));
}

const Params exists_params{"exists", SelfArg::separate, {{"array_index", "None"}}};
PyObject *var_exists(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[1];
    if (!exists_params.bind(args, nargs, kwnames, a)) return nullptr;
    return exists_impl(self, a[0]);
}

const Params array_item_byref_params{
        "array_item_byref", SelfArg::separate, {{"array_index"}, {"cast", "None"}}};
PyObject *var_array_item_byref(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static PyObject *kw = nullptr;  // ("array_index", "tcl", "cast")
    PyObject *a[2];
    if (!array_item_byref_params.bind(args, nargs, kwnames, a)) return nullptr;
    if (!kw && !(kw = Py_BuildValue("(sss)", "array_index", "tcl", "cast"))) return nullptr;
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    PyObject *stack[4] = {self, a[0], tcl.get(), a[1] ? a[1] : Py_None};
    return PyObject_Vectorcall(classes.TclVariable.ptr(), stack, 1, kw);
}

// --- whole arrays -----------------------------------------------------------

const Params array_get_obj_params{"array_get_obj", SelfArg::separate, {{"pattern", "None"}}};
const Params array_get_str_params{"array_get_str", SelfArg::separate, {{"pattern", "None"}}};
const Params array_unset_params{"array_unset", SelfArg::separate, {{"pattern", "None"}}};
const Params array_names_params{"array_names", SelfArg::separate, {{"pattern", "None"}}};
const Params array_set_params{"array_set", SelfArg::separate, {{"value"}}};
const Params array_size_params{"array_size", SelfArg::separate, {}};
const Params is_array_params{"is_array", SelfArg::separate, {}};

PyObject *var_array_get_obj(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (!array_get_obj_params.bind(args, nargs, kwnames, &pattern)) return nullptr;
    return tcl_cast(self, names.cast_array, array_call(self, names.get, pattern, Reply::names_as_text));
}

PyObject *var_array_get_str(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (!array_get_str_params.bind(args, nargs, kwnames, &pattern)) return nullptr;
    Ref tk, name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    bool with = pattern && pattern != Py_None;
    Ref word = Ref::steal(with ? wordform(pattern) : Py_NewRef(Py_None));
    if (!word) return nullptr;
    PyObject *words[4] = {names.array_cmd, names.get, name.get(), word.get()};
    return tcl_cast(self, names.cast_array, call_text(tk.get(), words, with ? 4 : 3));
}

PyObject *var_array_set(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[1];
    if (!array_set_params.bind(args, nargs, kwnames, a)) return nullptr;
    Ref tk, name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    Ref value = Ref::steal(tclobj(a[0]));
    if (!value) return nullptr;
    Ref words = Ref::steal(PyTuple_Pack(4, names.array_cmd, names.set, name.get(), value.get()));
    if (!words) return nullptr;
    Ref r = Ref::steal(call_words(tk.get(), words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *array_unset_impl(PyObject *self, PyObject *pattern) {
    Ref r = Ref::steal(array_call(self, names.unset, pattern));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *var_array_unset(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (!array_unset_params.bind(args, nargs, kwnames, &pattern)) return nullptr;
    return array_unset_impl(self, pattern);
}

PyObject *var_array_size(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!array_size_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    return array_call(self, names.size, nullptr);
}

PyObject *var_array_names(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (!array_names_params.bind(args, nargs, kwnames, &pattern)) return nullptr;
    return tcl_cast(self, names.cast_list, array_call(self, names.names_, pattern, Reply::text));
}

PyObject *var_is_array(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!is_array_params.bind(args, nargs, kwnames, nullptr)) return nullptr;
    return tcl_cast(self, names.cast_boolean, array_call(self, names.exists, nullptr));
}

// --- names and text forms ---------------------------------------------------

PyObject *var_absolute(PyObject *self, PyObject *) {
    Ref name = FIELD(self, var_name);
    if (!name) return nullptr;
    Ref tcl = FIELD(self, tcl);
    return tcl ? vc::absolute_name(tcl.get(), name.get()) : nullptr;
}

PyObject *var_make_absolute(PyObject *self, PyObject *) {
    PyObject *name = var_absolute(self, nullptr);
    if (!name) return nullptr;
    Py_XSETREF(V(self)->var_name, name);
    Py_RETURN_NONE;
}

PyObject *var_str(PyObject *self) { return FIELD(self, var_name).release(); }

PyObject *var_tclobj(PyObject *self, PyObject *) {
    Ref name = FIELD(self, var_name);
    return name ? wordform(name.get()) : nullptr;
}

PyObject *var_repr(PyObject *self) {
    Ref name = FIELD(self, var_name);
    if (!name) return nullptr;
    Ref cls = Ref::steal(PyType_GetName(Py_TYPE(self)));
    if (!cls) return nullptr;
    return PyUnicode_FromFormat("%U(%R)", cls.get(), name.get());
}

PyMethodDef var_methods[] = {
        {"get_obj", c_function(var_get_obj), METH_FASTCALL | METH_KEYWORDS,
         "Read the variable (or its element array_index), then apply cast:\n"
         "by default the object's own cast; None reads without any cast."},
        fast_kw_def("get_str", var_get_str, get_str_params,
                    "Read the value's string form with the Tcl command set."),
        fast_kw_def("set", var_set, set_params, "Write the variable or one of its elements."),
        fast_kw_def("unset", var_unset, unset_params,
                    "Unset the variable or one element; nocomplain drops the TclError."),
        fast_kw_def("exists", var_exists, exists_params, "Whether the variable (or the element) exists."),
        fast_kw_def("array_item_byref", var_array_item_byref, array_item_byref_params,
                    "A TclVariable for one element of this array."),
        fast_kw_def("array_get_obj", var_array_get_obj, array_get_obj_params,
                    "The array's elements (those matching pattern) as an Array."),
        fast_kw_def("array_get_str", var_array_get_str, array_get_str_params,
                    "Like array_get_obj, evaluated as a script (values as text)."),
        fast_kw_def("array_set", var_array_set, array_set_params,
                    "Set elements from a mapping or a flat name, value sequence."),
        fast_kw_def("array_unset", var_array_unset, array_unset_params,
                    "Unset the elements matching pattern, or the whole array."),
        fast_kw_def("array_size", var_array_size, array_size_params,
                    "The number of elements (0 for a missing array)."),
        fast_kw_def("array_names", var_array_names, array_names_params,
                    "The element names (matching pattern) as a tuple."),
        fast_kw_def("is_array", var_is_array, is_array_params, "Whether the variable is an array."),
        {"absolute", var_absolute, METH_NOARGS,
         "absolute($self, /)\n--\n\nThe name made absolute against the current namespace."},
        {"make_absolute", var_make_absolute, METH_NOARGS,
         "make_absolute($self, /)\n--\n\nMake var_name absolute."},
        {"__tclobj__", var_tclobj, METH_NOARGS,
         "__tclobj__($self, /)\n--\n\nThe variable's name (never its value)."},
        {nullptr, nullptr, 0, nullptr},
};

PyMemberDef var_members[] = {
        {"tcl", T_OBJECT_EX, offsetof(VarObject, tcl), 0, "The interpreter (a weak proxy)."},
        {"cast", T_OBJECT_EX, offsetof(VarObject, cast), 0, "The default cast of get_obj."},
        {"var_name", T_OBJECT_EX, offsetof(VarObject, var_name), 0, "The variable's Tcl name."},
        {"__dictoffset__", T_PYSSIZET, offsetof(VarObject, dict), READONLY, nullptr},
        {"__weaklistoffset__", T_PYSSIZET, offsetof(VarObject, weakreflist), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef var_getset[] = {
        {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot var_slots[] = {
        {Py_tp_doc,
         (void *)"TclVariable(var_name, array_index=None, tcl=None, cast=None)\n--\n\n"
                 "A Tcl variable (a scalar, a whole array or one element) of one interpreter."},
        {Py_tp_init, (void *)var_init},
        {Py_tp_new, (void *)PyType_GenericNew},
        {Py_tp_dealloc, (void *)var_dealloc},
        {Py_tp_traverse, (void *)var_traverse},
        {Py_tp_clear, (void *)var_clear},
        {Py_tp_methods, var_methods},
        {Py_tp_members, var_members},
        {Py_tp_getset, var_getset},
        {Py_tp_str, (void *)var_str},
        {Py_tp_repr, (void *)var_repr},
        {0, nullptr},
};

PyType_Spec var_spec = {
        "oskra.tcl.namespace.TclVariable",
        sizeof(VarObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
        var_slots,
};

}  // namespace var

using namespace var;

// --- assembly ---------------------------------------------------------------

nb::object make_TclVariable() {
    if (!marker) {
        marker = PyObject_CallNoArgs(reinterpret_cast<PyObject *>(&PyBaseObject_Type));
        if (!marker) throw nb::python_error();
    }
    PyObject *tp = PyType_FromSpec(&var_spec);
    if (!tp) throw nb::python_error();
    var_type = reinterpret_cast<PyTypeObject *>(tp);
    Py_INCREF(tp);  // var_type lives as long as the process
    nb::object cls = nb::steal(tp);
    PyObject *d = var_type->tp_dict;
    // The sentinel default of get_obj's cast, and the aliases.
    if (PyDict_SetItemString(d, "_TclVariable__marker", marker) < 0) throw nb::python_error();
    if (PyDict_SetItemString(d, "get", PyDict_GetItemString(d, "get_obj")) < 0) throw nb::python_error();
    if (PyDict_SetItemString(d, "array_get", PyDict_GetItemString(d, "array_get_obj")) < 0)
        throw nb::python_error();
    static const char *const order[] = {"__init__",
                                        "_TclVariable__marker",
                                        "get_obj",
                                        "get_str",
                                        "get",
                                        "set",
                                        "unset",
                                        "exists",
                                        "array_item_byref",
                                        "array_get_obj",
                                        "array_get_str",
                                        "array_get",
                                        "array_set",
                                        "array_unset",
                                        "array_size",
                                        "array_names",
                                        "is_array",
                                        "absolute",
                                        "make_absolute",
                                        "__str__",
                                        "__tclobj__",
                                        "__repr__",
                                        nullptr};
    if (vc::order_type_dict(var_type, order) < 0) throw nb::python_error();
    return cls;
}

}  // namespace oskra::ns
