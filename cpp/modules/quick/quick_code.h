// Private to the quick module (included once, by quick.cpp): Quick_Code,
// the command name being collected segment by segment, and its call:
// words, history record, tk.call, error translation, cast.
#pragma once
#include <Python.h>
#include <structmember.h>

#include "core/convert.h"
#include "support/kept_words.h"
#include "support/compat.h"
#include "support/tclapp.h"
#include "core/tclsafe.h"
#include "core/tclconv.h"
#include "core/tcltext.h"
#include "support/freelist.h"
#include "probe_names.h"
#include "quick_support.h"

namespace {

struct CodeObject {
    PyObject_HEAD PyObject *tcl;
    PyObject *cmd;  // the segment list, made on first need
    PyObject *first;  // the only segment while there is no list yet
    vectorcallfunc vectorcall;
    PyObject *dict;
    PyObject *weakrefs;
};

inline CodeObject *C(PyObject *o) { return reinterpret_cast<CodeObject *>(o); }

PyObject *Code_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames);

// One Quick_Code is made and dropped per quick call.
oskra::FreeList<16> code_freelist;

PyObject *code_create(PyObject *name, PyObject *tcl) {
    PyObject *self = code_freelist.alloc(CodeType, sizeof(CodeObject));
    if (!self) return nullptr;
    CodeObject *c = C(self);
    c->vectorcall = Code_vectorcall;
    c->tcl = Py_NewRef(tcl);
    c->first = Py_NewRef(name);
    return self;
}

// The `cmd` list (borrowed), made from the first segment when needed.
PyObject *segments(PyObject *self) {
    CodeObject *c = C(self);
    if (!c->cmd && c->first) {
        c->cmd = PyList_New(1);
        if (!c->cmd) return nullptr;
        PyList_SET_ITEM(c->cmd, 0, c->first);
        c->first = nullptr;
    }
    if (!c->cmd) return missing(self, "cmd");
    return c->cmd;
}

PyObject *Code_get_cmd(PyObject *self, void *) { return Py_XNewRef(segments(self)); }

int Code_set_cmd(PyObject *self, PyObject *value, void *) {
    CodeObject *c = C(self);
    if (!value && !c->cmd && !c->first) {
        missing(self, "cmd");
        return -1;
    }
    Py_CLEAR(c->first);
    Py_XSETREF(c->cmd, Py_XNewRef(value));
    return 0;
}

PyObject *Code_new(PyTypeObject *type, PyObject *args, PyObject *kwds) {
    PyObject *self = PyType_GenericNew(type, args, kwds);
    if (self) C(self)->vectorcall = Code_vectorcall;
    return self;
}

int Code_init(PyObject *self, PyObject *args, PyObject *kwds) {
    PyObject *tcl = nullptr;
    if (kwds) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwds, &pos, &key, &value)) {
            if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "tcl") == 0) {
                tcl = value;
            } else {
                PyErr_Format(PyExc_TypeError, "Quick_Code.__init__() got an unexpected keyword argument '%S'",
                             key);
                return -1;
            }
        }
    }
    if (!tcl) {
        PyErr_SetString(PyExc_TypeError,
                        "Quick_Code.__init__() missing 1 required keyword-only argument: 'tcl'");
        return -1;
    }
    PyObject *cmd = PySequence_List(args);
    if (!cmd) return -1;
    Py_XSETREF(C(self)->tcl, Py_NewRef(tcl));
    Py_CLEAR(C(self)->first);
    Py_XSETREF(C(self)->cmd, cmd);
    return 0;
}

// Quick_Code.__getattr__: one more name segment, on this same object.
PyObject *code_add_segment(PyObject *self, PyObject *name) {
    if (is_probe_name(name)) return probe_miss(self, name);
    PyObject *cmd = segments(self);
    if (!cmd) return nullptr;
    if (PyList_CheckExact(cmd)) {
        if (PyList_Append(cmd, name) < 0) return nullptr;
    } else {
        PyObject *r = PyObject_CallMethodOneArg(cmd, names.append, name);
        if (!r) return nullptr;
        Py_DECREF(r);
    }
    return Py_NewRef(self);
}

PyObject *Code_getattro(PyObject *self, PyObject *name) {
    PyObject *r = oskra::generic_getattr_or_null(self, name);
    if (r || PyErr_Occurred()) return r;
    return code_add_segment(self, name);
}

PyObject *Code_getattr_method(PyObject *self, PyObject *name) {
    if (!PyUnicode_Check(name)) {
        PyErr_Format(PyExc_TypeError, "attribute name must be string, not '%.200s'", Py_TYPE(name)->tp_name);
        return nullptr;
    }
    return code_add_segment(self, name);
}

