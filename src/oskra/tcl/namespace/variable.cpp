// TclVariable (a native type with its fields in C slots) and
// TclArrayVariable (assembled by type() over MutableMapping and TclVariable).
#include "namespace/parts.h"
#include "namespace/varcmd.h"

#include "core/convert.h"
#include "core/listsplit.h"
#include "core/tclapp.h"

namespace oskra::ns {
using vc::S;

namespace {

struct VarObject {
    PyObject_HEAD
    PyObject *tcl;
    PyObject *cast;
    PyObject *var_name;
    PyObject *dict;
    PyObject *weakreflist;
};

PyTypeObject *var_type = nullptr;
PyObject *marker = nullptr;  // TclVariable._TclVariable__marker

inline VarObject *V(PyObject *o) { return reinterpret_cast<VarObject *>(o); }

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
    PyObject *name = wordform(var_name);
    if (!name) return -1;
    if (array_index && array_index != Py_None) {
        Ref index = Ref::steal(wordform(array_index));
        if (!index) {
            Py_DECREF(name);
            return -1;
        }
        PyObject *full = PyUnicode_FromFormat("%S(%S)", name, index.get());
        Py_DECREF(name);
        if (!full) return -1;
        name = full;
    }
    Py_XSETREF(V(self)->var_name, name);
    return 0;
}

int var_init(PyObject *self, PyObject *args, PyObject *kwargs) {
    static const char *kwlist[] = {"var_name", "array_index", "tcl", "cast", nullptr};
    PyObject *var_name, *array_index = Py_None, *tcl = Py_None, *cast = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOO:TclVariable", const_cast<char **>(kwlist), &var_name,
                                     &array_index, &tcl, &cast))
        return -1;
    return init_fields(self, var_name, array_index, tcl, cast);
}

// --- helpers ----------------------------------------------------------------

#define FIELD(self, f) vc::field(self, V(self)->f, #f)

// The Tcl name of the variable, or of its element `index` when given.
PyObject *name_of(PyObject *self, PyObject *index) {
    PyObject *name = FIELD(self, var_name);
    if (!name) return nullptr;
    if (!index || index == Py_None) return Py_NewRef(name);
    Ref w = Ref::steal(wordform(index));
    if (!w) return nullptr;
    if (!PyUnicode_Check(name)) {
        PyErr_Format(PyExc_TypeError, "var_name must be str, not %.100s", Py_TYPE(name)->tp_name);
        return nullptr;
    }
    return PyUnicode_FromFormat("%U(%U)", name, w.get());
}

// The Tcl application object and the variable's name.
bool tk_and_name(PyObject *self, Ref &tk, PyObject *&name) {
    return vc::tk_and_name(self, V(self)->tcl, &V(self)->var_name, "var_name", tk, name);
}

// tk.<method>(var_name[, wordform(index)][, value]): getvar, setvar and
// unsetvar on the variable or one element. The index is converted like the
// writers convert it, so that a non-string key reads back what the same key
// wrote; a value goes through tclobj and the guard of the Tcl layer.
PyObject *element_call(PyObject *self, PyObject *method, PyObject *index, PyObject *value = nullptr) {
    Ref tk;
    PyObject *name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    PyObject *stack[4] = {tk.get(), name};
    size_t n = 2;
    Ref w, v;
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
    return PyObject_VectorcallMethod(method, stack, n, nullptr);
}

// tk.eval(wordform(words)): the words run as a script, so that the result
// comes back as its string form.
PyObject *eval_words(PyObject *tk, PyObject *words) {
    if (!words) return nullptr;
    Ref script = Ref::steal(wordform(words));
    if (!script) return nullptr;
    return vc::call_method1(tk, S.eval, script.get());
}

