// TclCommand: a native type with its fields in C slots, callable through
// vectorcall, and a descriptor so that it binds as a method. Its command
// line is built in command_line.cpp, its questions to Tcl about the command
// are asked in command_inspect.cpp.
#include "support/errors.h"
#include "command.h"

#include "core/callback_errors.h"
#include "core/convert.h"
#include "support/compat.h"
#include "support/tclapp.h"
#include "parts.h"

namespace oskra::ns {
using namespace cmd;

namespace {

PyTypeObject *cmd_type = nullptr;
PyObject *own_call = nullptr;  // TclCommand.__dict__["call"] (borrowed)
PyObject *own_build = nullptr;  // TclCommand.__dict__["build_tclcmd"] (borrowed)

// --- life cycle -------------------------------------------------------------

int cmd_traverse(PyObject *self, visitproc visit, void *arg) {
    CmdObject *c = C(self);
    Py_VISIT(Py_TYPE(self));
    return vc::visit_fields({c->tcl, c->cmd_name, c->args, c->keywords, c->cast, c->logger, c->dict}, visit,
                            arg);
}

int cmd_clear(PyObject *self) {
    CmdObject *c = C(self);
    vc::clear_fields({&c->tcl, &c->cmd_name, &c->args, &c->keywords, &c->cast, &c->logger, &c->dict});
    return 0;
}

void cmd_dealloc(PyObject *self) { vc::dealloc_gc(self, cmd_clear, C(self)->weakreflist); }

PyObject *cmd_vectorcall(PyObject *self, PyObject *const *args, size_t nargsf, PyObject *kwnames);

PyObject *cmd_new(PyTypeObject *type, PyObject *, PyObject *) {
    PyObject *self = type->tp_alloc(type, 0);
    if (self) C(self)->vectorcall = cmd_vectorcall;
    return self;
}

// cmd.build_tclcmd(*args) through the attribute, so an override applies.
PyObject *other_words(PyObject *cmd, PyObject *args) {
    Ref method = Ref::steal(PyObject_GetAttr(cmd, names.build_tclcmd));
    if (!method) return nullptr;
    return args ? PyObject_Call(method.get(), args, nullptr) : PyObject_CallNoArgs(method.get());
}

int cmd_init(PyObject *self, PyObject *a, PyObject *kw) {
    static const char *kwlist[] = {"cmd", "args", "keywords", "tcl", "cast", "logger", nullptr};
    PyObject *cmd, *args = Py_None, *keywords = Py_None, *tcl = Py_None, *cast = Py_None, *logger = Py_None;
    if (!PyArg_ParseTupleAndKeywords(a, kw, "O|OOOOO:TclCommand", const_cast<char **>(kwlist), &cmd, &args,
                                     &keywords, &tcl, &cast, &logger))
        return -1;
    int t = vc::truthy(tcl);
    if (t < 0) return -1;
    PyObject *ref = interp_ref_raw(t ? tcl : Py_None);
    if (!ref) return -1;
    Py_XSETREF(C(self)->tcl, ref);

    Ref words, first, rest;
    if (args == Py_None) {
        // The whole command line comes from cmd.
        if (PyObject_TypeCheck(cmd, cmd_type)) words = Ref::steal(other_words(cmd, nullptr));
        else if (!PyTuple_CheckExact(cmd)) words = Ref::steal(vc::cast_list(cmd));
        else words = Ref::borrow(cmd);
        if (!words) return -1;
        rest = Ref::steal(PySequence_GetSlice(words.get(), 1, PY_SSIZE_T_MAX));
        if (!rest) return -1;
        first = Ref::steal(PySequence_GetItem(words.get(), 0));
        if (!first) return -1;
    } else {
        rest = Ref::steal(vc::cast_list(args));
        if (!rest) return -1;
        if (PyObject_TypeCheck(cmd, cmd_type)) {
            if (!PyTuple_Check(rest.get())) {
                rest = Ref::steal(PySequence_Tuple(rest.get()));
                if (!rest) return -1;
            }
            words = Ref::steal(other_words(cmd, rest.get()));
            if (!words) return -1;
            rest = Ref::steal(PySequence_GetSlice(words.get(), 1, PY_SSIZE_T_MAX));
            if (!rest) return -1;
            first = Ref::steal(PySequence_GetItem(words.get(), 0));
            if (!first) return -1;
        } else {
            first = Ref::borrow(cmd);
        }
    }
    PyObject *name = wordform(first.get());
    if (!name) return -1;
    Py_XSETREF(C(self)->cmd_name, name);
    PyObject *fixed = tclobj(rest.get());
    if (!fixed) return -1;
    Py_XSETREF(C(self)->args, fixed);

    PyObject *options = PyDict_New();
    if (!options) return -1;
    Py_XSETREF(C(self)->keywords, options);
    // Each option lands in the dict self.keywords holds once its value is
    // converted (the conversion may have assigned the attribute again).
    int k = vc::truthy(keywords);
    if (k < 0) return -1;
    if (k) {
        Ref items = Ref::steal(PyObject_CallMethod(keywords, "items", nullptr));
        if (!items) return -1;
        Ref it = Ref::steal(PyObject_GetIter(items.get()));
        if (!it) return -1;
        while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
            Ref pair = Ref::steal(PySequence_Tuple(item.get()));
            if (!pair) return -1;
            if (PyTuple_GET_SIZE(pair.get()) != 2) {
                PyErr_Format(PyExc_ValueError, "expected 2 values to unpack (got %zd)",
                             PyTuple_GET_SIZE(pair.get()));
                return -1;
            }
            Ref value = Ref::steal(tclobj(PyTuple_GET_ITEM(pair.get(), 1)));
            if (!value) return -1;
            Ref own = FIELD(self, keywords);
            if (!own || PyObject_SetItem(own.get(), PyTuple_GET_ITEM(pair.get(), 0), value.get()) < 0)
                return -1;
        }
        if (PyErr_Occurred()) return -1;
    }
    Py_XSETREF(C(self)->cast, Py_NewRef(cast));
    Py_XSETREF(C(self)->logger, Py_NewRef(logger));
    return 0;
}

// self.<name>(*args, **kwargs): `body` itself when neither a subclass nor
// the instance overrides the method (`own`, TclCommand's), else the override.
PyObject *own_or_override(PyObject *self, PyObject *name, PyObject *own, FastKw body, PyObject *const *args,
                          Py_ssize_t nargs, PyObject *kwnames) {
    if (vc::not_overridden(self, name, own, C(self)->dict)) return body(self, args, nargs, kwnames);
    Ref method = Ref::steal(PyObject_GetAttr(self, name));
    if (!method) return nullptr;
    return PyObject_Vectorcall(method.get(), args, nargs, kwnames);
}

// self.build_tclcmd(*args, **kwargs), honouring an override.
PyObject *build(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return own_or_override(self, names.build_tclcmd, own_build, build_impl, args, nargs, kwnames);
}

PyObject *cmd_build_tclcmd(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return build_impl(self, args, nargs, kwnames);
}

// result = cast(result) when the command's cast is truthy; steals result.
PyObject *apply_cast(PyObject *self, PyObject *result) {
    Ref r = Ref::steal(result);
    if (!r) return nullptr;
    Ref cast = FIELD(self, cast);
    if (!cast) return nullptr;
    int t = vc::truthy(cast.get());
    if (t < 0) return nullptr;
    return t ? PyObject_CallOneArg(cast.get(), r.get()) : r.release();
}

PyObject *call_impl(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref words = Ref::steal(build(self, args, nargs, kwnames));
    if (!words) return nullptr;
    Ref logger = FIELD(self, logger);
    if (!logger) return nullptr;
    int t = vc::truthy(logger.get());
    if (t < 0) return nullptr;
    if (t) {
        Ref text = Ref::steal(wordform(words.get()));
        if (!text) return nullptr;
        Ref msg = Ref::steal(PyUnicode_FromFormat("Calling: %S", text.get()));
        if (!msg) return nullptr;
        Ref r = Ref::steal(PyObject_CallMethod(logger.get(), "info", "O", msg.get()));
        if (!r) return nullptr;
    }
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    return apply_cast(self, vc::tk_call_words(tcl.get(), words.get()));
}

PyObject *cmd_call(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    return call_impl(self, args, nargs, kwnames);
}

// __call__ is self.call(*args, **kwargs), looked up on the instance.
PyObject *cmd_vectorcall(PyObject *self, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    return own_or_override(self, names.call, own_call, call_impl, args, PyVectorcall_NARGS(nargsf), kwnames);
}

PyObject *cmd_eval(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref words = Ref::steal(build(self, args, nargs, kwnames));
    if (!words) return nullptr;
    Ref tcl = FIELD(self, tcl);
    if (!tcl) return nullptr;
    Ref tk = Ref::steal(vc::tk_of(tcl.get()));
    if (!tk) return nullptr;
    Ref script = Ref::steal(words_script(words.get()));
    if (!script) return nullptr;
    return apply_cast(
            self, run_tcl_call(tk.get(), [&] { return call_method1(tk.get(), names.eval, script.get()); }));
}

// --- names and text forms ---------------------------------------------------

PyObject *cmd_absolute(PyObject *self, PyObject *) {
    Ref name = FIELD(self, cmd_name);
    if (!name) return nullptr;
    Ref tcl = FIELD(self, tcl);
    return tcl ? vc::absolute_name(tcl.get(), name.get()) : nullptr;
}

PyObject *cmd_make_absolute(PyObject *self, PyObject *) {
    PyObject *name = cmd_absolute(self, nullptr);
    if (!name) return nullptr;
    Py_XSETREF(C(self)->cmd_name, name);
    Py_RETURN_NONE;
}

// Appends ", <label>=" + repr(value) when value is truthy.
int repr_part(PyObject *parts, const char *label, const Ref &value) {
    if (!value) return 0;
    int t = PyObject_IsTrue(value.get());
    if (t <= 0) return t;
    Ref part = Ref::steal(PyUnicode_FromFormat(", %s=%R", label, value.get()));
    return part ? PyList_Append(parts, part.get()) : -1;
}

PyObject *cmd_repr(PyObject *self) {
    Ref name = FIELD(self, cmd_name);
    if (!name) return nullptr;
    Ref cls = Ref::steal(PyType_GetName(Py_TYPE(self)));
    if (!cls) return nullptr;
    Ref parts = Ref::steal(PyList_New(0));
    if (!parts) return nullptr;
    Ref head = Ref::steal(PyUnicode_FromFormat("%U(%R", cls.get(), name.get()));
    if (!head || PyList_Append(parts.get(), head.get()) < 0) return nullptr;
    if (repr_part(parts.get(), "args", FIELD(self, args)) < 0) return nullptr;
    if (repr_part(parts.get(), "keywords", FIELD(self, keywords)) < 0) return nullptr;
    if (repr_part(parts.get(), "cast", FIELD(self, cast)) < 0) return nullptr;
    if (PyErr_Occurred()) return nullptr;
    Ref close = Ref::steal(PyUnicode_FromString(")"));
    if (!close || PyList_Append(parts.get(), close.get()) < 0) return nullptr;
    return PyUnicode_Join(names.empty, parts.get());
}

PyObject *cmd_str(PyObject *self) {
    Ref words = Ref::steal(build(self, nullptr, 0, nullptr));
    return words ? wordform(words.get()) : nullptr;
}

PyObject *cmd_tclobj(PyObject *self, PyObject *) { return build(self, nullptr, 0, nullptr); }

PyObject *cmd_descr_get(PyObject *self, PyObject *instance, PyObject *) {
    if (!instance || instance == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, instance);
}

// Their words are the call's own: the tables only give the signatures.
const Params build_tclcmd_params{"build_tclcmd", SelfArg::separate, {}, "args", "kwargs"};
const Params kwargs_to_dashed_args_params{"kwargs_to_dashed_args", SelfArg::none, {}, nullptr, "kwargs"};
const Params call_params{"call", SelfArg::separate, {}, "args", "kwargs"};
const Params eval_params{"eval", SelfArg::separate, {}, "args", "kwargs"};

PyMethodDef cmd_methods[] = {
        {"createcommand", cmd_createcommand, METH_O,
         "createcommand($self, func, /)\n--\n\nRegister the Python callable func as this Tcl command."},
        {"exists", cmd_exists, METH_NOARGS,
         "exists($self, /)\n--\n\nWhether a command matches the name (glob characters act as a pattern)."},
        {"is_command", cmd_is_command, METH_NOARGS,
         "is_command($self, /)\n--\n\nWhether the command exists and is not a procedure."},
        {"is_proc", cmd_is_proc, METH_NOARGS,
         "is_proc($self, /)\n--\n\nWhether the command is a Tcl procedure."},
        {"rename", cmd_rename, METH_O,
         "rename($self, new_name, /)\n--\n\nRename the command in Tcl and here."},
        {"delete", cmd_delete, METH_NOARGS, "delete($self, /)\n--\n\nDelete the command from Tcl."},
        {"origin", cmd_origin, METH_NOARGS,
         "origin($self, /)\n--\n\nThe command's origin (namespace origin)."},
        {"proc_body", cmd_proc_body, METH_NOARGS, "proc_body($self, /)\n--\n\nThe procedure's body."},
        {"proc_args", cmd_proc_args, METH_NOARGS,
         "proc_args($self, /)\n--\n\nThe procedure's argument names."},
        {"proc_arg_default", cmd_proc_arg_default, METH_O,
         "proc_arg_default($self, arg_name, /)\n--\n\nThe default of a procedure argument, or None."},
        fast_kw_def("build_tclcmd", cmd_build_tclcmd, build_tclcmd_params,
                    "The word tuple of a call with these arguments."),
        fast_kw_def("kwargs_to_dashed_args", kwargs_to_dashed_args, kwargs_to_dashed_args_params,
                    "The pairs (\"-\" + key, value) in order, values untouched."),
        fast_kw_def("call", cmd_call, call_params,
                    "Run the command; keyword arguments become dashed options."),
        fast_kw_def("eval", cmd_eval, eval_params, "Run the command line as a Tcl script (words as text)."),
        {"absolute", cmd_absolute, METH_NOARGS,
         "absolute($self, /)\n--\n\nThe name made absolute against the current namespace."},
        {"make_absolute", cmd_make_absolute, METH_NOARGS,
         "make_absolute($self, /)\n--\n\nMake cmd_name absolute."},
        {"__tclobj__", cmd_tclobj, METH_NOARGS,
         "__tclobj__($self, /)\n--\n\nThe whole command line as a word tuple."},
        {nullptr, nullptr, 0, nullptr},
};

PyMemberDef cmd_members[] = {
        {"tcl", T_OBJECT_EX, offsetof(CmdObject, tcl), 0, "The interpreter (a weak proxy)."},
        {"cmd_name", T_OBJECT_EX, offsetof(CmdObject, cmd_name), 0, "The command word."},
        {"args", T_OBJECT_EX, offsetof(CmdObject, args), 0, "Fixed positional arguments (a tuple)."},
        {"keywords", T_OBJECT_EX, offsetof(CmdObject, keywords), 0, "Fixed keyword options (a dict)."},
        {"cast", T_OBJECT_EX, offsetof(CmdObject, cast), 0, "Applied to results when truthy."},
        {"logger", T_OBJECT_EX, offsetof(CmdObject, logger), 0, "When truthy, call logs each command line."},
        {"__vectorcalloffset__", T_PYSSIZET, offsetof(CmdObject, vectorcall), READONLY, nullptr},
        {"__dictoffset__", T_PYSSIZET, offsetof(CmdObject, dict), READONLY, nullptr},
        {"__weaklistoffset__", T_PYSSIZET, offsetof(CmdObject, weakreflist), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef cmd_getset[] = {
        {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot cmd_slots[] = {
        {Py_tp_doc,
         (void *)"TclCommand(cmd, args=None, keywords=None, tcl=None, cast=None, logger=None)\n--\n\n"
                 "A Tcl command of one interpreter, with fixed arguments and keyword options."},
        {Py_tp_new, (void *)cmd_new},
        {Py_tp_init, (void *)cmd_init},
        {Py_tp_dealloc, (void *)cmd_dealloc},
        {Py_tp_traverse, (void *)cmd_traverse},
        {Py_tp_clear, (void *)cmd_clear},
        {Py_tp_call, (void *)PyVectorcall_Call},
        {Py_tp_descr_get, (void *)cmd_descr_get},
        {Py_tp_methods, cmd_methods},
        {Py_tp_members, cmd_members},
        {Py_tp_getset, cmd_getset},
        {Py_tp_repr, (void *)cmd_repr},
        {Py_tp_str, (void *)cmd_str},
        {0, nullptr},
};

PyType_Spec cmd_spec = {
        "oskra.tcl.namespace.TclCommand",
        sizeof(CmdObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL,
        cmd_slots,
};

}  // namespace

nb::object make_TclCommand() {
    PyObject *tp = PyType_FromSpec(&cmd_spec);
    if (!tp) throw nb::python_error();
    cmd_type = reinterpret_cast<PyTypeObject *>(tp);
    Py_INCREF(tp);  // cmd_type lives as long as the process
    nb::object cls = nb::steal(tp);
    own_call = PyDict_GetItemString(cmd_type->tp_dict, "call");
    own_build = PyDict_GetItemString(cmd_type->tp_dict, "build_tclcmd");
    static const char *const order[] = {"__init__",
                                        "createcommand",
                                        "exists",
                                        "is_command",
                                        "is_proc",
                                        "rename",
                                        "delete",
                                        "origin",
                                        "proc_body",
                                        "proc_args",
                                        "proc_arg_default",
                                        "build_tclcmd",
                                        "kwargs_to_dashed_args",
                                        "call",
                                        "__call__",
                                        "eval",
                                        "absolute",
                                        "make_absolute",
                                        "__repr__",
                                        "__str__",
                                        "__tclobj__",
                                        "__get__",
                                        nullptr};
    // The vectorcall offset is layout, not an attribute.
    if (PyDict_DelItemString(cmd_type->tp_dict, "__vectorcalloffset__") < 0) PyErr_Clear();
    if (vc::order_type_dict(cmd_type, order) < 0) throw nb::python_error();
    return cls;
}

}  // namespace oskra::ns
