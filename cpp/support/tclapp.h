// Access to the Tcl layer underneath tkinter.
#pragma once
#include <Python.h>
#include <tcl.h>

namespace oskra {

// tkinter.TclError (borrowed; looked up once, when the process state is made).
PyObject *tcl_error_type();

// _tkinter.Tcl_Obj (borrowed, likewise).
PyObject *tcl_obj_type();

// Whether obj is a _tkinter.tkapp object (sets no error).
bool is_tkapp(PyObject *obj);

// The Tcl interpreter behind a _tkinter.tkapp object (the `tk` attribute
// of a tkinter.Tk); null with TypeError set for anything else.
Tcl_Interp *interp_of_tkapp(PyObject *tkapp);

// Whether the calling thread is the one that created the tkapp's Tcl
// interpreter (tkinter's own test): Tcl's C library may touch that
// interpreter, and the values it shares, only from there. `tkapp` must be a
// _tkinter.tkapp (see interp_of_tkapp). On the owner thread this also binds
// this module's direct Tcl calls (tcl_stubs_ready()); false, with no error
// set, if the interpreter's library is no Tcl 8.6 those calls can use.
bool tkapp_on_owner_thread(PyObject *tkapp);

// The error tkinter raises for a call from another thread (RuntimeError).
inline constexpr const char *WRONG_THREAD = "Calling Tcl from different apartment";

// interp_of_tkapp, on the owner thread only: elsewhere null with tkinter's
// RuntimeError set.
Tcl_Interp *owned_interp_of_tkapp(PyObject *tkapp);

// owned_interp_of_tkapp for code with a way round: null, with no error
// set, off the owner thread or for anything that is no tkapp.
Tcl_Interp *interp_on_own_thread(PyObject *tkapp);
// True once direct calls into Tcl's C library are possible in this module.
// The package links no Tcl library: every call goes through the stub table
// of the library that _tkinter itself uses (Tcl_InitStubs on the first
// interpreter seen on its own thread, see tkapp_on_owner_thread). Calls that
// need no interpreter (the number parsers) check this and otherwise leave
// the work to tkinter.
bool tcl_stubs_ready();

// The Tcl_Obj* held by a _tkinter.Tcl_Obj Python object (no new reference).
Tcl_Obj *tcl_obj_value(PyObject *obj);

// The methods of the Tcl layer's application object that hot paths call.
enum class TkMethod { call, eval, getvar, setvar, unsetvar };

// tk.<m>(*args), where stack[0] is tk and stack[1..n-1] the arguments:
// the method of the Tcl layer's own type is looked up once, anything else
// (a stand-in for the application object) through its attributes.
PyObject *tk_method(TkMethod m, PyObject *const *stack, size_t n);

// A new _tkinter.Tcl_Obj holding a new Tcl value of the text (ASCII). The
// Tcl layer passes such a word to Tcl as that very value, so a command name
// passed this way keeps Tcl's lookup of the command from one call to the
// next. Tcl values belong to the thread that made them: make and use it on
// one thread only. New reference or null.
PyObject *new_tcl_obj(const char *text);

}  // namespace oskra
