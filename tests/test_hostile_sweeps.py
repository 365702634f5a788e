"""Every public entry point called with every hostile value, in child
interpreters: never a crash, never a hang."""

import importlib
import sys

import pytest
from hostile import (
    LONE_SURROGATES,
    assert_survived,
    hostile_values,
    run_isolated,
    unconvertible_nested_values,
)

# --------------------------------------------------------------------------
# The entry points, grouped so that each sweep runs in its own child


def _entry_points(group, interp):
    import oskra.tcl as top
    from oskra.tcl import namespace as ns_mod
    from oskra.tcl.history import Entry, History
    from oskra.tcl.nestmap import NestMap
    from oskra.tcl.quick import Quick, Quick_Code

    wf = importlib.import_module("oskra.tcl.wordform")
    internal = importlib.import_module("oskra.tcl.internal")
    out = []

    def methods(label, obj, names):
        out.extend((f"{label}.{n}", getattr(obj, n)) for n in names)

    if group == "wordform":
        methods(
            "wordform",
            wf,
            [
                "wordform",
                "tclobj",
                "_Tcl_ScanElement",
                "_tcl_UpdateStringOfList",
                "_wordform_from_sequence",
                "_wordform_from_mapping",
            ],
        )
        out += [
            ("wordform.from_sequence", wf.wordform.from_sequence),
            ("wordform.from_mapping", wf.wordform.from_mapping),
            ("tclobj.from_sequence", wf.tclobj.from_sequence),
            ("tclobj.from_mapping", wf.tclobj.from_mapping),
            ("_Tcl_ConvertElement", lambda *a: wf._Tcl_ConvertElement(*a, set())),
            ("_Tcl_ConvertElement flags", lambda *a: wf._Tcl_ConvertElement("x", *a)),
        ]
    elif group == "toplevel":
        methods("internal", internal, ["GetListFromAny"])
        out.append(("Tcl_ResetResult", internal.TclDLL.Tcl_ResetResult))
        methods(
            "oskra.tcl",
            top,
            [
                "wordform",
                "tclobj",
                "cast_list",
                "cast_array",
                "cast_keyed_list",
                "cast_any",
                "cast_int",
                "cast_double",
                "cast_boolean",
                "eval",
            ],
        )
    elif group == "interpreter":
        methods(
            "Interpreter",
            interp,
            [
                "cast_list",
                "cast_int",
                "cast_double",
                "cast_boolean",
                "cast_array",
                "cast_keyed_list",
                "cast_any",
                "get_array",
                "get_list",
                "get_keyed_list",
                "get_int",
                "get_boolean",
                "get_double",
                "get_var",
                "set_array",
                "set_keyed_list",
                "set_var",
                "set_boolean",
                "set_list",
                "eval",
                "get_errorInfo",
                "create_callback",
                "remove_callback",
                "generate_callback_cmd_name",
                "__getattr__",
            ],
        )
    elif group == "history":
        history = History(3)
        history.start_marker("m")
        methods(
            "History",
            history,
            ["append", "clear", "start_marker", "end_marker", "filter", "enable", "disable"],
        )
        out += [("History()", History), ("Entry()", Entry)]
    elif group == "nestmap":
        nm = NestMap({"a": {"b": 1}, "s": "text"})
        methods(
            "NestMap",
            nm,
            [
                "__getitem__",
                "__setitem__",
                "__contains__",
                "__delitem__",
                "get",
                "pop",
                "setdefault",
                "update",
                "all_keys",
                "all_items",
                "has_key",
                "__tclobj__",
            ],
        )
        out += [("NestMap()", NestMap), ("NestMap.from_tcl", NestMap.from_tcl)]
    elif group == "namespace":
        ns = ns_mod.TclNamespace("::hostile", tcl=interp)
        methods(
            "TclNamespace",
            ns,
            [
                "children",
                "code",
                "current",
                "create",
                "delete",
                "eval",
                "call",
                "exists",
                "export",
                "forget",
                "import_",
                "origin",
                "parent",
                "which",
                "is_absolute",
                "is_relative",
                "absolute",
                "split",
                "normalize",
                "join",
                "qualifiers",
                "tail",
            ],
        )
        local = ns_mod.TclNamespace(None, tcl=interp)
        methods("local TclNamespace", local, ["eval", "call", "exists", "parent", "children"])
    elif group == "views":
        ns = ns_mod.TclNamespace("::hostile", tcl=interp)
        for view_name in ("vars", "objs", "cmds", "procs"):
            view = getattr(ns, view_name)
            names = [n for n in dir(view) if not n.startswith("_") and callable(getattr(view, n))]
            names += ["__getitem__", "__setitem__", "__delitem__", "__contains__"]
            methods(f"views.{view_name}", view, names)
            out.append((f"views.{view_name} init", type(view)))
    elif group == "variables":
        var = ns_mod.TclVariable("::hostile_v", tcl=interp)
        methods(
            "TclVariable",
            var,
            [
                "get_obj",
                "get_str",
                "get",
                "set",
                "unset",
                "exists",
                "array_item_byref",
                "array_get_obj",
                "array_get_str",
                "array_set",
                "array_unset",
                "array_size",
                "array_names",
                "is_array",
            ],
        )
        arr = ns_mod.TclArrayVariable("::hostile_a", tcl=interp)
        methods(
            "TclArrayVariable",
            arr,
            [
                "__getitem__",
                "__setitem__",
                "__delitem__",
                "__contains__",
                "update",
                "get",
                "pop",
                "setdefault",
            ],
        )
        out += [
            ("TclVariable()", lambda *a: ns_mod.TclVariable(*a, tcl=interp)),
            ("TclVariable(index)", lambda *a: ns_mod.TclVariable("v", *a, tcl=interp)),
            ("TclArrayVariable()", lambda *a: ns_mod.TclArrayVariable(*a, tcl=interp)),
        ]
    elif group == "commands":
        interp.tk.eval("proc ::hostile_p {args} {return $args}")
        cmd = ns_mod.TclCommand("::hostile_p", tcl=interp)
        methods(
            "TclCommand",
            cmd,
            [
                "exists",
                "is_command",
                "is_proc",
                "origin",
                "proc_body",
                "proc_args",
                "proc_arg_default",
                "build_tclcmd",
                "kwargs_to_dashed_args",
                "call",
                "eval",
                "__call__",
                "__get__",
            ],
        )
        out += [
            ("TclCommand()", lambda *a: ns_mod.TclCommand(*a, tcl=interp)),
            ("TclCommand(args)", lambda *a: ns_mod.TclCommand("::hostile_p", *a, tcl=interp)),
            ("TclCommand keyword", lambda a: cmd.call(x=a)),
            ("TclCommand keywords", lambda a: ns_mod.TclCommand("::hostile_p", None, a, tcl=interp).call()),
            ("TclCommand cast", lambda a: ns_mod.TclCommand("::hostile_p", cast=a, tcl=interp).call()),
            ("TclCommand rename", lambda a: ns_mod.TclCommand("::hostile_q", tcl=interp).rename(a)),
            (
                "TclCommand createcommand",
                lambda a: ns_mod.TclCommand("::hostile_cb", tcl=interp).createcommand(a),
            ),
        ]
    elif group == "temporaries":
        for cls in (
            ns_mod.TempTclVariable,
            ns_mod.TempTclArrayVariable,
            ns_mod.TempTclCommand,
            ns_mod.TempTclNamespace,
        ):

            def make(*a, cls=cls):
                with cls(*a, tcl=interp) as tmp:
                    return str(tmp)

            out.append((cls.__name__, make))
    elif group == "quick":
        out += [
            ("Quick call", lambda *a: interp.quick.list(*a)),
            ("Quick keyword", lambda a: interp.quick.list(k=a)),
            ("Quick cast_", lambda a: interp.quick.list("1", cast_=a)),
            ("Quick getattr", lambda a: getattr(interp.quick, a)),
            ("Quick segment", lambda a: getattr(interp.quick.list, a)),
            ("Quick root call", interp.quick),
            ("Quick()", Quick),
            ("Quick_Code()", lambda *a: Quick_Code(*a, tcl=interp)),
            ("Quick_Code str", lambda *a: str(Quick_Code(*a, tcl=interp))),
        ]
    else:
        raise ValueError(group)
    return out


