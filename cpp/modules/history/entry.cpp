// Entry: one recorded call, its text and when it was recorded. The clock is
// read in C; the date-time object is built only when `timestamp` is first
// read, with the value `get_time()` would have returned at that moment.
#include <Python.h>
#include <datetime.h>
#include <structmember.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "support/freelist.h"
#include "history_private.h"

namespace oskra::history {
namespace {

struct EntryObject {
    PyObject_HEAD PyObject *api;
    PyObject *timestamp;  // the date-time, once built or when set
    PyObject *error;  // the error text of a call that failed, else null (None)
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
    Ref args = Ref::steal(Py_BuildValue("(L)", (long long)e->epoch));
    if (!args) return nullptr;
    Ref ts = Ref::steal(PyDateTimeAPI->DateTime_FromTimestamp((PyObject *)PyDateTimeAPI->DateTimeType,
                                                              args.get(), nullptr));
    if (PyObject *probe = ts.get()) {
        if (PyDateTime_GET_YEAR(probe) == e->year && PyDateTime_GET_MONTH(probe) == e->month &&
            PyDateTime_GET_DAY(probe) == e->day && PyDateTime_DATE_GET_HOUR(probe) == e->hour &&
            PyDateTime_DATE_GET_MINUTE(probe) == e->minute && PyDateTime_DATE_GET_SECOND(probe) == e->second)
            fold = PyDateTime_DATE_GET_FOLD(probe);
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
        for (Py_ssize_t i = 0; i < len; ++i)
            PyUnicode_WRITE(kind, data, pos + i, PyUnicode_READ(wkind, src, i));
    }
    return pos + len;
}

// The call's text: a string as it is, otherwise the words joined by single
// spaces, a word holding a space wrapped in braces (no other quoting).
PyObject *join_words(PyObject *api) {
    Ref seq = PyList_CheckExact(api) || PyTuple_CheckExact(api) ? Ref::borrow(api)
                                                                : Ref::steal(PySequence_Tuple(api));
    if (!seq) return nullptr;
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    PyObject **items = PySequence_Fast_ITEMS(seq.get());
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
        if (!res) return nullptr;
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
        return res;
    }
    // General route: `" " in word` and `"{%s}" % word`, then str.join, so
    // non-string words fail with the TypeError of those operations. It runs
    // Python code (a str subclass's __contains__), which may change a list:
    // the words are read from a snapshot.
    if (PyList_CheckExact(seq.get())) {
        seq = Ref::steal(PyList_AsTuple(seq.get()));
        if (!seq) return nullptr;
        n = PyTuple_GET_SIZE(seq.get());
        items = PySequence_Fast_ITEMS(seq.get());
    }
    Ref pieces = Ref::steal(PyList_New(n));
    if (!pieces) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *w = items[i];
        int has = PySequence_Contains(w, names.space);
        if (has < 0) return nullptr;
        PyObject *piece = has ? PyUnicode_Format(names.brace_fmt, w) : Py_NewRef(w);
        if (!piece) return nullptr;
        PyList_SET_ITEM(pieces.get(), i, piece);
    }
    return PyUnicode_Join(names.space, pieces.get());
}

// Entry.__init__ proper: text, then timestamp, then store.
int entry_fill(EntryObject *self, PyObject *api) {
    Ref text = PyUnicode_Check(api) ? Ref::borrow(api) : Ref::steal(join_words(api));
    if (!text) return -1;
    bool fast = clock_is_fast();
    Ref gt;
    if (!fast) {
        gt = global(names.get_time);
        if (!gt) return -1;
        fast = gt.get() == g_get_time;
    }
    if (fast) {
        if (capture_clock(self) < 0) return -1;
    } else {
        // get_time was replaced: honour the replacement.
        PyObject *ts = PyObject_CallNoArgs(gt.get());
        if (!ts) return -1;
        Py_XSETREF(self->timestamp, ts);
        self->pending = false;
    }
    Py_XSETREF(self->api, text.release());
    return 0;
}

// Entries dropped from a full history are reused for the next ones.
oskra::FreeList<64> entry_freelist;

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
    Py_VISIT(E(self)->error);
    Py_VISIT(E(self)->dict);
    return 0;
}

