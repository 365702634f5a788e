// Quick: the root an interpreter holds; each attribute it lacks starts a
// Quick_Code (code.cpp).
#include <Python.h>
#include <structmember.h>

#include "support/tclapp.h"
#include "support/compat.h"
#include "quick_private.h"

namespace oskra::quick {
namespace {

struct QuickObject {
    PyObject_HEAD PyObject *tcl;
    PyObject *dict;
    PyObject *weakrefs;
};

inline QuickObject *Q(PyObject *o) { return reinterpret_cast<QuickObject *>(o); }

int Quick_init(PyObject *self, PyObject *args, PyObject *kwds) {
    static const char *kwlist[] = {"tcl", nullptr};
    PyObject *tcl;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:Quick", const_cast<char **>(kwlist), &tcl)) return -1;
    PyObject *ref = weak_interpreter(tcl);
    if (!ref) return -1;
    Py_XSETREF(Q(self)->tcl, ref);
    return 0;
}

// Quick.__getattr__: a new Quick_Code(name, tcl=self.tcl).
PyObject *quick_new_code(PyObject *self, PyObject *name) {
    if (is_probe_name(name)) return probe_miss(self, name);
    PyObject *tcl = Q(self)->tcl;
    if (!tcl) return missing(self, "tcl");
    return code_create(name, tcl);  // takes its own reference first
}

PyObject *Quick_getattro(PyObject *self, PyObject *name) {
    PyObject *r = oskra::generic_getattr_or_null(self, name);
    if (r || PyErr_Occurred()) return r;
    return quick_new_code(self, name);
}

PyObject *Quick_getattr_method(PyObject *self, PyObject *name) {
    if (!PyUnicode_Check(name)) {
        PyErr_Format(PyExc_TypeError, "attribute name must be string, not '%.200s'", Py_TYPE(name)->tp_name);
        return nullptr;
    }
    return quick_new_code(self, name);
}

// The root names no command.
PyObject *Quick_call(PyObject *, PyObject *, PyObject *) {
    PyObject *tcl_error = oskra::tcl_error_type();
    if (tcl_error) PyErr_SetObject(tcl_error, names.invalid_command_empty);
    return nullptr;
}

// "<tcl.Quick magic of <Interpreter: ...>>": the interpreter it calls into,
// by that interpreter's own repr (the weak proxy's repr is an address).
PyObject *Quick_repr(PyObject *self) {
    Ref tcl = Ref::borrow(Q(self)->tcl);  // the repr may run any Python code
    if (!tcl) return PyUnicode_FromString("<tcl.Quick magic, no interpreter>");
    Ref target = Ref::steal(PyObject_CallMethod(tcl.get(), "__repr__", nullptr));
    if (!target) {
        if (!PyErr_ExceptionMatches(PyExc_ReferenceError)) return nullptr;
        PyErr_Clear();
        return PyUnicode_FromString("<tcl.Quick magic of a deleted interpreter>");
    }
    return PyUnicode_FromFormat("<tcl.Quick magic of %S>", target.get());
}

int Quick_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(Q(self)->tcl);
    Py_VISIT(Q(self)->dict);
    return 0;
}

int Quick_clear(PyObject *self) {
    Py_CLEAR(Q(self)->tcl);
    Py_CLEAR(Q(self)->dict);
    return 0;
}

void Quick_dealloc(PyObject *self) {
    PyTypeObject *tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (Q(self)->weakrefs) PyObject_ClearWeakRefs(self);
    Quick_clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyMethodDef Quick_methods[] = {
        {"__getattr__", Quick_getattr_method, METH_O,
         "__getattr__($self, name, /)\n--\n\nA new Quick_Code starting with the segment `name`."},
        {nullptr, nullptr, 0, nullptr},
};

PyMemberDef Quick_members[] = {
        {"tcl", T_OBJECT_EX, offsetof(QuickObject, tcl), 0, "Weak proxy of the interpreter."},
        {"__dictoffset__", T_PYSSIZET, offsetof(QuickObject, dict), READONLY, nullptr},
        {"__weaklistoffset__", T_PYSSIZET, offsetof(QuickObject, weakrefs), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot Quick_slots[] = {
        {Py_tp_doc,
         (void *)"Quick(tcl)\n--\n\n"
                 "Attribute-style calls of Tcl commands: quick.ns_a.proc(x, opt=y) runs "
                 "ns_a::proc x -opt y and returns the typecast result."},
        {Py_tp_new, (void *)PyType_GenericNew},
        {Py_tp_init, (void *)Quick_init},
        {Py_tp_call, (void *)Quick_call},
        {Py_tp_repr, (void *)Quick_repr},
        {Py_tp_getattro, (void *)Quick_getattro},
        {Py_tp_dealloc, (void *)Quick_dealloc},
        {Py_tp_traverse, (void *)Quick_traverse},
        {Py_tp_clear, (void *)Quick_clear},
        {Py_tp_methods, Quick_methods},
        {Py_tp_members, Quick_members},
        {0, nullptr},
};

}  // namespace

PyType_Spec Quick_spec = {
        "oskra.tcl.quick.Quick",
        sizeof(QuickObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
        Quick_slots,
};

}  // namespace oskra::quick
