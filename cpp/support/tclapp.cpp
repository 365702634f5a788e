// Access to the Tcl layer underneath tkinter: its error and value types, and
// the C structures of its application and value objects.
#include "support/tclapp.h"

#include <cstring>

#include "support/state.h"

namespace oskra {

namespace {

// The leading fields of _tkinter's application object: PyObject_HEAD, the
// Tcl interpreter it owns, and the thread that created the interpreter.
struct TkappHead {
    PyObject_HEAD Tcl_Interp *interp;
    int wantobjects;
    int threaded;
    Tcl_ThreadId thread_id;
};

// _tkinter's Tcl_Obj wrapper: the Tcl value it holds a reference to, and
// its text once asked for.
struct TclObjHead {
    PyObject_HEAD Tcl_Obj *value;
    PyObject *string;
};

}  // namespace

PyObject *tcl_error_type() { return state->TclError; }

PyObject *tcl_obj_type() { return state->Tcl_Obj; }

bool is_tkapp(PyObject *obj) {
    PyTypeObject *tp = Py_TYPE(obj);
    return tp == state->tkapp_type ||
            (state->tkapp_type == nullptr && std::strcmp(tp->tp_name, "_tkinter.tkapp") == 0);
}

bool tcl_stubs_ready() { return tclStubsPtr != nullptr; }

namespace {

// The leading fields every Tcl 8 interpreter keeps in place for extensions:
// the stub table of the library that created it, which Tcl_InitStubs reads.
struct InterpHead {
    char *result;
    void (*free_proc)(char *);
    int error_line;
    const TclStubs *stub_table;
};

// Before this module is bound, the owner test asks the interpreter's own
// library (a thread-safe query); on the owner thread it then binds the
// module with Tcl_InitStubs, which also checks the version (a package
// require of Tcl, which must run on that thread). The require sets the
// interpreter's result, which a caller may be about to read (the text of
// the command it has just run), so the interpreter's state is put back.
bool owner_thread_unbound(TkappHead *app) {
    const TclStubs *table = reinterpret_cast<InterpHead *>(app->interp)->stub_table;
    if (table == nullptr || table->magic != TCL_STUB_MAGIC) return false;
    if (app->thread_id != table->tcl_GetCurrentThread()) return false;
    Tcl_InterpState saved = table->tcl_SaveInterpState(app->interp, TCL_OK);
    bool bound = Tcl_InitStubs(app->interp, "8.6", 0) != nullptr;
    table->tcl_RestoreInterpState(app->interp, saved);
    return bound;
}

}  // namespace

Tcl_Interp *interp_of_tkapp(PyObject *tkapp) {
    if (tkapp) {
        PyTypeObject *tp = Py_TYPE(tkapp);
        if (tp == state->tkapp_type) return reinterpret_cast<TkappHead *>(tkapp)->interp;
        if (state->tkapp_type == nullptr && std::strcmp(tp->tp_name, "_tkinter.tkapp") == 0) {
            // Remember the type object itself: later checks are one compare.
            state->tkapp_type = tp;
            Py_INCREF(tp);
            return reinterpret_cast<TkappHead *>(tkapp)->interp;
        }
    }
    PyErr_Format(PyExc_TypeError, "expected a _tkinter.tkapp object, not %.200s",
                 tkapp ? Py_TYPE(tkapp)->tp_name : "NULL");
    return nullptr;
}

bool tkapp_on_owner_thread(PyObject *tkapp) {
    TkappHead *app = reinterpret_cast<TkappHead *>(tkapp);
    if (tclStubsPtr == nullptr) return owner_thread_unbound(app);
    return app->thread_id == Tcl_GetCurrentThread();
}

Tcl_Interp *owned_interp_of_tkapp(PyObject *tkapp) {
    Tcl_Interp *interp = interp_of_tkapp(tkapp);
    if (interp && !tkapp_on_owner_thread(tkapp)) {
        PyErr_SetString(PyExc_RuntimeError, WRONG_THREAD);
        return nullptr;
    }
    return interp;
}

Tcl_Interp *interp_on_own_thread(PyObject *tkapp) {
    Tcl_Interp *interp = interp_of_tkapp(tkapp);
    if (!interp) {
        PyErr_Clear();
        return nullptr;
    }
    if (!tkapp_on_owner_thread(tkapp)) return nullptr;
    return interp;
}

Tcl_Obj *tcl_obj_value(PyObject *obj) { return reinterpret_cast<TclObjHead *>(obj)->value; }

namespace {

PyObject *method_name(TkMethod m) {
    switch (m) {
    case TkMethod::call: return names.call;
    case TkMethod::eval: return names.eval;
    case TkMethod::getvar: return names.getvar;
    case TkMethod::setvar: return names.setvar;
    default: return names.unsetvar;
    }
}

}  // namespace

PyObject *tk_method(TkMethod m, PyObject *const *stack, size_t n) {
    static PyObject *methods[5] = {};  // the descriptors of the tkapp type
    auto i = (size_t)m;
    PyObject *tk = stack[0];
    if (Py_TYPE(tk) == state->tkapp_type && methods[i])
        return PyObject_Vectorcall(methods[i], stack, n, nullptr);
    if (!methods[i] && interp_of_tkapp(tk)) {
        PyObject *descr = PyObject_GetAttr((PyObject *)Py_TYPE(tk), method_name(m));
        if (!descr) return nullptr;
        methods[i] = descr;  // kept for the life of the process
        return PyObject_Vectorcall(descr, stack, n, nullptr);
    }
    PyErr_Clear();
    return PyObject_VectorcallMethod(method_name(m), const_cast<PyObject **>(stack), n, nullptr);
}

PyObject *new_tcl_obj(const char *text) {
    PyObject *type = tcl_obj_type();
    if (!type) return nullptr;
    // Made as the wrapper makes its own: its deallocator releases both.
    TclObjHead *w = PyObject_New(TclObjHead, reinterpret_cast<PyTypeObject *>(type));
    if (!w) return nullptr;
    w->value = Tcl_NewStringObj(text, -1);
    Tcl_IncrRefCount(w->value);
    w->string = nullptr;
    return reinterpret_cast<PyObject *>(w);
}

}  // namespace oskra