GROUPS = [
    "wordform",
    "toplevel",
    "interpreter",
    "history",
    "nestmap",
    "namespace",
    "views",
    "variables",
    "commands",
    "temporaries",
    "quick",
]


def _sweep(group, extra=""):
    """Child side: call every entry point of `group` with every hostile value.

    Prints the call about to be made, so that the parent can name the call
    that killed the child. After each call the interpreter must still work.
    """
    from oskra.tcl.interpreter import Interpreter

    interp = Interpreter()
    values = hostile_values()
    if extra == "surrogates":
        values = LONE_SURROGATES
    elif extra == "nested":
        values = unconvertible_nested_values()
    pairs = hostile_values(big=False)[::4]
    for name, func in _entry_points(group, interp):
        calls = [((), "no argument")] + [((v,), label) for label, v in values]
        if extra:
            calls += [(("::hostile_x", v), f"name, {label}") for label, v in values]
        else:
            calls += [((a, b), f"{la}, {lb}") for la, a in pairs for lb, b in pairs]
        for args, label in calls:
            sys.stderr.write(f"calling {name}({label})\n")
            try:
                func(*args)
            except Exception:
                pass
            assert interp.tk.eval("set ::alive 1") == "1", (name, label)
    sys.stderr.write("sweep done\n")


