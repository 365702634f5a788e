// Tcl list splitting over str code points: the entry points over the
// scanner in list_scanner.h, and the errors of a malformed list.
#include "core/listsplit.h"

#include <vector>

#include "core/list_scanner.h"
#include "support/tclapp.h"

namespace oskra {

namespace {

// f(splitter) with the splitter for str[start:end) of the str's kind.
template <typename F>
auto with_splitter(PyObject *str, Py_ssize_t start, Py_ssize_t end, F &&f) {
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: {
        Splitter<Py_UCS1> sp(str, PyUnicode_1BYTE_DATA(str), start, end);
        return f(sp);
    }
    case PyUnicode_2BYTE_KIND: {
        Splitter<Py_UCS2> sp(str, PyUnicode_2BYTE_DATA(str), start, end);
        return f(sp);
    }
    default: {
        Splitter<Py_UCS4> sp(str, PyUnicode_4BYTE_DATA(str), start, end);
        return f(sp);
    }
    }
}

PyObject *split_str(PyObject *str) { return split_range(str, 0, PyUnicode_GET_LENGTH(str)); }

}  // namespace

PyObject *split_range(PyObject *str, Py_ssize_t start, Py_ssize_t end) {
    if (start >= end) return PyTuple_New(0);
    return with_splitter(str, start, end, [&](auto &sp) { return sp.run(); });
}

bool split_spans(PyObject *str, Py_ssize_t start, Py_ssize_t end, std::vector<ListSpan> &out) {
    if (start >= end) return true;
    return with_splitter(str, start, end, [&](auto &sp) { return sp.spans(out); });
}

int next_span(PyObject *str, Py_ssize_t *pos, Py_ssize_t end, ListSpan *span) {
    if (*pos >= end) return 0;
    return with_splitter(str, *pos, end, [&](auto &sp) { return sp.next(pos, span); });
}

Py_ssize_t count_spans(PyObject *str, Py_ssize_t start, Py_ssize_t end, ListSpan *first, Py_ssize_t keep) {
    if (start >= end) return 0;
    return with_splitter(str, start, end, [&](auto &sp) { return sp.count(first, keep); });
}

PyObject *span_element(PyObject *str, const ListSpan &span) {
    if (span.literal) return PyUnicode_Substring(str, span.start, span.end);  // no scanner needed
    return with_splitter(str, span.start, span.end, [&](auto &sp) { return sp.element(span); });
}

PyObject *list_error_as_value_error(bool quiet) {
    PyObject *tcl_error = tcl_error_type();
    if (!tcl_error || !PyErr_ExceptionMatches(tcl_error)) return nullptr;
    if (quiet) {
        PyErr_Clear();
    } else {
        reraise_as_value_error();
    }
    return nullptr;
}

void reraise_as_value_error() {
    PyObject *exc = PyErr_GetRaisedException();
    PyObject *ve = PyObject_CallOneArg(PyExc_ValueError, exc);
    if (!ve) {
        // The new error happened while handling exc: it becomes its context.
        PyObject *err = PyErr_GetRaisedException();
        PyException_SetContext(err, exc);  // steals exc
        PyErr_SetRaisedException(err);
        return;
    }
    PyException_SetCause(ve, Py_NewRef(exc));
    PyException_SetContext(ve, exc);
    PyErr_SetRaisedException(ve);
}

PyObject *split_list(PyObject *value) {
    if (PyUnicode_Check(value)) return split_str(value);
    if (PyTuple_CheckExact(value)) {
        Py_INCREF(value);
        return value;
    }
    PyObject *tcl_obj = tcl_obj_type();
    if (!tcl_obj) return nullptr;
    if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject *>(tcl_obj))) {
        PyObject *s = PyObject_Str(value);
        if (!s) return nullptr;
        PyObject *r = split_str(s);
        Py_DECREF(s);
        return r;
    }
    if (PySequence_Check(value)) return PySequence_Tuple(value);
    PyErr_Format(PyExc_TypeError, "expected a str, Tcl_Obj or sequence, not %.200s", Py_TYPE(value)->tp_name);
    return nullptr;
}

}  // namespace oskra
