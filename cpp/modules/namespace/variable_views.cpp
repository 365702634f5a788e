// The variable views of TclNamespace: VariablesView (name -> value as a
// string) and ObjectsView (name -> typed value).
#include "support/var_text.h"
#include "variable.h"
#include "view_common.h"

namespace oskra::ns::view {

namespace {

METHOD(vv_init) { return view_init(views.VariablesView, args, nargs, kwnames); }

METHOD(vv_byref) {
    constexpr int NREQ = 1;
    static const char *const kw[] = {"var_name"};
    PyObject *var_name;
    Ref extra, kwargs;
    if (!parse_method("byref", kw, 1, NREQ, args, nargs, kwnames, &var_name, &extra, &kwargs)) return nullptr;
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
            PyErr_SetString(PyExc_TypeError, "byref() got multiple values for keyword argument 'var_type'");
            return nullptr;
        }
    }
    Ref n = Ref::steal(joined(self, var_name));
    if (!n) return nullptr;
    return build("byref", self, classes.TclArrayVariable.ptr(), n.get(), extra.get(), kwargs.get());
}

// The lean paths of our own views. A TclVariable built for the key would
// only carry the joined name and the namespace's interpreter to one call of
// the Tcl layer, so the view makes that call itself: the same Tcl command,
// the same result and errors, without the object. False (no error set)
// when the view must build the variable after all: an interpreter reference
// that is false stands for the package's default interpreter.
// The name of the key in the namespace `ns`: the key itself where the
// join would give it back (the local namespace's common case), else joined.
PyObject *full_name(PyObject *self, PyObject *ns, PyObject *key) {
    if (Py_TYPE(ns) == (PyTypeObject *)classes.TclNamespace.ptr() && joins_as_itself_locally(key)) {
        Ref path = Ref::steal(PyObject_GenericGetAttr(ns, names.ns));
        if (!path) return nullptr;
        if (PyUnicode_CheckExact(path.get()) && PyUnicode_GET_LENGTH(path.get()) == 0) return Py_NewRef(key);
    }
    return joined(self, key);
}

bool target(PyObject *self, PyObject *key, Ref &tk, Ref &name) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return false;
    name = Ref::steal(full_name(self, ns.get(), key));
    if (!name) return false;
    Ref tcl = Ref::steal(PyObject_GetAttr(ns.get(), names.tcl));
    if (!tcl) return false;
    int t = vc::truthy(tcl.get());
    if (t <= 0) return false;
    tk = Ref::steal(vc::tk_of(tcl.get()));
    return (bool)tk;
}

// Runs `lean` on the Tcl application object and the joined name, or the
// variable's own method when the view cannot take the lean path.
template <typename Lean, typename Slow>
PyObject *lean_or(PyObject *self, PyObject *key, Lean lean, Slow slow) {
    Ref tk, name;
    if (target(self, key, tk, name)) return lean(tk.get(), name.get());
    if (PyErr_Occurred()) return nullptr;
    return slow();
}

// A read that failed with a TclError, of a variable that may be an array
// (which has no value of its own): as a string the array reads as the text
// of `array get`, typed as an Array. Anything else keeps the error.
PyObject *read_array(PyObject *self, PyObject *name, bool typed) {
    PyObject *failure = PyErr_GetRaisedException();
    Ref var = Ref::steal(var_of(self, name));
    Ref is = var ? Ref::steal(call_method0(var.get(), names.is_array)) : Ref();
    int array = is ? PyObject_IsTrue(is.get()) : -1;
    if (array <= 0) {
        if (array < 0) PyErr_Clear();
        PyErr_SetRaisedException(failure);
        return nullptr;
    }
    Py_DECREF(failure);
    if (typed) return call_method0(var.get(), names.array_get_obj);
    Ref full = Ref::steal(joined(self, name));
    Ref words = full ? Ref::steal(tuple_of({names.array_cmd, names.get, full.get()})) : Ref();
    Ref tk = words ? Ref::steal(tk_of(var.get())) : Ref();
    return tk ? call_words_text(tk.get(), words.get()) : nullptr;
}

PyObject *vv_get_impl(PyObject *self, PyObject *name) {
    PyObject *r;
    if (!is_type(self, views.VariablesView) && !is_type(self, views.ObjectsView))
        r = on(var_of(self, name), names.get_str, {});
    else r = lean_or(self, name, read_var_text, [&] { return on(var_of(self, name), names.get_str, {}); });
    if (r || !error_is_tcl()) return r;
    return read_array(self, name, false);
}

METHOD(vv_get) {
    constexpr int NREQ = 1;
    ARGS("get", "var_name");
    return vv_get_impl(self, a[0]);
}

