// The guard in front of tkinter's unchecked conversion of nested values.
#include "core/tclsafe.h"

#include "core/callback_errors.h"
#include "core/convert.h"
#include "core/tclconv.h"

#include <climits>
#include <cstddef>

#include <structmember.h>

#include "support/compat.h"
#include "support/pyref.h"
#include "support/state.h"
#include "support/tclapp.h"

namespace oskra {

namespace {

// tkinter encodes a string that is not ASCII to UTF-8 with the
// "surrogateescape" handler, so only some lone surrogates fail. Strings of
// the 1-byte kind hold none; the others are scanned, and only a string that
// holds a surrogate is actually encoded, to get tkinter's own verdict.
int check_str(PyObject *s) {
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    if (n > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "string is too long");
        return -1;
    }
    int kind = PyUnicode_KIND(s);
    if (kind == PyUnicode_1BYTE_KIND) return 0;
    const void *data = PyUnicode_DATA(s);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 ch = PyUnicode_READ(kind, data, i);
        if (ch >= 0xD800 && ch <= 0xDFFF) {
            PyObject *encoded = PyUnicode_AsEncodedString(s, "utf-8", "surrogateescape");
            if (!encoded) return -1;
            Py_DECREF(encoded);
            return 0;
        }
    }
    return 0;
}

bool is_native_leaf(PyObject *v) {
    return PyBytes_Check(v) || PyBool_Check(v) || PyLong_Check(v) || PyFloat_Check(v) ||
            (PyObject *)Py_TYPE(v) == tcl_obj_type();
}

PyObject *safe(PyObject *value);

// A tuple whose items are all safe: the tuple itself, or a copy.
PyObject *safe_tuple(PyObject *tuple) {
    Py_ssize_t n = PyTuple_GET_SIZE(tuple);
    if ((size_t)n > (size_t)INT_MAX / sizeof(void *)) {
        PyErr_SetString(PyExc_OverflowError, "tuple is too long");
        return nullptr;
    }
    Ref copy;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *item = PyTuple_GET_ITEM(tuple, i);
        PyObject *s = safe(item);
        if (!s) return nullptr;
        if (s != item && !copy) {
            copy = Ref::steal(PyTuple_New(n));
            if (!copy) {
                Py_DECREF(s);
                return nullptr;
            }
            for (Py_ssize_t j = 0; j < i; ++j)
                PyTuple_SET_ITEM(copy.get(), j, Py_NewRef(PyTuple_GET_ITEM(tuple, j)));
        }
        if (copy) {
            PyTuple_SET_ITEM(copy.get(), i, s);
        } else {
            Py_DECREF(s);
        }
    }
    return copy ? copy.release() : Py_NewRef(tuple);
}

PyObject *safe(PyObject *value) {
    if (PyUnicode_Check(value)) return check_str(value) < 0 ? nullptr : Py_NewRef(value);
    if (is_native_leaf(value)) return Py_NewRef(value);
    if (PyTuple_Check(value) || PyList_Check(value)) {
        if (!enter_recursion(" while checking a value for Tcl")) return nullptr;
        PyObject *r;
        if (PyTuple_Check(value)) {
            r = safe_tuple(value);
        } else {
            // A snapshot: the str() of an item may change the list.
            Ref snapshot = Ref::steal(PyList_AsTuple(value));
            r = snapshot ? safe_tuple(snapshot.get()) : nullptr;
        }
        leave_recursion();
        return r;
    }
    // tkinter would send str(value) here; do it now, where a failure is caught.
    PyObject *text = PyObject_Str(value);
    if (!text) return nullptr;
    if (check_str(text) < 0) {
        Py_DECREF(text);
        return nullptr;
    }
    return text;
}

// The wrapper of a callback: calls it, converts and checks its result, and
// turns its exception into a Tcl error that says what happened. The Tcl layer
// holds the wrapper where the garbage collector cannot see it, so a wrapper
// that belongs to an interpreter does not hold the callable itself: the
// interpreter's callable table does (under `key`), and the wrapper reaches
// the table through a weak reference. A callable that refers back to its
// interpreter then makes an ordinary, collectable cycle.
struct SafeCallable {
    PyObject_HEAD PyObject *func;  // the callable, or null when a table holds it
    PyObject *table_ref;  // weak reference to that table
    PyObject *key;
    PyObject *name;  // the command's name, for the log
    // The interpreter whose command this is. The wrapper is reachable only
    // from that command, so the interpreter outlives every call.
    Tcl_Interp *interp;
    vectorcallfunc vectorcall;
};