// "::".join(cmd); a single plain segment is the name itself.
PyObject *command_name(PyObject *self) {
    PyObject *first = C(self)->first;
    if (first && PyUnicode_CheckExact(first)) return Py_NewRef(first);
    PyObject *cmd = segments(self);
    if (!cmd) return nullptr;
    if (PyList_CheckExact(cmd) && PyList_GET_SIZE(cmd) == 1 && PyUnicode_CheckExact(PyList_GET_ITEM(cmd, 0)))
        return Py_NewRef(PyList_GET_ITEM(cmd, 0));
    return PyUnicode_Join(names.colons, cmd);
}

PyObject *Code_vectorcall(PyObject *self, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    // The reserved keyword cast_ decides the result conversion only.
    PyObject *cast = nullptr;
    Py_ssize_t cast_at = -1;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        if (key == names.cast_ || PyUnicode_Compare(key, names.cast_) == 0) {
            cast = args[nargs + k];
            cast_at = k;
        }
    }
    Py_ssize_t nwords = 1 + nargs + 2 * (nkw - (cast_at >= 0));
    PyObject *words = PyList_New(nwords);
    if (!words) return nullptr;
    PyObject *interp = nullptr, *result = nullptr, *out = nullptr;
    PyObject *entry = nullptr;  // of this call in the history, to be marked if it fails
    Py_ssize_t i = 0;
    int want;
    {
        PyObject *name = command_name(self);
        if (!name) goto done;
        PyList_SET_ITEM(words, i++, name);
    }
    for (Py_ssize_t a = 0; a < nargs; ++a) {
        PyObject *w = oskra::wordform(args[a]);
        if (!w) goto done;
        PyList_SET_ITEM(words, i++, w);
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        if (k == cast_at) continue;
        PyObject *opt = PyUnicode_Concat(names.dash, PyTuple_GET_ITEM(kwnames, k));
        if (!opt) goto done;
        PyList_SET_ITEM(words, i++, opt);
        PyObject *w = oskra::wordform(args[nargs + k]);
        if (!w) goto done;
        PyList_SET_ITEM(words, i++, w);
    }
    if (!C(self)->tcl) {
        missing(self, "tcl");
        goto done;
    }
    if (!(interp = resolve(C(self)->tcl))) goto done;
    {
        // Recorded before the call, so that failed calls are recorded too.
        PyObject *history = get_attr(interp, names.history, a_history);
        if (!history) goto done;
        PyObject *hargs[2] = {history, words};
        // The package's own history hands back the entry (for the same
        // cost); another object is asked to append, as documented.
        entry = Py_IS_TYPE(history, g_history_type)
                ? PyObject_VectorcallMethod(names.record_entry, hargs, 2, nullptr)
                : call_method(names.append, a_append, hargs, 2);
        Py_DECREF(history);
        if (!entry) goto done;
    }
    // Whether to cast is known before the call: the truth test may run
    // Python code, which must not come between the call and its result.
    want = cast ? PyObject_IsTrue(cast) : 1;
    if (want < 0) goto done;
    {
        PyObject *tk = get_attr(interp, names.tk, a_tk);
        if (!tk) goto done;
        // tk.call(*words): the words as separate arguments of one command
        // (the list may have been changed by the history: its contents now
        // are what is sent).
        Py_ssize_t n = PyList_GET_SIZE(words);
        PyObject *small[16];
        PyObject **argv = n < 16 ? small : (PyObject **)PyMem_Malloc((size_t)(n + 1) * sizeof(PyObject *));
        if (!argv) {
            Py_DECREF(tk);
            PyErr_NoMemory();
            goto done;
        }
        argv[0] = tk;
        // A word that is not a str (what an object's __wordform__ returned,
        // or what the history put in the list) passes the guard: the Tcl
        // layer converts nested values without checking (core/tclsafe.h).
        Py_ssize_t ready = 0;
        for (; ready < n; ++ready) {
            PyObject *word = PyList_GET_ITEM(words, ready);
            if (ready == 0 && PyUnicode_CheckExact(word)) argv[1] = oskra::command_word(tk, word);
            else argv[ready + 1] = PyUnicode_CheckExact(word) ? Py_NewRef(word) : oskra::tcl_safe_value(word);
            if (!argv[ready + 1]) break;
        }
        if (ready == n) {
            oskra::TclCallScope scope;
            result = PyObject_VectorcallMethod(names.call, argv, (size_t)(n + 1), nullptr);
        }
        for (Py_ssize_t j = 0; j < ready; ++j) Py_DECREF(argv[j + 1]);
        if (argv != small) PyMem_Free(argv);
        if (result) {
            result = oskra::tcl_call_done(tk, result);
        } else if (ready == n) {
            PyObject *tcl_error = oskra::tcl_error_type();
            if (tcl_error && PyErr_ExceptionMatches(tcl_error)) translate_tcl_error(interp, tk);
        }
        if (!result) {
            Py_DECREF(tk);
            if (ready == n) oskra::mark_failed_entry(entry);
            goto done;
        }
        // Uncast, the result is its Tcl text, read before anything else
        // reaches Tcl.
        if (!want) {
            out = oskra::result_text(tk, result);
        } else if (PyLong_CheckExact(result)) {
            // An integer Tcl read from text with a leading zero ("0150" as
            // octal) is cast from that text, which stays a string.
            PyObject *text = oskra::result_text(tk, result);
            if (text && oskra::leading_zero_decimal(text)) Py_SETREF(result, text);
            else Py_XDECREF(text);
            if (!text) want = -1;
        }
        Py_DECREF(tk);
        if (want <= 0) goto done;
    }
    {
        PyObject *cargs[2] = {interp, result};
        out = call_method(names.cast_any, a_cast_any, cargs, 2);
    }
