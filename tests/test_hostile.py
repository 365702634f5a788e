"""Hostile input to every public entry point: never a crash, never a hang.

Test scripts feed the package whatever their devices and users return, so
every public function and method must answer any argument with a result or a
Python exception. The sweeps call each entry point with a catalogue of hostile
values in a child interpreter (a crash there fails one test instead of killing
the whole run); the other tests pin the result for the cases where the right
answer is known.
"""

import importlib
import os
import subprocess
import sys
import textwrap
from collections.abc import Mapping, Sequence
from tkinter import TclError

import pytest

from oskra.tcl.wordform import tclobj

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
BIG = 10_000_000  # characters in the "huge" strings


# --------------------------------------------------------------------------
# Running code in a child interpreter


def run_isolated(code, timeout=300):
    """Run `code` in a fresh interpreter; return the finished process."""
    return subprocess.run(
        [sys.executable, "-X", "faulthandler", "-c", textwrap.dedent(code)],
        cwd=TESTS_DIR,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def assert_survived(proc):
    tail = "\n".join(proc.stderr.splitlines()[-15:])
    assert proc.returncode == 0 and "Fatal Python error" not in proc.stderr, (
        f"child died with return code {proc.returncode}:\n{tail}"
    )


# --------------------------------------------------------------------------
# The hostile value catalogue


class Boom(Exception):
    """Raised by the protocol methods of the hostile objects."""


class RaisesEverywhere:
    def __wordform__(self):
        raise Boom("__wordform__")

    def __tclobj__(self):
        raise Boom("__tclobj__")

    def __str__(self):
        raise Boom("__str__")

    def __repr__(self):
        return "RaisesEverywhere()"


class ReturnsItself:
    def __wordform__(self):
        return self

    def __tclobj__(self):
        return self

    def __str__(self):
        return "itself"


class TclobjReturnsItself:
    def __tclobj__(self):
        return self


class StrRaises:
    def __str__(self):
        raise Boom("__str__")

    def __repr__(self):
        return "StrRaises()"


class StrReturnsNonStr:
    def __str__(self):
        return 5


class FalsyProtocol:
    __wordform__ = None
    __tclobj__ = 0

    def __str__(self):
        return "falsy"


class GetattrRaises:
    def __getattr__(self, name):
        raise Boom(name)


class IterRaises(Sequence):
    def __len__(self):
        return 3

    def __getitem__(self, index):
        raise Boom("__getitem__")

    def __iter__(self):
        raise Boom("__iter__")


class KeysRaise(dict):
    def keys(self):
        raise Boom("keys")

    def __iter__(self):
        raise Boom("__iter__")

    def __getitem__(self, key):
        raise Boom("__getitem__")


class ChangesWhileIterated(Mapping):
    """A mapping that grows while iterated and empties itself when indexed."""

    def __init__(self):
        self.data = {str(i): i for i in range(5)}

    def __iter__(self):
        for key in list(self.data):
            self.data[key + "x"] = 1
            yield key

    def __len__(self):
        return len(self.data)

    def __getitem__(self, key):
        self.data.clear()
        return 1


class GrowsWhileIterated(Sequence):
    def __init__(self):
        self.items = [1, 2, 3]

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        if index >= 50:
            raise IndexError(index)
        self.items.append(index)
        return self.items[index]


class StrSubclass(str):
    def __str__(self):
        raise Boom("str subclass")


def self_list():
    value = []
    value.append(value)
    return value


def self_dict():
    value = {}
    value["a"] = value
    return value


def deep_list(depth=100_000):
    value = []
    for _ in range(depth):
        value = [value]
    return value


def deep_tuple(depth=100_000):
    value = ()
    for _ in range(depth):
        value = (value,)
    return value


def hostile_values(big=True):
    """(label, value) pairs: wrong types, odd text, odd objects, odd containers."""
    values = [
        ("None", None),
        ("zero", 0),
        ("negative", -1),
        ("huge int", 2**70),
        ("huge negative", -(2**70)),
        ("float", 1.5),
        ("nan", float("nan")),
        ("inf", float("inf")),
        ("True", True),
        ("bytes with NUL", b"a\0b"),
        ("bytearray", bytearray(b"xy")),
        ("complex", 3 + 4j),
        ("Ellipsis", Ellipsis),
        ("a type", type),
        ("a function", lambda *a, **k: None),
        ("object", object()),
        ("empty", ""),
        ("NUL", "\0"),
        ("embedded NUL", "a\0b"),
        ("non-BMP", "\U0001f600 x"),
        ("brace", "{"),
        ("close brace", "}"),
        ("backslash", "\\"),
        ("quote", '"'),
        ("script", "[exit]"),
        ("variable", "$x"),
        ("unbalanced list", "a b {c"),
        ("single colon", "a:b"),
        ("colons", ":::"),
        ("str subclass", StrSubclass("x")),
        ("raises everywhere", RaisesEverywhere()),
        ("returns itself", ReturnsItself()),
        ("tclobj returns itself", TclobjReturnsItself()),
        ("str raises", StrRaises()),
        ("str returns non-str", StrReturnsNonStr()),
        ("falsy protocol", FalsyProtocol()),
        ("getattr raises", GetattrRaises()),
        ("iter raises", IterRaises()),
        ("keys raise", KeysRaise(a=1)),
        ("changes while iterated", ChangesWhileIterated()),
        ("grows while iterated", GrowsWhileIterated()),
        ("self list", self_list()),
        ("self dict", self_dict()),
        ("deep list", deep_list()),
        ("deep tuple", deep_tuple()),
        ("nested", [1, [2, [3, "a b"]]]),
        ("int keys", {1: 2}),
        ("nested dict", {"a": {"b": "c"}}),
        ("set", {1}),
        ("frozenset", frozenset()),
        ("range", range(3)),
    ]
    if big:
        values += [("huge list text", "x y{" * (BIG // 4)), ("huge word", "a" * BIG)]
    return values


# Values that reach the Tcl layer nested inside a list and that it cannot
# convert. Kept apart from the sweeps while the guard against them is missing
# (see test_nested_unconvertible_values_do_not_crash).
def unconvertible_nested_values():
    class NestedStrRaises:
        def __tclobj__(self):
            return (1, StrRaises())

    class NestedDeep:
        def __tclobj__(self):
            return deep_tuple()

    return [
        ("surrogate in list", ["\ud800"]),
        ("surrogate in tuple", ("a", ("\udfff",))),
        ("surrogate in dict", {"k": "\ud800"}),
        ("str raises in list", [StrRaises()]),
        ("tclobj nests str raises", NestedStrRaises()),
        ("tclobj nests deep tuple", NestedDeep()),
    ]


LONE_SURROGATES = [("lone surrogate", "\ud800"), ("surrogate inside", "x\udfffy")]


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


def _sweep_unbound():
    """Child side: every method of every class, called through the class
    with a `self` of the wrong kind (the C++ methods must check it)."""
    from oskra.tcl import namespace as ns_mod
    from oskra.tcl.history import Entry, History
    from oskra.tcl.interpreter import Interpreter
    from oskra.tcl.nestmap import NestMap
    from oskra.tcl.quick import Quick, Quick_Code

    interp = Interpreter()
    space = ns_mod.TclNamespace
    classes = [
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
    from oskra.tcl import namespace as ns_mod
    from oskra.tcl.history import Entry, History
    from oskra.tcl.interpreter import Interpreter
    from oskra.tcl.nestmap import NestMap
    from oskra.tcl.quick import Quick, Quick_Code

    space = ns_mod.TclNamespace
    for cls in [
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
    ]:
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
    proc = run_isolated("import test_hostile; test_hostile._sweep_uninitialised()")
    assert_survived(proc)
    assert proc.stderr.rstrip().endswith("sweep done")


def test_sweep_methods_with_the_wrong_self():
    proc = run_isolated("import test_hostile; test_hostile._sweep_unbound()")
    assert_survived(proc)
    assert proc.stderr.rstrip().endswith("sweep done")


@pytest.mark.parametrize("group", GROUPS)
def test_sweep_never_crashes(group):
    proc = run_isolated(f"import test_hostile; test_hostile._sweep({group!r})")
    assert_survived(proc)
    assert proc.stderr.rstrip().endswith("sweep done")


@pytest.mark.parametrize("group", GROUPS)
def test_sweep_lone_surrogates(group):
    proc = run_isolated(f"import test_hostile; test_hostile._sweep({group!r}, 'surrogates')")
    assert_survived(proc)


@pytest.mark.parametrize("group", ["variables", "commands", "namespace", "views", "interpreter"])
def test_nested_unconvertible_values_do_not_crash(group):
    """The Tcl layer would crash on these; the guard turns them into errors."""
    proc = run_isolated(f"import test_hostile; test_hostile._sweep({group!r}, 'nested')")
    assert_survived(proc)


# --------------------------------------------------------------------------
# Results for hostile input that are known


@pytest.fixture(scope="module")
def shared():
    from oskra.tcl.interpreter import Interpreter

    return Interpreter()


def _conversions():
    import oskra.tcl as top
    import oskra.tcl.interpreter  # noqa: F401  (binds the package-level names)
    from oskra.tcl.history import Entry
    from oskra.tcl.nestmap import NestMap

    wf = importlib.import_module("oskra.tcl.wordform")
    return {
        "wordform": wf.wordform,
        "tclobj": wf.tclobj,
        "cast_list": top.cast_list,
        "NestMap": NestMap,
        "Entry": Entry,
        "list quoting": wf._tcl_UpdateStringOfList,
    }


@pytest.mark.parametrize(
    "func, value, error",
    [
        ("wordform", RaisesEverywhere(), Boom),
        ("tclobj", RaisesEverywhere(), Boom),
        ("wordform", StrRaises(), Boom),
        ("tclobj", [1, StrRaises()], Boom),
        ("wordform", StrReturnsNonStr(), TypeError),
        ("wordform", GetattrRaises(), Boom),  # only AttributeError means "no such method"
        ("wordform", TclobjReturnsItself(), RecursionError),
        ("wordform", IterRaises(), Boom),
        ("tclobj", KeysRaise(a=1), Boom),
        ("list quoting", [1, RaisesEverywhere()], Boom),
        ("wordform", self_list(), RecursionError),
        ("tclobj", self_dict(), RecursionError),
        ("wordform", deep_list(), RecursionError),
        ("tclobj", deep_tuple(), RecursionError),
        ("wordform", {"a": ChangesWhileIterated()}, None),
        ("cast_list", "a {b", ValueError),
        ("cast_list", "{" + "x " * (BIG // 2), ValueError),
        ("cast_list", '"a"b', ValueError),
        ("cast_list", IterRaises(), Boom),
        ("NestMap", self_dict(), RecursionError),
        ("NestMap", KeysRaise(a=1), Boom),
        ("Entry", [1, 2], TypeError),
        ("Entry", IterRaises(), Boom),
    ],
    ids=lambda v: v.__name__ if isinstance(v, type) else (v[:12] if isinstance(v, str) else type(v).__name__),
)
def test_conversion_errors_propagate(func, value, error):
    convert = _conversions()[func]
    if error is None:
        convert(value)
    else:
        with pytest.raises(error):
            convert(value)


@pytest.mark.parametrize("value", [ReturnsItself(), TclobjReturnsItself()])
def test_protocol_returning_itself_is_returned_unchanged(value):
    """The protocol result is passed on as it is, so this is no loop."""
    from oskra.tcl.wordform import tclobj

    assert tclobj(value) is value


def test_protocol_returning_itself_reaches_tcl_as_its_text(shared):
    from oskra.tcl.namespace import TclVariable

    var = TclVariable("::hostile_itself", tcl=shared)
    var.set(ReturnsItself())
    assert var.get_str() == "itself"


def test_falsy_protocol_attributes_are_skipped():
    from oskra.tcl.wordform import tclobj, wordform

    assert wordform(FalsyProtocol()) == "falsy" == tclobj(FalsyProtocol())


TEXTS = [
    "",
    "a\0b",
    "\0",
    "\U0001f600",
    "x\U0010ffff\U0001f600y",
    "{",
    "} {",
    "\\",
    "a\\",
    '"',
    "[exit]",
    "$x",
    "a b {c",
    "\r\n\t\v\f",
    "\u00e9\u4e2d",
]


@pytest.mark.parametrize(
    "text",
    TEXTS + ["q" * BIG, "x y{" * (BIG // 4)],
    ids=lambda t: repr(t[:10]) + (f"..{len(t)}" if len(t) > 10 else ""),
)
def test_text_round_trips_through_every_writer(shared, text):
    from oskra.tcl.namespace import TclVariable

    var = TclVariable("::hostile_rt", tcl=shared)
    writers = [
        var.set,
        lambda v: shared.set_var("::hostile_rt", v),
        lambda v: shared.vars.__setitem__("::hostile_rt", v),
        lambda v: shared.quick.set("::hostile_rt", v, cast_=False),
    ]
    for write in writers:
        shared.tk.setvar("::hostile_rt", "stale")
        write(text)
        assert shared.tk.getvar("::hostile_rt") == text
        assert var.get_obj() == text


@pytest.mark.parametrize("text", [t for t in TEXTS if "\0" not in t] + ["q" * BIG])
def test_text_round_trips_through_the_string_readers(shared, text):
    from oskra.tcl.namespace import TclVariable

    shared.tk.setvar("::hostile_rd", text)
    assert TclVariable("::hostile_rd", tcl=shared).get_str() == text
    assert shared.get_var("::hostile_rd") == text == shared.vars["::hostile_rd"]


@pytest.mark.parametrize("text", ["a\0b", "\0"])
def test_string_readers_keep_nul(shared, text):
    from oskra.tcl.namespace import TclVariable

    shared.tk.setvar("::hostile_nul", text)
    assert TclVariable("::hostile_nul", tcl=shared).get_str() == text
    assert shared.get_var("::hostile_nul") == text


@pytest.mark.parametrize(
    "call",
    [
        lambda i, s: i.set_var("::hostile_s", s),
        lambda i, s: i.quick.set("::hostile_s", s),
        lambda i, s: i.eval("set ::hostile_s " + s),
        lambda i, s: i.cast_int(s),
        lambda i, s: i.cast_boolean(s),
        lambda i, s: i.create_callback(print, s),
        lambda i, s: i.global_ns.cmds[s].call(),
        lambda i, s: i.global_ns.eval("list", s),
    ],
)
@pytest.mark.parametrize("text", ["\ud800", "x\udfffy"])
def test_lone_surrogates_give_unicode_error(shared, call, text):
    with pytest.raises(UnicodeEncodeError):
        call(shared, text)
    assert shared.eval("set ::alive 1") == "1"


def test_lone_surrogates_stay_python_side(shared):
    """Nothing reaches Tcl: the text is kept or converted as it is."""
    import oskra.tcl as top
    from oskra.tcl.wordform import wordform

    assert top.cast_list("\ud800 x") == ("\ud800", "x")
    assert shared.cast_any("\ud800") == "\ud800"
    assert wordform(["\ud800", "a b"]) == "\ud800 {a b}"
    with pytest.raises(KeyError) as info:
        shared.vars["\ud800"]
    assert isinstance(info.value.__cause__, UnicodeEncodeError)


def test_huge_list_splits_like_tcl(shared, tcl):
    import oskra.tcl as top

    text = "a {b c} \U0001f600 " * (BIG // 12)
    assert top.cast_list(text) == tcl.splitlist(text)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda i: i.history.filter(regex="("), Exception),
        (lambda i: i.history.filter(marker="never started"), Exception),
        (lambda i: i.history.end_marker("never started"), ValueError),
        (lambda i: getattr(i.quick, 5), TypeError),
        (lambda i: i.quick(), TclError),
        (lambda i: i.quick.no_such_proc_here(), TclError),
        (lambda i: i.__getattr__(5), TypeError),
        (lambda i: i.remove_callback(RaisesEverywhere()), Exception),
        (lambda i: i.eval(RaisesEverywhere()), Exception),
        (lambda i: i.eval("}"), TclError),
        (lambda i: i.eval("error [string repeat x 1000000]"), TclError),
    ],
)
def test_clear_errors(shared, call, error):
    with pytest.raises(error):
        call(shared)
    assert shared.eval("set ::alive 1") == "1"


@pytest.mark.parametrize("name", ["::", ":::", "::::::"])
def test_temporary_global_namespace(name):
    """A temporary namespace named like the global one must not delete it."""
    from oskra.tcl.interpreter import Interpreter
    from oskra.tcl.namespace import TempTclNamespace

    interp = Interpreter()
    with pytest.raises(ValueError):
        with TempTclNamespace(name, tcl=interp):
            pass
    assert interp.tk.call("set", "x", "1") == "1"


@pytest.mark.parametrize(
    "code",
    [
        "import oskra.tcl as t; assert t.cast_list('a b') == ('a', 'b')",
        "from oskra.tcl import cast_list; assert cast_list('a') == ('a',)",
    ],
)
def test_package_names_on_first_use(code):
    """The package-level names work before anything else was imported."""
    proc = run_isolated(code, timeout=60)
    assert_survived(proc)


# --------------------------------------------------------------------------
# The guard in front of the Tcl layer's conversion of nested values


def guard(value):
    return importlib.import_module("oskra.tcl.internal")._tcl_safe_value(value)


class Text:
    def __str__(self):
        return "as text"

    def __repr__(self):
        return "Text()"


@pytest.mark.parametrize(
    "value",
    [
        "plain",
        "\u00e9\u4e2d\U0001f600",
        "",
        ("a", 1, 2.5, b"\0", True, ("b", ("c",))),
        (),
        2**70,
    ],
    ids=repr,
)
def test_guard_returns_native_values_unchanged(value):
    assert guard(value) is value


@pytest.mark.parametrize(
    "value, expected",
    [
        (["a", ["b"]], ("a", ("b",))),
        (("a", Text()), ("a", "as text")),
        (
            (1, (2, [Text(), "\udc80"])),
            (1, (2, ("as text", "\udc80"))),
        ),  # surrogateescape takes U+DC80..U+DCFF
    ],
)
def test_guard_copies_what_the_tcl_layer_would_convert(value, expected):
    assert guard(value) == expected


@pytest.mark.parametrize(
    "value, error",
    [
        (("list", ("a", "\ud800")), UnicodeEncodeError),
        ([["x\udfff"]], UnicodeEncodeError),
        ("\ud800", UnicodeEncodeError),
        ((1, StrRaises()), Boom),
        ((StrReturnsNonStr(),), TypeError),
        (deep_tuple(), RecursionError),
        (deep_list(), RecursionError),
    ],
    ids=[
        "nested surrogate",
        "surrogate in lists",
        "top-level surrogate",
        "str raises",
        "str not str",
        "deep tuple",
        "deep list",
    ],
)
def test_guard_rejects_what_the_tcl_layer_cannot_convert(value, error):
    with pytest.raises(error):
        guard(value)


def test_guard_error_matches_the_tcl_layer(tcl):
    with pytest.raises(UnicodeEncodeError) as ours:
        guard((("x\ud800",),))
    with pytest.raises(UnicodeEncodeError) as theirs:
        tcl.call("list", "x\ud800")
    assert str(ours.value) == str(theirs.value)


def test_guard_survives_a_list_changed_by_str():
    victim = [1, 2, 3]

    class Shrinks:
        def __str__(self):
            victim.clear()
            return "shrunk"

    victim.insert(1, Shrinks())
    assert guard((victim,)) == ((1, "shrunk", 2, 3),)


def test_guarded_values_reach_the_tcl_layer_without_crashing():
    proc = run_isolated("""
        import tkinter, test_hostile as h
        tcl = tkinter.Tcl()
        for label, value in h.unconvertible_nested_values() + h.hostile_values(big=False):
            try:
                safe = h.guard(value)
            except Exception:
                continue
            tcl.call("list", safe)
            tcl.setvar("v", safe)
        print("survived")
    """)
    assert_survived(proc)
    assert "survived" in proc.stdout


def test_very_deep_keyed_list_path():
    """Paths are walked without recursion; converting such a map recurses
    per level and stops with RecursionError, never a crash."""
    from oskra.tcl.nestmap import NestMap
    from oskra.tcl.wordform import tclobj, wordform

    nm = NestMap()
    path = ".".join(["k"] * 5000)
    nm[path] = 1
    assert nm[path] == 1 and path in nm
    for convert in (wordform, tclobj, NestMap.all_items, NestMap.all_keys):
        with pytest.raises(RecursionError):
            convert(nm)
    try:
        del nm[path]  # recursive, as the pruning of emptied levels is
    except RecursionError:
        assert nm[path] == 1
    else:
        assert not nm


@pytest.mark.parametrize(
    "text",
    [
        "{k " * 20000 + "v" + "}" * 20000,
        " ".join("{k%d {{a 1} {b {c d e}}}}" % j for j in range(20000)),
        "\\" * BIG,
        "{" * 100000,
    ],
    ids=["deep braces", "wide keyed list", "backslashes", "open braces"],
)
def test_casts_of_pathological_text_finish(shared, text):
    import oskra.tcl as top
    from oskra.tcl.nestmap import NestMap

    shared.cast_any(text)
    for convert in (top.cast_list, NestMap.from_tcl):
        try:
            convert(text)
        except ValueError:
            pass


# --------------------------------------------------------------------------
# Values returned by callbacks cross the same conversion


@pytest.mark.parametrize(
    "result",
    [
        "plain",
        "",
        "a\0b",
        "\U0001f600",
        None,
        7,
        2**70,
        2.5,
        True,
        b"x\0y",
        ("a", ("b c",)),
        ["x", ["y z"]],
        {"k": 1},
        Text(),
        (),
        ("\udc80",),
    ],
    ids=repr,
)
def test_callback_results_convert_as_the_tcl_layer_does(shared, result):
    """A callback's return value gives the Tcl result that the Tcl layer
    gives for its tclobj() form."""
    shared.create_callback(lambda *a: result, "::hostile_ret", force=True)
    shared.tk.createcommand("::hostile_ret_raw", lambda *a: tclobj(result))
    assert shared.tk.call("::hostile_ret") == shared.tk.call("::hostile_ret_raw")
    shared.remove_callback("::hostile_ret")


def test_unconvertible_callback_results_give_tcl_errors():
    proc = run_isolated("""
        from tkinter import TclError
        import test_hostile as h
        from oskra.tcl.interpreter import Interpreter
        interp = Interpreter()
        results = [("\\ud800",), [["x", "\\udfff"]], (1, h.StrRaises()), h.StrRaises(), "\\ud800", h.deep_tuple()]
        for result in results:
            interp.create_callback(lambda *a: result, "::bad_result", force=True)
            try:
                interp.eval("::bad_result")
            except TclError:
                pass
            else:
                raise AssertionError(result)
            assert interp.eval("catch ::bad_result") == "1"
            interp.remove_callback("::bad_result")
        assert interp.eval("set a 1") == "1"
        print("survived")
    """)
    assert_survived(proc)
    assert "survived" in proc.stdout


def test_quick_words_that_are_not_strings():
    """A word from __wordform__ (or one the history put into the word list)
    that the Tcl layer cannot convert gives an error, never a crash."""
    proc = run_isolated("""
        import test_hostile as h
        from oskra.tcl.interpreter import Interpreter

        class Word:
            def __init__(self, value):
                self.value = value
            def __wordform__(self):
                return self.value

        class Meddling:
            def append(self, words):
                words.append(("x", ("\\ud800",)))

        interp = Interpreter()
        interp.history.disable()
        for value in [("\\ud800",), (1, h.StrRaises()), h.deep_tuple(), [["\\udfff"]]]:
            for call in (lambda: interp.quick.list(Word(value)), lambda: interp.quick.list(k=Word(value))):
                try:
                    call()
                except (UnicodeEncodeError, h.Boom, RecursionError):
                    pass
                else:
                    raise AssertionError(value)
        assert interp.quick.list(Word(("a b", "c"))) == ("{a b} c",)
        interp.history = Meddling()
        try:
            interp.quick.list("a")
        except UnicodeEncodeError:
            pass
        else:
            raise AssertionError("meddled word sent")
        print("survived")
    """)
    assert_survived(proc)
    assert "survived" in proc.stdout