def _native_classes():
    """Every class the package defines in C++ (the child sweeps' subjects)."""
    from oskra.tcl import namespace as ns_mod
    from oskra.tcl.history import Entry, History
    from oskra.tcl.interpreter import Interpreter
    from oskra.tcl.nestmap import NestMap
    from oskra.tcl.quick import Quick, Quick_Code

    space = ns_mod.TclNamespace
    return [
        Interpreter,
        NestMap,
        History,
        Entry,
        Quick,
        Quick_Code,
        ns_mod.TclVariable,
        ns_mod.TclArrayVariable,
        ns_mod.TclCommand,
        space,
        ns_mod.TempTclVariable,
        ns_mod.TempTclArrayVariable,
        ns_mod.TempTclCommand,
        ns_mod.TempTclNamespace,
        space.VariablesView,
        space.ObjectsView,
        space.CommandsView,
        space.ProcsView,
    ]


def _sweep_unbound():
    """Child side: every method of every class, called through the class
    with a `self` of the wrong kind (the C++ methods must check it)."""
    from oskra.tcl import namespace as ns_mod
    from oskra.tcl.history import Entry, History
    from oskra.tcl.interpreter import Interpreter
    from oskra.tcl.nestmap import NestMap

    interp = Interpreter()
    space = ns_mod.TclNamespace
    classes = _native_classes()
    selves = [
        None,
        5,
        "x",
        object(),
        interp,
        interp.tk,
        NestMap(),
        History(),
        Entry("x"),
        interp.quick,
        interp.quick.a,
        ns_mod.TclVariable("a", tcl=interp),
        ns_mod.TclCommand("set", tcl=interp),
        space("::", tcl=interp),
        interp.vars,
        interp.global_ns.cmds,
    ]
    for cls in classes:
        for name, attr in list(vars(cls).items()):
            if name in ("__new__", "__init_subclass__", "__subclasshook__", "__class_getitem__"):
                continue
            func = getattr(attr, "__func__", attr)
            if not callable(func):
                continue
            for self in selves:
                for args in [(), ("x",), ("x", "y")]:
                    sys.stderr.write(f"calling {cls.__name__}.{name}({type(self).__name__}, {len(args)})\n")
                    try:
                        func(self, *args)
                    except Exception:
                        pass
    sys.stderr.write("sweep done\n")


def _sweep_uninitialised():
    """Child side: every method of an instance whose __init__ never ran."""
    for cls in _native_classes():
        try:
            obj = cls.__new__(cls)
        except Exception:
            continue
        skip = {"__class__", "__new__", "__init_subclass__", "__subclasshook__"}
        for name in [n for n in dir(cls) if n not in skip]:
            for args in [(), ("x",), ("x", "y")]:
                sys.stderr.write(f"calling uninitialised {cls.__name__}.{name}({len(args)})\n")
                try:
                    attr = getattr(obj, name)
                    if callable(attr):
                        attr(*args)
                except Exception:
                    pass
        for func in (repr, str, hash, len, bool, iter, list):
            try:
                func(obj)
            except Exception:
                pass
    sys.stderr.write("sweep done\n")


def test_sweep_uninitialised_instances():
    proc = run_isolated("import test_hostile_sweeps as t; t._sweep_uninitialised()")
    assert_survived(proc)
    assert proc.stderr.rstrip().endswith("sweep done")


def test_sweep_methods_with_the_wrong_self():
    proc = run_isolated("import test_hostile_sweeps as t; t._sweep_unbound()")
    assert_survived(proc)
    assert proc.stderr.rstrip().endswith("sweep done")


@pytest.mark.parametrize("group", GROUPS)
def test_sweep_never_crashes(group):
    proc = run_isolated(f"import test_hostile_sweeps as t; t._sweep({group!r})")
    assert_survived(proc)
    assert proc.stderr.rstrip().endswith("sweep done")


@pytest.mark.parametrize("group", GROUPS)
def test_sweep_lone_surrogates(group):
    proc = run_isolated(f"import test_hostile_sweeps as t; t._sweep({group!r}, 'surrogates')")
    assert_survived(proc)


@pytest.mark.parametrize("group", ["variables", "commands", "namespace", "views", "interpreter"])
def test_nested_unconvertible_values_do_not_crash(group):
    """The Tcl layer would crash on these; the guard turns them into errors."""
    proc = run_isolated(f"import test_hostile_sweeps as t; t._sweep({group!r}, 'nested')")
    assert_survived(proc)
