// The helpers shared by variable.cpp, array_variable.cpp and command.cpp
// (declared in varcmd.h).
#include "varcmd.h"

#include "core/listsplit.h"
#include "support/compat.h"
#include "support/tclapp.h"
#include "parts.h"

namespace oskra::ns {

namespace vc {

PyObject *absolute_name(PyObject *tcl, PyObject *name) {
    if (PyUnicode_Check(name) && PyUnicode_GET_LENGTH(name) >= 2 && PyUnicode_READ_CHAR(name, 0) == ':' &&
        PyUnicode_READ_CHAR(name, 1) == ':')
        return Py_NewRef(name);
    Ref tk = Ref::steal(tk_of(tcl));
    if (!tk) return nullptr;
    Ref current = Ref::steal(call_method2(tk.get(), names.call, names.namespace_cmd, names.current));
    if (!current) return nullptr;
    PyObject *pair[2] = {current.get(), name};
    return ns_join_raw(pair, 2);
}

PyObject *cast_list(PyObject *value) {
    PyObject *result = split_list(value);
    return result ? result : list_error_as_value_error();
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

namespace {

// Whether instances of `tp` look their attributes up the ordinary way
// (object.__getattribute__; a __getattr__ only answers what that misses).
bool plain_lookup(PyTypeObject *tp) {
    static PyObject *object_getattribute = nullptr;  // kept for the life of the process
    if (!object_getattribute) {
        object_getattribute = Py_XNewRef(oskra::type_lookup(&PyBaseObject_Type, names.dunder_getattribute));
        if (!object_getattribute) return false;
    }
    return oskra::type_lookup(tp, names.dunder_getattribute) == object_getattribute;
}

}  // namespace

PyObject *tk_of(PyObject *tcl) {
    // Through a weak proxy to an interpreter whose class keeps the ordinary
    // lookup, `tk` is read from the interpreter itself: the proxy and the
    // interpreter's __getattr__ hook would only add their own lookups.
    if (PyWeakref_CheckProxy(tcl)) {
        PyObject *target = nullptr;
        int alive = oskra::weakref_target(tcl, &target);
        Ref interp = Ref::steal(target);
        if (alive > 0 && plain_lookup(Py_TYPE(interp.get()))) {
            PyObject *tk = PyObject_GenericGetAttr(interp.get(), names.tk);
            if (tk || !PyErr_ExceptionMatches(PyExc_AttributeError)) return tk;
        }
        PyErr_Clear();  // a dead proxy raises its own error below
    }
    return PyObject_GetAttr(tcl, names.tk);
}

}  // namespace vc
}  // namespace oskra::ns
