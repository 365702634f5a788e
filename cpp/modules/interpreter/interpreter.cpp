// oskra.tcl.interpreter: the Interpreter class (a tkinter.Tk without Tk),
// its construction and start-up, and the shared interpreter. Evaluation is
// in evaluation.cpp.
#include <cstring>
#include <string>
#include <vector>

#include "core/callback_errors.h"
#include "core/tclconv.h"
#include "support/tclapp.h"
#include "interp_private.h"

namespace oskra::interp {

Globals g;

// Methods are method descriptors (Python calls them without building a
// bound method). A descriptor names its class, which does not exist while
// the class namespace is filled: each starts out on the base class and is
// re-made for the class itself once it exists (finish_class).
static std::vector<std::pair<PyObject *, PyMethodDef *>> method_defs;

void add_function(ClassBuilder &cb, const char *name, FastKw fn, const Params &params, const char *doc) {
    PyMethodDef *def =
            ClassBuilder::method_def(name, c_function(fn), METH_FASTCALL | METH_KEYWORDS, params, doc);
    if (params.self == SelfArg::none) {
        // Made for the class (which the function gets as its first C
        // parameter, and which gives it its __qualname__) in finish_class.
        nb::object fn_obj = nb::steal(PyCFunction_NewEx(def, nullptr, nb::str(MODULE_NAME).ptr()));
        if (!fn_obj.is_valid()) throw nb::python_error();
        nb::object sm = nb::steal(PyStaticMethod_New(fn_obj.ptr()));
        if (!sm.is_valid()) throw nb::python_error();
        method_defs.emplace_back(sm.ptr(), def);
        cb.set(name, sm);
        return;
    }
    nb::object base = nb::module_::import_("tkinter").attr("Tk");
    nb::object descr = nb::steal(PyDescr_NewMethod((PyTypeObject *)base.ptr(), def));
    if (!descr.is_valid()) throw nb::python_error();
    method_defs.emplace_back(descr.ptr(), def);
    cb.set(name, descr);
}

// Re-makes every method descriptor for the class itself, keeping the
// namespace order and the aliases (one descriptor under several names).
static void finish_class(nb::handle cls) {
    nb::dict replaced;
    for (auto &[old, def] : method_defs) {
        nb::object fresh;
        if (Py_IS_TYPE(old, &PyStaticMethod_Type)) {
            nb::object fn = nb::steal(PyCFunction_NewEx(def, cls.ptr(), nb::str(MODULE_NAME).ptr()));
            if (!fn.is_valid()) throw nb::python_error();
            fresh = nb::steal(PyStaticMethod_New(fn.ptr()));
        } else {
            fresh = nb::steal(PyDescr_NewMethod((PyTypeObject *)cls.ptr(), def));
        }
        if (!fresh.is_valid()) throw nb::python_error();
        replaced[nb::handle(old)] = fresh;
    }
    nb::object names = nb::module_::import_("builtins").attr("list")(cls.attr("__dict__"));
    nb::object mapping = cls.attr("__dict__");
    for (nb::handle name : names) {
        nb::object value = mapping[name];
        PyObject *fresh = PyDict_GetItemWithError(replaced.ptr(), value.ptr());
        if (fresh && PyObject_SetAttr(cls.ptr(), name.ptr(), fresh) < 0) throw nb::python_error();
        if (!fresh && PyErr_Occurred()) throw nb::python_error();
    }
    method_defs.clear();
}

namespace {

nb::object module_global(const char *name) { return nb::borrow(g.module).attr(name); }

// ---------------------------------------------------------------------------
// Construction and start-up.

const Params interp_init_params{"Interpreter.__init__", SelfArg::separate, {}};

// "package require Tclx"; a TclX that is not installed is named as such,
// with the package that provides it.
void require_tclx(nb::handle tk) {
    PyObject *r = PyObject_CallMethod(tk.ptr(), "eval", "s", "package require Tclx");
    if (r) {
        Py_DECREF(r);
        return;
    }
    if (!PyErr_ExceptionMatches(g.TclError)) throw nb::python_error();
    Ref exc = Ref::steal(PyErr_GetRaisedException());
    Ref text = Ref::steal(PyObject_Str(exc.get()));
    if (!text) throw nb::python_error();
    if (PyUnicode_Find(text.get(), nb::str("can't find package Tclx").ptr(), 0, 24, 1) != 0) {
        PyErr_SetRaisedException(exc.release());
        throw nb::python_error();
    }
    Ref fresh = Ref::steal(PyObject_CallFunction(
            g.TclError, "O",
            nb::str("TclX is not installed: install the Debian package tclx8.4 (apt-get install tclx8.4); "
                    "Tcl says: {}")
                    .format(nb::handle(text.get()))
                    .ptr()));
    if (!fresh) throw nb::python_error();
    PyException_SetCause(fresh.get(), exc.release());
    PyErr_SetRaisedException(fresh.release());
    throw nb::python_error();
}

PyObject *interp_init(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    BIND(interp_init_params);
    return guarded([&]() -> nb::object {
        nb::handle self = a[0];
        nb::object tk_cls = module_global("Tk");
        tk_cls.attr("__init__")(self, nb::arg("useTk") = 0);
        // The casts call Tcl's number parsers directly, through the stub
        // table of this interpreter's Tcl library: bound here, on its thread.
        nb::object tk = self.attr("tk");
        if (tkapp_interp(tk.ptr())) tkapp_on_owner_thread(tk.ptr());
        self.attr("history") = nb::handle(g.History)();
        nb::object quick = nb::handle(g.Quick)(nb::arg("tcl") = self);
        self.attr("Quick") = quick;
        self.attr("quick") = quick;
        self.attr("__callbacks__") = nb::dict();
        self.attr("__commands__") = nb::handle(g.CommandTable)();
        nb::object global_ns = nb::handle(g.TclNamespace)("::", nb::arg("tcl") = self);
        self.attr("global_ns") = global_ns;
        nb::object local_ns = nb::handle(g.TclNamespace)(nb::none(), nb::arg("tcl") = self);
        self.attr("local_ns") = local_ns;
        self.attr("vars") = local_ns.attr("vars");
        self.attr("objs") = local_ns.attr("objs");
        nb::object gvars = global_ns.attr("vars");
        gvars["argc"] = 0;
        gvars["argv"] = nb::tuple();
        gvars["argv0"] = "";
        gvars["tcl_interactive"] = 0;
        drop_callback_errors(tk.ptr());  // left by an interpreter gone from this address
        require_tclx(tk);
        self.attr("_load_entrypoint")();
        // Start-up (TclX's own, the entry points') leaves no error behind.
        tk.attr("eval")("::set ::errorInfo {}; ::set ::errorCode NONE");
        nb::handle(g.interpreters).attr("add")(self);
        return nb::none();
    });
}

const Params interp_load_entrypoint_params{"Interpreter._load_entrypoint", SelfArg::separate, {}};
PyObject *interp_load_entrypoint(PyObject *self_, PyObject *const *args, Py_ssize_t nargs,
                                 PyObject *kwnames) {
    BIND(interp_load_entrypoint_params);
    return guarded([&]() -> nb::object {
        nb::handle self = a[0];
        nb::object eps = module_global("get_entry_points")(module_global("TCL_INIT_ENTRYPOINT"));
        for (nb::handle ep : eps) {
            nb::object name = ep.attr("name");
            nb::object allowed = module_global("TCL_ALLOWED_ENTRYPOINT_KEYS");
            int ok = PySequence_Contains(allowed.ptr(), name.ptr());
            if (ok < 0) throw nb::python_error();
            if (!ok) {
                nb::str msg = nb::str("Unknown Tcl entrypoint: {} from {}")
                                      .format(nb::str(name), nb::str(ep.attr("module")));
                PyErr_SetObject(PyExc_ValueError, msg.ptr());
                throw nb::python_error();
            }
            module_global("logger").attr("debug")("Loading Tcl-Init from %s", ep.attr("module"));
            nb::object tcl_init = ep.attr("load")();
            if (!PyCallable_Check(tcl_init.ptr())) {
                nb::str msg = nb::str("Tcl-Init must be callable, got: {}").format(nb::repr(tcl_init));
                PyErr_SetObject(PyExc_TypeError, msg.ptr());
                throw nb::python_error();
            }
            tcl_init(self);
        }
        return nb::none();
    });
}

const Params interp_getattr_params{"Interpreter.__getattr__", SelfArg::separate, {{"attr"}}};
PyObject *interp_getattr(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    BIND(interp_getattr_params);
    PyObject *self = a[0], *attr = a[1];
    if (!PyUnicode_Check(attr)) {
        PyErr_SetString(PyExc_TypeError, "hasattr(): attribute name must be string");
        return nullptr;
    }
    // `tk` itself is read without coming back here, so a half-built
    // instance answers with AttributeError instead of endless recursion.
    PyObject *tk = PyObject_GenericGetAttr(self, names.tk);
    if (tk) {
        PyObject *r = PyObject_GetAttr(tk, attr);
        Py_DECREF(tk);
        if (r || !PyErr_ExceptionMatches(PyExc_AttributeError)) return r;
    } else if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
        return nullptr;
    }
    PyErr_Clear();
    PyErr_Format(PyExc_AttributeError, "'Interpreter' object has no attribute '%U'", attr);
    return nullptr;
}

// "<Interpreter (shared): 12 of 9999 calls in history (recording), 2
// callbacks>": what the interpreter holds, never its address. Parts that
// cannot be read (an instance whose __init__ never ran) are left out.
const Params interp_repr_params{"Interpreter.__repr__", SelfArg::separate, {}};
PyObject *interp_repr(PyObject *self_, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    BIND(interp_repr_params);
    PyObject *self = a[0];
    return no_throw([&]() -> PyObject * {
        Ref shared = Ref::steal(PyObject_GetAttrString(g.module, "_global_interpreter"));
        PyErr_Clear();
        std::string text = shared.get() == self ? "<Interpreter (shared)" : "<Interpreter";
        if (interpreter_closed(self)) text += " (closed)";
        Ref history = Ref::steal(PyObject_GetAttr(self, names.history));
        Ref record = history ? Ref::steal(PyObject_GetAttrString(history.get(), "__history__")) : Ref();
        Ref maxlen = record ? Ref::steal(PyObject_GetAttrString(record.get(), "maxlen")) : Ref();
        Ref enabled = history ? Ref::steal(PyObject_GetAttrString(history.get(), "enabled")) : Ref();
        Ref callbacks = Ref::steal(PyObject_GetAttr(self, names.dunder_callbacks));
        PyErr_Clear();
        Py_ssize_t calls = record ? PyObject_Length(record.get()) : -1;
        Py_ssize_t commands = callbacks ? PyObject_Length(callbacks.get()) : -1;
        int recording = enabled ? PyObject_IsTrue(enabled.get()) : -1;
        PyErr_Clear();
        std::string parts;
        if (calls >= 0) {
            parts += std::to_string(calls);
            if (maxlen && PyLong_Check(maxlen.get()))
                parts += " of " + std::to_string(PyLong_AsSsize_t(maxlen.get()));
            parts += " calls in history";
            if (recording >= 0) parts += recording ? " (recording)" : " (not recording)";
        }
        if (commands >= 0) {
            if (!parts.empty()) parts += ", ";
            parts += std::to_string(commands) + (commands == 1 ? " callback" : " callbacks");
        }
        PyErr_Clear();
        if (!parts.empty()) text += ": " + parts;
        text += ">";
        return PyUnicode_FromStringAndSize(text.data(), (Py_ssize_t)text.size());
    });
}

}  // namespace
}  // namespace oskra::interp