done:
    // Unfilled slots of a partly built list are null, which list dealloc skips.
    Py_DECREF(words);
    Py_XDECREF(interp);
    Py_XDECREF(result);
    Py_XDECREF(entry);
    return out;
}

PyObject *Code_str(PyObject *self) {
    PyObject *cmd = segments(self);
    if (!cmd) return nullptr;
    PyObject *name = PyUnicode_Join(names.colons, cmd);
    if (!name) return nullptr;
    PyObject *r = PyUnicode_Format(names.quick_code_fmt, name);
    Py_DECREF(name);
    return r;
}

// __repr__ returns self.__str__().
PyObject *Code_repr(PyObject *self) { return PyObject_CallMethodNoArgs(self, names.dunder_str); }

int Code_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(C(self)->tcl);
    Py_VISIT(C(self)->cmd);
    Py_VISIT(C(self)->first);
    Py_VISIT(C(self)->dict);
    return 0;
}

int Code_clear(PyObject *self) {
    Py_CLEAR(C(self)->tcl);
    Py_CLEAR(C(self)->cmd);
    Py_CLEAR(C(self)->first);
    Py_CLEAR(C(self)->dict);
    return 0;
}

void Code_dealloc(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (C(self)->weakrefs) PyObject_ClearWeakRefs(self);
    Code_clear(self);
    if (code_freelist.keep(self, CodeType)) return;
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyMethodDef Code_methods[] = {
        {"__getattr__", Code_getattr_method, METH_O,
         "__getattr__($self, name, /)\n--\n\nAppend a name segment; returns this same object."},
        {nullptr, nullptr, 0, nullptr},
};

PyMemberDef Code_members[] = {
        {"tcl", T_OBJECT_EX, offsetof(CodeObject, tcl), 0, "The interpreter reference."},
        {"__vectorcalloffset__", T_PYSSIZET, offsetof(CodeObject, vectorcall), READONLY, nullptr},
        {"__dictoffset__", T_PYSSIZET, offsetof(CodeObject, dict), READONLY, nullptr},
        {"__weaklistoffset__", T_PYSSIZET, offsetof(CodeObject, weakrefs), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef Code_getset[] = {
        {"cmd", Code_get_cmd, Code_set_cmd, "The name segments collected so far.", nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot Code_slots[] = {
        {Py_tp_doc,
         (void *)"Quick_Code(*cmd, tcl)\n--\n\n"
                 "A Tcl command name being collected attribute by attribute; calling it runs "
                 "the command. The keyword cast_=False returns the plain string result."},
        {Py_tp_new, (void *)Code_new},
        {Py_tp_init, (void *)Code_init},
        {Py_tp_call, (void *)PyVectorcall_Call},
        {Py_tp_getattro, (void *)Code_getattro},
        {Py_tp_repr, (void *)Code_repr},
        {Py_tp_str, (void *)Code_str},
        {Py_tp_dealloc, (void *)Code_dealloc},
        {Py_tp_traverse, (void *)Code_traverse},
        {Py_tp_clear, (void *)Code_clear},
        {Py_tp_methods, Code_methods},
        {Py_tp_members, Code_members},
        {Py_tp_getset, Code_getset},
        {0, nullptr},
};

PyType_Spec Code_spec = {
        "oskra.tcl.quick.Quick_Code",
        sizeof(CodeObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL,
        Code_slots,
};

}  // namespace
