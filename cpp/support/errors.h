// Errors at the boundary between C++ and Python (modules only: it speaks
// nanobind's exception types).
//
// The convention everywhere: a function that can fail returns null (or
// false, or -1) with the Python error set; no C++ exception is thrown on an
// expected path. Code written with the nanobind API or with C++ containers
// can still throw (nb::python_error for a Python error already raised,
// std::bad_alloc when memory runs out): such code runs inside guarded(), or
// its entry point catches and calls set_error_from_exception(), so that no
// exception crosses a C frame and each one maps to the same Python error.
// (The core, which has no nanobind, catches std::bad_alloc itself.)
#pragma once
#include <Python.h>

#include <new>
#include <typeinfo>
#include <nanobind/nanobind.h>

namespace oskra {

// Sets the Python error the exception being handled stands for: a
// nb::python_error is restored as it was raised, std::bad_alloc becomes
// MemoryError, nanobind's builtin exceptions their Python type, a bad cast
// TypeError and anything else RuntimeError. Call it only inside a catch block.
inline void set_error_from_exception() noexcept {
    namespace nb = nanobind;
    try {
        throw;
    } catch (nb::python_error &e) { e.restore(); } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (const nb::builtin_exception &e) {
        PyObject *type = PyExc_RuntimeError;
        switch (e.type()) {
        case nb::exception_type::stop_iteration: type = PyExc_StopIteration; break;
        case nb::exception_type::index_error: type = PyExc_IndexError; break;
        case nb::exception_type::key_error: type = PyExc_KeyError; break;
        case nb::exception_type::value_error: type = PyExc_ValueError; break;
        case nb::exception_type::type_error: type = PyExc_TypeError; break;
        case nb::exception_type::buffer_error: type = PyExc_BufferError; break;
        case nb::exception_type::import_error: type = PyExc_ImportError; break;
        case nb::exception_type::attribute_error: type = PyExc_AttributeError; break;
        default: break;
        }
        PyErr_SetString(type, e.what());
    } catch (const std::bad_cast &e) {
        PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const std::exception &e) { PyErr_SetString(PyExc_RuntimeError, e.what()); } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception");
    }
}

// Gives the exception being raised `context` (stolen) as its __context__,
// as Python does for an error raised while another is handled (the exit of
// a `with` block): the chain is left alone where `context` is already in it.
inline void chain_context(PyObject *context) noexcept {
    PyObject *current = PyErr_GetRaisedException();
    bool linked = false;
    int steps = 0;
    for (PyObject *e = current; e && !linked && steps++ < 1000;) {  // a bound: chains can loop
        linked = e == context;
        PyObject *next = PyException_GetContext(e);  // new reference or null
        Py_XDECREF(next);  // the chain keeps it alive
        e = next;
    }
    if (linked) Py_DECREF(context);
    else PyException_SetContext(current, context);
    PyErr_SetRaisedException(current);
}

// Runs `f` (returning an nb::object or a Ref) and hands its result out as a
// new reference, or null with the error the exception stands for.
template <typename F>
PyObject *guarded(F &&f) noexcept {
    try {
        auto result = f();
        return result.release().ptr();
    } catch (...) {
        set_error_from_exception();
        return nullptr;
    }
}

// For raw code that returns PyObject* and may only throw from allocation
// (C++ containers, new): runs `f`, a failed allocation becoming MemoryError.
template <typename F>
PyObject *no_throw(F &&f) noexcept {
    try {
        return f();
    } catch (...) {
        set_error_from_exception();
        return nullptr;
    }
}

}  // namespace oskra
