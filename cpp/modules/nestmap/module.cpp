// oskra.tcl.nestmap: NestMap, the Python form of a TclX keyed list.
//
// The class is assembled with type() over (AttrDict, MutableMapping); its
// methods are raw fast-call functions over the operations in
// core/keyedlist.cpp.
#include <nanobind/nanobind.h>

#include "core/keyedlist.h"
#include "support/nbclass.h"
#include "support/params.h"
#include "support/state.h"

namespace nb = nanobind;
using namespace oskra;

namespace {

const char *const MODULE = "oskra.tcl.nestmap";

// The methods are built-in functions bound as methods: self arrives as
// args[0] and must be a NestMap (the class's own functions can be called on
// anything through NestMap.__dict__).
bool self_is_nestmap(const Params &params, PyObject *const *args, Py_ssize_t nargs) {
    if (nargs >= 1 && !keyed::is_nestmap(args[0])) {
        PyErr_Format(PyExc_TypeError, "%s() requires a NestMap, not %.200s", params.fname,
                     Py_TYPE(args[0])->tp_name);
        return false;
    }
    if (nargs >= 1) return true;
    return params.bind(args, nargs, nullptr, nullptr);  // sets its "needs self" error
}

// self and the positional-only parameters of `params` into out[].
bool bind(const Params &params, PyObject *const *args, Py_ssize_t nargs, PyObject **out) {
    return self_is_nestmap(params, args, nargs) && params.bind(args, nargs, nullptr, out);
}

const Params getitem_params{"__getitem__", SelfArg::first, {{"key"}}, nullptr, nullptr, true};
PyObject *nm_getitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    PyObject *a[1];
    if (!bind(getitem_params, args, nargs, a)) return nullptr;
    return keyed::getitem(args[0], a[0]);
}

const Params setitem_params{"__setitem__", SelfArg::first, {{"key"}, {"value"}}, nullptr, nullptr, true};
PyObject *nm_setitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    PyObject *a[2];
    if (!bind(setitem_params, args, nargs, a)) return nullptr;
    if (keyed::setitem(args[0], a[0], a[1]) < 0) return nullptr;
    Py_RETURN_NONE;
}

const Params contains_params{"__contains__", SelfArg::first, {{"key"}}, nullptr, nullptr, true};
PyObject *nm_contains(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    PyObject *a[1];
    if (!bind(contains_params, args, nargs, a)) return nullptr;
    return keyed::contains(args[0], a[0]);
}

const Params delitem_params{"__delitem__", SelfArg::first, {{"key"}}, nullptr, nullptr, true};
PyObject *nm_delitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    PyObject *a[1];
    if (!bind(delitem_params, args, nargs, a)) return nullptr;
    if (keyed::delitem(args[0], a[0]) < 0) return nullptr;
    Py_RETURN_NONE;
}

// __init__ and update take what dict() takes: keyedlist.h reads those.
const Params init_params{"__init__", SelfArg::first, {}, "args", "kwargs"};
PyObject *nm_init(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!self_is_nestmap(init_params, args, nargs)) return nullptr;
    if (keyed::init(args[0], args + 1, nargs - 1, kwnames) < 0) return nullptr;
    Py_RETURN_NONE;
}

const Params update_params{"update", SelfArg::first, {}, "args", "kwargs"};
PyObject *nm_update(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!self_is_nestmap(update_params, args, nargs)) return nullptr;
    if (keyed::update(args[0], args + 1, nargs - 1, kwnames) < 0) return nullptr;
    Py_RETURN_NONE;
}

const Params all_keys_params{"all_keys", SelfArg::first, {}, nullptr, nullptr, true};
PyObject *nm_all_keys(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!bind(all_keys_params, args, nargs, nullptr)) return nullptr;
    return keyed::all_keys(args[0]);
}

const Params all_items_params{"all_items", SelfArg::first, {}, nullptr, nullptr, true};
PyObject *nm_all_items(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!bind(all_items_params, args, nargs, nullptr)) return nullptr;
    return keyed::all_items(args[0]);
}

