// Variable readers and writers of the Interpreter: values go through
// self.vars and come back through the casts.
#include "interp_private.h"
#include "support/compat.h"

namespace oskra::interp {
namespace {

// self.vars
PyObject *vars_of(PyObject *self) { return own_attr(self, names.vars); }

PyObject *read_var(PyObject *self, PyObject *name) {
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

PyObject *write_var(PyObject *self, PyObject *name, PyObject *value) {
    if (check_encodable(value) < 0) return nullptr;
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