PyObject *vv_set_impl(PyObject *self, PyObject *name, PyObject *value, PyObject *index) {
    auto slow = [&] { return on(var_of(self, name), names.set, {value, or_none(index)}, k.kw_array_index); };
    if (!is_type(self, views.VariablesView) && !is_type(self, views.ObjectsView)) return slow();
    auto lean = [&](PyObject *tk, PyObject *full) -> PyObject * {
        Ref r = Ref::steal(var::tk_element_call(tk, TkMethod::setvar, full, index, value));
        if (!r) return nullptr;
        Py_RETURN_NONE;
    };
    return lean_or(self, name, lean, slow);
}

METHOD(vv_set) {
    constexpr int NREQ = 2;
    ARGS("set", "var_name", "value", "array_index");
    return vv_set_impl(self, a[0], a[1], a[2]);
}

PyObject *vv_unset_impl(PyObject *self, PyObject *name, PyObject *index, PyObject *nocomplain) {
    return on(var_of(self, name), names.unset, {or_none(index), or_false(nocomplain)}, k.kw_unset, true);
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
    auto slow = [&] { return on(var_of(self, name), names.get_obj, {or_none(index)}, k.kw_array_index); };
    // A fresh TclVariable has no cast: its get_obj is the Tcl layer's getvar.
    auto lean = [&](PyObject *tk, PyObject *full) {
        return var::tk_element_call(tk, TkMethod::getvar, full, index);
    };
    PyObject *r = is_type(self, views.ObjectsView) ? lean_or(self, name, lean, slow) : slow();
    if (r || (index && index != Py_None) || !error_is_tcl()) return r;
    return read_array(self, name, true);
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
    if (error_is_tcl() || PyErr_ExceptionMatches(PyExc_ValueError)) return raise_key_error_from_current();
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

}  // namespace

bool make_variable_views() {
    views.VariablesView = make_class(
            "VariablesView", "TclNamespace.VariablesView",
            "The variables of a namespace as a mapping: name -> value as a string.",
            {classes.MutableMapping.ptr()},
            {{"__init__", vv_init, "($self, ns)"},
             {"byref", vv_byref, "($self, var_name, *args, **kwargs)", false,
              "A TclVariable (or `var_type`) for the name joined onto the namespace; nothing is asked of "
              "Tcl."},
             {"array_byref", vv_array_byref, "($self, var_name, *args, **kwargs)", false,
              "A TclArrayVariable for the name joined onto the namespace."},
             {"get", vv_get, "($self, var_name)", false,
              "The variable's value as a str (TclError for a missing variable)."},
             {"set", vv_set, "($self, var_name, value, array_index=None)", false,
              "Set the variable (or its element `array_index`) to `value`."},
             {"unset", vv_unset, "($self, var_name, array_index=None, nocomplain=False)", false,
              "Unset the variable or one element; `nocomplain` drops Tcl's error."},
             {"array_get", vv_array_get, "($self, var_name, pattern=None)", false,
              "The array's elements (matching `pattern`) as an Array of strings."},
             {"array_set", vv_array_set, "($self, var_name, value)", false,
              "Set array elements from a mapping or a flat name, value sequence."},
             {"array_unset", vv_array_unset, "($self, var_name, pattern=None)", false,
              "Unset the array elements matching `pattern`, or the whole array."},
             {"array_names", vv_array_names, "($self, var_name, pattern=None)", false,
              "The array's element names (matching `pattern`) as a tuple."},
             {"is_array", vv_is_array, "($self, var_name)", false, "Whether the variable is an array."},
             {"exists", vv_exists, "($self, var_name, array_index=None)", false,
              "Whether the variable (or its element `array_index`) exists."},
             {"__getitem__", vv_getitem, "($self, name, /)"},
             {"__contains__", vv_contains, "($self, name, /)"},
             {"__setitem__", vv_setitem, "($self, name, value, /)"},
             {"__delitem__", vv_delitem, "($self, name, /)"},
             {"__len__", view_len, "($self, /)"},
             {"__repr__", view_repr, "($self, /)"},
             {"__iter__", names_iter<&Consts::info_vars>, "($self, /)"}});
    if (!views.VariablesView) return false;
    views.ObjectsView = make_class(
            "ObjectsView", "TclNamespace.ObjectsView",
            "The variables of a namespace as a mapping: name -> typed value.", {views.VariablesView},
            {{"get", ov_get, "($self, var_name, array_index=None)", false,
              "The variable's (or element's) value as the Tcl layer delivers it: int, float, tuple, str..."},
             {"array_get", ov_array_get, "($self, var_name, pattern=None)", false,
              "The array's elements (matching `pattern`) as an Array of typed values."}});
    return views.ObjectsView != nullptr;
}

}  // namespace oskra::ns::view