// tk.call(("::array", sub, var_name[, wordform(pattern)])).
PyObject *array_call(PyObject *self, PyObject *sub, PyObject *pattern) {
    Ref tk;
    PyObject *name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    bool with = pattern && pattern != Py_None;
    Ref words = Ref::steal(PyTuple_New(with ? 4 : 3));
    if (!words) return nullptr;
    PyTuple_SET_ITEM(words.get(), 0, Py_NewRef(S.array));
    PyTuple_SET_ITEM(words.get(), 1, Py_NewRef(sub));
    PyTuple_SET_ITEM(words.get(), 2, Py_NewRef(name));
    if (with) {
        PyObject *p = wordform(pattern);
        if (!p) return nullptr;
        PyTuple_SET_ITEM(words.get(), 3, p);
    }
    return vc::call_words(tk.get(), words.get());
}

// self.tcl.<cast>(value), stealing `value`.
PyObject *tcl_cast(PyObject *self, PyObject *cast_name, PyObject *value) {
    Ref v = Ref::steal(value);
    if (!v) return nullptr;
    PyObject *tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    return vc::call_method1(tcl, cast_name, v.get());
}

// --- reading and writing ----------------------------------------------------

PyObject *get_obj_impl(PyObject *self, PyObject *index, PyObject *cast) {
    Ref result = Ref::steal(element_call(self, S.getvar, index));
    if (!result) return nullptr;
    if (!cast || cast == marker) {
        cast = FIELD(self, cast);
        if (!cast) return nullptr;
    }
    int t = vc::truthy(cast);
    if (t < 0) return nullptr;
    if (!t) return result.release();
    return PyObject_CallOneArg(cast, result.get());
}

PyObject *var_get_obj(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"array_index", "cast"};
    PyObject *a[2];
    if (vc::bind_args("get_obj", args, nargs, kwnames, names, 2, 0, a)) return nullptr;
    return get_obj_impl(self, a[0], a[1]);
}

PyObject *var_get_str(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"array_index"};
    PyObject *a[1];
    if (vc::bind_args("get_str", args, nargs, kwnames, names, 1, 0, a)) return nullptr;
    Ref tk;
    PyObject *var_name;
    if (!tk_and_name(self, tk, var_name)) return nullptr;
    Ref name = Ref::steal(name_of(self, a[0]));
    if (!name) return nullptr;
    return eval_words(tk.get(), Ref::steal(PyTuple_Pack(2, S.set, name.get())).get());
}

PyObject *set_impl(PyObject *self, PyObject *value, PyObject *index) {
    Ref result = Ref::steal(element_call(self, S.setvar, index, value));
    if (!result) return nullptr;
    Py_RETURN_NONE;
}

PyObject *var_set(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"value", "array_index"};
    PyObject *a[2];
    if (vc::bind_args("set", args, nargs, kwnames, names, 2, 1, a)) return nullptr;
    return set_impl(self, a[0], a[1]);
}

PyObject *unset_impl(PyObject *self, PyObject *index, PyObject *nocomplain) {
    PyObject *tcl_error = tcl_error_type();  // before any error is set
    if (!tcl_error) return nullptr;
    Ref result = Ref::steal(element_call(self, S.unsetvar, index));
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

PyObject *var_unset(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"array_index", "nocomplain"};
    PyObject *a[2];
    if (vc::bind_args("unset", args, nargs, kwnames, names, 2, 0, a)) return nullptr;
    return unset_impl(self, a[0], a[1]);
}

PyObject *exists_impl(PyObject *self, PyObject *index) {
    Ref tk;
    PyObject *var_name;
    if (!tk_and_name(self, tk, var_name)) return nullptr;
    Ref name = Ref::steal(name_of(self, index));
    if (!name) return nullptr;
    Ref words = Ref::steal(PyTuple_Pack(3, S.info, S.exists, name.get()));
    if (!words) return nullptr;
    return tcl_cast(self, S.cast_boolean, vc::call_words(tk.get(), words.get()));
}

PyObject *var_exists(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"array_index"};
    PyObject *a[1];
    if (vc::bind_args("exists", args, nargs, kwnames, names, 1, 0, a)) return nullptr;
    return exists_impl(self, a[0]);
}

