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
    static const char *const params[] = {"var_name", "tcl", "cast"};
    PyObject *a[3];
    if (!bind_params("__init__", 1, args + 1, nargs - 1, kwnames, params, 3, 1, a)) return nullptr;
    if (init_fields(args[0], a[0], nullptr, a[1] ? a[1] : Py_None, a[2] ? a[2] : Py_None)) return nullptr;
    Py_RETURN_NONE;
}

PyObject *arr_len(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__len__", args, nargs, 1)) return nullptr;
    return array_call(args[0], names.size, nullptr);
}

PyObject *arr_iter(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_self("__iter__", args, nargs, 1)) return nullptr;
    return lazy_names(args[0], fetch_array_names, nullptr);
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
        "update($self, /, *args, **kwargs)\n--\n\nSet the pairs of ``dict(*args, **kwargs)`` with one "
        "``array set``.");
    return cb.build(nb::make_tuple(classes.MutableMapping, classes.TclVariable));
}

}  // namespace oskra::ns
