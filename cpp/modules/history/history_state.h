// Private to the history module (included once, by history.cpp): the
// interned names, the module's globals, and what every append needs to know
// about logging and the clock.
#pragma once
#include <Python.h>

#include "support/state.h"
#include "support/compat.h"

namespace {

using oskra::names;  // the interned names and constant texts

PyObject *s_debug_level, *s_default_max;

PyObject *g_module_dict;  // this module's globals (strong)
PyObject *g_get_time;  // the get_time bound at import: the clock fast path stands for it
PyObject *g_deque;  // collections.deque
PyCFunction g_deque_append;  // deque.append's C function (METH_O), when available
PyObject *g_logger_isEnabledFor;  // logging.Logger.isEnabledFor
PyTypeObject *EntryType, *HistoryType;

// ---------------------------------------------------------------- logging

// Cached view of the logger last seen under the module global `log`: when
// its class keeps Logger.isEnabledFor, the answer for DEBUG is read from the
// logger's own per-level cache, exactly as isEnabledFor does.
PyObject *g_logger, *g_logger_type, *g_logger_dict;

int debug_enabled(PyObject *log) {
    if (log != g_logger || (PyObject *)Py_TYPE(log) != g_logger_type) {
        Py_XSETREF(g_logger, Py_NewRef(log));
        Py_XSETREF(g_logger_type, Py_NewRef((PyObject *)Py_TYPE(log)));
        Py_CLEAR(g_logger_dict);
        if (oskra::type_lookup(Py_TYPE(log), names.isEnabledFor) == g_logger_isEnabledFor) {
            g_logger_dict = PyObject_GenericGetDict(log, nullptr);
            if (!g_logger_dict) PyErr_Clear();
        }
    }
    if (g_logger_dict && PyDict_CheckExact(g_logger_dict)) {
        // (A miss is checked for an error only when it happens.)
        PyObject *disabled = PyDict_GetItemWithError(g_logger_dict, names.disabled);
        PyObject *cache = disabled ? PyDict_GetItemWithError(g_logger_dict, names.cache_) : nullptr;
        if (!cache && PyErr_Occurred()) return -1;
        if (cache && PyDict_CheckExact(cache)) {
            if (disabled != Py_False) {
                int d = disabled == Py_True ? 1 : PyObject_IsTrue(disabled);
                if (d != 0) return d < 0 ? -1 : 0;
            }
            PyObject *v = PyDict_GetItemWithError(cache, s_debug_level);
            if (v == Py_True) return 1;
            if (v == Py_False) return 0;
            if (!v && PyErr_Occurred()) return -1;
        }
    }
    PyObject *args[2] = {log, s_debug_level};
    PyObject *r = PyObject_VectorcallMethod(names.isEnabledFor, args, 2, nullptr);
    if (!r) return -1;
    int t = PyObject_IsTrue(r);
    Py_DECREF(r);
    return t;
}

PyObject *global(PyObject *name) {
    PyObject *v = PyDict_GetItemWithError(g_module_dict, name);
    if (!v && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return v;  // borrowed
}

// What every append needs to know (is DEBUG on for `log`; is `get_time`
// still the one bound at import) stays valid until one of the dicts it was
// read from changes: this module's globals, the logger's attributes, the
// logger's per-level cache. A dict watcher drops it on any such event.
int g_watcher = -1;
bool g_valid = false, g_debug_on = false, g_clock_fast = false;
PyObject *g_watched_logger_dict, *g_watched_cache;

int on_watched_dict_event(PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) {
    g_valid = false;
    return 0;
}

int watch(PyObject **slot, PyObject *dict) {
    if (*slot == dict) return 0;
    if (*slot) {
        if (PyDict_Unwatch(g_watcher, *slot) < 0) PyErr_Clear();
        Py_CLEAR(*slot);
    }
    if (PyDict_Watch(g_watcher, dict) < 0) return -1;
    *slot = Py_NewRef(dict);
    return 0;
}

// Recomputes the state; returns whether DEBUG is on (-1 on error).
int refresh_state() {
    g_valid = false;
    PyObject *log = global(names.log);
    if (!log) return -1;
    int on = debug_enabled(log);
    if (on < 0) return -1;
    PyObject *gt = global(names.get_time);
    if (!gt) return -1;
    bool watched = false;
    if (g_watcher >= 0 && g_logger_dict && PyDict_CheckExact(g_logger_dict)) {
        PyObject *cache = PyDict_GetItemWithError(g_logger_dict, names.cache_);
        if (cache && PyDict_CheckExact(cache)) {
            watched =
                    watch(&g_watched_logger_dict, g_logger_dict) == 0 && watch(&g_watched_cache, cache) == 0;
        }
        if (!watched) PyErr_Clear();
    }
    g_debug_on = on;
    g_clock_fast = gt == g_get_time;
    g_valid = watched;
    return on;
}

// log.debug(msg[, arg]) on the module's logger, skipped when DEBUG is off.
int log_debug(PyObject *msg, PyObject *arg) {
    int on = g_valid ? g_debug_on : refresh_state();
    if (on <= 0) return on;
    PyObject *log = global(names.log);
    if (!log) return -1;
    PyObject *args[3] = {log, msg, arg};
    PyObject *r = PyObject_VectorcallMethod(names.debug, args, arg ? 3 : 2, nullptr);
    Py_XDECREF(r);
    return r ? 0 : -1;
}

// Copying and pickling: the state of an object is its named attributes
// (those that are set) plus its instance dict; restoring sets them again.
PyObject *attrs_state(PyObject *self, const char *const *names, int n, PyObject *inst_dict) {
    PyObject *state = PyDict_New();
    if (!state) return nullptr;
    for (int i = 0; i < n; ++i) {
        PyObject *v = PyObject_GetAttrString(self, names[i]);
        if (!v) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) goto fail;
            PyErr_Clear();
            continue;
        }
        int rc = PyDict_SetItemString(state, names[i], v);
        Py_DECREF(v);
        if (rc < 0) goto fail;
    }
    if (inst_dict && PyDict_Update(state, inst_dict) < 0) goto fail;
    return state;
fail:
    Py_DECREF(state);
    return nullptr;
}

PyObject *restore_attrs(PyObject *self, PyObject *state) {
    if (!PyDict_Check(state)) {
        PyErr_Format(PyExc_TypeError, "state must be a dict, not %.200s", Py_TYPE(state)->tp_name);
        return nullptr;
    }
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(state, &pos, &key, &value)) {
        if (PyObject_SetAttr(self, key, value) < 0) return nullptr;
    }
    Py_RETURN_NONE;
}

}  // namespace
