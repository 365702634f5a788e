// The namespace module is assembled from several files; this header is
// their contract. module.cpp builds the classes in definition order
// (TclVariable, TempTclVariable, TclArrayVariable, TempTclArrayVariable,
// TclCommand, TempTclCommand, TclNamespace, TempTclNamespace), storing each
// in `classes` before building the next, and binds them as module attributes.
#pragma once
#include "support/nbclass.h"

namespace oskra::ns {
namespace nb = nanobind;

inline constexpr const char *MODULE_NAME = "oskra.tcl.namespace";

// The classes, set once at module init. C++ code refers to them here
// instead of looking up module globals on each call.
struct Classes {
    nb::object TclVariable, TempTclVariable, TclArrayVariable, TempTclArrayVariable;
    nb::object TclCommand, TempTclCommand;
    nb::object TclNamespace, TempTclNamespace;
    nb::object MutableMapping;  // collections.abc.MutableMapping
};
extern Classes classes;

// Builders (each returns the new class; bases come from `classes`).
nb::object make_TclVariable();  // variable.cpp
nb::object make_TclArrayVariable();  // variable.cpp
nb::object make_TclCommand();  // command.cpp
nb::object make_TempTclVariable();  // temporaries.cpp
nb::object make_TempTclArrayVariable();  // temporaries.cpp
nb::object make_TempTclCommand();  // temporaries.cpp
nb::object make_TclNamespace();  // tcl_namespace.cpp (views from views.cpp)
nb::object make_TempTclNamespace();  // temporaries.cpp

}  // namespace oskra::ns

// C API forms of the shared helpers, for code that sets the Python error
// and returns null instead of throwing.
namespace oskra::ns {

// The weak interpreter reference: a false `tcl` means the package
// oskra.tcl itself; a weakref proxy is kept; anything else is proxied. New
// reference, or null with the Python error set (e.g. ReferenceError when a
// given proxy is dead).
PyObject *interp_ref_raw(PyObject *tcl);

// TclNamespace.join(args[0], *args[1:]) in the C API convention (new
// reference, or null with ValueError "Invalid Tcl namespace '...'" set).
// nargs must be at least 1.
PyObject *ns_join_raw(PyObject *const *args, size_t nargs);

// The Tcl script text of a word list the package built itself:
// wordform(words), except that a first word beginning with "#" is quoted
// ({#name}, or \# where the word is written with backslashes), so that the
// script runs the command instead of being one Tcl comment. New reference
// or null with the Python error set.
PyObject *words_script(PyObject *words);

}  // namespace oskra::ns
