// The call history: a bounded record of Tcl calls with named markers.
//
// `History.append` runs on every evaluation, so both classes are native
// heap types with their state in C slots (entry.cpp, history.cpp); this file
// binds the module's names and makes the types.
#include <nanobind/nanobind.h>

#include <Python.h>

#include "history_private.h"
#include "support/state.h"

namespace nb = nanobind;
using namespace oskra::history;

namespace {

PyObject *check(PyObject *o) {
    if (!o) throw nb::python_error();
    return o;
}

}  // namespace

NB_MODULE(history, m) {
    m.doc() = "The call history of an interpreter: Entry (one recorded call with its timestamp) and History "
              "(a bounded record with named markers).";
    if (!import_datetime()) throw nb::python_error();
    if (!oskra::attach_state()) throw nb::python_error();
    s_debug_level = check(PyLong_FromLong(10));
    s_default_max = check(PyLong_FromLong(9999));

    g_module_dict = Py_NewRef(PyModule_GetDict(m.ptr()));
    watch_module_globals();

    nb::module_ re = nb::module_::import_("re");
    nb::module_ logging = nb::module_::import_("logging");
    nb::object deque = nb::module_::import_("collections").attr("deque");
    nb::object get_time = nb::module_::import_("oskra.utils.utils").attr("get_time");
    nb::object log = logging.attr("getLogger")("oskra.tcl");
    m.attr("re") = re;
    m.attr("logging") = logging;
    m.attr("deque") = deque;
    m.attr("get_time") = get_time;
    m.attr("log") = log;

    g_get_time = Py_NewRef(get_time.ptr());
    g_deque = Py_NewRef(deque.ptr());
    nb::object deque_append = deque.attr("append");
    if (PyObject_TypeCheck(deque_append.ptr(), &PyMethodDescr_Type)) {
        PyMethodDef *def = reinterpret_cast<PyMethodDescrObject *>(deque_append.ptr())->d_method;
        if ((def->ml_flags & ~METH_COEXIST) == METH_O) g_deque_append = def->ml_meth;
    }
    g_logger_isEnabledFor = Py_NewRef(logging.attr("Logger").attr("isEnabledFor").ptr());

    EntryType = (PyTypeObject *)check(PyType_FromModuleAndSpec(m.ptr(), &Entry_spec, nullptr));
    HistoryType = (PyTypeObject *)check(PyType_FromModuleAndSpec(m.ptr(), &History_spec, nullptr));
    if (PyObject_SetAttrString((PyObject *)HistoryType, "__MAX_HISTORY__", s_default_max) < 0)
        throw nb::python_error();
    m.attr("Entry") = nb::borrow((PyObject *)EntryType);
    m.attr("History") = nb::borrow((PyObject *)HistoryType);
}
