// Helpers shared by TclVariable, TclArrayVariable and TclCommand (the
// native types): calls into the Tcl layer, and the small
// pieces of class assembly and object life cycle these types need.
// Every function returns null (or -1) with a Python error set on failure.
#pragma once
#include <Python.h>
#include <structmember.h>

#include "support/compat.h"
#include "support/pyref.h"
#include "core/tclsafe.h"
#include "ns_private.h"

namespace oskra::ns::vc {

// A C field exposed as an attribute, as an owned reference: any Python code
// run while it is in use may assign the attribute again and so drop the
// field's own reference. Null with AttributeError, as a Python object raises
// for an attribute that was never set or was deleted.
inline Ref field(PyObject *self, PyObject *value, const char *name) {
    if (!value)
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name,
                     name);
    return Ref::borrow(value);
}

// Python truth of an optional value (null counts as false).
inline int truthy(PyObject *o) {
    if (!o || o == Py_None) return 0;
    if (o == Py_True) return 1;
    if (o == Py_False) return 0;
    return PyObject_IsTrue(o);
}

// The Tcl application object of an interpreter (or of its weak proxy).
PyObject *tk_of(PyObject *tcl);

// What every call into Tcl starts with: the Tcl application object of the
// interpreter in the field *tcl_slot, then the name in *name_slot (the field
// called `label`), both owned. The name is read last: reaching the
// interpreter may run Python code. False with the error set.
inline bool tk_and_name(PyObject *self, PyObject *const *tcl_slot, PyObject *const *name_slot,
                        const char *label, Ref &tk, Ref &name) {
    Ref tcl = field(self, *tcl_slot, "tcl");
    if (!tcl) return false;
    tk = Ref::steal(tk_of(tcl.get()));
    if (!tk) return false;
    name = field(self, *name_slot, label);
    return bool(name);
}

// Visits, or clears, the object fields of a native type (traverse and clear).
template <size_t N>
int visit_fields(PyObject *const (&fields)[N], visitproc visit, void *arg) {
    for (PyObject *f : fields) Py_VISIT(f);
    return 0;
}
template <size_t N>
void clear_fields(PyObject **const (&fields)[N]) {
    for (PyObject **f : fields) Py_CLEAR(*f);
}

// tp_dealloc of a native type with GC and, when `weakrefs` is given, weak
// references.
inline void dealloc_gc(PyObject *self, inquiry clear, PyObject *weakrefs) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (weakrefs) PyObject_ClearWeakRefs(self);
    clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// call_words, given the interpreter (or its weak proxy).
inline PyObject *tk_call_words(PyObject *tcl, PyObject *words) {
    Ref tk = Ref::steal(tk_of(tcl));
    if (!tk) return nullptr;
    return call_words(tk.get(), words);
}

// The Tcl layer's "namespace current" joined with a relative name (the
// absolute() of commands and variables); an absolute name comes back as is.
PyObject *absolute_name(PyObject *tcl, PyObject *name);

// The list cast of the package: the elements of a Tcl list as a tuple, a
// malformed list raising ValueError(exc) from the TclError exc.
PyObject *cast_list(PyObject *value);

// Puts the members of a finished native type into definition order:
// __module__ and __doc__, then `order` (null-terminated), then the rest.
int order_type_dict(PyTypeObject *tp, const char *const *order);

// Whether `self.<name>` would find `own` (the member of our native type),
// that is, neither a subclass nor the instance dict overrides it.
inline bool not_overridden(PyObject *self, PyObject *name, PyObject *own, PyObject *dict) {
    // Held: the lookup may run a key's __eq__, which may replace the dict.
    Ref held = Ref::borrow(dict);
    if (held && PyDict_GetItemWithError(held.get(), name)) return false;
    if (PyErr_Occurred()) PyErr_Clear();
    return oskra::type_lookup(Py_TYPE(self), name) == own;
}

}  // namespace oskra::ns::vc
