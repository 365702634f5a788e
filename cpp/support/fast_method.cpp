// The method descriptor of fast_method.h.
#include "support/fast_method.h"

#include "support/compat.h"

#include <cstddef>

namespace oskra {

namespace {

struct FastMethod {
    PyObject_HEAD PyObject *func;
    vectorcallfunc vectorcall;
};

FastMethod *M(PyObject *o) { return reinterpret_cast<FastMethod *>(o); }

PyObject *fm_vectorcall(PyObject *self, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    return PyObject_Vectorcall(M(self)->func, args, nargsf, kwnames);
}

// Read through an instance: a bound method; through the class: the function.
PyObject *fm_descr_get(PyObject *self, PyObject *obj, PyObject *) {
    if (!obj || obj == Py_None) return Py_NewRef(M(self)->func);
    return PyMethod_New(M(self)->func, obj);
}

// The wrapper's own attributes (its class, __func__, ...) are its own; the
// rest (name, qualname, signature, doc) are the function's.
PyObject *fm_getattro(PyObject *self, PyObject *name) {
    if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, "__doc__") != 0 &&
        oskra::type_lookup(Py_TYPE(self), name))
        return PyObject_GenericGetAttr(self, name);
    return PyObject_GetAttr(M(self)->func, name);
}

int fm_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(M(self)->func);
    return 0;
}

int fm_clear(PyObject *self) {
    Py_CLEAR(M(self)->func);
    return 0;
}

void fm_dealloc(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    fm_clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyMemberDef fm_members[] = {
        {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FastMethod, vectorcall), Py_READONLY, nullptr},
        {"__func__", Py_T_OBJECT_EX, offsetof(FastMethod, func), Py_READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot fm_slots[] = {
        {Py_tp_call, (void *)PyVectorcall_Call},
        {Py_tp_descr_get, (void *)fm_descr_get},
        {Py_tp_getattro, (void *)fm_getattro},
        {Py_tp_traverse, (void *)fm_traverse},
        {Py_tp_clear, (void *)fm_clear},
        {Py_tp_dealloc, (void *)fm_dealloc},
        {Py_tp_members, fm_members},
        {0, nullptr},
};

PyType_Spec fm_spec = {
        "oskra.tcl.fast_method",
        sizeof(FastMethod),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
                Py_TPFLAGS_DISALLOW_INSTANTIATION,
        fm_slots,
};

PyTypeObject *fm_type = nullptr;  // made once, kept for the life of the process

}  // namespace

PyObject *fast_method_new(PyObject *func) {
    if (!fm_type && !(fm_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&fm_spec)))) return nullptr;
    FastMethod *m = PyObject_GC_New(FastMethod, fm_type);
    if (!m) return nullptr;
    m->func = Py_NewRef(func);
    m->vectorcall = fm_vectorcall;
    PyObject_GC_Track(m);
    return reinterpret_cast<PyObject *>(m);
}

}  // namespace oskra