PyObject *var_array_item_byref(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"array_index", "cast"};
    static PyObject *kw = nullptr;  // ("array_index", "tcl", "cast")
    PyObject *a[2];
    if (vc::bind_args("array_item_byref", args, nargs, kwnames, names, 2, 1, a)) return nullptr;
    if (!kw && !(kw = Py_BuildValue("(sss)", "array_index", "tcl", "cast"))) return nullptr;
    PyObject *tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    PyObject *stack[4] = {self, a[0], tcl, a[1] ? a[1] : Py_None};
    return PyObject_Vectorcall(classes.TclVariable.ptr(), stack, 1, kw);
}

// --- whole arrays -----------------------------------------------------------

int one_pattern(const char *fname, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **pattern) {
    static const char *const names[] = {"pattern"};
    return vc::bind_args(fname, args, nargs, kwnames, names, 1, 0, pattern);
}

PyObject *var_array_get_obj(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (one_pattern("array_get_obj", args, nargs, kwnames, &pattern)) return nullptr;
    return tcl_cast(self, S.cast_array, array_call(self, S.get, pattern));
}

PyObject *var_array_get_str(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (one_pattern("array_get_str", args, nargs, kwnames, &pattern)) return nullptr;
    Ref tk;
    PyObject *name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    Ref words = Ref::steal(pattern && pattern != Py_None ? PyTuple_Pack(4, S.array, S.get, name, pattern)
                                                         : PyTuple_Pack(3, S.array, S.get, name));
    return tcl_cast(self, S.cast_array, eval_words(tk.get(), words.get()));
}

