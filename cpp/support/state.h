// What the process holds once for all the extension modules: the interned
// names, the Python objects the core looks up (tkinter's types, the
// abstract base classes, NestMap, ...) and the types the core makes.
//
// The core is linked into every module, so a global in it would exist once
// per module, each filled (or not) on its own. The one State lives in
// oskra.tcl.internal instead, which fills it at its import and hands it out
// as the capsule oskra.tcl.internal._state; every other module imports it
// first thing at its own init (attach_state). Scratch buffers are not state:
// they hold nothing between calls, so the core keeps them where they are used.
#pragma once
#include <Python.h>

#include "support/names.h"

namespace oskra {

struct State {
    size_t size;  // sizeof(State) in the module that made it: a stale build shows here
    Names names;

    // tkinter's value and error types; the application type once one is seen.
    PyObject *TclError, *Tcl_Obj;
    PyTypeObject *tkapp_type;
    // collections.abc.Sequence, .Set, .Mapping and MutableMapping.update.
    PyObject *abc_Sequence, *abc_Set, *abc_Mapping, *mutable_mapping_update;
    PyObject *functools;  // the module
    bool asserts_enabled;  // false when Python runs with -O

    // Set by the modules that make them (null until then).
    PyObject *NestMap;  // oskra.tcl.nestmap.NestMap
    PyObject *SafeCallback;  // the type of core/tclsafe.h's callable wrapper
    PyObject *Interpreter;  // oskra.tcl.interpreter.Interpreter

    // Exceptions of Python callbacks, kept per Tcl interpreter until the
    // call that ran the Tcl code returns, and the number of the package's
    // calls into the Tcl layer under way (core/callback_errors.h).
    PyObject *callback_errors;  // dict: interpreter address -> (exception, errorCode)
    long active_tcl_calls;
};

// This module's pointer to the process's State (null before attach_state).
extern State *state;

// Fills `s` and interns the names; for oskra.tcl.internal alone. False with
// a Python error set.
bool make_state(State *s);

// Points `state` at the process's State and copies its names into `names`:
// imports oskra.tcl.internal when this module is another one. Every module
// calls it first at its init. False with a Python error set.
bool attach_state();
bool attach_state(State *own);

inline constexpr const char *STATE_CAPSULE = "oskra.tcl.internal._state";

}  // namespace oskra
