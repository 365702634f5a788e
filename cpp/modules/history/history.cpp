// History: a bounded record of Tcl calls with named markers. Its state
// lives in C slots that are also plain attributes, so every method takes
// its own reference to a slot before it calls anything that may run Python
// code (which may assign the attribute again).
#include <Python.h>
#include <structmember.h>

#include "history_private.h"
#include "support/params.h"

namespace oskra::history {
namespace {

struct HistoryObject {
    PyObject_HEAD PyObject *history;  // __history__
    PyObject *markers;  // __markers__
    PyObject *active;  // __activeMarkers__
    PyObject *enabled;
    PyObject *dict;
    PyObject *weakrefs;
};

inline HistoryObject *H(PyObject *o) { return reinterpret_cast<HistoryObject *>(o); }

// A slot as an owned reference, or AttributeError when it is unset.
Ref field(PyObject *self, PyObject *value, const char *name) {
    if (!value)
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name,
                     name);
    return Ref::borrow(value);
}
#define HFIELD(self, f, name) field(self, H(self)->f, name)

int deque_append(PyObject *dq, PyObject *item) {
    Ref r = Ref::steal((g_deque_append && Py_IS_TYPE(dq, (PyTypeObject *)g_deque))
                               ? g_deque_append(dq, item)
                               : PyObject_CallMethodOneArg(dq, names.append, item));
    return r ? 0 : -1;
}

// obj.name(), its result dropped: None.
PyObject *call_noargs(PyObject *obj, PyObject *name) {
    Ref r = Ref::steal(PyObject_CallMethodNoArgs(obj, name));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

// obj.name(arg), its result dropped: None.
PyObject *call_dropped(PyObject *obj, PyObject *name, PyObject *arg) {
    Ref r = Ref::steal(PyObject_CallMethodOneArg(obj, name, arg));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *new_deque(PyObject *maxlen) {
    Ref kw = Ref::steal(PyDict_New());
    if (!kw || PyDict_SetItem(kw.get(), names.maxlen, maxlen) < 0) return nullptr;
    Ref noargs = Ref::steal(PyTuple_New(0));
    return noargs ? PyObject_Call(g_deque, noargs.get(), kw.get()) : nullptr;
}

int History_init(PyObject *self, PyObject *args, PyObject *kwds) {
    static const char *kwlist[] = {"max_history", nullptr};
    PyObject *max_history = s_default_max;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|O:History", const_cast<char **>(kwlist), &max_history))
        return -1;
    Ref dq = Ref::steal(new_deque(max_history));
    if (!dq) return -1;
    Ref markers = Ref::steal(PyDict_New());
    if (!markers) return -1;
    Ref active = Ref::steal(PyList_New(0));
    if (!active) return -1;
    HistoryObject *h = H(self);
    Py_XSETREF(h->history, dq.release());
    Py_XSETREF(h->markers, markers.release());
    Py_XSETREF(h->active, active.release());
    Ref r = Ref::steal(PyObject_CallMethodNoArgs(self, names.enable));
    return r ? 0 : -1;
}

PyObject *set_enabled(PyObject *self, PyObject *value, PyObject *msg) {
    Py_XSETREF(H(self)->enabled, Py_NewRef(value));
    if (log_debug(msg, nullptr) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject *History_enable(PyObject *self, PyObject *) {
    return set_enabled(self, Py_True, names.history_enabled_msg);
}
PyObject *History_disable(PyObject *self, PyObject *) {
    return set_enabled(self, Py_False, names.history_disabled_msg);
}

// Appends entry to the record of every active marker, in list order.
int record_in_markers(PyObject *self, PyObject *entry) {
    Ref active = HFIELD(self, active, "__activeMarkers__");
    if (!active) return -1;
    if (PyList_CheckExact(active.get()) && PyList_GET_SIZE(active.get()) == 0) return 0;
    Ref markers = HFIELD(self, markers, "__markers__");
    if (!markers) return -1;
    Ref it = Ref::steal(PyObject_GetIter(active.get()));
    if (!it) return -1;
    while (Ref name = Ref::steal(PyIter_Next(it.get()))) {
        Ref mdq = Ref::steal(PyObject_GetItem(markers.get(), name.get()));
        if (!mdq || deque_append(mdq.get(), entry) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

const Params append_params{"History.append", SelfArg::separate, {{"item"}}};
const Params record_params{"History._record", SelfArg::separate, {{"item"}}};
const Params clear_params{"History.clear", SelfArg::separate, {{"marker", "None"}, {"clear_all", "False"}}};
const Params start_marker_params{"History.start_marker", SelfArg::separate, {{"marker"}}};
const Params end_marker_params{"History.end_marker", SelfArg::separate, {{"marker"}}};
const Params filter_params{
        "History.filter", SelfArg::separate, {{"marker", "None"}, {"count", "20"}, {"regex", "None"}}};

// Records one call: the new entry (None when recording is off), or null.
PyObject *append_entry(PyObject *self, PyObject *item) {
    if (log_debug(names.history_append_fmt, item) < 0) return nullptr;
    Ref en = HFIELD(self, enabled, "enabled");
    if (!en) return nullptr;
    int on = en.get() == Py_True ? 1 : en.get() == Py_False ? 0 : PyObject_IsTrue(en.get());
    if (on <= 0) {
        if (on < 0) return nullptr;
        Py_RETURN_NONE;
    }
    Ref entry = Ref::steal(entry_create(item));
    if (!entry) return nullptr;
    Ref dq = HFIELD(self, history, "__history__");
    if (!dq || deque_append(dq.get(), entry.get()) < 0) return nullptr;
    if (record_in_markers(self, entry.get()) < 0) return nullptr;
    return entry.release();
}

// The one argument `item` (borrowed from the caller's arguments).
PyObject *append_args(const Params &params, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs == 1 && !kwnames) return args[0];
    PyObject *item = nullptr;
    if (!params.bind(args, nargs, kwnames, &item)) return nullptr;
    return item;
}

PyObject *History_append(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *item = append_args(append_params, args, nargs, kwnames);
    Ref entry = Ref::steal(item ? append_entry(self, item) : nullptr);
    if (!entry) return nullptr;
    Py_RETURN_NONE;
}

// append() that returns the entry, for the interpreter's calls: a call
// that fails marks its own entry with the error.
PyObject *History_record(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *item = append_args(record_params, args, nargs, kwnames);
    return item ? append_entry(self, item) : nullptr;
}

Py_ssize_t History_len(PyObject *self) {
    Ref dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_Size(dq.get()) : -1;
}

PyObject *History_iter(PyObject *self) {
    Ref dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_GetIter(dq.get()) : nullptr;
}

PyObject *History_clear(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[2] = {Py_None, Py_False};
    if (!clear_params.bind_over_defaults(args, nargs, kwnames, a)) return nullptr;
    int all = PyObject_IsTrue(a[1]);
    if (all < 0) return nullptr;
    if (all) {
        Ref markers = HFIELD(self, markers, "__markers__");
        if (!markers) return nullptr;
        Ref vals = Ref::steal(PyObject_CallMethodNoArgs(markers.get(), names.values));
        if (!vals) return nullptr;
        Ref it = Ref::steal(PyObject_GetIter(vals.get()));
        if (!it) return nullptr;
        while (Ref dq = Ref::steal(PyIter_Next(it.get()))) {
            if (!Ref::steal(call_noargs(dq.get(), names.clear))) return nullptr;
        }
        if (PyErr_Occurred()) return nullptr;
    } else if (a[0] != Py_None) {
        Ref markers = HFIELD(self, markers, "__markers__");
        if (!markers) return nullptr;
        Ref dq = Ref::steal(PyObject_GetItem(markers.get(), a[0]));
        return dq ? call_noargs(dq.get(), names.clear) : nullptr;
    }
    Ref dq = HFIELD(self, history, "__history__");
    return dq ? call_noargs(dq.get(), names.clear) : nullptr;
}

PyObject *History_start_marker(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *marker;
    if (!start_marker_params.bind(args, nargs, kwnames, &marker)) return nullptr;
    Ref markers = HFIELD(self, markers, "__markers__");
    if (!markers) return nullptr;
    int known = PySequence_Contains(markers.get(), marker);
    if (known < 0) return nullptr;
    if (!known) {
        Ref dq = HFIELD(self, history, "__history__");
        if (!dq) return nullptr;
        Ref maxlen = Ref::steal(PyObject_GetAttr(dq.get(), names.maxlen));
        if (!maxlen) return nullptr;
        Ref mdq = Ref::steal(new_deque(maxlen.get()));
        if (!mdq || PyObject_SetItem(markers.get(), marker, mdq.get()) < 0) return nullptr;
    }
    Ref active = HFIELD(self, active, "__activeMarkers__");
    if (!active) return nullptr;
    if (PyList_CheckExact(active.get())) {
        if (PyList_Append(active.get(), marker) < 0) return nullptr;
        Py_RETURN_NONE;
    }
    return call_dropped(active.get(), names.append, marker);
}

PyObject *History_end_marker(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *marker;
    if (!end_marker_params.bind(args, nargs, kwnames, &marker)) return nullptr;
    Ref active = HFIELD(self, active, "__activeMarkers__");
    if (!active) return nullptr;
    return call_dropped(active.get(), names.remove, marker);
}

// Raises Exception("No such marker: %s" % marker) while handling the
// pending KeyError, which becomes its context.
void raise_no_such_marker(PyObject *marker) {
    Ref key_error = Ref::steal(PyErr_GetRaisedException());
    Ref msg = Ref::steal(PyUnicode_Format(names.no_marker_fmt, marker));
    Ref exc = msg ? Ref::steal(PyObject_CallOneArg(PyExc_Exception, msg.get())) : Ref();
    if (!exc) exc = Ref::steal(PyErr_GetRaisedException());
    if (exc) PyException_SetContext(exc.get(), key_error.release());  // steals
    PyErr_SetRaisedException(exc.release());
}

// The entries of `res` whose api the pattern `regex` finds.
PyObject *matching(PyObject *res, PyObject *regex) {
    Ref re = global(names.re);
    if (!re) return nullptr;
    Ref pat = Ref::steal(PyObject_CallMethodOneArg(re.get(), names.compile, regex));
    if (!pat) return nullptr;
    Ref search = Ref::steal(PyObject_GetAttr(pat.get(), names.search));
    if (!search) return nullptr;
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    // `res` is a list of our own that no other code sees.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(res); ++i) {
        PyObject *e = PyList_GET_ITEM(res, i);
        Ref api = Ref::steal(PyObject_GetAttr(e, names.api));
        if (!api) return nullptr;
        Ref m = Ref::steal(PyObject_CallOneArg(search.get(), api.get()));
        if (!m) return nullptr;
        int hit = PyObject_IsTrue(m.get());
        if (hit < 0 || (hit && PyList_Append(out.get(), e) < 0)) return nullptr;
    }
    return out.release();
}

PyObject *History_filter(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static PyObject *twenty = PyLong_FromLong(20);
    PyObject *a[3] = {Py_None, twenty, Py_None};
    if (!filter_params.bind_over_defaults(args, nargs, kwnames, a)) return nullptr;
    Ref src;
    if (a[0] == Py_None) {
        src = HFIELD(self, history, "__history__");
    } else {
        Ref markers = HFIELD(self, markers, "__markers__");
        if (!markers) return nullptr;
        src = Ref::steal(PyObject_GetItem(markers.get(), a[0]));
        if (!src && PyErr_ExceptionMatches(PyExc_KeyError)) raise_no_such_marker(a[0]);
    }
    if (!src) return nullptr;
    Ref lst = Ref::steal(PySequence_List(src.get()));
    if (!lst) return nullptr;
    Ref start = Ref::steal(PyNumber_Negative(a[1]));
    if (!start) return nullptr;
    Ref sl = Ref::steal(PySlice_New(start.get(), nullptr, nullptr));
    if (!sl) return nullptr;
    Ref res = Ref::steal(PyObject_GetItem(lst.get(), sl.get()));
    if (!res || a[2] == Py_None) return res.release();
    int want = PyObject_IsTrue(a[2]);
    if (want < 0) return nullptr;
    if (!want) return res.release();
    return matching(res.get(), a[2]);
}

PyObject *History_str(PyObject *self) {
    Ref dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_Str(dq.get()) : nullptr;
}

PyObject *History_repr(PyObject *self) {
    Ref dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_Repr(dq.get()) : nullptr;
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

const char *const history_attrs[] = {"__history__", "__markers__", "__activeMarkers__", "enabled"};

PyObject *History_getstate(PyObject *self, PyObject *) {
    return attrs_state(self, history_attrs, 4, &H(self)->dict);
}

PyMethodDef History_methods[] = {
        {"__getstate__", History_getstate, METH_NOARGS,
         "__getstate__($self, /)\n--\n\nThe record, markers and switch."},
        {"__setstate__", restore_attrs, METH_O, "__setstate__($self, state, /)\n--\n\nSet them again."},
        {"enable", History_enable, METH_NOARGS, "enable($self, /)\n--\n\nSwitch recording on."},
        {"disable", History_disable, METH_NOARGS, "disable($self, /)\n--\n\nSwitch recording off."},
        fast_kw_def("append", History_append, append_params, "Record one call."),
        fast_kw_def("_record", History_record, record_params,
                    "Record one call and return its entry (None when recording is off)."),
        fast_kw_def("clear", History_clear, clear_params,
                    "Empty the general record, one marker's record, or everything."),
        fast_kw_def("start_marker", History_start_marker, start_marker_params,
                    "Start (or restart) recording into a named marker."),
        fast_kw_def("end_marker", History_end_marker, end_marker_params,
                    "End one activation of a marker; its entries stay."),
        fast_kw_def("filter", History_filter, filter_params,
                    "The last `count` entries (of a marker, when given) whose call matches `regex`."),
        {nullptr, nullptr, 0, nullptr},
};

PyMemberDef History_members[] = {
        {"__history__", T_OBJECT_EX, offsetof(HistoryObject, history), 0,
         "All recorded entries, oldest first."},
        {"__markers__", T_OBJECT_EX, offsetof(HistoryObject, markers), 0, "Marker name -> its entries."},
        {"__activeMarkers__", T_OBJECT_EX, offsetof(HistoryObject, active), 0,
         "Names of the recording markers."},
        {"enabled", T_OBJECT_EX, offsetof(HistoryObject, enabled), 0, "Whether calls are recorded."},
        {"__dictoffset__", T_PYSSIZET, offsetof(HistoryObject, dict), READONLY, nullptr},
        {"__weaklistoffset__", T_PYSSIZET, offsetof(HistoryObject, weakrefs), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot History_slots[] = {
        {Py_tp_doc,
         (void *)"History(max_history=9999)\n--\n\n"
                 "A bounded record of Tcl calls, with named markers. None: unbounded."},
        {Py_tp_new, (void *)PyType_GenericNew},
        {Py_tp_init, (void *)History_init},
        {Py_tp_dealloc, (void *)History_dealloc},
        {Py_tp_traverse, (void *)History_traverse},
        {Py_tp_clear, (void *)History_clear_refs},
        {Py_tp_str, (void *)History_str},
        {Py_sq_length, (void *)History_len},
        {Py_tp_iter, (void *)History_iter},
        {Py_tp_repr, (void *)History_repr},
        {Py_tp_methods, History_methods},
        {Py_tp_members, History_members},
        {0, nullptr},
};

}  // namespace

PyType_Spec History_spec = {
        "oskra.tcl.history.History",
        sizeof(HistoryObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
        History_slots,
};

}  // namespace oskra::history
