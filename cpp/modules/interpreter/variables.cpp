// Variable readers and writers of the Interpreter: values go through
// self.vars and come back through the casts. The interpreter's own view,
// untouched, is short-cut: its read or write of a variable by name is one
// call of the Tcl layer, made here directly.
#include "core/callback_errors.h"
#include "core/convert.h"
#include "core/tclsafe.h"
#include "interp_private.h"
#include "support/compat.h"
#include "support/tclapp.h"
#include "support/var_text.h"

namespace oskra::interp {
namespace {

// obj.<attr> by the generic lookup, when obj's type is exactly `type`.
Ref plain_attr(PyObject *obj, PyObject *attr, PyObject *type) {
    if ((PyObject *)Py_TYPE(obj) != type) return Ref();
    return Ref::steal(PyObject_GenericGetAttr(obj, attr));
}

// self.tk when self.vars is the interpreter's own view of its local
// variables as __init__ made it (a VariablesView of the namespace '' of
// self) and the view would use `name` as it is: reading or writing the
// variable is then the one Tcl-layer call the view would make. Null, with
// no error set, when the view must do the job.
PyObject *own_view_tk(PyObject *self, PyObject *name) {
    if (!exact_interp(self) || !joins_as_itself_locally(name)) return nullptr;
    Ref vars = Ref::steal(PyObject_GenericGetAttr(self, names.vars));
    Ref ns = vars ? plain_attr(vars.get(), names.ns, g.VariablesView) : Ref();
    Ref path = ns ? plain_attr(ns.get(), names.ns, g.TclNamespace) : Ref();
    Ref tcl = path ? Ref::steal(PyObject_GenericGetAttr(ns.get(), names.tcl)) : Ref();
    if (!tcl || !PyUnicode_CheckExact(path.get()) || PyUnicode_GET_LENGTH(path.get()) != 0) {
        PyErr_Clear();
        return nullptr;
    }
    if (PyWeakref_CheckProxy(tcl.get())) {
        PyObject *target = nullptr;
        if (weakref_target(tcl.get(), &target) < 0) PyErr_Clear();
        tcl = Ref::steal(target);
    }
    if (tcl.get() != self) return nullptr;
    PyObject *tk = PyObject_GenericGetAttr(self, names.tk);
    if (!tk) PyErr_Clear();
    return tk;
}

// Replaces the exception being raised by KeyError(exc), raised from exc,
// as the view's item access does.
PyObject *key_error_from_current() {
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    PyObject *ke = PyObject_CallOneArg(PyExc_KeyError, exc.get());
    if (!ke) return nullptr;
    PyException_SetContext(ke, Py_NewRef(exc.get()));
    PyException_SetCause(ke, exc.release());
    PyErr_SetRaisedException(ke);
    return nullptr;
}

// self.vars
PyObject *vars_of(PyObject *self) { return own_attr(self, names.vars); }

// self.vars[name]
PyObject *read_var(PyObject *self, PyObject *name) {
    Ref tk = Ref::steal(own_view_tk(self, name));
    if (tk) {
        PyObject *r = read_var_or_array_text(tk.get(), name);
        if (r || !(PyErr_ExceptionMatches(g.TclError) || PyErr_ExceptionMatches(PyExc_ValueError))) return r;
        return key_error_from_current();
    }
    PyObject *vars = vars_of(self);
    if (!vars) return nullptr;
    PyObject *r = PyObject_GetItem(vars, name);
    Py_DECREF(vars);
    return r;
}

// tkinter refuses a str with lone surrogates with UnicodeEncodeError, but
// crashes on one nested in a tuple: nested values are checked first and
// refused with the error of the flat case.
int check_encodable(PyObject *value) {
    if (PyUnicode_Check(value)) return PyUnicode_AsUTF8AndSize(value, nullptr) ? 0 : -1;
    if (!PyTuple_Check(value) && !PyList_Check(value)) return 0;
    if (!enter_recursion(" while checking a Tcl value")) return -1;
    int rc = 0;
    for (Py_ssize_t i = 0; rc == 0 && i < PySequence_Fast_GET_SIZE(value); ++i) {
        PyObject *item = Py_NewRef(PySequence_Fast_GET_ITEM(value, i));
        rc = check_encodable(item);
        Py_DECREF(item);
    }
    leave_recursion();
    return rc;
}

// self.vars[name] = value
PyObject *write_var(PyObject *self, PyObject *name, PyObject *value) {
    if (check_encodable(value) < 0) return nullptr;
    Ref tk = Ref::steal(own_view_tk(self, name));
    if (tk) {
        Ref v = Ref::steal(tclobj(value));
        if (v) v = Ref::steal(tcl_safe_value(v.get()));
        if (!v) return nullptr;
        PyObject *stack[3] = {tk.get(), name, v.get()};
        Ref r = Ref::steal(run_tcl_call(tk.get(), [&] { return tk_method(TkMethod::setvar, stack, 3); }));
        if (!r) return nullptr;
        Py_RETURN_NONE;
    }
    PyObject *vars = vars_of(self);
    if (!vars) return nullptr;
    int rc = PyObject_SetItem(vars, name, value);
    Py_DECREF(vars);
    if (rc < 0) return nullptr;
    Py_RETURN_NONE;
}

// Applies a cast to `value` (stolen): C++ for the class itself, the method
// for a subclass, so that an override applies.
using CastFn = PyObject *(*)(PyObject *, PyObject *);
PyObject *apply(PyObject *self, CastFn fn, PyObject *method, PyObject *value) {
    Ref v = Ref::steal(value);
    if (!v) return nullptr;
    return exact_interp(self) ? fn(self, v.get()) : call_method1(self, method, v.get());
}

// The static list casts, without an item cast.
PyObject *list_of(PyObject *, PyObject *value) { return cast_list(value, nullptr); }
PyObject *keyed_list_of(PyObject *, PyObject *value) { return cast_keyed_list(value, nullptr); }

const Params m_get_array_params{"Interpreter.get_array", SelfArg::separate, {{"name"}}};
METHOD(m_get_array) {
    BIND(m_get_array_params);
    PyObject *vars = vars_of(a[0]);
    if (!vars) return nullptr;
    PyObject *r = call_method1(vars, names.array_get, a[1]);
    Py_DECREF(vars);
    return r;
}
const Params m_get_list_params{"Interpreter.get_list", SelfArg::separate, {{"name"}}};
METHOD(m_get_list) {
    BIND(m_get_list_params);
    return apply(a[0], list_of, names.cast_list, read_var(a[0], a[1]));
}
const Params m_get_keyed_list_params{"Interpreter.get_keyed_list", SelfArg::separate, {{"name"}}};
METHOD(m_get_keyed_list) {
    BIND(m_get_keyed_list_params);
    return apply(a[0], keyed_list_of, names.cast_keyed_list, read_var(a[0], a[1]));
}
const Params m_get_int_params{"Interpreter.get_int", SelfArg::separate, {{"name"}}};
METHOD(m_get_int) {
    BIND(m_get_int_params);
    return apply(a[0], cast_int, names.cast_int, read_var(a[0], a[1]));
}
const Params m_get_boolean_params{"Interpreter.get_boolean", SelfArg::separate, {{"name"}}};
METHOD(m_get_boolean) {
    BIND(m_get_boolean_params);
    return apply(a[0], cast_boolean, names.cast_boolean, read_var(a[0], a[1]));
}
const Params m_get_double_params{"Interpreter.get_double", SelfArg::separate, {{"name"}}};
METHOD(m_get_double) {
    BIND(m_get_double_params);
    return apply(a[0], cast_double, names.cast_double, read_var(a[0], a[1]));
}
const Params m_get_var_params{"Interpreter.get_var", SelfArg::separate, {{"name"}}};
METHOD(m_get_var) {
    BIND(m_get_var_params);
    return read_var(a[0], a[1]);
}

const Params m_set_array_params{"Interpreter.set_array", SelfArg::separate, {{"name"}, {"obj"}}};
METHOD(m_set_array) {
    BIND(m_set_array_params);
    PyObject *vars = vars_of(a[0]);
    if (!vars) return nullptr;
    PyObject *r = call_method2(vars, names.array_set, a[1], a[2]);
    Py_DECREF(vars);
    if (!r) return nullptr;
    Py_DECREF(r);
    Py_RETURN_NONE;
}
const Params m_set_keyed_list_params{"Interpreter.set_keyed_list", SelfArg::separate, {{"name"}, {"obj"}}};
METHOD(m_set_keyed_list) {
    BIND(m_set_keyed_list_params);
    PyObject *obj = a[2];
    int is = PyObject_IsInstance(obj, g.NestMap);
    if (is < 0) return nullptr;
    Ref converted = is ? Ref::borrow(obj) : Ref::steal(PyObject_CallOneArg(g.NestMap, obj));
    if (!converted) return nullptr;
    return write_var(a[0], a[1], converted.get());
}
const Params m_set_var_params{"Interpreter.set_var", SelfArg::separate, {{"name"}, {"value"}}};
METHOD(m_set_var) {
    BIND(m_set_var_params);
    return write_var(a[0], a[1], a[2]);
}
const Params m_set_boolean_params{"Interpreter.set_boolean", SelfArg::separate, {{"name"}, {"value"}}};
METHOD(m_set_boolean) {
    BIND(m_set_boolean_params);
    int truth = PyObject_IsTrue(a[2]);
    if (truth < 0) return nullptr;
    return write_var(a[0], a[1], truth ? g.one_int : g.zero_int);
}
const Params m_set_list_params{"Interpreter.set_list", SelfArg::separate, {{"name"}, {"value"}}};
METHOD(m_set_list) {
    BIND(m_set_list_params);
    Ref list = Ref::steal(PyObject_CallOneArg(g.tclobj_from_sequence, a[2]));
    if (!list) return nullptr;
    return write_var(a[0], a[1], list.get());
}

}  // namespace

void add_variable_methods(ClassBuilder &cb) {
    add_function(cb, "get_array", m_get_array, m_get_array_params, "The Tcl array `name` as an Array.");
    add_function(cb, "get_list", m_get_list, m_get_list_params,
                 "The Tcl list in variable `name` as a tuple.");
    add_function(cb, "get_keyed_list", m_get_keyed_list, m_get_keyed_list_params,
                 "The keyed list in variable `name` as a NestMap.");
    add_function(cb, "get_int", m_get_int, m_get_int_params, "The variable `name` as an int.");
    add_function(cb, "get_boolean", m_get_boolean, m_get_boolean_params, "The variable `name` as a bool.");
    add_function(cb, "get_double", m_get_double, m_get_double_params, "The variable `name` as a float.");
    add_function(cb, "get_var", m_get_var, m_get_var_params, "The value of variable `name`.");
    add_function(cb, "set_array", m_set_array, m_set_array_params,
                 "Set the Tcl array `name` from a mapping.");
    add_function(cb, "set_keyed_list", m_set_keyed_list, m_set_keyed_list_params,
                 "Set variable `name` to a keyed list built from `obj`.");
    add_function(cb, "set_var", m_set_var, m_set_var_params, "Set variable `name` to `value`.");
    cb.set("set_int", cb.get("set_var"));
    cb.set("set_double", cb.get("set_var"));
    add_function(cb, "set_boolean", m_set_boolean, m_set_boolean_params,
                 "Set variable `name` to 1 or 0 after the truth of `value`.");
    add_function(cb, "set_list", m_set_list, m_set_list_params,
                 "Set variable `name` to the Tcl list of the iterable `value`.");
}

}  // namespace oskra::interp
