// TclX keyed lists: the Tcl value type test, and the operations of the
// NestMap class (a dict subclass with dotted key paths).
//
// The NestMap class itself is assembled by the module oskra.tcl.nestmap; the
// operations below work on its instances as plain dicts and find the class
// through nestmap_class(), which imports that module on first use from any
// other module.
//
// Every function returns a new reference (or 0 / 1 for the int ones), or
// null / -1 with a Python error set.
#pragma once
#include <Python.h>

namespace oskra {

// True if obj is a _tkinter.Tcl_Obj whose Tcl type is TclX's keyed list.
bool is_keyed_list_obj(PyObject *obj);

// NestMap.from_tcl(value): a NestMap from a Tcl keyed list (str, Tcl_Obj or
// sequence); ValueError for text that is not one.
PyObject *keyed_list_from_tcl(PyObject *value);

// The same, for callers that only ask whether value is a keyed list: where
// keyed_list_from_tcl raises ValueError, this returns null with no error
// set (and builds no message). Other errors are set as usual. Blank text
// that is not empty is no keyed list here: as a value it is its own text.
PyObject *keyed_list_from_tcl_quiet(PyObject *value);

namespace keyed {

// The NestMap class (borrowed); null with an error set if it cannot be
// imported. set_nestmap_class is called once by the module that builds it.
PyObject *nestmap_class();
void set_nestmap_class(PyObject *cls);

// isinstance(obj, NestMap) for an already known class.
bool is_nestmap(PyObject *obj);

// A new, empty NestMap.
PyObject *new_nestmap();

int init(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *getitem(PyObject *self, PyObject *key);
int setitem(PyObject *self, PyObject *key, PyObject *value);
// The object __contains__ returns (not coerced to bool).
PyObject *contains(PyObject *self, PyObject *key);
int delitem(PyObject *self, PyObject *key);
int update(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *all_keys(PyObject *self);
PyObject *all_items(PyObject *self);
PyObject *to_tclobj(PyObject *self);

}  // namespace keyed
}  // namespace oskra
