// The parts of TclVariable (variable.cpp) that TclArrayVariable
// (array_variable.cpp) is built from: the object layout and the bodies of
// the reading and writing methods.
#pragma once
#include "support/tclapp.h"
#include "varcmd.h"

namespace oskra::ns::var {

struct VarObject {
    PyObject_HEAD PyObject *tcl;
    PyObject *cast;
    PyObject *var_name;
    PyObject *dict;
    PyObject *weakreflist;
};

inline VarObject *V(PyObject *o) { return reinterpret_cast<VarObject *>(o); }

extern PyTypeObject *var_type;  // TclVariable, once made

// The constructor's work: the weak interpreter reference, the cast, and the
// name (with "(index)" when an array index is given). -1 with the error set.
int init_fields(PyObject *self, PyObject *var_name, PyObject *array_index, PyObject *tcl, PyObject *cast);

// tk.<method>(name[, wordform(index)][, value]): getvar, setvar and
// unsetvar on a variable or one element; a value goes through tclobj and
// the guard of the Tcl layer. Index and value may be null (and the index
// None).
PyObject *tk_element_call(PyObject *tk, TkMethod method, PyObject *name, PyObject *index,
                          PyObject *value = nullptr);

// get_obj(index, cast), a null cast meaning the object's own.
PyObject *get_obj_impl(PyObject *self, PyObject *index, PyObject *cast);
PyObject *set_impl(PyObject *self, PyObject *value, PyObject *index);
PyObject *unset_impl(PyObject *self, PyObject *index, PyObject *nocomplain);
PyObject *exists_impl(PyObject *self, PyObject *index);
// tk.call(("::array", sub, var_name[, wordform(pattern)])).
// What array_call gives back: the result as the Tcl layer converted it, its
// Tcl text, or (for `array get`) that result with each element name as its
// text. Names are text whatever Tcl's internal type for them.
enum class Reply { value, text, names_as_text };
PyObject *array_call(PyObject *self, PyObject *sub, PyObject *pattern, Reply reply = Reply::value);
PyObject *array_unset_impl(PyObject *self, PyObject *pattern);
PyObject *var_array_set(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

}  // namespace oskra::ns::var
