// Helpers shared by the files of the namespace module: making raw
// METH_FASTCALL | METH_KEYWORDS methods from their parameter tables and
// classes from them, and thin wrappers around the calls every class makes
// (self.tcl.tk.call, wordform, ...).
//
// Everything here follows the C API convention: a new reference or null
// with the Python error set; no C++ exception on any expected path.
#pragma once
#include <Python.h>

#include <string>
#include <utility>

#include "core/convert.h"
#include "support/params.h"
#include "support/pyref.h"
#include "support/state.h"
#include "parts.h"

namespace oskra::ns {

using oskra::names;  // the interned names (support/names.h)

// Raw method plumbing ---------------------------------------------------

using FastKw = PyObject *(*)(PyObject *, PyObject *const *, Py_ssize_t, PyObject *);

// The raw functions of the classes assembled by type(): bound as methods,
// they receive self as args[0] (SelfArg::first in their tables).
#define METHOD(name) PyObject *name(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames)

// A METH_FASTCALL | METH_KEYWORDS function as a method (self arrives as
// args[0]) or, for a table without self, as a static method; the table
// gives its text signature.
PyObject *make_method(const char *name, FastKw f, const Params &params, const char *doc = "");

// Class assembly ---------------------------------------------------------

// One function of a class made by make_class.
struct MethodDef {
    const char *name;
    FastKw f;
    const Params &params;
    const char *doc = "";
};

// The class a class statement would make: type(bases[0])(name, bases, ns),
// so that a metaclass of the bases (ABCMeta) applies, with ns holding
// __module__, __qualname__, __doc__ (None for a null doc), the functions in
// order, then the `extra` attributes (borrowed). New reference or null.
PyObject *make_class(const char *name, const char *qualname, const char *doc,
                     std::initializer_list<PyObject *> bases, std::initializer_list<MethodDef> methods,
                     std::initializer_list<std::pair<const char *, PyObject *>> extra = {});

// Small helpers ----------------------------------------------------------

// wordform(obj), with the common cases (exact str, None, a namespace
// object of ours) answered without the general conversion.
PyObject *wf(PyObject *obj);
// wf(obj), insisting on a str result.
PyObject *wf_str(PyObject *obj, const char *what);

// obj.<name>(*args) with a borrowed self; args may be empty.
PyObject *call_method(PyObject *self, PyObject *name, PyObject *const *args, size_t nargs,
                      PyObject *kwnames = nullptr);
inline PyObject *call_method0(PyObject *self, PyObject *name) { return call_method(self, name, nullptr, 0); }
inline PyObject *call_method1(PyObject *self, PyObject *name, PyObject *a) {
    return call_method(self, name, &a, 1);
}
inline PyObject *call_method2(PyObject *self, PyObject *name, PyObject *a, PyObject *b) {
    PyObject *args[2] = {a, b};
    return call_method(self, name, args, 2);
}

// tk.call(words) on a Tcl application object: the Tcl layer takes a lone
// tuple as the list of words. The words go through the guard first: the Tcl
// layer converts nested values without checking for failure (see
// core/tclsafe.h).
PyObject *call_words(PyObject *tk, PyObject *words);

// call_words, returning the result's Tcl text (core/tcltext.h): names read
// from Tcl are the text Tcl has for them, whatever their internal type.
PyObject *call_words_text(PyObject *tk, PyObject *words);

// self.tcl.tk
PyObject *tk_of(PyObject *self);
// self.tcl.tk.call(arg) / self.tcl.tk.eval(arg)
PyObject *tk_call(PyObject *self, PyObject *arg);
PyObject *tk_eval(PyObject *self, PyObject *arg);

// The exception being raised is a tkinter.TclError.
bool error_is_tcl();
// Replace the exception being raised by KeyError(exc), chained to it as in
// `raise KeyError(exc) from exc`. Returns null for convenience.
PyObject *raise_key_error_from_current();

// Tuple builders (new reference or null).
PyObject *tuple_of(std::initializer_list<PyObject *> items);

// Views (views.cpp), built before TclNamespace and nested in it.
struct ViewClasses {
    PyObject *VariablesView = nullptr, *ObjectsView = nullptr, *CommandsView = nullptr, *ProcsView = nullptr;
};
extern ViewClasses views;
bool make_views();  // fills `views`

// TclNamespace.call as a C++ function: self is the namespace object.
PyObject *ns_call(PyObject *self, PyObject *tclcmd);
// TclNamespace.eval of a word tuple: the same command inside the namespace,
// its result as one string.
PyObject *ns_eval_words(PyObject *self, PyObject *words);
// The namespace object's interpreter proxy (self.tcl).
inline PyObject *tcl_of(PyObject *ns_self) { return PyObject_GetAttr(ns_self, names.tcl); }

}  // namespace oskra::ns
