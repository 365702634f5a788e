// oskra.tcl.internal: the owner of the process state (support/state.h), the
// list splitter and direct access to the Tcl result.
#include <nanobind/nanobind.h>

#include "core/listsplit.h"
#include "support/nbclass.h"
#include "support/state.h"
#include "support/tclapp.h"
#include "core/tclsafe.h"

namespace nb = nanobind;

namespace {

PyObject *get_list_from_any(PyObject *, PyObject *value) { return oskra::split_list(value); }

// The Tcl interpreter behind an Interpreter, a tkapp, or anything whose
// `tk` attribute is a tkapp (a weak proxy included).
// Only on the thread that owns it: elsewhere tkinter's RuntimeError.
Tcl_Interp *find_interp(PyObject *obj) {
    if (std::strcmp(Py_TYPE(obj)->tp_name, "_tkinter.tkapp") == 0) return oskra::owned_interp_of_tkapp(obj);
    PyObject *tk = PyObject_GetAttrString(obj, "tk");
    if (!tk) return nullptr;
    if (std::strcmp(Py_TYPE(tk)->tp_name, "_tkinter.tkapp") != 0) {
        // Not a Tcl application (a closed interpreter's, say): its own error first.
        PyObject *addr = PyObject_GetAttrString(tk, "interpaddr");
        Py_XDECREF(addr);
        if (!addr) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
                Py_DECREF(tk);
                return nullptr;
            }
            PyErr_Clear();
        }
    }
    Tcl_Interp *interp = oskra::owned_interp_of_tkapp(tk);
    Py_DECREF(tk);
    return interp;
}

PyObject *tcl_reset_result(PyObject *, PyObject *interp_obj) {
    Tcl_Interp *interp = find_interp(interp_obj);
    if (!interp) return nullptr;
    Tcl_ResetResult(interp);
    Py_RETURN_NONE;
}

PyObject *tcl_safe(PyObject *, PyObject *value) { return oskra::tcl_safe_value(value); }

PyMethodDef tcl_safe_def = {"_tcl_safe_value", (PyCFunction)tcl_safe, METH_O,
                            "_tcl_safe_value(value)\n--\n\n"
                            "The value the package hands to the Tcl layer in place of `value`: the\n"
                            "value itself, or a copy whose nested leaves the Tcl layer can convert."};

PyMethodDef get_list_def = {"GetListFromAny", (PyCFunction)get_list_from_any, METH_O,
                            "GetListFromAny(value)\n--\n\n"
                            "The elements of a Tcl list (str or Tcl_Obj) as a tuple; a tuple is\n"
                            "returned as it is and another sequence as the tuple of its elements.\n"
                            "A malformed list raises TclError with Tcl's message."};

PyMethodDef reset_result_def = {"Tcl_ResetResult", (PyCFunction)tcl_reset_result, METH_O,
                                "Tcl_ResetResult(interp)\n--\n\n"
                                "Reset the result of the Tcl interpreter of `interp` (an interpreter,\n"
                                "a tkapp, or an object whose `tk` is one)."};

}  // namespace

NB_MODULE(internal, m) {
    // Every other module imports this one at its init and shares this State.
    static oskra::State the_state;
    if (!oskra::make_state(&the_state)) throw nb::python_error();
    oskra::attach_state(&the_state);
    m.attr("_state") = nb::steal(PyCapsule_New(&the_state, oskra::STATE_CAPSULE, nullptr));
    m.doc() = "Low-level helpers of the package: GetListFromAny (Tcl list splitting) and "
              "TclDLL.Tcl_ResetResult.";
    nb::object get_list =
            nb::steal(PyCFunction_NewEx(&get_list_def, nullptr, nb::str("oskra.tcl.internal").ptr()));
    if (!get_list.is_valid()) throw nb::python_error();
    m.attr("GetListFromAny") = get_list;
    nb::object safe =
            nb::steal(PyCFunction_NewEx(&tcl_safe_def, nullptr, nb::str("oskra.tcl.internal").ptr()));
    if (!safe.is_valid()) throw nb::python_error();
    m.attr("_tcl_safe_value") = safe;

    oskra::ClassBuilder cb("oskra.tcl.internal", "TclDLL",
                           "Direct calls into the Tcl C library behind an interpreter.");
    nb::object reset =
            nb::steal(PyCFunction_NewEx(&reset_result_def, nullptr, nb::str("oskra.tcl.internal").ptr()));
    if (!reset.is_valid()) throw nb::python_error();
    nb::object sm = nb::steal(PyStaticMethod_New(reset.ptr()));
    if (!sm.is_valid()) throw nb::python_error();
    cb.set("Tcl_ResetResult", sm);
    m.attr("TclDLL") = cb.build(nb::make_tuple(nb::handle(reinterpret_cast<PyObject *>(&PyBaseObject_Type))));
}