PyObject *var_array_set(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"value"};
    PyObject *a[1];
    if (vc::bind_args("array_set", args, nargs, kwnames, names, 1, 1, a)) return nullptr;
    Ref tk;
    PyObject *name;
    if (!tk_and_name(self, tk, name)) return nullptr;
    Ref value = Ref::steal(tclobj(a[0]));
    if (!value) return nullptr;
    Ref words = Ref::steal(PyTuple_Pack(4, S.array, S.set, name, value.get()));
    if (!words) return nullptr;
    Ref r = Ref::steal(vc::call_words(tk.get(), words.get()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *array_unset_impl(PyObject *self, PyObject *pattern) {
    Ref r = Ref::steal(array_call(self, S.unset, pattern));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *var_array_unset(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (one_pattern("array_unset", args, nargs, kwnames, &pattern)) return nullptr;
    return array_unset_impl(self, pattern);
}

PyObject *var_array_size(PyObject *self, PyObject *const *, Py_ssize_t nargs, PyObject *kwnames) {
    if (vc::no_args("array_size", nargs, kwnames)) return nullptr;
    return array_call(self, S.size, nullptr);
}

PyObject *var_array_names(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *pattern;
    if (one_pattern("array_names", args, nargs, kwnames, &pattern)) return nullptr;
    return tcl_cast(self, S.cast_list, array_call(self, S.names, pattern));
}

PyObject *var_is_array(PyObject *self, PyObject *const *, Py_ssize_t nargs, PyObject *kwnames) {
    if (vc::no_args("is_array", nargs, kwnames)) return nullptr;
    return tcl_cast(self, S.cast_boolean, array_call(self, S.exists, nullptr));
}

// --- names and text forms ---------------------------------------------------

PyObject *var_absolute(PyObject *self, PyObject *) {
    PyObject *name = FIELD(self, var_name);
    if (!name) return nullptr;
    PyObject *tcl = FIELD(self, tcl);
    return tcl ? vc::absolute_name(tcl, name) : nullptr;
}

PyObject *var_make_absolute(PyObject *self, PyObject *) {
    PyObject *name = var_absolute(self, nullptr);
    if (!name) return nullptr;
    Py_XSETREF(V(self)->var_name, name);
    Py_RETURN_NONE;
}

PyObject *var_str(PyObject *self) {
    PyObject *name = FIELD(self, var_name);
    return name ? Py_NewRef(name) : nullptr;
}

PyObject *var_tclobj(PyObject *self, PyObject *) {
    PyObject *name = FIELD(self, var_name);
    return name ? wordform(name) : nullptr;
}

PyObject *var_repr(PyObject *self) {
    PyObject *name = FIELD(self, var_name);
    if (!name) return nullptr;
    Ref cls = Ref::steal(PyType_GetName(Py_TYPE(self)));
    if (!cls) return nullptr;
    return PyUnicode_FromFormat("%U(%R)", cls.get(), name);
}

#define FASTKW(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn))

PyMethodDef var_methods[] = {
    {"get_obj", FASTKW(var_get_obj), METH_FASTCALL | METH_KEYWORDS,
     "Read the variable (or its element array_index), then apply cast:\n"
     "by default the object's own cast; None reads without any cast."},
    {"get_str", FASTKW(var_get_str), METH_FASTCALL | METH_KEYWORDS,
     "get_str($self, /, array_index=None)\n--\n\nRead the value's string form with the Tcl command set."},
    {"set", FASTKW(var_set), METH_FASTCALL | METH_KEYWORDS,
     "set($self, /, value, array_index=None)\n--\n\nWrite the variable or one of its elements."},
    {"unset", FASTKW(var_unset), METH_FASTCALL | METH_KEYWORDS,
     "unset($self, /, array_index=None, nocomplain=False)\n--\n\n"
     "Unset the variable or one element; nocomplain drops the TclError."},
    {"exists", FASTKW(var_exists), METH_FASTCALL | METH_KEYWORDS,
     "exists($self, /, array_index=None)\n--\n\nWhether the variable (or the element) exists."},
    {"array_item_byref", FASTKW(var_array_item_byref), METH_FASTCALL | METH_KEYWORDS,
     "array_item_byref($self, /, array_index, cast=None)\n--\n\nA TclVariable for one element of this array."},
    {"array_get_obj", FASTKW(var_array_get_obj), METH_FASTCALL | METH_KEYWORDS,
     "array_get_obj($self, /, pattern=None)\n--\n\nThe array's elements (those matching pattern) as an Array."},
    {"array_get_str", FASTKW(var_array_get_str), METH_FASTCALL | METH_KEYWORDS,
     "array_get_str($self, /, pattern=None)\n--\n\nLike array_get_obj, evaluated as a script (values as text)."},
    {"array_set", FASTKW(var_array_set), METH_FASTCALL | METH_KEYWORDS,
     "array_set($self, /, value)\n--\n\nSet elements from a mapping or a flat name, value sequence."},
    {"array_unset", FASTKW(var_array_unset), METH_FASTCALL | METH_KEYWORDS,
     "array_unset($self, /, pattern=None)\n--\n\nUnset the elements matching pattern, or the whole array."},
    {"array_size", FASTKW(var_array_size), METH_FASTCALL | METH_KEYWORDS,
     "array_size($self, /)\n--\n\nThe number of elements (0 for a missing array)."},
    {"array_names", FASTKW(var_array_names), METH_FASTCALL | METH_KEYWORDS,
     "array_names($self, /, pattern=None)\n--\n\nThe element names (matching pattern) as a tuple."},
    {"is_array", FASTKW(var_is_array), METH_FASTCALL | METH_KEYWORDS,
     "is_array($self, /)\n--\n\nWhether the variable is an array."},
    {"absolute", var_absolute, METH_NOARGS,
     "absolute($self, /)\n--\n\nThe name made absolute against the current namespace."},
    {"make_absolute", var_make_absolute, METH_NOARGS, "make_absolute($self, /)\n--\n\nMake var_name absolute."},
    {"__tclobj__", var_tclobj, METH_NOARGS, "__tclobj__($self, /)\n--\n\nThe variable's name (never its value)."},
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
    {Py_tp_doc, (void *)"TclVariable(var_name, array_index=None, tcl=None, cast=None)\n--\n\n"
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

// --- TclArrayVariable -------------------------------------------------------

// The lazy iterator of TclArrayVariable.__iter__: the names are fetched
// with self.array_names() when it is first advanced.
struct NamesIter {
    PyObject_HEAD
    PyObject *var;
    PyObject *names;
    Py_ssize_t pos;
};

PyTypeObject *iter_type = nullptr;

int iter_traverse(PyObject *self, visitproc visit, void *arg) {
    auto *it = reinterpret_cast<NamesIter *>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(it->var);
    Py_VISIT(it->names);
    return 0;
}

int iter_clear(PyObject *self) {
    auto *it = reinterpret_cast<NamesIter *>(self);
    Py_CLEAR(it->var);
    Py_CLEAR(it->names);
    return 0;
}

void iter_dealloc(PyObject *self) { vc::dealloc_gc(self, iter_clear, nullptr); }

PyObject *iter_next(PyObject *self) {
    auto *it = reinterpret_cast<NamesIter *>(self);
    if (it->var) {
        Ref var = Ref::steal(it->var);
        it->var = nullptr;
        PyObject *names = PyObject_CallMethodNoArgs(var.get(), S.array_names);
        if (!names) return nullptr;
        if (!PyTuple_Check(names)) {
            Py_SETREF(names, PySequence_Tuple(names));
            if (!names) return nullptr;
        }
        it->names = names;
    }
    if (!it->names || it->pos >= PyTuple_GET_SIZE(it->names)) {
        Py_CLEAR(it->names);
        return nullptr;
    }
    return Py_NewRef(PyTuple_GET_ITEM(it->names, it->pos++));
}

PyType_Slot iter_slots[] = {
    {Py_tp_dealloc, (void *)iter_dealloc},
    {Py_tp_traverse, (void *)iter_traverse},
    {Py_tp_clear, (void *)iter_clear},
    {Py_tp_iter, (void *)PyObject_SelfIter},
    {Py_tp_iternext, (void *)iter_next},
    {0, nullptr},
};

PyType_Spec iter_spec = {
    "oskra.tcl.namespace.array_names_iterator",
    sizeof(NamesIter),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    iter_slots,
};

// The methods below are plain functions wrapped as instance methods, so
// self arrives as args[0]; it must be a TclVariable.
bool check_self(const char *fname, PyObject *const *args, Py_ssize_t nargs, Py_ssize_t want) {
    if (nargs < 1 || !PyObject_TypeCheck(args[0], var_type)) {
        PyErr_Format(PyExc_TypeError, "%s() needs a TclVariable as self", fname);
        return false;
    }
    if (want >= 0 && nargs != want) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd were given", fname, want,
                     want == 1 ? "" : "s", nargs);
        return false;
    }
    return true;
}

PyObject *arr_init(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!check_self("__init__", args, nargs, -1)) return nullptr;
    static const char *const names[] = {"var_name", "tcl", "cast"};
    PyObject *a[3];
    if (vc::bind_args("__init__", args + 1, nargs - 1, kwnames, names, 3, 1, a)) return nullptr;
    if (init_fields(args[0], a[0], nullptr, a[1] ? a[1] : Py_None, a[2] ? a[2] : Py_None)) return nullptr;
    Py_RETURN_NONE;
}

PyObject *arr_len(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__len__", args, nargs, 1)) return nullptr;
    return array_call(args[0], S.size, nullptr);
}

PyObject *arr_iter(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__iter__", args, nargs, 1)) return nullptr;
    NamesIter *it = PyObject_GC_New(NamesIter, iter_type);
    if (!it) return nullptr;
    it->var = Py_NewRef(args[0]);
    it->names = nullptr;
    it->pos = 0;
    PyObject_GC_Track(it);
    return reinterpret_cast<PyObject *>(it);
}

PyObject *arr_contains(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__contains__", args, nargs, 2)) return nullptr;
    return exists_impl(args[0], args[1]);
}

PyObject *arr_getitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__getitem__", args, nargs, 2)) return nullptr;
    return get_obj_impl(args[0], args[1], nullptr);
}

PyObject *arr_setitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__setitem__", args, nargs, 3)) return nullptr;
    return set_impl(args[0], args[2], args[1]);
}