const Params tclobj_params{"__tclobj__", SelfArg::first, {}, nullptr, nullptr, true};
PyObject *nm_tclobj(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!bind(tclobj_params, args, nargs, nullptr)) return nullptr;
    return keyed::to_tclobj(args[0]);
}

PyObject *nm_from_tcl(PyObject *, PyObject *value) { return keyed_list_from_tcl(value); }

PyMethodDef from_tcl_def = {"from_tcl", (PyCFunction)nm_from_tcl, METH_O,
                            "from_tcl(string)\n--\n\n"
                            "A NestMap from a Tcl keyed list given as a string or Tcl_Obj: every\n"
                            "element is a key/value pair, and a value that is itself a list of\n"
                            "pairs becomes a nested NestMap. ValueError for text that is not a\n"
                            "keyed list."};

}  // namespace

NB_MODULE(nestmap, m) {
    if (!oskra::attach_state()) throw nb::python_error();
    m.doc() = "NestMap: a TclX keyed list as a nested mapping with dotted key paths.";
    nb::object attr_dict = nb::module_::import_("oskra.datastructures").attr("AttrDict");
    nb::object mutable_mapping = nb::module_::import_("collections.abc").attr("MutableMapping");
    m.attr("AttrDict") = attr_dict;
    m.attr("MutableMapping") = mutable_mapping;
    m.attr("Tcl_Obj") = nb::module_::import_("_tkinter").attr("Tcl_Obj");
    m.attr("tclobj") = nb::module_::import_("oskra.tcl.wordform").attr("tclobj");

    ClassBuilder cb(MODULE, "NestMap",
                    "A TclX keyed list as a dictionary: nested keyed lists are nested\n"
                    "NestMaps, and every item operation accepts a dotted key path\n"
                    "(\"name.first\") that walks the nesting.");
    cb.fast_kw_method("__init__", nm_init, init_params,
                      "Accepts what dict() accepts; values that dict() accepts become nested\n"
                      "NestMaps, and dotted keys create nested levels.");
    nb::object from_tcl = nb::steal(PyCFunction_NewEx(&from_tcl_def, nullptr, nb::str(MODULE).ptr()));
    if (!from_tcl.is_valid()) throw nb::python_error();
    nb::object from_tcl_sm = nb::steal(PyStaticMethod_New(from_tcl.ptr()));
    if (!from_tcl_sm.is_valid()) throw nb::python_error();
    cb.set("from_tcl", from_tcl_sm);
    cb.fast_method("__getitem__", nm_getitem, getitem_params, "self[key], key a dotted path.");
    cb.fast_method("__setitem__", nm_setitem, setitem_params,
                   "self[key] = value, key a dotted path; missing levels are created.");
    nb::object contains =
            cb.fast_method("__contains__", nm_contains, contains_params, "key in self, key a dotted path.");
    cb.fast_method("__delitem__", nm_delitem, delitem_params,
                   "del self[key], key a dotted path; levels left empty are removed.");
    cb.set("get", mutable_mapping.attr("get"));
    cb.set("pop", mutable_mapping.attr("pop"));
    cb.set("setdefault", mutable_mapping.attr("setdefault"));
    cb.fast_kw_method("update", nm_update, update_params,
                      "Merge a mapping, an iterable of pairs or a NestMap (leaf by leaf), then\n"
                      "the keywords (a NestMap value is merged into the existing branch).");
    cb.fast_method("all_keys", nm_all_keys, all_keys_params, "The fully qualified key paths of every leaf.");
    cb.fast_method("all_items", nm_all_items, all_items_params, "(path, value) for every leaf.");
    cb.set("has_key", contains);
    cb.fast_method("__tclobj__", nm_tclobj, tclobj_params, "The Tcl-ready form: nested (key, value) tuples.");

    nb::object cls = cb.build(nb::make_tuple(attr_dict, mutable_mapping));
    keyed::set_nestmap_class(cls.ptr());
    m.attr("NestMap") = cls;
}