using namespace oskra;
using namespace oskra::interp;

// The module body runs inside nanobind's module set-up (see the end of this
// file for how its errors reach the importer).
NB_MODULE(_interpreter_body, m) {
    m.doc() = "The Interpreter class: a Tcl interpreter with TclX (no Tk), started with the Tcl-Init entry "
              "points; importing the module starts the shared one, _global_interpreter.";
    g.module = m.ptr();
    if (!attach_state()) throw nb::python_error();
    if (!callback_errors_init()) throw nb::python_error();
    // The core's Tcl-layer lookups import tkinter on first use; do that now,
    // not later on an error path where an exception is already pending.
    if (!tcl_error_type() || !tcl_obj_type()) throw nb::python_error();
    g.zero_int = PyLong_FromLong(0);
    g.one_int = PyLong_FromLong(1);
    g.zero_float = PyFloat_FromDouble(0.0);
    auto pick = [&](const char *modname, const char *name) -> nb::object {
        return nb::module_::import_(modname).attr(name);
    };
    auto keep = [&](const char *name, nb::handle value) -> PyObject * {
        m.attr(name) = value;
        return value.inc_ref().ptr();  // lives as long as the process
    };

    // Module-level names, in their documented order.
    m.attr("logging") = nb::module_::import_("logging");
    nb::object tkinter = nb::module_::import_("tkinter");
    m.attr("Tk") = tkinter.attr("Tk");
    g.TclError = keep("TclError", tkinter.attr("TclError"));
    g.Tcl_Obj = keep("Tcl_Obj", nb::module_::import_("_tkinter").attr("Tcl_Obj"));
    g.NestMap = keep("NestMap", pick("oskra.tcl.nestmap", "NestMap"));
    g.Array = keep("Array", nb::module_::import_("oskra.tcl.array").attr("Array"));
    g.History = keep("History", pick("oskra.tcl.history", "History"));
    g.tclobj = keep("tclobj", pick("oskra.tcl.wordform", "tclobj"));
    g.tclobj_from_sequence = nb::handle(g.tclobj).attr("from_sequence").inc_ref().ptr();
    g.GetListFromAny = keep("GetListFromAny", pick("oskra.tcl.internal", "GetListFromAny"));
    keep("TclDLL", pick("oskra.tcl.internal", "TclDLL"));
    g.TclNamespace = keep("TclNamespace", pick("oskra.tcl.namespace", "TclNamespace"));
    g.VariablesView = nb::handle(g.TclNamespace).attr("VariablesView").inc_ref().ptr();
    g.TclCommand = keep("TclCommand", pick("oskra.tcl.namespace", "TclCommand"));
    g.wordform = keep("wordform", pick("oskra.tcl.wordform", "wordform"));
    g.Quick = keep("Quick", pick("oskra.tcl.quick", "Quick"));
    // The callables behind an interpreter's Tcl commands (see tclsafe.h): a
    // dict that weak references can reach.
    nb::dict table_ns;
    table_ns["__module__"] = MODULE_NAME;
    table_ns["__slots__"] = nb::make_tuple("__weakref__");
    nb::handle type_type((PyObject *)&PyType_Type), dict_type((PyObject *)&PyDict_Type);
    g.CommandTable = type_type("CommandTable", nb::make_tuple(dict_type), table_ns).release().ptr();
    m.attr("get_entry_points") = nb::module_::import_("oskra.utils.import_utils").attr("get_entry_points");
    m.attr("TCL_INIT_ENTRYPOINT") = "oskra.tcl";
    m.attr("TCL_ALLOWED_ENTRYPOINT_KEYS") = "tcl_init";
    m.attr("logger") = nb::module_::import_("logging").attr("getLogger")(MODULE_NAME);
    // Every Interpreter, held weakly: test tools look at the calls of those a test used.
    g.interpreters = keep("_interpreters", nb::module_::import_("weakref").attr("WeakSet")());

    // The class, its body in definition order.
    ClassBuilder cb(MODULE_NAME, "Interpreter",
                    "A Tcl interpreter with TclX loaded (a tkinter.Tk that never loads Tk),\n"
                    "with history, typecasting, namespaces and Python callbacks.");
    cb.set("__MAX_HISTORY__", nb::int_(9999));
    add_function(cb, "__init__", interp_init, interp_init_params, "Create and start a Tcl interpreter.");
    add_function(cb, "_load_entrypoint", interp_load_entrypoint, interp_load_entrypoint_params,
                 "Run the Tcl-Init entry points on this interpreter.");
    add_function(cb, "__getattr__", interp_getattr, interp_getattr_params,
                 "Forward unknown attributes to the Tcl application object.");
    add_callback_methods(cb);
    add_eval_methods(cb);
    add_function(cb, "__repr__", interp_repr, interp_repr_params,
                 "What the interpreter holds: its history and callbacks.");
    add_variable_methods(cb);
    add_cast_methods(cb);
    add_lifecycle_methods(cb);
    nb::object cls = cb.build(nb::make_tuple(m.attr("Tk")));
    finish_class(cls);
    g.Interpreter = keep("Interpreter", cls);
    state->Interpreter = g.Interpreter;

    // The shared interpreter.
    nb::object gi = cls();
    nb::list all;
    auto public_keys = [&](nb::handle mapping) {
        for (nb::handle k : nb::steal(PyObject_GetIter(mapping.ptr()))) {
            if (PyUnicode_Check(k.ptr()) && PyUnicode_GET_LENGTH(k.ptr()) > 0 &&
                PyUnicode_READ_CHAR(k.ptr(), 0) == '_')
                continue;
            all.append(k);
        }
    };
    public_keys(cls.attr("__dict__"));
    public_keys(gi.attr("__dict__"));
    gi.attr("__all__") = all;
    m.attr("_global_interpreter") = gi;
}