PyObject *arr_delitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__delitem__", args, nargs, 2)) return nullptr;
    return unset_impl(args[0], args[1], Py_False);
}

PyObject *arr_clear(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("clear", args, nargs, 1)) return nullptr;
    return array_unset_impl(args[0], nullptr);
}

PyObject *arr_update(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!check_self("update", args, nargs, -1)) return nullptr;
    // dict(*args, **kwargs), then one array set for all the pairs.
    Ref d = Ref::steal(PyObject_Vectorcall(reinterpret_cast<PyObject *>(&PyDict_Type), args + 1, nargs - 1, kwnames));
    if (!d) return nullptr;
    PyObject *stack[2] = {args[0], d.get()};
    return var_array_set(args[0], stack + 1, 1, nullptr);
}

}  // namespace

// --- assembly ---------------------------------------------------------------

nb::object make_TclVariable() {
    if (!vc::init_strings()) throw nb::python_error();
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
    static const char *const order[] = {
        "__init__", "_TclVariable__marker", "get_obj", "get_str", "get", "set", "unset", "exists",
        "array_item_byref", "array_get_obj", "array_get_str", "array_get", "array_set", "array_unset",
        "array_size", "array_names", "is_array", "absolute", "make_absolute", "__str__", "__tclobj__",
        "__repr__", nullptr};
    if (vc::order_type_dict(var_type, order) < 0) throw nb::python_error();
    return cls;
}

