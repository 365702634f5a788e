// TclArrayVariable: a whole Tcl array as a mutable mapping, assembled by
// type() over MutableMapping and TclVariable. Its methods are plain
// functions over the TclVariable fields (variable.h).
#include "lazy_names.h"
#include "parts.h"
#include "variable.h"

namespace oskra::ns {
using namespace var;

namespace {

// The names of the array, fetched for __iter__ with self.array_names().
PyObject *fetch_array_names(PyObject *var, PyObject *) {
    return PyObject_CallMethodNoArgs(var, names.array_names);
}

// The methods below are plain functions wrapped as instance methods, so
// self arrives as args[0]; it must be a TclVariable. Binds the rest into out.
bool bind_self(const Params &params, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
               PyObject **out = nullptr) {
    if (!params.bind(args, nargs, kwnames, out)) return false;
    if (PyObject_TypeCheck(args[0], var_type)) return true;
    PyErr_Format(PyExc_TypeError, "%s() needs a TclVariable as self", params.fname);
    return false;
}

const Params init_params{"__init__", SelfArg::first, {{"var_name"}, {"tcl", "None"}, {"cast", "None"}}};
METHOD(arr_init) {
    PyObject *a[3];
    if (!bind_self(init_params, args, nargs, kwnames, a)) return nullptr;
    if (init_fields(args[0], a[0], nullptr, a[1] ? a[1] : Py_None, a[2] ? a[2] : Py_None)) return nullptr;
    Py_RETURN_NONE;
}

const Params len_params{"__len__", SelfArg::first, {}, nullptr, nullptr, true};
METHOD(arr_len) {
    if (!bind_self(len_params, args, nargs, kwnames)) return nullptr;
    return array_call(args[0], names.size, nullptr);
}

const Params iter_params{"__iter__", SelfArg::first, {}, nullptr, nullptr, true};
METHOD(arr_iter) {
    if (!bind_self(iter_params, args, nargs, kwnames)) return nullptr;
    return lazy_names(args[0], fetch_array_names, nullptr);
}

const Params contains_params{"__contains__", SelfArg::first, {{"key"}}, nullptr, nullptr, true};
METHOD(arr_contains) {
    PyObject *key;
    if (!bind_self(contains_params, args, nargs, kwnames, &key)) return nullptr;
    return exists_impl(args[0], key);
}

const Params getitem_params{"__getitem__", SelfArg::first, {{"key"}}, nullptr, nullptr, true};
METHOD(arr_getitem) {
    PyObject *key;
    if (!bind_self(getitem_params, args, nargs, kwnames, &key)) return nullptr;
    return get_obj_impl(args[0], key, nullptr);
}

const Params setitem_params{"__setitem__", SelfArg::first, {{"key"}, {"value"}}, nullptr, nullptr, true};
METHOD(arr_setitem) {
    PyObject *a[2];
    if (!bind_self(setitem_params, args, nargs, kwnames, a)) return nullptr;
    return set_impl(args[0], a[1], a[0]);
}

const Params delitem_params{"__delitem__", SelfArg::first, {{"key"}}, nullptr, nullptr, true};
METHOD(arr_delitem) {
    PyObject *key;
    if (!bind_self(delitem_params, args, nargs, kwnames, &key)) return nullptr;
    return unset_impl(args[0], key, Py_False);
}

const Params clear_params{"clear", SelfArg::first, {}};
METHOD(arr_clear) {
    if (!bind_self(clear_params, args, nargs, kwnames)) return nullptr;
    return array_unset_impl(args[0], nullptr);
}

// dict(*args, **kwargs) binds the arguments: self only is checked here.
const Params update_params{"update", SelfArg::first, {}, "args", "kwargs"};
METHOD(arr_update) {
    if (nargs < 1 || !PyObject_TypeCheck(args[0], var_type)) {
        PyErr_SetString(PyExc_TypeError, "update() needs a TclVariable as self");
        return nullptr;
    }
    // dict(*args, **kwargs), then one array set for all the pairs.
    Ref d = Ref::steal(
            PyObject_Vectorcall(reinterpret_cast<PyObject *>(&PyDict_Type), args + 1, nargs - 1, kwnames));
    if (!d) return nullptr;
    PyObject *stack[2] = {args[0], d.get()};
    return var_array_set(args[0], stack + 1, 1, nullptr);
}

}  // namespace

nb::object make_TclArrayVariable() {
    ClassBuilder cb(MODULE_NAME, "TclArrayVariable",
                    "A whole Tcl array as a mutable mapping from element names to values.");
    auto add = [&](const char *name, FastKw fn, const Params &params, const char *doc = "") {
        PyObject *m = make_method(name, fn, params, doc);
        if (!m) throw nb::python_error();
        cb.set(name, nb::steal(m));
    };
    add("__init__", arr_init, init_params);
    cb.set("get", nb::handle(PyDict_GetItemString(var_type->tp_dict, "get")));
    add("__len__", arr_len, len_params);
    add("__iter__", arr_iter, iter_params);
    add("__contains__", arr_contains, contains_params);
    add("__getitem__", arr_getitem, getitem_params);
    add("__setitem__", arr_setitem, setitem_params);
    add("__delitem__", arr_delitem, delitem_params);
    add("clear", arr_clear, clear_params, "Unset the whole array.");
    add("update", arr_update, update_params,
        "Set the pairs of ``dict(*args, **kwargs)`` with one ``array set``.");
    return cb.build(nb::make_tuple(classes.MutableMapping, classes.TclVariable));
}

}  // namespace oskra::ns
