// The call history: a bounded record of Tcl calls with named markers.
//
// `History.append` runs on every evaluation, so both classes are native
// heap types with their state in C slots. An entry reads the system clock
// in C and builds its date-time object only when `timestamp` is first read;
// the value is the one `get_time()` would have returned at that moment.
#include <nanobind/nanobind.h>

#include <Python.h>
#include <datetime.h>
#include <structmember.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "fastcall_args.h"
#include "freelist.h"

namespace nb = nanobind;

namespace {

// Interned names and constant texts.
PyObject *s_get_time, *s_log, *s_re, *s_debug, *s_isEnabledFor, *s_disabled, *s_cache, *s_append,
    *s_clear, *s_remove, *s_values, *s_maxlen, *s_compile, *s_search, *s_api, *s_strftime, *s_enable,
    *s_space, *s_colon, *s_brace_fmt, *s_append_fmt, *s_ts_format, *s_no_marker_fmt, *s_enabled_msg,
    *s_disabled_msg, *s_debug_level, *s_default_max;

PyObject *g_module_dict;    // this module's globals (strong)
PyObject *g_get_time;       // the get_time bound at import: the clock fast path stands for it
PyObject *g_deque;          // collections.deque
PyCFunction g_deque_append; // deque.append's C function (METH_O), when available
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
        if (_PyType_Lookup(Py_TYPE(log), s_isEnabledFor) == g_logger_isEnabledFor) {
            g_logger_dict = PyObject_GenericGetDict(log, nullptr);
            if (!g_logger_dict) PyErr_Clear();
        }
    }
    if (g_logger_dict && PyDict_CheckExact(g_logger_dict)) {
        // (A miss is checked for an error only when it happens.)
        PyObject *disabled = PyDict_GetItemWithError(g_logger_dict, s_disabled);
        PyObject *cache = disabled ? PyDict_GetItemWithError(g_logger_dict, s_cache) : nullptr;
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
    PyObject *r = PyObject_VectorcallMethod(s_isEnabledFor, args, 2, nullptr);
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
    PyObject *log = global(s_log);
    if (!log) return -1;
    int on = debug_enabled(log);
    if (on < 0) return -1;
    PyObject *gt = global(s_get_time);
    if (!gt) return -1;
    bool watched = false;
    if (g_watcher >= 0 && g_logger_dict && PyDict_CheckExact(g_logger_dict)) {
        PyObject *cache = PyDict_GetItemWithError(g_logger_dict, s_cache);
        if (cache && PyDict_CheckExact(cache)) {
            watched = watch(&g_watched_logger_dict, g_logger_dict) == 0 && watch(&g_watched_cache, cache) == 0;
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
    PyObject *log = global(s_log);
    if (!log) return -1;
    PyObject *args[3] = {log, msg, arg};
    PyObject *r = PyObject_VectorcallMethod(s_debug, args, arg ? 3 : 2, nullptr);
    Py_XDECREF(r);
    return r ? 0 : -1;
}

// ---------------------------------------------------------------- Entry

struct EntryObject {
    PyObject_HEAD
    PyObject *api;
    PyObject *timestamp;  // the date-time, once built or when set
    PyObject *dict;
    PyObject *weakrefs;
    // Clock reading (local time) for a timestamp not built yet.
    int64_t epoch;
    int32_t year, usec;
    uint8_t month, day, hour, minute, second;
    bool pending;
};

inline EntryObject *E(PyObject *o) { return reinterpret_cast<EntryObject *>(o); }

// What datetime.now() reads: the real-time clock floored to microseconds,
// broken down in local time (a leap second clamped to 59).
int capture_clock(EntryObject *e) {
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
        PyErr_SetFromErrno(PyExc_OSError);
        return -1;
    }
    time_t secs = ts.tv_sec;
    // The local breakdown of a second is computed once (calls come in
    // bursts); the cache lives at most until the clock moves on.
    static time_t cached_secs = (time_t)-1;
    static struct tm cached_tm;
    if (secs != cached_secs) {
        errno = 0;
        if (!localtime_r(&secs, &cached_tm)) {
            cached_secs = (time_t)-1;
            if (errno == 0) errno = EINVAL;
            PyErr_SetFromErrno(PyExc_OSError);
            return -1;
        }
        cached_secs = secs;
    }
    const struct tm &tm = cached_tm;
    e->epoch = (int64_t)secs;
    e->usec = (int32_t)(ts.tv_nsec / 1000);
    e->year = tm.tm_year + 1900;
    e->month = (uint8_t)(tm.tm_mon + 1);
    e->day = (uint8_t)tm.tm_mday;
    e->hour = (uint8_t)tm.tm_hour;
    e->minute = (uint8_t)tm.tm_min;
    e->second = (uint8_t)(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    Py_CLEAR(e->timestamp);
    e->pending = true;
    return 0;
}

// Builds the date-time of a pending clock reading. The fold (which of two
// repeated wall-clock hours) is taken from datetime.fromtimestamp of the
// same second, as datetime.now() computes it.
PyObject *build_timestamp(EntryObject *e) {
    int fold = 0;
    PyObject *args = Py_BuildValue("(L)", (long long)e->epoch);
    if (!args) return nullptr;
    PyObject *probe = PyDateTimeAPI->DateTime_FromTimestamp((PyObject *)PyDateTimeAPI->DateTimeType, args,
                                                            nullptr);
    Py_DECREF(args);
    if (probe) {
        if (PyDateTime_GET_YEAR(probe) == e->year && PyDateTime_GET_MONTH(probe) == e->month &&
            PyDateTime_GET_DAY(probe) == e->day && PyDateTime_DATE_GET_HOUR(probe) == e->hour &&
            PyDateTime_DATE_GET_MINUTE(probe) == e->minute && PyDateTime_DATE_GET_SECOND(probe) == e->second)
            fold = PyDateTime_DATE_GET_FOLD(probe);
        Py_DECREF(probe);
    } else {
        PyErr_Clear();
    }
    return PyDateTimeAPI->DateTime_FromDateAndTimeAndFold(e->year, e->month, e->day, e->hour, e->minute,
                                                          e->second, e->usec, Py_None, fold,
                                                          PyDateTimeAPI->DateTimeType);
}

// Whether an exact str holds the space character.
bool has_space(PyObject *w) {
    Py_ssize_t len = PyUnicode_GET_LENGTH(w);
    const void *d = PyUnicode_DATA(w);
    switch (PyUnicode_KIND(w)) {
    case PyUnicode_1BYTE_KIND:
        if (len > 32) return memchr(d, ' ', (size_t)len) != nullptr;
        for (Py_ssize_t i = 0; i < len; ++i)
            if (((const Py_UCS1 *)d)[i] == ' ') return true;
        return false;
    case PyUnicode_2BYTE_KIND:
        for (Py_ssize_t i = 0; i < len; ++i)
            if (((const Py_UCS2 *)d)[i] == ' ') return true;
        return false;
    default:
        for (Py_ssize_t i = 0; i < len; ++i)
            if (((const Py_UCS4 *)d)[i] == ' ') return true;
        return false;
    }
}

// Copies the str `w` into `data` (of `kind`, at least as wide as w's) at
// `pos`; returns the position after it.
Py_ssize_t copy_into(int kind, void *data, Py_ssize_t pos, PyObject *w) {
    Py_ssize_t len = PyUnicode_GET_LENGTH(w);
    int wkind = PyUnicode_KIND(w);
    const void *src = PyUnicode_DATA(w);
    if (wkind == kind) {
        memcpy((char *)data + pos * kind, src, (size_t)(len * kind));
    } else {
        for (Py_ssize_t i = 0; i < len; ++i) PyUnicode_WRITE(kind, data, pos + i, PyUnicode_READ(wkind, src, i));
    }
    return pos + len;
}

// The call's text: a string as it is, otherwise the words joined by single
// spaces, a word holding a space wrapped in braces (no other quoting).
PyObject *join_words(PyObject *api) {
    PyObject *seq;
    if (PyList_CheckExact(api) || PyTuple_CheckExact(api))
        seq = Py_NewRef(api);
    else if (!(seq = PySequence_List(api)))
        return nullptr;
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
    PyObject **items = PySequence_Fast_ITEMS(seq);
    // Exact strings are joined directly into a buffer of the right kind;
    // anything else takes the general route below.
    Py_ssize_t total = n > 0 ? n - 1 : 0;
    Py_UCS4 maxchar = 127;
    bool plain = true;
    uint64_t braced = 0;  // which of the first 64 words hold a space
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *w = items[i];
        if (!PyUnicode_CheckExact(w)) {
            plain = false;
            break;
        }
        bool space = has_space(w);
        if (space && i < 64) braced |= uint64_t(1) << i;
        total += PyUnicode_GET_LENGTH(w) + (space ? 2 : 0);
        Py_UCS4 mc = PyUnicode_MAX_CHAR_VALUE(w);
        if (mc > maxchar) maxchar = mc;
    }
    if (plain) {
        PyObject *res = PyUnicode_New(total, maxchar);
        if (res) {
            int kind = PyUnicode_KIND(res);
            void *data = PyUnicode_DATA(res);
            Py_ssize_t pos = 0;
            for (Py_ssize_t i = 0; i < n; ++i) {
                PyObject *w = items[i];
                bool brace = i < 64 ? (braced >> i) & 1 : has_space(w);
                if (i) PyUnicode_WRITE(kind, data, pos++, ' ');
                if (brace) PyUnicode_WRITE(kind, data, pos++, '{');
                pos = copy_into(kind, data, pos, w);
                if (brace) PyUnicode_WRITE(kind, data, pos++, '}');
            }
        }
        Py_DECREF(seq);
        return res;
    }
    PyObject *res = nullptr;
    // General route: `" " in word` and `"{%s}" % word`, then str.join, so
    // non-string words fail with the TypeError of those operations.
    PyObject *pieces = PyList_New(n);
    if (!pieces) {
        Py_DECREF(seq);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *w = items[i];
        int has = PySequence_Contains(w, s_space);
        if (has < 0) goto fail;
        PyObject *piece = has ? PyUnicode_Format(s_brace_fmt, w) : Py_NewRef(w);
        if (!piece) goto fail;
        PyList_SET_ITEM(pieces, i, piece);
    }
    res = PyUnicode_Join(s_space, pieces);
fail:
    Py_DECREF(pieces);
    Py_DECREF(seq);
    return res;
}

// Entry.__init__ proper: text, then timestamp, then store.
int entry_fill(EntryObject *self, PyObject *api) {
    PyObject *text = PyUnicode_Check(api) ? Py_NewRef(api) : join_words(api);
    if (!text) return -1;
    bool fast = g_valid && g_clock_fast;
    PyObject *gt = nullptr;
    if (!fast) {
        gt = global(s_get_time);
        if (!gt) {
            Py_DECREF(text);
            return -1;
        }
        fast = gt == g_get_time;
    }
    if (fast) {
        if (capture_clock(self) < 0) {
            Py_DECREF(text);
            return -1;
        }
    } else {
        // get_time was replaced: honour the replacement.
        PyObject *ts = PyObject_CallNoArgs(gt);
        if (!ts) {
            Py_DECREF(text);
            return -1;
        }
        Py_XSETREF(self->timestamp, ts);
        self->pending = false;
    }
    Py_XSETREF(self->api, text);
    return 0;
}

// Entries dropped from a full history are reused for the next ones.
oskra::FreeList<64> entry_freelist;

PyObject *entry_create(PyObject *api) {
    PyObject *o = entry_freelist.alloc(EntryType, sizeof(EntryObject));
    if (!o) return nullptr;
    if (entry_fill(E(o), api) < 0) {
        Py_DECREF(o);
        return nullptr;
    }
    return o;
}

int Entry_init(PyObject *self, PyObject *args, PyObject *kwds) {
    static const char *kwlist[] = {"api", nullptr};
    PyObject *api;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:Entry", const_cast<char **>(kwlist), &api)) return -1;
    return entry_fill(E(self), api);
}

int Entry_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(E(self)->api);
    Py_VISIT(E(self)->timestamp);
    Py_VISIT(E(self)->dict);
    return 0;
}

