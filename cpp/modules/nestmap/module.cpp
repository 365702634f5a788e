// oskra.tcl.nestmap: NestMap, the Python form of a TclX keyed list.
//
// The class is assembled with type() over (AttrDict, MutableMapping); its
// methods are raw fast-call functions over the operations in
// core/keyedlist.cpp.
#include <nanobind/nanobind.h>

#include "core/keyedlist.h"
#include "support/nbclass.h"

namespace nb = nanobind;
using namespace oskra;

namespace {

const char *const MODULE = "oskra.tcl.nestmap";

bool check_nargs(const char *name, Py_ssize_t nargs, Py_ssize_t want, PyObject *const *args) {
    if (nargs >= 1 && !keyed::is_nestmap(args[0])) {
        PyErr_Format(PyExc_TypeError, "%s() requires a NestMap, not %.200s", name, Py_TYPE(args[0])->tp_name);
        return false;
    }
    if (nargs == want) return true;
    if (nargs < 1) {
        PyErr_Format(PyExc_TypeError, "%s() needs an argument", name);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd argument%s (%zd given)", name, want - 1,
                     want == 2 ? "" : "s", nargs - 1);
    }
    return false;
}

PyObject *nm_getitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_nargs("__getitem__", nargs, 2, args)) return nullptr;
    return keyed::getitem(args[0], args[1]);
}

PyObject *nm_setitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_nargs("__setitem__", nargs, 3, args)) return nullptr;
    if (keyed::setitem(args[0], args[1], args[2]) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *nm_contains(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_nargs("__contains__", nargs, 2, args)) return nullptr;
    return keyed::contains(args[0], args[1]);
}

PyObject *nm_delitem(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_nargs("__delitem__", nargs, 2, args)) return nullptr;
    if (keyed::delitem(args[0], args[1]) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *nm_init(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!check_nargs("__init__", nargs < 1 ? 0 : 1, 1, args)) return nullptr;
    if (keyed::init(args[0], args + 1, nargs - 1, kwnames) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *nm_update(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (!check_nargs("update", nargs < 1 ? 0 : 1, 1, args)) return nullptr;
    if (keyed::update(args[0], args + 1, nargs - 1, kwnames) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *nm_all_keys(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_nargs("all_keys", nargs, 1, args)) return nullptr;
    return keyed::all_keys(args[0]);
}

PyObject *nm_all_items(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_nargs("all_items", nargs, 1, args)) return nullptr;
    return keyed::all_items(args[0]);
}

PyObject *nm_tclobj(PyObject *, PyObject *const *args, Py_ssize_t nargs) {
    if (!check_nargs("__tclobj__", nargs, 1, args)) return nullptr;
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
    cb.fast_kw_method("__init__", nm_init, "($self, /, *args, **kwargs)",
                      "Accepts what dict() accepts; values that dict() accepts become nested\n"
                      "NestMaps, and dotted keys create nested levels.");
    nb::object from_tcl = nb::steal(PyCFunction_NewEx(&from_tcl_def, nullptr, nb::str(MODULE).ptr()));
    if (!from_tcl.is_valid()) throw nb::python_error();
    nb::object from_tcl_sm = nb::steal(PyStaticMethod_New(from_tcl.ptr()));
    if (!from_tcl_sm.is_valid()) throw nb::python_error();
    cb.set("from_tcl", from_tcl_sm);
    cb.fast_method("__getitem__", nm_getitem, "($self, key, /)", "self[key], key a dotted path.");
    cb.fast_method("__setitem__", nm_setitem, "($self, key, value, /)",
                   "self[key] = value, key a dotted path; missing levels are created.");
    nb::object contains =
            cb.fast_method("__contains__", nm_contains, "($self, key, /)", "key in self, key a dotted path.");
    cb.fast_method("__delitem__", nm_delitem, "($self, key, /)",
                   "del self[key], key a dotted path; levels left empty are removed.");
    cb.set("get", mutable_mapping.attr("get"));
    cb.set("pop", mutable_mapping.attr("pop"));
    cb.set("setdefault", mutable_mapping.attr("setdefault"));
    cb.fast_kw_method("update", nm_update, "($self, /, *args, **kwargs)",
                      "Merge a mapping, an iterable of pairs or a NestMap (leaf by leaf), then\n"
                      "the keywords (a NestMap value is merged into the existing branch).");
    cb.fast_method("all_keys", nm_all_keys, "($self, /)", "The fully qualified key paths of every leaf.");
    cb.fast_method("all_items", nm_all_items, "($self, /)", "(path, value) for every leaf.");
    cb.set("has_key", contains);
    cb.fast_method("__tclobj__", nm_tclobj, "($self, /)", "The Tcl-ready form: nested (key, value) tuples.");

    nb::object cls = cb.build(nb::make_tuple(attr_dict, mutable_mapping));
    keyed::set_nestmap_class(cls.ptr());
    m.attr("NestMap") = cls;
}
