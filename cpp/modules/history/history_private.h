// Private to the history module: what its source files share (the
// interned names, the module's globals, logging and clock state, the two
// type specs).
#pragma once
#include <Python.h>

#include "support/names.h"
#include "support/pyref.h"

namespace oskra::history {

// The interned names and constant texts are the process's (oskra::names);
// these two numbers are made at import.
extern PyObject *s_debug_level, *s_default_max;

extern PyObject *g_module_dict;  // this module's globals (strong)
extern PyObject *g_get_time;  // the get_time bound at import: the clock fast path stands for it
extern PyObject *g_deque;  // collections.deque
extern PyCFunction g_deque_append;  // deque.append's C function (METH_O), when available
extern PyObject *g_logger_isEnabledFor;  // logging.Logger.isEnabledFor
extern PyTypeObject *EntryType, *HistoryType;
extern PyType_Spec Entry_spec, History_spec;

// The module global `name`, owned (NameError when it is not defined).
Ref global(PyObject *name);

// Whether the state read by the last refresh still holds, and whether
// get_time was then still the one bound at import.
bool clock_is_fast();

// log.debug(msg[, arg]) on the module's logger, skipped when DEBUG is off.
int log_debug(PyObject *msg, PyObject *arg);

// Starts watching the module globals (called once at import).
void watch_module_globals();

// Copying and pickling: the state of an object is its named attributes
// (those that are set) plus its instance dict; restoring sets them again.
PyObject *attrs_state(PyObject *self, const char *const *names, int n, PyObject *const *dict_slot);
PyObject *restore_attrs(PyObject *self, PyObject *state);

// Binds datetime's C API for the entries (false with the error set).
bool import_datetime();

// A new Entry for `api`, as Entry(api) makes it.
PyObject *entry_create(PyObject *api);

}  // namespace oskra::history