nb::object make_TclArrayVariable() {
    if (!iter_type) {
        iter_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&iter_spec));
        if (!iter_type) throw nb::python_error();
    }
    ClassBuilder cb(MODULE_NAME, "TclArrayVariable",
                    "A whole Tcl array as a mutable mapping from element names to values.");
    auto add = [&](const char *name, void *fn, int flags, const char *doc) {
        PyObject *m = vc::instance_method(MODULE_NAME, name, fn, flags, doc);
        if (!m) throw nb::python_error();
        cb.set(name, nb::steal(m));
    };
    const int FAST = METH_FASTCALL, FASTKW = METH_FASTCALL | METH_KEYWORDS;
    add("__init__", (void *)arr_init, FASTKW, "__init__($self, var_name, tcl=None, cast=None)\n--\n\n");
    cb.set("get", nb::handle(PyDict_GetItemString(var_type->tp_dict, "get")));
    add("__len__", (void *)arr_len, FAST, "__len__($self, /)\n--\n\n");
    add("__iter__", (void *)arr_iter, FAST, "__iter__($self, /)\n--\n\n");
    add("__contains__", (void *)arr_contains, FAST, "__contains__($self, key, /)\n--\n\n");
    add("__getitem__", (void *)arr_getitem, FAST, "__getitem__($self, key, /)\n--\n\n");
    add("__setitem__", (void *)arr_setitem, FAST, "__setitem__($self, key, value, /)\n--\n\n");
    add("__delitem__", (void *)arr_delitem, FAST, "__delitem__($self, key, /)\n--\n\n");
    add("clear", (void *)arr_clear, FAST, "clear($self, /)\n--\n\nUnset the whole array.");
    add("update", (void *)arr_update, FASTKW,
        "update($self, /, *args, **kwargs)\n--\n\nSet the pairs of dict(*args, **kwargs) with one array set.");
    return cb.build(nb::make_tuple(classes.MutableMapping, classes.TclVariable));
}

// --- helpers shared with command.cpp ----------------------------------------

