// The parameters of a raw METH_FASTCALL function, written once: the same
// table binds the arguments (with the messages of a Python function of the
// same signature) and gives the function its text signature, which
// inspect.signature reads.
//
//   const Params filter_params{"History.filter", SelfArg::separate,
//                              {{"marker", "None"}, {"count", "None"}, {"regex", "None"}}};
//   PyObject *a[3];
//   if (!filter_params.bind(args, nargs, kwnames, a)) return nullptr;
#pragma once
#include <Python.h>

#include <string>

#include "support/pyref.h"

namespace oskra {

struct Param {
    const char *name = nullptr;
    const char *default_text = nullptr;  // as the signature shows it ("None"); null: required
};

// How self reaches the function.
enum class SelfArg {
    none,  // a function or a static method: there is no self
    separate,  // the C function's first parameter (a method of a native type)
    first,  // args[0] (a built-in function bound as a method): not bound, checked only
};

struct Params {
    static constexpr int MAX = 8;

    const char *fname;  // as messages name the function ("History.filter")
    SelfArg self;
    Param params[MAX];  // required ones first; the list ends at the first null name
    const char *star = nullptr;  // "args" when the function takes *args
    const char *starstar = nullptr;  // "kwargs" when it takes **kwargs
    bool positional_only = false;  // a "/" after the parameters: no keywords

    int count() const;
    int required() const;

    // Binds the call's arguments (nargs may carry PY_VECTORCALL_ARGUMENTS_OFFSET)
    // to the parameters: out[i] is a borrowed reference, or null for an
    // optional one not given; for SelfArg::first, args[0] is self and out
    // starts at the next. The extras go to `extra_args` (a new tuple) and
    // `extra_kwargs` (a new dict, or null when none came), which the caller
    // passes exactly when the function takes *args / **kwargs. False with
    // TypeError set on a mismatch.
    bool bind(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out,
              Ref *extra_args = nullptr, Ref *extra_kwargs = nullptr) const;

    // The same for a function without *args/**kwargs, where out[] holds the
    // defaults on entry: a parameter not given keeps its preset value.
    bool bind_over_defaults(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) const;

    // "($self, /, a, b=None, *args, **kwargs)"
    std::string text_signature() const;

    // The doc string of a built-in function with this signature:
    // "name($self, ...)\n--\n\n" + doc, kept as long as the process.
    const char *doc_with_signature(const char *name, const char *doc) const;
};

// A METH_FASTCALL function (with or without keywords) in the PyCFunction
// slot of a PyMethodDef, which the flags then describe.
template <typename F>
PyCFunction c_function(F *f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}

// The PyMethodDef of a METH_FASTCALL | METH_KEYWORDS function, its doc led
// by the text signature of `params` (a table without self makes it static).
template <typename F>
PyMethodDef fast_kw_def(const char *name, F *f, const Params &params, const char *doc) {
    int flags = METH_FASTCALL | METH_KEYWORDS | (params.self == SelfArg::none ? METH_STATIC : 0);
    return {name, c_function(f), flags, params.doc_with_signature(name, doc)};
}

}  // namespace oskra