// The import of this module starts the shared interpreter, and a failure
// there (a Tcl-Init entry point refused or raising, TclX missing, ...) must
// reach the importer as it was raised. nanobind's set-up would wrap it in an
// ImportError; the module's exec slot unwraps it again.
namespace {
PyModuleDef interp_def;
int (*body_exec)(PyObject *) = nullptr;

int interp_exec(PyObject *m) {
    int rc = body_exec(m);
    if (rc < 0 && PyErr_ExceptionMatches(PyExc_ImportError)) {
        PyObject *exc = PyErr_GetRaisedException();
        PyObject *cause = PyException_GetCause(exc);  // new reference or null
        if (cause) {
            Py_DECREF(exc);
            PyErr_SetRaisedException(cause);
        } else {
            PyErr_SetRaisedException(exc);
        }
    }
    return rc;
}
}  // namespace

extern "C" NB_EXPORT PyObject *PyInit_interpreter(void) {
    static std::vector<PyModuleDef_Slot> slots;
    if (slots.empty()) {
        PyObject *body = PyInit__interpreter_body();
        if (!body) return nullptr;
        const PyModuleDef *def = reinterpret_cast<PyModuleDef *>(body);
        interp_def = *def;
        interp_def.m_name = "interpreter";
        for (PyModuleDef_Slot *slot = def->m_slots; slot && slot->slot != 0; ++slot) {
            PyModuleDef_Slot copy = *slot;
            if (copy.slot == Py_mod_exec) {
                body_exec = reinterpret_cast<int (*)(PyObject *)>(copy.value);
                copy.value = reinterpret_cast<void *>(interp_exec);
            }
            slots.push_back(copy);
        }
        slots.push_back({0, nullptr});
        interp_def.m_slots = slots.data();
    }
    return PyModuleDef_Init(&interp_def);
}
