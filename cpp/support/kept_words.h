// Command names kept as Tcl values.
//
// The Tcl layer turns every str word of a call into a new Tcl value, so Tcl
// looks the command up again on every call and frees the value after it. A
// Tcl value handed to the Tcl layer is passed on as that very value: a
// command name kept as one keeps Tcl's lookup of the command between calls
// (about a fifth of the cost of a small call); an ensemble's subcommand word
// keeps the ensemble's lookup likewise. Tcl still checks a kept lookup on
// every use, so a command renamed, deleted or redefined is found anew.
#pragma once
#include <Python.h>

namespace oskra {

// The word to pass as the command name `name` in a call through `tk`: the
// kept Tcl value of the name when the caller runs on the interpreter's own
// thread (Tcl values belong to the thread that made them) and the name is
// an ASCII str without NUL; `name` itself otherwise. New reference; never
// fails (a failure to make the value is cleared and the name is used).
PyObject *command_word(PyObject *tk, PyObject *name);

}  // namespace oskra