namespace vc {

Strings S;

bool init_strings() {
    if (S.tk) return true;
    struct {
        PyObject **slot;
        const char *text;
    } table[] = {
        {&S.tk, "tk"}, {&S.call, "call"}, {&S.eval, "eval"}, {&S.getvar, "getvar"}, {&S.setvar, "setvar"},
        {&S.unsetvar, "unsetvar"}, {&S.createcommand, "createcommand"}, {&S.cast_list, "cast_list"},
        {&S.cast_boolean, "cast_boolean"}, {&S.cast_array, "cast_array"}, {&S.build_tclcmd, "build_tclcmd"},
        {&S.array_names, "array_names"}, {&S.get, "get"}, {&S.unset, "unset"}, {&S.enter, "__enter__"},
        {&S.exit, "__exit__"}, {&S.info, "::info"}, {&S.array, "::array"}, {&S.namespace_, "::namespace"},
        {&S.rename, "::rename"}, {&S.namespace_word, "namespace"}, {&S.current, "current"},
        {&S.commands, "commands"}, {&S.procs, "procs"}, {&S.body, "body"}, {&S.args, "args"},
        {&S.default_, "default"}, {&S.exists, "exists"}, {&S.origin, "origin"}, {&S.set, "set"},
        {&S.size, "size"}, {&S.names, "names"}, {&S.empty, ""}, {&S.dash, "-"},
    };
    for (auto &entry : table) {
        PyObject *s = PyUnicode_InternFromString(entry.text);
        if (!s) return false;
        *entry.slot = s;
    }
    return true;
}

PyObject *absolute_name(PyObject *tcl, PyObject *name) {
    if (PyUnicode_Check(name) && PyUnicode_GET_LENGTH(name) >= 2 && PyUnicode_READ_CHAR(name, 0) == ':' &&
        PyUnicode_READ_CHAR(name, 1) == ':')
        return Py_NewRef(name);
    Ref tk = Ref::steal(tk_of(tcl));
    if (!tk) return nullptr;
    Ref current = Ref::steal(call_method2(tk.get(), S.call, S.namespace_word, S.current));
    if (!current) return nullptr;
    PyObject *pair[2] = {current.get(), name};
    return ns_join_raw(pair, 2);
}

PyObject *cast_list(PyObject *value) {
    PyObject *tcl_error = tcl_error_type();  // before any error is set
    if (!tcl_error) return nullptr;
    PyObject *result = split_list(value);
    if (result) return result;
    if (!PyErr_ExceptionMatches(tcl_error)) return nullptr;
    // raise ValueError(exc) from exc
    PyObject *exc = PyErr_GetRaisedException();
    PyObject *error = PyObject_CallOneArg(PyExc_ValueError, exc);
    if (!error) {
        Py_DECREF(exc);
        return nullptr;
    }
    PyException_SetContext(error, Py_NewRef(exc));
    PyException_SetCause(error, exc);
    PyErr_SetRaisedException(error);
    return nullptr;
}

int order_type_dict(PyTypeObject *tp, const char *const *order) {
    PyObject *d = tp->tp_dict;
    Ref rest = Ref::steal(PyDict_Copy(d));
    if (!rest) return -1;
    PyDict_Clear(d);
    auto move = [&](const char *name) -> int {
        PyObject *v = PyDict_GetItemString(rest.get(), name);
        if (!v) return 0;
        Py_INCREF(v);
        int r = PyDict_SetItemString(d, name, v) < 0 || PyDict_DelItemString(rest.get(), name) < 0 ? -1 : 0;
        Py_DECREF(v);
        return r;
    };
    if (move("__module__") < 0 || move("__doc__") < 0) return -1;
    for (const char *const *name = order; *name; ++name)
        if (move(*name) < 0) return -1;
    if (PyDict_Update(d, rest.get()) < 0) return -1;
    PyType_Modified(tp);
    return 0;
}

PyObject *instance_method(const char *module, const char *name, void *fn, int flags, const char *doc) {
    PyMethodDef *def = new PyMethodDef;  // lives as long as the process
    def->ml_name = name;
    def->ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(fn));
    def->ml_flags = flags;
    def->ml_doc = doc;
    Ref mod = Ref::steal(PyUnicode_FromString(module));
    if (!mod) return nullptr;
    Ref f = Ref::steal(PyCFunction_NewEx(def, nullptr, mod.get()));
    if (!f) return nullptr;
    return PyInstanceMethod_New(f.get());
}

}  // namespace vc
}  // namespace oskra::ns
