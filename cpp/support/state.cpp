#include "support/state.h"

#include "support/pyref.h"

namespace oskra {

State *state = nullptr;
Names names;

namespace {

PyObject *import_attr(const char *module, const char *name) {
    Ref m = Ref::steal(PyImport_ImportModule(module));
    return m ? PyObject_GetAttrString(m.get(), name) : nullptr;
}

bool intern_all(Names *n) {
#define OSKRA_INTERN(field, text)                                                                            \
    if (!(n->field = PyUnicode_InternFromString(text))) return false;
    OSKRA_NAMES(OSKRA_INTERN)
#undef OSKRA_INTERN
    return true;
}

bool optimized(bool *out) {
    Ref flags = Ref::steal(import_attr("sys", "flags"));
    if (!flags) return false;
    Ref opt = Ref::steal(PyObject_GetAttrString(flags.get(), "optimize"));
    if (!opt) return false;
    int o = PyObject_IsTrue(opt.get());
    if (o < 0) return false;
    *out = o != 0;
    return true;
}

}  // namespace

// Everything made here lives as long as the process.
bool make_state(State *s) {
    *s = State{};
    s->size = sizeof(State);
    bool optimize = false;
    if (!intern_all(&s->names) || !optimized(&optimize)) return false;
    s->asserts_enabled = !optimize;
    Ref mutable_mapping;
    if (!(s->TclError = import_attr("_tkinter", "TclError")) ||
        !(s->Tcl_Obj = import_attr("_tkinter", "Tcl_Obj")) ||
        !(s->abc_Sequence = import_attr("collections.abc", "Sequence")) ||
        !(s->abc_Set = import_attr("collections.abc", "Set")) ||
        !(s->abc_Mapping = import_attr("collections.abc", "Mapping")) ||
        !(mutable_mapping = Ref::steal(import_attr("collections.abc", "MutableMapping"))) ||
        !(s->mutable_mapping_update = PyObject_GetAttrString(mutable_mapping.get(), "update")) ||
        !(s->functools = PyImport_ImportModule("functools")) || !(s->callback_errors = PyDict_New()))
        return false;
    return true;
}

bool attach_state(State *own) {
    state = own;
    names = own->names;
    return true;
}

bool attach_state() {
    if (state) return true;
    // Not PyCapsule_Import: it walks attributes from the top package, which
    // is still being imported when its first module loads.
    Ref capsule = Ref::steal(import_attr("oskra.tcl.internal", "_state"));
    if (!capsule) return false;
    auto *s = static_cast<State *>(PyCapsule_GetPointer(capsule.get(), STATE_CAPSULE));
    if (!s) return false;
    if (s->size != sizeof(State)) {
        PyErr_SetString(PyExc_ImportError,
                        "oskra.tcl.internal does not match this module: reinstall the package");
        return false;
    }
    return attach_state(s);
}

}  // namespace oskra
