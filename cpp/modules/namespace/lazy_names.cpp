// The lazy name iterator of lazy_names.h (TclArrayVariable and the views).
#include "lazy_names.h"

#include "varcmd.h"

namespace oskra::ns {

namespace {

struct LazyNames {
    PyObject_HEAD PyObject *source;  // dropped once the names are fetched
    FetchNames fetch;
    PyObject *arg;  // not owned
    PyObject *items;  // the names, a tuple, once fetched
    Py_ssize_t pos;
};

PyTypeObject *lazy_type = nullptr;

inline LazyNames *L(PyObject *o) { return reinterpret_cast<LazyNames *>(o); }

int ln_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    return vc::visit_fields({L(self)->source, L(self)->items}, visit, arg);
}

int ln_clear(PyObject *self) {
    vc::clear_fields({&L(self)->source, &L(self)->items});
    return 0;
}

void ln_dealloc(PyObject *self) { vc::dealloc_gc(self, ln_clear, nullptr); }

PyObject *ln_next(PyObject *self) {
    LazyNames *it = L(self);
    if (!it->items) {
        if (!it->source) return nullptr;  // exhausted, or the fetch failed
        Ref source = Ref::steal(it->source);
        it->source = nullptr;
        Ref items = Ref::steal(it->fetch(source.get(), it->arg));
        if (items && !PyTuple_Check(items.get())) items = Ref::steal(PySequence_Tuple(items.get()));
        if (!items) return nullptr;
        it->items = items.release();
    }
    if (it->pos < PyTuple_GET_SIZE(it->items)) return Py_NewRef(PyTuple_GET_ITEM(it->items, it->pos++));
    Py_CLEAR(it->items);
    return nullptr;
}

PyType_Slot ln_slots[] = {
        {Py_tp_dealloc, (void *)ln_dealloc}, {Py_tp_traverse, (void *)ln_traverse},
        {Py_tp_clear, (void *)ln_clear},     {Py_tp_iter, (void *)PyObject_SelfIter},
        {Py_tp_iternext, (void *)ln_next},   {0, nullptr},
};

PyType_Spec ln_spec = {"oskra.tcl.namespace.name_iterator", sizeof(LazyNames), 0,
                       Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION, ln_slots};

}  // namespace

PyObject *lazy_names(PyObject *source, FetchNames fetch, PyObject *arg) {
    if (!lazy_type && !(lazy_type = (PyTypeObject *)PyType_FromSpec(&ln_spec))) return nullptr;
    LazyNames *it = PyObject_GC_New(LazyNames, lazy_type);
    if (!it) return nullptr;
    it->source = Py_NewRef(source);
    it->fetch = fetch;
    it->arg = arg;
    it->items = nullptr;
    it->pos = 0;
    PyObject_GC_Track((PyObject *)it);
    return (PyObject *)it;
}

}  // namespace oskra::ns
