// Quick_Code: the command name being collected segment by segment, and its
// call: words, history record, tk.call, error translation, cast.
#include <Python.h>
#include <structmember.h>

#include "core/callback_errors.h"
#include "core/convert.h"
#include "core/tclconv.h"
#include "core/tclsafe.h"
#include "core/tcltext.h"
#include "support/compat.h"
#include "support/freelist.h"
#include "support/kept_words.h"
#include "support/tclapp.h"
#include "quick_private.h"

namespace oskra::quick {
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

// The `cmd` list, owned, made from the first segment when needed.
Ref segments(PyObject *self) {
    CodeObject *c = C(self);
    if (!c->cmd && c->first) {
        c->cmd = PyList_New(1);
        if (!c->cmd) return Ref();
        PyList_SET_ITEM(c->cmd, 0, c->first);
        c->first = nullptr;
    }
    if (!c->cmd) {
        missing(self, "cmd");
        return Ref();
    }
    return Ref::borrow(c->cmd);
}

PyObject *Code_get_cmd(PyObject *self, void *) { return segments(self).release(); }

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
        // Only exact-str comparisons here: nothing runs Python code.
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
    Ref cmd = segments(self);
    if (!cmd) return nullptr;
    if (PyList_CheckExact(cmd.get())) {
        if (PyList_Append(cmd.get(), name) < 0) return nullptr;
    } else {
        Ref r = Ref::steal(PyObject_CallMethodOneArg(cmd.get(), names.append, name));
        if (!r) return nullptr;
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
    Ref cmd = segments(self);
    if (!cmd) return nullptr;
    PyObject *list = cmd.get();
    if (PyList_CheckExact(list) && PyList_GET_SIZE(list) == 1 &&
        PyUnicode_CheckExact(PyList_GET_ITEM(list, 0)))
        return Py_NewRef(PyList_GET_ITEM(list, 0));
    return PyUnicode_Join(names.colons, list);
}

// The words of the call: the command name, the positional arguments, then
// the dashed options (cast_ left out), each argument as its Tcl text.
PyObject *call_words(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                     Py_ssize_t cast_at) {
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    Ref words = Ref::steal(PyList_New(1 + nargs + 2 * (nkw - (cast_at >= 0))));
    if (!words) return nullptr;
    // Unfilled slots of a partly built list are null, which list dealloc skips.
    PyObject *w = words.get();
    Py_ssize_t i = 0;
    PyObject *name = command_name(self);
    if (!name) return nullptr;
    PyList_SET_ITEM(w, i++, name);
    // A __wordform__ may return a non-str (a tuple, say): its text is sent,
    // so that the call and its record do not depend on such a value.
    for (Py_ssize_t a = 0; a < nargs; ++a) {
        PyObject *text = oskra::wordform_text(args[a]);
        if (!text) return nullptr;
        PyList_SET_ITEM(w, i++, text);
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        if (k == cast_at) continue;
        PyObject *opt = PyUnicode_Concat(names.dash, PyTuple_GET_ITEM(kwnames, k));
        if (!opt) return nullptr;
        PyList_SET_ITEM(w, i++, opt);
        PyObject *text = oskra::wordform_text(args[nargs + k]);
        if (!text) return nullptr;
        PyList_SET_ITEM(w, i++, text);
    }
    return words.release();
}

// tk.call(*words): the words as separate arguments of one command, in
// one Tcl call of the package. The history may have kept and changed the
// list: what it holds now is what is sent, read once into owned references
// before anything runs Python code (the guard of the Tcl layer may: a str()
// of a nested value). `*made` tells whether the call was made (a word the
// guard refuses stops it before).
PyObject *tk_call(PyObject *tk, PyObject *words, bool *made) {
    *made = false;
    Py_ssize_t n = PyList_GET_SIZE(words);
    PyObject *small[16];
    PyObject **argv = n < 16 ? small : (PyObject **)PyMem_Malloc((size_t)(n + 1) * sizeof(PyObject *));
    if (!argv) return PyErr_NoMemory();
    argv[0] = tk;
    for (Py_ssize_t i = 0; i < n; ++i) argv[i + 1] = Py_NewRef(PyList_GET_ITEM(words, i));
    // A word that is not a str (what the history put in the list) passes
    // the guard: the Tcl layer converts nested values without checking
    // (core/tclsafe.h). The command name goes as a kept Tcl value, whose
    // command lookup Tcl keeps.
    bool ready = true;
    for (Py_ssize_t i = 1; i <= n && ready; ++i) {
        PyObject *word = argv[i];
        if (i == 1 && PyUnicode_CheckExact(word)) argv[i] = oskra::command_word(tk, word);
        else if (!PyUnicode_CheckExact(word)) argv[i] = oskra::tcl_safe_value(word);
        else continue;
        Py_DECREF(word);
        if (!argv[i]) ready = false;
    }
    PyObject *result = nullptr;
    if (ready) {
        *made = true;
        oskra::TclCallScope scope;
        result = oskra::tk_method(oskra::TkMethod::call, argv, (size_t)(n + 1));
    }
    for (Py_ssize_t i = 1; i <= n; ++i) Py_XDECREF(argv[i]);
    if (argv != small) PyMem_Free(argv);
    return result;
}

// The call's record in the history, before the call, so that failed calls
// are recorded too. The package's own history hands back the entry (for the
// same cost), to be marked if the call fails; another object is asked to
// append, as documented.
PyObject *record(PyObject *interp, PyObject *words) {
    Ref history = Ref::steal(get_attr(interp, names.history, a_history));
    if (!history) return nullptr;
    PyObject *hargs[2] = {history.get(), words};
    return Py_IS_TYPE(history.get(), g_history_type)
            ? PyObject_VectorcallMethod(names.record_entry, hargs, 2, nullptr)
            : call_method(names.append, a_append, hargs, 2);
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
    Ref words = Ref::steal(call_words(self, args, nargs, kwnames, cast_at));
    if (!words) return nullptr;
    Ref tcl = Ref::borrow(C(self)->tcl);
    if (!tcl) return missing(self, "tcl");
    Ref interp = Ref::steal(resolve(tcl.get()));
    if (!interp) return nullptr;
    Ref entry = Ref::steal(record(interp.get(), words.get()));
    if (!entry) return nullptr;
    // Whether to cast is known before the call: the truth test may run
    // Python code, which must not come between the call and its result.
    int want = cast ? PyObject_IsTrue(cast) : 1;
    if (want < 0) return nullptr;
    Ref tk = Ref::steal(get_attr(interp.get(), names.tk, a_tk));
    if (!tk) return nullptr;
    bool made;
    Ref result = Ref::steal(tk_call(tk.get(), words.get(), &made));
    if (result) {
        result = Ref::steal(oskra::tcl_call_done(tk.get(), result.release()));
    } else if (made) {
        PyObject *tcl_error = oskra::tcl_error_type();
        if (tcl_error && PyErr_ExceptionMatches(tcl_error)) translate_tcl_error(interp.get(), tk.get());
    }
    if (!result) {
        if (made) oskra::mark_failed_entry(entry.get());
        return nullptr;
    }
    // Uncast, the result is its Tcl text, read before anything else reaches
    // Tcl.
    if (!want) return oskra::result_text(tk.get(), result.get());
    if (PyLong_CheckExact(result.get())) {
        // An integer Tcl read from text with a leading zero ("0150" as
        // octal) is cast from that text, which stays a string.
        Ref text = Ref::steal(oskra::result_text(tk.get(), result.get()));
        if (!text) return nullptr;
        if (oskra::leading_zero_decimal(text.get())) result = text;
    }
    PyObject *cargs[2] = {interp.get(), result.get()};
    return call_method(names.cast_any, a_cast_any, cargs, 2);
}

PyObject *Code_str(PyObject *self) {
    Ref cmd = segments(self);
    if (!cmd) return nullptr;
    Ref name = Ref::steal(PyUnicode_Join(names.colons, cmd.get()));
    return name ? PyUnicode_Format(names.quick_code_fmt, name.get()) : nullptr;
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

}  // namespace

PyType_Spec Code_spec = {
        "oskra.tcl.quick.Quick_Code",
        sizeof(CodeObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL,
        Code_slots,
};

PyObject *code_create(PyObject *name, PyObject *tcl) {
    PyObject *self = code_freelist.alloc(CodeType, sizeof(CodeObject));
    if (!self) return nullptr;
    CodeObject *c = C(self);
    c->vectorcall = Code_vectorcall;
    c->tcl = Py_NewRef(tcl);
    c->first = Py_NewRef(name);
    return self;
}

}  // namespace oskra::quick
