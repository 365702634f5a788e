// What every append needs to know about logging and the clock, and the
// copy/pickle state shared by Entry and History.
#include "history_private.h"
#include "support/compat.h"

namespace oskra::history {

PyObject *s_debug_level, *s_default_max;

PyObject *g_module_dict, *g_get_time, *g_deque, *g_logger_isEnabledFor;
PyCFunction g_deque_append;
PyTypeObject *EntryType, *HistoryType;

Ref global(PyObject *name) {
    PyObject *v = PyDict_GetItemWithError(g_module_dict, name);
    if (!v && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return Ref::borrow(v);
}

namespace {

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
    // Owned while in use: a truth test may change the logger's attributes.
    Ref dict = Ref::borrow(g_logger_dict);
    if (dict && PyDict_CheckExact(dict.get())) {
        // (A miss is checked for an error only when it happens.)
        Ref disabled = Ref::borrow(PyDict_GetItemWithError(dict.get(), names.disabled));
        Ref cache = disabled ? Ref::borrow(PyDict_GetItemWithError(dict.get(), names.cache_)) : Ref();
        if (!cache && PyErr_Occurred()) return -1;
        if (cache && PyDict_CheckExact(cache.get())) {
            if (disabled.get() != Py_False) {
                int d = disabled.get() == Py_True ? 1 : PyObject_IsTrue(disabled.get());
                if (d != 0) return d < 0 ? -1 : 0;
            }
            PyObject *v = PyDict_GetItemWithError(cache.get(), s_debug_level);
            if (v == Py_True) return 1;
            if (v == Py_False) return 0;
            if (!v && PyErr_Occurred()) return -1;
        }
    }
    PyObject *args[2] = {log, s_debug_level};
    Ref r = Ref::steal(PyObject_VectorcallMethod(names.isEnabledFor, args, 2, nullptr));
    if (!r) return -1;
    return PyObject_IsTrue(r.get());
}

// The state (is DEBUG on for `log`; is `get_time` still the one bound at
// import) stays valid until one of the dicts it was read from changes: this
// module's globals, the logger's attributes, the logger's per-level cache.
// A dict watcher drops it on any such event.
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
    Ref log = global(names.log);
    if (!log) return -1;
    int on = debug_enabled(log.get());
    if (on < 0) return -1;
    Ref gt = global(names.get_time);
    if (!gt) return -1;
    bool watched = false;
    // Held: the lookup may run a key's __eq__, which may log and so replace
    // the cached logger dict.
    Ref logger_dict = Ref::borrow(g_logger_dict);
    if (g_watcher >= 0 && logger_dict && PyDict_CheckExact(logger_dict.get())) {
        Ref cache = Ref::borrow(PyDict_GetItemWithError(logger_dict.get(), names.cache_));
        if (cache && PyDict_CheckExact(cache.get())) {
            watched = watch(&g_watched_logger_dict, logger_dict.get()) == 0 &&
                    watch(&g_watched_cache, cache.get()) == 0;
        }
        if (!watched) PyErr_Clear();
    }
    g_debug_on = on;
    g_clock_fast = gt.get() == g_get_time;
    g_valid = watched;
    return on;
}

}  // namespace

bool clock_is_fast() { return g_valid && g_clock_fast; }

void watch_module_globals() {
    // Without a free watcher slot every append simply re-reads the state.
    g_watcher = PyDict_AddWatcher(on_watched_dict_event);
    if (g_watcher >= 0 && PyDict_Watch(g_watcher, g_module_dict) < 0) g_watcher = -1;
    if (g_watcher < 0) PyErr_Clear();
}

int log_debug(PyObject *msg, PyObject *arg) {
    int on = g_valid ? g_debug_on : refresh_state();
    if (on <= 0) return on;
    Ref log = global(names.log);
    if (!log) return -1;
    PyObject *args[3] = {log.get(), msg, arg};
    Ref r = Ref::steal(PyObject_VectorcallMethod(names.debug, args, arg ? 3 : 2, nullptr));
    return r ? 0 : -1;
}

PyObject *attrs_state(PyObject *self, const char *const *names, int n, PyObject *const *dict_slot) {
    Ref state = Ref::steal(PyDict_New());
    if (!state) return nullptr;
    for (int i = 0; i < n; ++i) {
        Ref v = Ref::steal(PyObject_GetAttrString(self, names[i]));
        if (!v) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
            PyErr_Clear();
            continue;
        }
        if (PyDict_SetItemString(state.get(), names[i], v.get()) < 0) return nullptr;
    }
    // Read last: reading an attribute may have run Python code.
    Ref inst_dict = Ref::borrow(*dict_slot);
    if (inst_dict && PyDict_Update(state.get(), inst_dict.get()) < 0) return nullptr;
    return state.release();
}

PyObject *restore_attrs(PyObject *self, PyObject *state) {
    if (!PyDict_Check(state)) {
        PyErr_Format(PyExc_TypeError, "state must be a dict, not %.200s", Py_TYPE(state)->tp_name);
        return nullptr;
    }
    // A snapshot of the pairs: setting an attribute may change the dict.
    Ref items = Ref::steal(PyDict_Items(state));
    if (!items) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject *pair = PyList_GET_ITEM(items.get(), i);
        if (PyObject_SetAttr(self, PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1)) < 0) return nullptr;
    }
    Py_RETURN_NONE;
}

}  // namespace oskra::history