int Entry_clear(PyObject *self) {
    Py_CLEAR(E(self)->api);
    Py_CLEAR(E(self)->timestamp);
    Py_CLEAR(E(self)->dict);
    return 0;
}

void Entry_dealloc(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (E(self)->weakrefs) PyObject_ClearWeakRefs(self);
    Entry_clear(self);
    if (entry_freelist.keep(self, EntryType)) return;
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyObject *Entry_get_timestamp(PyObject *self, void *) {
    EntryObject *e = E(self);
    if (e->pending) {
        PyObject *ts = build_timestamp(e);
        if (!ts) return nullptr;
        e->timestamp = ts;
        e->pending = false;
    }
    if (!e->timestamp) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute 'timestamp'", Py_TYPE(self)->tp_name);
        return nullptr;
    }
    return Py_NewRef(e->timestamp);
}

int Entry_set_timestamp(PyObject *self, PyObject *value, void *) {
    EntryObject *e = E(self);
    if (!value && !e->pending && !e->timestamp) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute 'timestamp'", Py_TYPE(self)->tp_name);
        return -1;
    }
    e->pending = false;
    Py_XSETREF(e->timestamp, Py_XNewRef(value));
    return 0;
}

PyObject *Entry_str(PyObject *self) {
    EntryObject *e = E(self);
    PyObject *when;
    if (e->pending && e->year >= 1000 && e->year <= 9999) {
        // Same text as strftime("%Y-%m-%dT%H:%M:%S.%f") of the pending value.
        char buf[40];
        snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06d", (int)e->year, e->month, e->day, e->hour,
                 e->minute, e->second, (int)e->usec);
        when = PyUnicode_FromString(buf);
    } else {
        PyObject *ts = Entry_get_timestamp(self, nullptr);
        if (!ts) return nullptr;
        when = PyObject_CallMethodOneArg(ts, s_strftime, s_ts_format);
        Py_DECREF(ts);
    }
    if (!when) return nullptr;
    if (!e->api) {
        Py_DECREF(when);
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute 'api'", Py_TYPE(self)->tp_name);
        return nullptr;
    }
    PyObject *api = PyObject_Str(e->api);
    PyObject *head = api ? PyNumber_Add(when, s_colon) : nullptr;
    PyObject *res = head ? PyNumber_Add(head, api) : nullptr;
    Py_XDECREF(head);
    Py_XDECREF(api);
    Py_DECREF(when);
    return res;
}