int Entry_clear(PyObject *self) {
    Py_CLEAR(E(self)->api);
    Py_CLEAR(E(self)->timestamp);
    Py_CLEAR(E(self)->error);
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

PyObject *missing(PyObject *self, const char *name) {
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name, name);
    return nullptr;
}

PyObject *Entry_get_timestamp(PyObject *self, void *) {
    EntryObject *e = E(self);
    if (e->pending) {
        PyObject *ts = build_timestamp(e);
        if (!ts) return nullptr;
        Py_XSETREF(e->timestamp, ts);
        e->pending = false;
    }
    if (!e->timestamp) return missing(self, "timestamp");
    return Py_NewRef(e->timestamp);
}

int Entry_set_timestamp(PyObject *self, PyObject *value, void *) {
    EntryObject *e = E(self);
    if (!value && !e->pending && !e->timestamp) {
        missing(self, "timestamp");
        return -1;
    }
    e->pending = false;
    Py_XSETREF(e->timestamp, Py_XNewRef(value));
    return 0;
}

PyObject *Entry_str(PyObject *self) {
    EntryObject *e = E(self);
    Ref when;
    if (e->pending && e->year >= 1000 && e->year <= 9999) {
        // Same text as strftime("%Y-%m-%dT%H:%M:%S.%f") of the pending value.
        char buf[40];
        snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06d", (int)e->year, e->month, e->day,
                 e->hour, e->minute, e->second, (int)e->usec);
        when = Ref::steal(PyUnicode_FromString(buf));
    } else {
        Ref ts = Ref::steal(Entry_get_timestamp(self, nullptr));
        if (!ts) return nullptr;
        when = Ref::steal(PyObject_CallMethodOneArg(ts.get(), names.strftime, names.timestamp_fmt));
    }
    if (!when) return nullptr;
    // Read after strftime, which may have run Python code; owned while str()
    // of it runs.
    Ref api = Ref::borrow(e->api);
    if (!api) return missing(self, "api");
    Ref text = Ref::steal(PyObject_Str(api.get()));
    if (!text) return nullptr;
    Ref head = Ref::steal(PyNumber_Add(when.get(), names.colon_space));
    return head ? PyNumber_Add(head.get(), text.get()) : nullptr;
}

PyObject *Entry_repr(PyObject *self) {
    Ref s = Ref::steal(PyObject_Str(self));
    if (!s) return nullptr;
    return PyUnicode_FromFormat("<Entry '%U' at 0x%llx>", s.get(), (unsigned long long)(uintptr_t)self);
}

PyMemberDef Entry_members[] = {
        {"api", T_OBJECT_EX, offsetof(EntryObject, api), 0, "The recorded call, as text."},
        {"error", T_OBJECT, offsetof(EntryObject, error), 0,
         "The error text of a call that failed; None for a call that did not."},
        {"__dictoffset__", T_PYSSIZET, offsetof(EntryObject, dict), READONLY, nullptr},
        {"__weaklistoffset__", T_PYSSIZET, offsetof(EntryObject, weakrefs), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

const char *const entry_attrs[] = {"api", "timestamp", "error"};

PyObject *Entry_getstate(PyObject *self, PyObject *) {
    return attrs_state(self, entry_attrs, 3, &E(self)->dict);
}

PyMethodDef Entry_methods[] = {
        {"__getstate__", Entry_getstate, METH_NOARGS,
         "__getstate__($self, /)\n--\n\nThe entry's attributes."},
        {"__setstate__", restore_attrs, METH_O,
         "__setstate__($self, state, /)\n--\n\nSet the attributes again."},
        {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef Entry_getset[] = {
        {"timestamp", Entry_get_timestamp, Entry_set_timestamp,
         "When the call was recorded (local date-time).", nullptr},
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
        {Py_tp_methods, Entry_methods},
        {0, nullptr},
};

}  // namespace

PyType_Spec Entry_spec = {
        "oskra.tcl.history.Entry",
        sizeof(EntryObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
        Entry_slots,
};

bool import_datetime() {
    // The C API of datetime is bound per source file.
    PyDateTime_IMPORT;
    return PyDateTimeAPI != nullptr;
}

PyObject *entry_create(PyObject *api) {
    Ref o = Ref::steal(entry_freelist.alloc(EntryType, sizeof(EntryObject)));
    if (!o || entry_fill(E(o.get()), api) < 0) return nullptr;
    return o.release();
}

}  // namespace oskra::history
