// Small owning reference to a Python object, for code that sets the Python
// error and returns null instead of throwing.
#pragma once
#include <Python.h>
#include <utility>

namespace oskra {

class Ref {
public:
    Ref() noexcept = default;
    // Takes ownership of a new reference (which may be null).
    static Ref steal(PyObject *o) noexcept {
        Ref r;
        r.p_ = o;
        return r;
    }
    // Adds a reference.
    static Ref borrow(PyObject *o) noexcept {
        Py_XINCREF(o);
        return steal(o);
    }

    Ref(const Ref &o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref &&o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref &operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject *get() const noexcept { return p_; }
    PyObject *release() noexcept {
        PyObject *o = p_;
        p_ = nullptr;
        return o;
    }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    PyObject *p_ = nullptr;
};

}  // namespace oskra
