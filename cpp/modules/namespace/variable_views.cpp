// The variable views of TclNamespace: VariablesView (name -> value as a
// string) and ObjectsView (name -> typed value).
#include "support/compat.h"
#include "support/var_text.h"
#include "variable.h"
#include "view_common.h"

namespace oskra::ns::view {

namespace {

METHOD(vv_init) { return view_init(views.VariablesView, args, nargs, kwnames); }

const Params vv_byref_params{"byref", SelfArg::first, {{"var_name"}}, "args", "kwargs"};
METHOD(vv_byref) {
    PyObject *var_name;
    Ref extra, kwargs;
    if (!vv_byref_params.bind(args, nargs, kwnames, &var_name, &extra, &kwargs)) return nullptr;
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

const Params vv_array_byref_params{"array_byref", SelfArg::first, {{"var_name"}}, "args", "kwargs"};
METHOD(vv_array_byref) {
    PyObject *var_name;
    Ref extra, kwargs;
    if (!vv_array_byref_params.bind(args, nargs, kwnames, &var_name, &extra, &kwargs)) return nullptr;
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

// The truth of an interpreter reference, read from the interpreter itself
// behind a live weak proxy (a dead one raises ReferenceError as its own
// truth test does).
int interpreter_truth(PyObject *tcl) {
    if (!PyWeakref_CheckProxy(tcl)) return vc::truthy(tcl);
    PyObject *target = nullptr;
    int alive = weakref_target(tcl, &target);
    Ref interp = Ref::steal(target);
    return alive > 0 ? vc::truthy(interp.get()) : PyObject_IsTrue(tcl);
}

bool target(PyObject *self, PyObject *key, Ref &tk, Ref &name) {
    Ref ns = Ref::steal(PyObject_GetAttr(self, names.ns));
    if (!ns) return false;
    name = Ref::steal(full_name(self, ns.get(), key));
    if (!name) return false;
    Ref tcl = Ref::steal(PyObject_GetAttr(ns.get(), names.tcl));
    if (!tcl) return false;
    int t = interpreter_truth(tcl.get());
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

const Params vv_get_params{"get", SelfArg::first, {{"var_name"}}};
METHOD(vv_get) {
    PyObject *a[1];
    if (!vv_get_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
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

const Params vv_set_params{"set", SelfArg::first, {{"var_name"}, {"value"}, {"array_index", "None"}}};
METHOD(vv_set) {
    PyObject *a[3];
    if (!vv_set_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return vv_set_impl(self, a[0], a[1], a[2]);
}

PyObject *vv_unset_impl(PyObject *self, PyObject *name, PyObject *index, PyObject *nocomplain) {
    return on(var_of(self, name), names.unset, {or_none(index), or_false(nocomplain)}, k.kw_unset, true);
}

const Params vv_unset_params{
        "unset", SelfArg::first, {{"var_name"}, {"array_index", "None"}, {"nocomplain", "False"}}};
METHOD(vv_unset) {
    PyObject *a[3];
    if (!vv_unset_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return vv_unset_impl(self, a[0], a[1], a[2]);
}

const Params vv_array_get_params{"array_get", SelfArg::first, {{"var_name"}, {"pattern", "None"}}};
METHOD(vv_array_get) {
    PyObject *a[2];
    if (!vv_array_get_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(var_of(self, a[0]), names.array_get_str, {or_none(a[1])}, k.kw_pattern);
}

const Params vv_array_set_params{"array_set", SelfArg::first, {{"var_name"}, {"value"}}};
METHOD(vv_array_set) {
    PyObject *a[2];
    if (!vv_array_set_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(var_of(self, a[0]), names.array_set, {a[1]}, nullptr, true);
}

const Params vv_array_unset_params{"array_unset", SelfArg::first, {{"var_name"}, {"pattern", "None"}}};
METHOD(vv_array_unset) {
    PyObject *a[2];
    if (!vv_array_unset_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(var_of(self, a[0]), names.array_unset, {or_none(a[1])}, k.kw_pattern, true);
}

const Params vv_array_names_params{"array_names", SelfArg::first, {{"var_name"}, {"pattern", "None"}}};
METHOD(vv_array_names) {
    PyObject *a[2];
    if (!vv_array_names_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(var_of(self, a[0]), names.array_names, {or_none(a[1])}, k.kw_pattern);
}

const Params vv_is_array_params{"is_array", SelfArg::first, {{"var_name"}}};
METHOD(vv_is_array) {
    PyObject *a[1];
    if (!vv_is_array_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(var_of(self, a[0]), names.is_array, {});
}

PyObject *vv_exists_impl(PyObject *self, PyObject *name) {
    return on(var_of(self, name), names.exists, {Py_None}, k.kw_array_index);
}

const Params vv_exists_params{"exists", SelfArg::first, {{"var_name"}, {"array_index", "None"}}};
METHOD(vv_exists) {
    PyObject *a[2];
    if (!vv_exists_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
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

const Params ov_get_params{"get", SelfArg::first, {{"var_name"}, {"array_index", "None"}}};
METHOD(ov_get) {
    PyObject *a[2];
    if (!ov_get_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return ov_get_impl(self, a[0], a[1]);
}

const Params ov_array_get_params{"array_get", SelfArg::first, {{"var_name"}, {"pattern", "None"}}};
METHOD(ov_array_get) {
    PyObject *a[2];
    if (!ov_array_get_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    return on(var_of(self, a[0]), names.array_get_obj, {or_none(a[1])}, k.kw_pattern);
}

// self.get(name), self.exists(name), ...: the C++ body for our own classes,
// a method call for a subclass that may override it.
PyObject *dispatch_get(PyObject *self, PyObject *name) {
    if (is_type(self, views.VariablesView)) return vv_get_impl(self, name);
    if (is_type(self, views.ObjectsView)) return ov_get_impl(self, name, nullptr);
    return call_method1(self, names.get, name);
}

// self[name]
PyObject *item_of(PyObject *self, PyObject *name) {
    PyObject *r = dispatch_get(self, name);
    if (r) return r;
    if (error_is_tcl() || PyErr_ExceptionMatches(PyExc_ValueError)) return raise_key_error_from_current();
    return nullptr;
}

const Params vv_getitem_params{"__getitem__", SelfArg::first, {{"name"}}, nullptr, nullptr, true};
METHOD(vv_getitem) {
    PyObject *a[1];
    if (!vv_getitem_params.bind(args, nargs, kwnames, a)) return nullptr;
    return item_of(args[0], a[0]);
}

const Params vv_contains_params{"__contains__", SelfArg::first, {{"name"}}, nullptr, nullptr, true};
METHOD(vv_contains) {
    PyObject *a[1];
    if (!vv_contains_params.bind(args, nargs, kwnames, a)) return nullptr;
    PyObject *self = args[0];
    if (is_type(self, views.VariablesView) || is_type(self, views.ObjectsView))
        return vv_exists_impl(self, a[0]);
    return call_method1(self, names.exists, a[0]);
}

// self[name] = value
int set_item(PyObject *self, PyObject *name, PyObject *value) {
    Ref r;
    if (is_type(self, views.VariablesView) || is_type(self, views.ObjectsView)) {
        r = Ref::steal(vv_set_impl(self, name, value, nullptr));
    } else {
        PyObject *pair[2] = {name, value};
        r = Ref::steal(call_method(self, names.set, pair, 2));
    }
    return r ? 0 : -1;
}

// del self[name]
int del_item(PyObject *self, PyObject *name) {
    Ref r = Ref::steal((is_type(self, views.VariablesView) || is_type(self, views.ObjectsView))
                               ? vv_unset_impl(self, name, nullptr, nullptr)
                               : call_method1(self, names.unset, name));
    if (r) return 0;
    if (error_is_tcl()) raise_key_error_from_current();
    return -1;
}

// The type slot of both: a null value deletes.
int assign_item(PyObject *self, PyObject *name, PyObject *value) {
    return value ? set_item(self, name, value) : del_item(self, name);
}

const Params vv_setitem_params{"__setitem__", SelfArg::first, {{"name"}, {"value"}}, nullptr, nullptr, true};
METHOD(vv_setitem) {
    PyObject *a[2];
    if (!vv_setitem_params.bind(args, nargs, kwnames, a)) return nullptr;
    if (set_item(args[0], a[0], a[1]) < 0) return nullptr;
    Py_RETURN_NONE;
}

const Params vv_delitem_params{"__delitem__", SelfArg::first, {{"name"}}, nullptr, nullptr, true};
METHOD(vv_delitem) {
    PyObject *a[1];
    if (!vv_delitem_params.bind(args, nargs, kwnames, a)) return nullptr;
    if (del_item(args[0], a[0]) < 0) return nullptr;
    Py_RETURN_NONE;
}

}  // namespace

bool make_variable_views() {
    views.VariablesView = make_class(
            "VariablesView", "TclNamespace.VariablesView",
            "The variables of a namespace as a mapping: name -> value as a string.",
            {classes.MutableMapping.ptr()},
            {{"__init__", vv_init, view_init_params},
             {"byref", vv_byref, vv_byref_params,
              "A TclVariable (or `var_type`) for the name joined onto the namespace; nothing is asked of "
              "Tcl."},
             {"array_byref", vv_array_byref, vv_array_byref_params,
              "A TclArrayVariable for the name joined onto the namespace."},
             {"get", vv_get, vv_get_params,
              "The variable's value as a str (TclError for a missing variable)."},
             {"set", vv_set, vv_set_params, "Set the variable (or its element `array_index`) to `value`."},
             {"unset", vv_unset, vv_unset_params,
              "Unset the variable or one element; `nocomplain` drops Tcl's error."},
             {"array_get", vv_array_get, vv_array_get_params,
              "The array's elements (matching `pattern`) as an Array of strings."},
             {"array_set", vv_array_set, vv_array_set_params,
              "Set array elements from a mapping or a flat name, value sequence."},
             {"array_unset", vv_array_unset, vv_array_unset_params,
              "Unset the array elements matching `pattern`, or the whole array."},
             {"array_names", vv_array_names, vv_array_names_params,
              "The array's element names (matching `pattern`) as a tuple."},
             {"is_array", vv_is_array, vv_is_array_params, "Whether the variable is an array."},
             {"exists", vv_exists, vv_exists_params,
              "Whether the variable (or its element `array_index`) exists."},
             {"__getitem__", vv_getitem, vv_getitem_params},
             {"__contains__", vv_contains, vv_contains_params},
             {"__setitem__", vv_setitem, vv_setitem_params},
             {"__delitem__", vv_delitem, vv_delitem_params},
             {"__len__", view_len, view_len_params},
             {"__repr__", view_repr, view_repr_params},
             {"__iter__", names_iter<&Consts::info_vars>, names_iter_params}});
    if (!views.VariablesView) return false;
    views.ObjectsView = make_class(
            "ObjectsView", "TclNamespace.ObjectsView",
            "The variables of a namespace as a mapping: name -> typed value.", {views.VariablesView},
            {{"get", ov_get, ov_get_params,
              "The variable's (or element's) value as the Tcl layer delivers it: int, float, tuple, str..."},
             {"array_get", ov_array_get, ov_array_get_params,
              "The array's elements (matching `pattern`) as an Array of typed values."}});
    if (!views.ObjectsView) return false;
    // view[name] (and its assignment and deletion) on the two classes
    // themselves goes from the type slot to the C++ body, past Python's
    // lookup and call of __getitem__ (__setitem__, __delitem__). A
    // subclass, or a class given another such method, gets Python's own
    // dispatch back when its slots are made.
    for (PyObject *cls : {views.VariablesView, views.ObjectsView}) {
        PyMappingMethods *m = ((PyTypeObject *)cls)->tp_as_mapping;
        m->mp_subscript = item_of;
        m->mp_ass_subscript = assign_item;
        PyType_Modified((PyTypeObject *)cls);
    }
    return true;
}

}  // namespace oskra::ns::view