PyObject *Entry_repr(PyObject *self) {
    PyObject *s = PyObject_Str(self);
    if (!s) return nullptr;
    PyObject *r = PyUnicode_FromFormat("<Entry '%U' at 0x%llx>", s, (unsigned long long)(uintptr_t)self);
    Py_DECREF(s);
    return r;
}

PyMemberDef Entry_members[] = {
    {"api", T_OBJECT_EX, offsetof(EntryObject, api), 0, "The recorded call, as text."},
    {"__dictoffset__", T_PYSSIZET, offsetof(EntryObject, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(EntryObject, weakrefs), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef Entry_getset[] = {
    {"timestamp", Entry_get_timestamp, Entry_set_timestamp, "When the call was recorded (local date-time).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot Entry_slots[] = {
    {Py_tp_doc, (void *)"Entry(api)\n--\n\nOne recorded call: its text and when it was recorded."},
    {Py_tp_new, (void *)PyType_GenericNew},
    {Py_tp_init, (void *)Entry_init},
    {Py_tp_dealloc, (void *)Entry_dealloc},
    {Py_tp_traverse, (void *)Entry_traverse},
    {Py_tp_clear, (void *)Entry_clear},
    {Py_tp_str, (void *)Entry_str},
    {Py_tp_repr, (void *)Entry_repr},
    {Py_tp_members, Entry_members},
    {Py_tp_getset, Entry_getset},
    {0, nullptr},
};

PyType_Spec Entry_spec = {
    "oskra.tcl.history.Entry", sizeof(EntryObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, Entry_slots,
};

// ---------------------------------------------------------------- History

struct HistoryObject {
    PyObject_HEAD
    PyObject *history;  // __history__
    PyObject *markers;  // __markers__
    PyObject *active;   // __activeMarkers__
    PyObject *enabled;
    PyObject *dict;
    PyObject *weakrefs;
};

inline HistoryObject *H(PyObject *o) { return reinterpret_cast<HistoryObject *>(o); }

PyObject *field(PyObject *self, PyObject *value, const char *name) {
    if (!value)
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name, name);
    return value;  // borrowed
}
#define HFIELD(self, f, name) field(self, H(self)->f, name)

int deque_append(PyObject *dq, PyObject *item) {
    PyObject *r = (g_deque_append && Py_IS_TYPE(dq, (PyTypeObject *)g_deque))
                      ? g_deque_append(dq, item)
                      : PyObject_CallMethodOneArg(dq, s_append, item);
    Py_XDECREF(r);
    return r ? 0 : -1;
}

PyObject *call_noargs(PyObject *obj, PyObject *name) {
    PyObject *r = PyObject_CallMethodNoArgs(obj, name);
    if (!r) return nullptr;
    Py_DECREF(r);
    Py_RETURN_NONE;
}

PyObject *new_deque(PyObject *maxlen) {
    PyObject *kw = PyDict_New();
    if (!kw) return nullptr;
    PyObject *r = nullptr;
    if (PyDict_SetItem(kw, s_maxlen, maxlen) == 0) {
        PyObject *noargs = PyTuple_New(0);
        if (noargs) {
            r = PyObject_Call(g_deque, noargs, kw);
            Py_DECREF(noargs);
        }
    }
    Py_DECREF(kw);
    return r;
}

int History_init(PyObject *self, PyObject *args, PyObject *kwds) {
    static const char *kwlist[] = {"max_history", nullptr};
    PyObject *max_history = s_default_max;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|O:History", const_cast<char **>(kwlist), &max_history))
        return -1;
    PyObject *dq = new_deque(max_history);
    if (!dq) return -1;
    PyObject *markers = PyDict_New();
    PyObject *active = PyList_New(0);
    if (!markers || !active) {
        Py_DECREF(dq);
        Py_XDECREF(markers);
        Py_XDECREF(active);
        return -1;
    }
    HistoryObject *h = H(self);
    Py_XSETREF(h->history, dq);
    Py_XSETREF(h->markers, markers);
    Py_XSETREF(h->active, active);
    PyObject *r = PyObject_CallMethodNoArgs(self, s_enable);
    Py_XDECREF(r);
    return r ? 0 : -1;
}

PyObject *set_enabled(PyObject *self, PyObject *value, PyObject *msg) {
    Py_XSETREF(H(self)->enabled, Py_NewRef(value));
    if (log_debug(msg, nullptr) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *History_enable(PyObject *self, PyObject *) { return set_enabled(self, Py_True, s_enabled_msg); }
PyObject *History_disable(PyObject *self, PyObject *) { return set_enabled(self, Py_False, s_disabled_msg); }

PyObject *History_append(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *item;
    if (nargs == 1 && !kwnames) {
        item = args[0];
    } else {
        static const char *names[] = {"item"};
        if (oskra::bind_args("History.append", names, 1, 1, args, nargs, kwnames, &item) < 0) return nullptr;
    }
    if (log_debug(s_append_fmt, item) < 0) return nullptr;
    PyObject *en = HFIELD(self, enabled, "enabled");
    if (!en) return nullptr;
    int on = en == Py_True ? 1 : en == Py_False ? 0 : PyObject_IsTrue(en);
    if (on <= 0) {
        if (on < 0) return nullptr;
        Py_RETURN_NONE;
    }
    PyObject *entry = entry_create(item);
    if (!entry) return nullptr;
    PyObject *dq = HFIELD(self, history, "__history__");
    if (!dq || deque_append(dq, entry) < 0) goto fail;
    {
        PyObject *active = HFIELD(self, active, "__activeMarkers__");
        if (!active) goto fail;
        if (PyList_CheckExact(active) && PyList_GET_SIZE(active) == 0) goto done;
        PyObject *markers = HFIELD(self, markers, "__markers__");
        if (!markers) goto fail;
        Py_INCREF(markers);
        PyObject *it = PyObject_GetIter(active);
        if (!it) {
            Py_DECREF(markers);
            goto fail;
        }
        PyObject *name;
        int rc = 0;
        while ((name = PyIter_Next(it))) {
            PyObject *mdq = PyObject_GetItem(markers, name);
            Py_DECREF(name);
            if (!mdq || deque_append(mdq, entry) < 0) {
                Py_XDECREF(mdq);
                rc = -1;
                break;
            }
            Py_DECREF(mdq);
        }
        Py_DECREF(it);
        Py_DECREF(markers);
        if (rc < 0 || PyErr_Occurred()) goto fail;
    }
done:
    Py_DECREF(entry);
    Py_RETURN_NONE;
fail:
    Py_DECREF(entry);
    return nullptr;
}

PyObject *History_clear(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *names[] = {"marker", "clear_all"};
    PyObject *a[2] = {Py_None, Py_False};
    if (oskra::bind_args("History.clear", names, 2, 0, args, nargs, kwnames, a) < 0) return nullptr;
    int all = PyObject_IsTrue(a[1]);
    if (all < 0) return nullptr;
    if (all) {
        PyObject *markers = HFIELD(self, markers, "__markers__");
        if (!markers) return nullptr;
        PyObject *vals = PyObject_CallMethodNoArgs(markers, s_values);
        if (!vals) return nullptr;
        PyObject *it = PyObject_GetIter(vals);
        Py_DECREF(vals);
        if (!it) return nullptr;
        PyObject *dq;
        while ((dq = PyIter_Next(it))) {
            PyObject *r = call_noargs(dq, s_clear);
            Py_DECREF(dq);
            if (!r) {
                Py_DECREF(it);
                return nullptr;
            }
            Py_DECREF(r);
        }
        Py_DECREF(it);
        if (PyErr_Occurred()) return nullptr;
    } else if (a[0] != Py_None) {
        PyObject *markers = HFIELD(self, markers, "__markers__");
        if (!markers) return nullptr;
        PyObject *dq = PyObject_GetItem(markers, a[0]);
        if (!dq) return nullptr;
        PyObject *r = call_noargs(dq, s_clear);
        Py_DECREF(dq);
        return r;
    }
    PyObject *dq = HFIELD(self, history, "__history__");
    return dq ? call_noargs(dq, s_clear) : nullptr;
}

PyObject *History_start_marker(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *names[] = {"marker"};
    PyObject *marker;
    if (oskra::bind_args("History.start_marker", names, 1, 1, args, nargs, kwnames, &marker) < 0) return nullptr;
    PyObject *markers = HFIELD(self, markers, "__markers__");
    if (!markers) return nullptr;
    int known = PySequence_Contains(markers, marker);
    if (known < 0) return nullptr;
    if (!known) {
        PyObject *dq = HFIELD(self, history, "__history__");
        if (!dq) return nullptr;
        PyObject *maxlen = PyObject_GetAttr(dq, s_maxlen);
        if (!maxlen) return nullptr;
        PyObject *mdq = new_deque(maxlen);
        Py_DECREF(maxlen);
        if (!mdq) return nullptr;
        int rc = PyObject_SetItem(markers, marker, mdq);
        Py_DECREF(mdq);
        if (rc < 0) return nullptr;
    }
    PyObject *active = HFIELD(self, active, "__activeMarkers__");
    if (!active) return nullptr;
    if (PyList_CheckExact(active)) {
        if (PyList_Append(active, marker) < 0) return nullptr;
        Py_RETURN_NONE;
    }
    PyObject *r = PyObject_CallMethodOneArg(active, s_append, marker);
    Py_XDECREF(r);
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *History_end_marker(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *names[] = {"marker"};
    PyObject *marker;
    if (oskra::bind_args("History.end_marker", names, 1, 1, args, nargs, kwnames, &marker) < 0) return nullptr;
    PyObject *active = HFIELD(self, active, "__activeMarkers__");
    if (!active) return nullptr;
    PyObject *r = PyObject_CallMethodOneArg(active, s_remove, marker);
    Py_XDECREF(r);
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

// Raises Exception("No such marker: %s" % marker) while handling the
// pending KeyError, which becomes its context.
void raise_no_such_marker(PyObject *marker) {
    PyObject *key_error = PyErr_GetRaisedException();
    PyObject *msg = PyUnicode_Format(s_no_marker_fmt, marker);
    PyObject *exc = msg ? PyObject_CallOneArg(PyExc_Exception, msg) : nullptr;
    Py_XDECREF(msg);
    if (!exc) exc = PyErr_GetRaisedException();
    if (exc) PyException_SetContext(exc, key_error);  // steals key_error
    else Py_XDECREF(key_error);
    PyErr_SetRaisedException(exc);
}

PyObject *History_filter(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *names[] = {"marker", "count", "regex"};
    static PyObject *twenty = PyLong_FromLong(20);
    PyObject *a[3] = {Py_None, twenty, Py_None};
    if (oskra::bind_args("History.filter", names, 3, 0, args, nargs, kwnames, a) < 0) return nullptr;
    PyObject *src;
    if (a[0] == Py_None) {
        src = Py_XNewRef(HFIELD(self, history, "__history__"));
    } else {
        PyObject *markers = HFIELD(self, markers, "__markers__");
        if (!markers) return nullptr;
        src = PyObject_GetItem(markers, a[0]);
        if (!src && PyErr_ExceptionMatches(PyExc_KeyError)) raise_no_such_marker(a[0]);
    }
    if (!src) return nullptr;
    PyObject *lst = PySequence_List(src);
    Py_DECREF(src);
    if (!lst) return nullptr;
    PyObject *start = PyNumber_Negative(a[1]);
    PyObject *sl = start ? PySlice_New(start, nullptr, nullptr) : nullptr;
    Py_XDECREF(start);
    PyObject *res = sl ? PyObject_GetItem(lst, sl) : nullptr;
    Py_XDECREF(sl);
    Py_DECREF(lst);
    if (!res || a[2] == Py_None) return res;
    int want = PyObject_IsTrue(a[2]);
    if (want <= 0) {
        if (want < 0) Py_CLEAR(res);
        return res;
    }
    PyObject *re = global(s_re);
    PyObject *pat = re ? PyObject_CallMethodOneArg(re, s_compile, a[2]) : nullptr;
    PyObject *search = pat ? PyObject_GetAttr(pat, s_search) : nullptr;
    Py_XDECREF(pat);
    PyObject *out = search ? PyList_New(0) : nullptr;
    if (out) {
        Py_ssize_t n = PyList_GET_SIZE(res);
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject *e = PyList_GET_ITEM(res, i);
            PyObject *api = PyObject_GetAttr(e, s_api);
            PyObject *m = api ? PyObject_CallOneArg(search, api) : nullptr;
            Py_XDECREF(api);
            int hit = m ? PyObject_IsTrue(m) : -1;
            Py_XDECREF(m);
            if (hit < 0 || (hit && PyList_Append(out, e) < 0)) {
                Py_CLEAR(out);
                break;
            }
        }
    }
    Py_XDECREF(search);
    Py_DECREF(res);
    return out;
}

PyObject *History_str(PyObject *self) {
    PyObject *dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_Str(dq) : nullptr;
}

PyObject *History_repr(PyObject *self) {
    PyObject *dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_Repr(dq) : nullptr;
}

int History_traverse(PyObject *self, visitproc visit, void *arg) {
    HistoryObject *h = H(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(h->history);
    Py_VISIT(h->markers);
    Py_VISIT(h->active);
    Py_VISIT(h->enabled);
    Py_VISIT(h->dict);
    return 0;
}

int History_clear_refs(PyObject *self) {
    HistoryObject *h = H(self);
    Py_CLEAR(h->history);
    Py_CLEAR(h->markers);
    Py_CLEAR(h->active);
    Py_CLEAR(h->enabled);
    Py_CLEAR(h->dict);
    return 0;
}

void History_dealloc(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (H(self)->weakrefs) PyObject_ClearWeakRefs(self);
    History_clear_refs(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

#define FASTKW(f) (PyCFunction)(void (*)(void))(f), METH_FASTCALL | METH_KEYWORDS
PyMethodDef History_methods[] = {
    {"enable", History_enable, METH_NOARGS, "enable($self, /)\n--\n\nSwitch recording on."},
    {"disable", History_disable, METH_NOARGS, "disable($self, /)\n--\n\nSwitch recording off."},
    {"append", FASTKW(History_append), "append($self, item)\n--\n\nRecord one call."},
    {"clear", FASTKW(History_clear),
     "clear($self, marker=None, clear_all=False)\n--\n\n"
     "Empty the general record, one marker's record, or everything."},
    {"start_marker", FASTKW(History_start_marker),
     "start_marker($self, marker)\n--\n\nStart (or restart) recording into a named marker."},
    {"end_marker", FASTKW(History_end_marker),
     "end_marker($self, marker)\n--\n\nEnd one activation of a marker; its entries stay."},
    {"filter", FASTKW(History_filter),
     "filter($self, marker=None, count=20, regex=None)\n--\n\n"
     "The last `count` entries (of a marker, when given) whose call matches `regex`."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef History_members[] = {
    {"__history__", T_OBJECT_EX, offsetof(HistoryObject, history), 0, "All recorded entries, oldest first."},
    {"__markers__", T_OBJECT_EX, offsetof(HistoryObject, markers), 0, "Marker name -> its entries."},
    {"__activeMarkers__", T_OBJECT_EX, offsetof(HistoryObject, active), 0, "Names of the recording markers."},
    {"enabled", T_OBJECT_EX, offsetof(HistoryObject, enabled), 0, "Whether calls are recorded."},
    {"__dictoffset__", T_PYSSIZET, offsetof(HistoryObject, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(HistoryObject, weakrefs), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot History_slots[] = {
    {Py_tp_doc, (void *)"History(max_history=9999)\n--\n\n"
                        "A bounded record of Tcl calls, with named markers. None: unbounded."},
    {Py_tp_new, (void *)PyType_GenericNew},
    {Py_tp_init, (void *)History_init},
    {Py_tp_dealloc, (void *)History_dealloc},
    {Py_tp_traverse, (void *)History_traverse},
    {Py_tp_clear, (void *)History_clear_refs},
    {Py_tp_str, (void *)History_str},
    {Py_tp_repr, (void *)History_repr},
    {Py_tp_methods, History_methods},
    {Py_tp_members, History_members},
    {0, nullptr},
};

PyType_Spec History_spec = {
    "oskra.tcl.history.History", sizeof(HistoryObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, History_slots,
};

PyObject *intern(const char *s) {
    PyObject *o = PyUnicode_InternFromString(s);
    if (!o) throw nb::python_error();
    return o;
}

PyObject *check(PyObject *o) {
    if (!o) throw nb::python_error();
    return o;
}

}  // namespace

NB_MODULE(history, m) {
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) throw nb::python_error();
    s_get_time = intern("get_time");
    s_log = intern("log");
    s_re = intern("re");
    s_debug = intern("debug");
    s_isEnabledFor = intern("isEnabledFor");
    s_disabled = intern("disabled");
    s_cache = intern("_cache");
    s_append = intern("append");
    s_clear = intern("clear");
    s_remove = intern("remove");
    s_values = intern("values");
    s_maxlen = intern("maxlen");
    s_compile = intern("compile");
    s_search = intern("search");
    s_api = intern("api");
    s_strftime = intern("strftime");
    s_enable = intern("enable");
    s_space = intern(" ");
    s_colon = intern(": ");
    s_brace_fmt = intern("{%s}");
    s_append_fmt = intern("%% %s");
    s_ts_format = intern("%Y-%m-%dT%H:%M:%S.%f");
    s_no_marker_fmt = intern("No such marker: %s");
    s_enabled_msg = intern("TclHistory is enabled.");
    s_disabled_msg = intern("TclHistory is disabled.");
    s_debug_level = check(PyLong_FromLong(10));
    s_default_max = check(PyLong_FromLong(9999));

    g_module_dict = Py_NewRef(PyModule_GetDict(m.ptr()));
    // Without a free watcher slot every append simply re-reads the state.
    g_watcher = PyDict_AddWatcher(on_watched_dict_event);
    if (g_watcher >= 0 && PyDict_Watch(g_watcher, g_module_dict) < 0) g_watcher = -1;
    if (g_watcher < 0) PyErr_Clear();

    nb::module_ re = nb::module_::import_("re");
    nb::module_ logging = nb::module_::import_("logging");
    nb::object deque = nb::module_::import_("collections").attr("deque");
    nb::object get_time = nb::module_::import_("oskra.utils.utils").attr("get_time");
    nb::object log = logging.attr("getLogger")("oskra.tcl");
    m.attr("re") = re;
    m.attr("logging") = logging;
    m.attr("deque") = deque;
    m.attr("get_time") = get_time;
    m.attr("log") = log;

    g_get_time = Py_NewRef(get_time.ptr());
    g_deque = Py_NewRef(deque.ptr());
    nb::object deque_append = deque.attr("append");
    if (PyObject_TypeCheck(deque_append.ptr(), &PyMethodDescr_Type)) {
        PyMethodDef *def = reinterpret_cast<PyMethodDescrObject *>(deque_append.ptr())->d_method;
        if ((def->ml_flags & ~METH_COEXIST) == METH_O) g_deque_append = def->ml_meth;
    }
    g_logger_isEnabledFor = Py_NewRef(logging.attr("Logger").attr("isEnabledFor").ptr());

    EntryType = (PyTypeObject *)check(PyType_FromModuleAndSpec(m.ptr(), &Entry_spec, nullptr));
    HistoryType = (PyTypeObject *)check(PyType_FromModuleAndSpec(m.ptr(), &History_spec, nullptr));
    if (PyObject_SetAttrString((PyObject *)HistoryType, "__MAX_HISTORY__", s_default_max) < 0)
        throw nb::python_error();
    m.attr("Entry") = nb::borrow((PyObject *)EntryType);
    m.attr("History") = nb::borrow((PyObject *)HistoryType);
}
