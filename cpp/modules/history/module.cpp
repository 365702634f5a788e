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

#include "support/params.h"
#include "history_entry.h"
#include "history_state.h"

namespace nb = nanobind;

namespace {

// ---------------------------------------------------------------- History

struct HistoryObject {
    PyObject_HEAD PyObject *history;  // __history__
    PyObject *markers;  // __markers__
    PyObject *active;  // __activeMarkers__
    PyObject *enabled;
    PyObject *dict;
    PyObject *weakrefs;
};

inline HistoryObject *H(PyObject *o) { return reinterpret_cast<HistoryObject *>(o); }

PyObject *field(PyObject *self, PyObject *value, const char *name) {
    if (!value)
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(self)->tp_name,
                     name);
    return value;  // borrowed
}
#define HFIELD(self, f, name) field(self, H(self)->f, name)

int deque_append(PyObject *dq, PyObject *item) {
    PyObject *r = (g_deque_append && Py_IS_TYPE(dq, (PyTypeObject *)g_deque))
            ? g_deque_append(dq, item)
            : PyObject_CallMethodOneArg(dq, names.append, item);
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
    if (PyDict_SetItem(kw, names.maxlen, maxlen) == 0) {
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
    PyObject *r = PyObject_CallMethodNoArgs(self, names.enable);
    Py_XDECREF(r);
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

using oskra::Params;
using oskra::SelfArg;

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
    return entry;
fail:
    Py_DECREF(entry);
    return nullptr;
}

PyObject *append_args(const Params &params, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs == 1 && !kwnames) return args[0];
    PyObject *item = nullptr;
    if (!params.bind(args, nargs, kwnames, &item)) return nullptr;
    return item;
}

PyObject *History_append(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *item = append_args(append_params, args, nargs, kwnames);
    PyObject *entry = item ? append_entry(self, item) : nullptr;
    if (!entry) return nullptr;
    Py_DECREF(entry);
    Py_RETURN_NONE;
}

// append() that returns the entry, for the interpreter's calls: a call
// that fails marks its own entry with the error.
PyObject *History_record(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *item = append_args(record_params, args, nargs, kwnames);
    return item ? append_entry(self, item) : nullptr;
}

Py_ssize_t History_len(PyObject *self) {
    PyObject *dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_Size(dq) : -1;
}

PyObject *History_iter(PyObject *self) {
    PyObject *dq = HFIELD(self, history, "__history__");
    return dq ? PyObject_GetIter(dq) : nullptr;
}

