// Quick calls: `interp.quick.ns_a.proc(x, opt=y)` calls the Tcl command
// ns_a::proc with the words x -opt y.
//
// `Quick` (the root an interpreter holds) and `Quick_Code` (the name being
// collected, and the call) are native heap types. Attribute access falls
// back to a name segment only when ordinary lookup finds nothing; that
// lookup runs without raising, so a miss costs no exception. The call is a
// vectorcall: words, history record, tk.call, error translation, cast.
#include <nanobind/nanobind.h>

#include <Python.h>
#include <structmember.h>

#include <initializer_list>

#include "core/callback_errors.h"
#include "support/state.h"
#include "support/tclapp.h"
#include "quick_private.h"

namespace nb = nanobind;
using namespace oskra::quick;
using oskra::names;

namespace {

// Moves the named entries of a new type's dict to its end, in the given
// order, so that the class lists its methods in their documented order.
void order_methods(PyTypeObject *type, std::initializer_list<const char *> names) {
    PyObject *dict = type->tp_dict;
    for (const char *name : names) {
        oskra::Ref value = oskra::Ref::borrow(PyDict_GetItemString(dict, name));
        if (!value || PyDict_DelItemString(dict, name) < 0 ||
            PyDict_SetItemString(dict, name, value.get()) < 0)
            throw nb::python_error();
    }
    PyType_Modified(type);
}

}  // namespace

NB_MODULE(quick, m) {
    if (!oskra::attach_state()) throw nb::python_error();
    m.doc() = "Quick calls: interp.quick.ns.proc(x, opt=y) runs the Tcl command ns::proc with the words x, "
              "-opt, y.";
    g_object_getattribute = PyObject_GetAttr((PyObject *)&PyBaseObject_Type, names.dunder_getattribute);
    if (!g_object_getattribute) throw nb::python_error();

    nb::module_ weakref = nb::module_::import_("weakref");
    g_weakref_proxy = Py_NewRef(weakref.attr("proxy").ptr());
    if (!oskra::tcl_error_type() || !oskra::callback_errors_init()) throw nb::python_error();
    g_history_type =
            (PyTypeObject *)Py_NewRef(nb::module_::import_("oskra.tcl.history").attr("History").ptr());
    m.attr("weakref") = weakref;
    m.attr("TclError") = nb::module_::import_("tkinter").attr("TclError");
    m.attr("wordform") = nb::module_::import_("oskra.tcl.wordform").attr("wordform");

    PyObject *quick = PyType_FromModuleAndSpec(m.ptr(), &Quick_spec, nullptr);
    if (!quick) throw nb::python_error();
    QuickType = (PyTypeObject *)quick;
    PyObject *code = PyType_FromModuleAndSpec(m.ptr(), &Code_spec, nullptr);
    if (!code) throw nb::python_error();
    CodeType = (PyTypeObject *)code;
    order_methods(QuickType, {"__init__", "__getattr__", "__call__"});
    order_methods(CodeType, {"__init__", "__call__", "__getattr__", "__repr__", "__str__"});
    m.attr("Quick") = nb::borrow(quick);
    m.attr("Quick_Code") = nb::borrow(code);
}