SafeCallable *SC(PyObject *o) { return reinterpret_cast<SafeCallable *>(o); }

// The table of an owned wrapper, or null (no error) once it is gone.
Ref table_of(PyObject *self) {
    PyObject *t = nullptr;
    if (weakref_target(SC(self)->table_ref, &t) < 0) PyErr_Clear();
    return Ref::steal(t);
}

PyObject *safe_callable_call(PyObject *self, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    if (SC(self)->interp && refuse_callback(SC(self)->interp)) return nullptr;
    Ref func = Ref::borrow(SC(self)->func);
    if (!func) {
        Ref table = table_of(self);
        PyObject *f = table ? PyDict_GetItemWithError(table.get(), SC(self)->key) : nullptr;
        if (!f) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "interpreter is closed");
            return nullptr;
        }
        func = Ref::borrow(f);
    }
    Ref result = Ref::steal(PyObject_Vectorcall(func.get(), args, nargsf, kwnames));
    Ref value = result ? Ref::steal(tclobj(result.get())) : Ref();
    PyObject *safe_value = value ? safe(value.get()) : nullptr;
    if (!safe_value && SC(self)->interp) return fail_callback(SC(self)->interp, SC(self)->name);
    return safe_value;
}

int safe_callable_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(SC(self)->func);
    Py_VISIT(SC(self)->table_ref);
    Py_VISIT(SC(self)->name);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int safe_callable_clear(PyObject *self) {
    Py_CLEAR(SC(self)->func);
    Py_CLEAR(SC(self)->table_ref);
    Py_CLEAR(SC(self)->key);
    Py_CLEAR(SC(self)->name);
    return 0;
}

void safe_callable_dealloc(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (SC(self)->table_ref) {  // the command is gone: so is its callable
        PyObject *pending = PyErr_GetRaisedException();
        Ref table = table_of(self);
        if (table && PyDict_DelItem(table.get(), SC(self)->key) < 0) PyErr_Clear();
        PyErr_SetRaisedException(pending);
    }
    safe_callable_clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyMemberDef safe_callable_members[] = {
        {"__vectorcalloffset__", T_PYSSIZET, offsetof(SafeCallable, vectorcall), READONLY, nullptr},
        {"__wrapped__", T_OBJECT, offsetof(SafeCallable, func), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr}};

PyType_Slot safe_callable_slots[] = {
        {Py_tp_call, (void *)PyVectorcall_Call},        {Py_tp_traverse, (void *)safe_callable_traverse},
        {Py_tp_clear, (void *)safe_callable_clear},     {Py_tp_dealloc, (void *)safe_callable_dealloc},
        {Py_tp_members, (void *)safe_callable_members}, {0, nullptr}};

PyType_Spec safe_callable_spec = {"oskra.tcl.SafeCallback", sizeof(SafeCallable), 0,
                                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL,
                                  safe_callable_slots};

}  // namespace

PyObject *tcl_safe_callable(PyObject *func, PyObject *tk, PyObject *name, PyObject *table) {
    if (!PyCallable_Check(func)) return Py_NewRef(func);
    if (!tcl_obj_type() || !callback_errors_init()) return nullptr;
    if (!state->SafeCallback) {
        state->SafeCallback = PyType_FromSpec(&safe_callable_spec);  // kept for the life of the process
        if (!state->SafeCallback) return nullptr;
    }
    SafeCallable *w = PyObject_GC_New(SafeCallable, (PyTypeObject *)state->SafeCallback);
    if (!w) return nullptr;
    w->func = w->table_ref = w->key = nullptr;
    w->name = Py_NewRef(name);
    w->interp = tkapp_interp(tk);  // null for a stand-in Tcl layer: its own error handling applies
    w->vectorcall = safe_callable_call;
    Ref wrapper = Ref::steal((PyObject *)w);  // on an error below, its dealloc undoes what was done
    if (table) {
        w->table_ref = PyWeakref_NewRef(table, nullptr);
        w->key = w->table_ref ? PyLong_FromVoidPtr(w) : nullptr;  // unique while the wrapper lives
        if (!w->key || PyDict_SetItem(table, w->key, func) < 0) return nullptr;
    } else {
        w->func = Py_NewRef(func);
    }
    PyObject_GC_Track(w);
    return wrapper.release();
}

PyObject *tcl_safe_value(PyObject *value) { return safe(value); }

}  // namespace oskra
