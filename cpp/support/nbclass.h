// Assembling Python classes from nanobind functions (header-only; modules
// only). A class whose bases are pure Python is made by calling
// type(name, bases, ns) with a namespace that is complete before the class
// exists: never attach methods to a class afterwards.
//
//   ClassBuilder cb("oskra.tcl.nestmap", "NestMap", doc);
//   cb.method("update", &update, "other"_a); // self: first C++ parameter, no nb::arg
//   cb.staticmethod("from_tcl", &from_tcl, "string"_a);
//   cb.set("has_key", cb.get("__contains__"));             // alias: same object
//   nb::object cls = cb.build(nb::make_tuple(AttrDict, MutableMapping));
#pragma once
#include <nanobind/nanobind.h>

#include <string>

#include "support/params.h"

namespace oskra {
namespace nb = nanobind;

class ClassBuilder {
public:
    ClassBuilder(const char *module, const char *qualname, const char *doc = nullptr)
        : module_(module), qualname_(qualname) {
        // A scope object gives the nanobind functions __qualname__ and
        // __module__, which inspect.signature and pickling rely on.
        nb::object simple_ns = nb::module_::import_("types").attr("SimpleNamespace");
        scope_ = simple_ns();
        scope_.attr("__qualname__") = qualname;
        scope_.attr("__module__") = module;
        scope_.attr("__name__") = module;
        // nanobind keeps a borrowed pointer to the scope in every function:
        // the scope lives as long as the process, like the class itself.
        scope_.inc_ref();
        ns_["__module__"] = module;
        ns_["__qualname__"] = qualname;
        ns_["__doc__"] = doc ? nb::object(nb::str(doc)) : nb::none();
    }

    // An instance method: the first argument receives self.
    template <typename Func, typename... Extra>
    nb::object method(const char *name, Func &&f, const Extra &...extra) {
        nb::object fn = nb::cpp_function(std::forward<Func>(f), nb::is_method(), nb::name(name),
                                         nb::scope(scope_), extra...);
        ns_[name] = fn;
        return fn;
    }

    template <typename Func, typename... Extra>
    nb::object staticmethod(const char *name, Func &&f, const Extra &...extra) {
        nb::object fn = nb::cpp_function(std::forward<Func>(f), nb::name(name), nb::scope(scope_), extra...);
        nb::object sm = nb::steal(PyStaticMethod_New(fn.ptr()));
        if (!sm.is_valid()) throw nb::python_error();
        ns_[name] = sm;
        return sm;
    }

    // A raw METH_FASTCALL function bound as a method (for hot paths: about
    // half the call overhead of a nanobind method); `params` gives its text
    // signature, which feeds inspect.signature.
    nb::object fast_method(const char *name, _PyCFunctionFast f, const Params &params, const char *doc = "") {
        return instance_method(name, method_def(name, c_function(f), METH_FASTCALL, params, doc));
    }

    // The same for a function that also takes keywords.
    nb::object fast_kw_method(const char *name, _PyCFunctionFastWithKeywords f, const Params &params,
                              const char *doc = "") {
        return instance_method(name,
                               method_def(name, c_function(f), METH_FASTCALL | METH_KEYWORDS, params, doc));
    }

    // A PyMethodDef that lives as long as the process, its doc led by the
    // text signature of `params`.
    static PyMethodDef *method_def(const char *name, PyCFunction meth, int flags, const Params &params,
                                   const char *doc) {
        return new PyMethodDef{name, meth, flags, params.doc_with_signature(name, doc)};
    }

    void set(const char *name, nb::handle value) { ns_[name] = value; }
    nb::object get(const char *name) const { return ns_[name]; }
    nb::dict &ns() { return ns_; }
    nb::handle scope() const { return scope_; }

    // type(name, bases, ns): the metaclass (e.g. ABCMeta) is picked from the bases.
    nb::object build(nb::handle bases) {
        nb::object type = nb::borrow(reinterpret_cast<PyObject *>(&PyType_Type));
        const char *dot = strrchr(qualname_, '.');
        return type(nb::str(dot ? dot + 1 : qualname_), bases, ns_);
    }

private:
    // A built-in function over `def`, bound like a Python function.
    nb::object instance_method(const char *name, PyMethodDef *def) {
        nb::object fn = nb::steal(PyCFunction_NewEx(def, nullptr, nb::str(module_).ptr()));
        if (!fn.is_valid()) throw nb::python_error();
        fn.attr("__qualname__");  // touch: raises early if the function is broken
        nb::object m = nb::steal(PyInstanceMethod_New(fn.ptr()));
        if (!m.is_valid()) throw nb::python_error();
        ns_[name] = m;
        return m;
    }

    const char *module_;
    const char *qualname_;
    nb::object scope_;
    nb::dict ns_;
};

}  // namespace oskra