PyObject *History_clear(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *a[2] = {Py_None, Py_False};
    if (!clear_params.bind_over_defaults(args, nargs, kwnames, a)) return nullptr;
    int all = PyObject_IsTrue(a[1]);
    if (all < 0) return nullptr;
    if (all) {
        PyObject *markers = HFIELD(self, markers, "__markers__");
        if (!markers) return nullptr;
        PyObject *vals = PyObject_CallMethodNoArgs(markers, names.values);
        if (!vals) return nullptr;
        PyObject *it = PyObject_GetIter(vals);
        Py_DECREF(vals);
        if (!it) return nullptr;
        PyObject *dq;
        while ((dq = PyIter_Next(it))) {
            PyObject *r = call_noargs(dq, names.clear);
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
        PyObject *r = call_noargs(dq, names.clear);
        Py_DECREF(dq);
        return r;
    }
    PyObject *dq = HFIELD(self, history, "__history__");
    return dq ? call_noargs(dq, names.clear) : nullptr;
}

PyObject *History_start_marker(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *marker;
    if (!start_marker_params.bind(args, nargs, kwnames, &marker)) return nullptr;
    PyObject *markers = HFIELD(self, markers, "__markers__");
    if (!markers) return nullptr;
    int known = PySequence_Contains(markers, marker);
    if (known < 0) return nullptr;
    if (!known) {
        PyObject *dq = HFIELD(self, history, "__history__");
        if (!dq) return nullptr;
        PyObject *maxlen = PyObject_GetAttr(dq, names.maxlen);
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
    PyObject *r = PyObject_CallMethodOneArg(active, names.append, marker);
    Py_XDECREF(r);
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

PyObject *History_end_marker(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *marker;
    if (!end_marker_params.bind(args, nargs, kwnames, &marker)) return nullptr;
    PyObject *active = HFIELD(self, active, "__activeMarkers__");
    if (!active) return nullptr;
    PyObject *r = PyObject_CallMethodOneArg(active, names.remove, marker);
    Py_XDECREF(r);
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

// Raises Exception("No such marker: %s" % marker) while handling the
// pending KeyError, which becomes its context.
void raise_no_such_marker(PyObject *marker) {
    PyObject *key_error = PyErr_GetRaisedException();
    PyObject *msg = PyUnicode_Format(names.no_marker_fmt, marker);
    PyObject *exc = msg ? PyObject_CallOneArg(PyExc_Exception, msg) : nullptr;
    Py_XDECREF(msg);
    if (!exc) exc = PyErr_GetRaisedException();
    if (exc) PyException_SetContext(exc, key_error);  // steals key_error
    else Py_XDECREF(key_error);
    PyErr_SetRaisedException(exc);
}

PyObject *History_filter(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static PyObject *twenty = PyLong_FromLong(20);
    PyObject *a[3] = {Py_None, twenty, Py_None};
    if (!filter_params.bind_over_defaults(args, nargs, kwnames, a)) return nullptr;
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
    PyObject *re = global(names.re);
    PyObject *pat = re ? PyObject_CallMethodOneArg(re, names.compile, a[2]) : nullptr;
    PyObject *search = pat ? PyObject_GetAttr(pat, names.search) : nullptr;
    Py_XDECREF(pat);
    PyObject *out = search ? PyList_New(0) : nullptr;
    if (out) {
        Py_ssize_t n = PyList_GET_SIZE(res);
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject *e = PyList_GET_ITEM(res, i);
            PyObject *api = PyObject_GetAttr(e, names.api);
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
const char *const history_attrs[] = {"__history__", "__markers__", "__activeMarkers__", "enabled"};

PyObject *History_getstate(PyObject *self, PyObject *) {
    return attrs_state(self, history_attrs, 4, H(self)->dict);
}

PyMethodDef History_methods[] = {
        {"__getstate__", History_getstate, METH_NOARGS,
         "__getstate__($self, /)\n--\n\nThe record, markers and switch."},
        {"__setstate__", restore_attrs, METH_O, "__setstate__($self, state, /)\n--\n\nSet them again."},
        {"enable", History_enable, METH_NOARGS, "enable($self, /)\n--\n\nSwitch recording on."},
        {"disable", History_disable, METH_NOARGS, "disable($self, /)\n--\n\nSwitch recording off."},
        {"append", FASTKW(History_append), append_params.doc_with_signature("append", "Record one call.")},
        {"_record", FASTKW(History_record),
         record_params.doc_with_signature(
                 "_record", "Record one call and return its entry (None when recording is off).")},
        {"clear", FASTKW(History_clear),
         clear_params.doc_with_signature("clear",
                                         "Empty the general record, one marker's record, or everything.")},
        {"start_marker", FASTKW(History_start_marker),
         start_marker_params.doc_with_signature("start_marker",
                                                "Start (or restart) recording into a named marker.")},
        {"end_marker", FASTKW(History_end_marker),
         end_marker_params.doc_with_signature("end_marker",
                                              "End one activation of a marker; its entries stay.")},
        {"filter", FASTKW(History_filter),
         filter_params.doc_with_signature(
                 "filter", "The last `count` entries (of a marker, when given) whose call matches `regex`.")},
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

PyType_Spec History_spec = {
        "oskra.tcl.history.History",
        sizeof(HistoryObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
        History_slots,
};

PyObject *check(PyObject *o) {
    if (!o) throw nb::python_error();
    return o;
}

}  // namespace

NB_MODULE(history, m) {
    m.doc() = "The call history of an interpreter: Entry (one recorded call with its timestamp) and History "
              "(a bounded record with named markers).";
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) throw nb::python_error();
    if (!oskra::attach_state()) throw nb::python_error();
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
