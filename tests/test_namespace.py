"""TclNamespace: module top level, name algebra, namespace operations."""

import gc
import weakref
from collections.abc import MutableMapping
from tkinter import TclError

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import oskra.tcl.namespace as nsmod
from oskra.tcl.namespace import TclNamespace, TempTclNamespace
from oskra.tcl.wordform import wordform

T = TclNamespace


# --- module top level --------------------------------------------------------


def test_module_names_in_order_and_star_import():
    public = [k for k in vars(nsmod) if not k.startswith("__")]
    assert public == [
        "MutableMapping",
        "wordform",
        "tclobj",
        "TclError",
        "Tk",
        "MethodType",
        "weakref",
        "sys",
        "functools",
        "TclVariable",
        "TempTclVariable",
        "TclArrayVariable",
        "TempTclArrayVariable",
        "TclCommand",
        "TempTclCommand",
        "TclNamespace",
        "TempTclNamespace",
    ]
    assert type(nsmod.__all__) is tuple and len(nsmod.__all__) == 8
    assert list(nsmod.__all__) == public[9:]
    assert "abstraction of Tcl namespaces, variables and commands" in nsmod.__doc__
    assert ", ".join(nsmod.__all__) in " ".join(nsmod.__doc__.split())
    scope = {}
    exec("from oskra.tcl.namespace import *", scope)
    assert sorted(k for k in scope if k != "__builtins__") == sorted(nsmod.__all__)


def test_class_bases_and_mro():
    m = nsmod
    assert m.TempTclVariable.__bases__ == (m.TclVariable,)
    assert m.TclArrayVariable.__bases__ == (MutableMapping, m.TclVariable)
    assert m.TempTclArrayVariable.__bases__ == (m.TempTclVariable, m.TclArrayVariable)
    assert m.TempTclCommand.__bases__ == (m.TclCommand,)
    assert m.TempTclNamespace.__bases__ == (m.TclNamespace,)
    assert [c.__name__ for c in m.TempTclArrayVariable.__mro__] == [
        "TempTclArrayVariable",
        "TempTclVariable",
        "TclArrayVariable",
        "MutableMapping",
        "Mapping",
        "Collection",
        "Sized",
        "Iterable",
        "Container",
        "TclVariable",
        "object",
    ]
    assert not [k for k in vars(m.TempTclArrayVariable) if not k.startswith("_")]


def test_tclnamespace_class_body_order():
    own = [
        k for k in vars(T) if k not in ("__module__", "__doc__", "__dict__", "__weakref__", "__qualname__")
    ]
    assert own == [
        "__init__",
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
        "make_absolute",
        "__str__",
        "__repr__",
        "qualifiers",
        "tail",
        "join",
        "split",
        "normalize",
        "VariablesView",
        "ObjectsView",
        "CommandsView",
        "ProcsView",
    ]
    for name in ("qualifiers", "tail", "join", "split", "normalize"):
        assert isinstance(vars(T)[name], staticmethod)
    assert T.VariablesView.__qualname__ == "TclNamespace.VariablesView"
    assert issubclass(T.ObjectsView, T.VariablesView)
    assert issubclass(T.ProcsView, T.CommandsView)
    assert T.CommandsView.__bases__ == (MutableMapping,)


# --- name algebra --------------------------------------------------------------


@pytest.mark.parametrize(
    "name, parts",
    [
        ("::a::::b::", ["", "a", "b"]),
        ("a::b", ["a", "b"]),
        ("::", [""]),
        ("", []),
        (None, []),
        ("::::", [""]),
        ("a", ["a"]),
        ("\U0001f600::\x00::\udc80", ["\U0001f600", "\x00", "\udc80"]),
    ],
)
def test_split(name, parts):
    assert T.split(name) == parts


@pytest.mark.parametrize("name", ["a:b", ":::a", "a::b:", ":", "::a::b:c::d"])
def test_split_rejects_single_colon(name):
    with pytest.raises(ValueError) as e:
        T.split(name)
    assert str(e.value) == "Invalid Tcl namespace '%s'" % name


@pytest.mark.parametrize(
    "args, result",
    [
        (("::a", "b", "::c", "d"), "::c::d"),
        (("a", "", "b"), "a::b"),
        (("", "x"), "x"),
        (("::", "a"), "::a"),
        (("::",), ""),
        (("a::", "::"), ""),
        (("", "", "b"), "b"),
        ((None, "a", None), "a"),
        (("ns", 5), "ns::5"),
        (("::a", ("b", "c d")), "::a::b {c d}"),
    ],
)
def test_join(args, result):
    assert T.join(*args) == result


def test_join_error_names_the_whole_concatenation():
    with pytest.raises(ValueError, match=r"^Invalid Tcl namespace '::a::b:c'$"):
        T.join("::a", "b:c")
    with pytest.raises(ValueError, match=r"^Invalid Tcl namespace 'x::y:'$"):
        T.join("x", "y:")


@pytest.mark.parametrize(
    "fn, name, result",
    [
        ("normalize", "::", ""),
        ("normalize", "", ""),
        ("normalize", "a::b::", "a::b"),
        ("normalize", "::a::::b", "::a::b"),
        ("qualifiers", "::a::b::c", "::a::b"),
        ("qualifiers", "a:::b", "a"),
        ("qualifiers", "::a", ""),
        ("qualifiers", "a", ""),
        ("qualifiers", "x:b", ""),
        ("tail", "::a::b", "b"),
        ("tail", "a", "a"),
        ("tail", "a::", ""),
        ("tail", ":::x", "x"),
    ],
)
def test_normalize_qualifiers_tail(fn, name, result):
    assert getattr(T, fn)(name) == result


# The algorithms as plain Python, straight from their definitions.
def ref_split(s):
    s = wordform(s)
    parts = [p for p in s.split("::") if p]
    for p in parts:
        if ":" in p:
            raise ValueError("Invalid Tcl namespace '%s'" % s)
    return ([""] if s.startswith("::") else []) + parts


def ref_join(s, *args):
    s = wordform(s)
    for a in args:
        a = wordform(a)
        if not s or a.startswith("::"):
            s = a
        elif a:
            s = s + "::" + a
    return "::".join(ref_split(s))


def outcome(fn, *args):
    try:
        return ("ok", fn(*args))
    except ValueError as e:
        return ("err", str(e))


names_st = st.lists(
    st.sampled_from(["a", "b", "\xe9", ":", "::", "\x00", "\U0001f600", "\udcff"]), max_size=8
).map("".join)


@settings(max_examples=400, deadline=None)
@given(st.lists(names_st, min_size=1, max_size=5))
def test_join_and_split_agree_with_definition(names):
    assert outcome(T.join, *names) == outcome(ref_join, *names)
    assert outcome(T.split, names[0]) == outcome(ref_split, names[0])
    assert outcome(T.normalize, names[0]) == outcome(lambda s: "::".join(ref_split(s)), names[0])


class Hostile:
    def __wordform__(self):
        return 42  # not a string


def test_name_algebra_hostile_input():
    loop = []
    loop.append(loop)
    with pytest.raises(RecursionError):
        T.join("a", loop)
    with pytest.raises(TypeError):
        T.split(Hostile())
    with pytest.raises(TypeError):
        T.join()
    with pytest.raises(TypeError):
        T.split("a", "b")
    huge = "ab::" * 250_000
    assert T.normalize(huge) == huge[:-2]
    assert len(T.split(huge)) == 250_000
    assert T.split(string="a::b") == ["a", "b"]


# --- instances -------------------------------------------------------------------


def test_constructor_attributes_and_proxy(interp):
    n = T("::n", tcl=interp)
    assert list(vars(n)) == ["ns", "tcl", "vars", "objs", "procs", "cmds"]
    assert type(n.tcl) in weakref.ProxyTypes
    assert isinstance(n.vars, T.VariablesView) and type(n.objs) is T.ObjectsView
    assert type(n.procs) is T.ProcsView and type(n.cmds) is T.CommandsView
    assert n.vars.ns is n
    proxy = weakref.proxy(interp)
    assert T("x", tcl=proxy).tcl is proxy
    assert T(None, tcl=interp).ns == "" and T(("a b", "c"), tcl=interp).ns == "{a b} c"
    assert str(n) == "::n"
    assert not T("::never_made", tcl=interp).exists()


@pytest.mark.parametrize(
    "name, absolute, relative", [("", "", ""), ("::a", True, False), ("a", False, True), ("::", True, False)]
)
def test_is_absolute_is_relative(interp, name, absolute, relative):
    n = T(name, tcl=interp)
    assert n.is_absolute() == absolute and type(n.is_absolute()) is type(absolute)
    assert n.is_relative() == relative and type(n.is_relative()) is type(relative)


def test_absolute_and_make_absolute(interp):
    assert T("::x::", tcl=interp).absolute() == "::x::"  # not normalized
    assert T("", tcl=interp).absolute() == ""
    n = T("x::y", tcl=interp)
    assert n.absolute() == "::x::y"
    n.make_absolute()
    assert n.ns == "::x::y"
    with pytest.raises(ValueError):
        T("a:b", tcl=interp).absolute()


def test_create_exists_delete(interp):
    n = T("::made::deep", tcl=interp)
    assert not n.exists()
    assert n.create() is None
    assert n.exists() is True and T("::made", tcl=interp).exists()
    n.delete()
    assert not n.exists()
    with pytest.raises(TclError):
        n.delete()
    n.create()  # the object stays usable
    assert n.exists()
    with pytest.raises(ValueError, match="^Cannot create current namespace$"):
        T(None, tcl=interp).create()


def test_empty_name_delete_targets_current(interp):
    # The Tcl layer runs its calls at global level, so current() is "::" even
    # from inside a namespace: the empty name then stands for the global one.
    interp.tk.createcommand("py_current", lambda: T(None, tcl=interp).current())
    assert interp.tk.eval("namespace eval ::inner { ::py_current }") == "::"
    assert T(None, tcl=interp).exists() is True
    T(None, tcl=interp).delete()
    with pytest.raises(TclError, match="invalid command name"):
        interp.tk.eval("set x 1")


def test_children_current_parent_which(interp):
    interp.tk.eval(
        "namespace eval ::top { namespace eval alpha {}; namespace eval beta {}; "
        "namespace eval gamma {}; proc hello {} {}; variable v 1 }"
    )
    top = T("::top", tcl=interp)
    assert sorted(top.children()) == ["::top::alpha", "::top::beta", "::top::gamma"]
    assert top.children("b*") == ("::top::beta",)
    assert top.children("") == ()
    assert T("top", tcl=interp).children("?amma") == ("::top::gamma",)
    assert T(None, tcl=interp).children("top") == ("::top",)
    assert top.current() == "::"
    assert T("::top::alpha", tcl=interp).parent() == "::top"
    with pytest.raises(TclError):
        T("::top::nope::x", tcl=interp).parent()
    assert top.which("hello", command=True) == "::top::hello"
    assert top.which("v", variable=True) == "::top::v"
    assert top.which("nope", command=1) == ""
    assert top.code("puts x") == ("::namespace", "inscope", "::top", "puts x")
    assert top.origin("hello") == "::top::hello"
    with pytest.raises(TclError):
        top.origin("no_such_command")


@pytest.mark.parametrize(
    "name, parent",
    [("::a::b::c", "::a::b"), ("::a", "::"), ("::", ""), ("::a::::b::", "::a"), ("::x:y::z", None)],
)
def test_parent_without_tcl(name, parent):
    class Dead:
        pass

    d = Dead()
    n = T(name, tcl=d)
    del d
    gc.collect()
    if parent is None:
        with pytest.raises(ValueError):
            n.parent(force_eval=True)
    else:
        assert n.parent(force_eval="yes") == parent  # no Tcl: the interpreter is gone
    with pytest.raises(ReferenceError):
        n.parent()


def test_export_import_forget(interp):
    interp.tk.eval("namespace eval ::lib { proc one {} {return 1}; proc two {} {return 2} }")
    lib = T("::lib", tcl=interp)
    assert lib.export() == ()
    assert lib.export(False, "one", "t*") is None
    assert lib.export() == ("one", "t*")
    assert lib.export("two") is None  # the pattern lands in `clear`, which is true
    assert lib.export() == ()
    lib.export(False, "one")
    user = T("::user", tcl=interp)
    user.create()
    assert user.import_(False, "::lib::*") is None
    assert interp.tk.eval("::user::one") == "1"
    user.forget("::lib::one")
    assert interp.tk.eval("info commands ::user::one") == ""
    lib.export(True, "two")
    user.import_(True, "::lib::two")
    assert interp.tk.eval("::user::two") == "2"


def test_eval_and_call_run_inside_the_namespace(interp):
    n = T("::n", tcl=interp)
    n.create()
    assert n.eval("set", "v", "a b") == "a b"
    assert interp.tk.eval("set ::n::v") == "a b"
    with pytest.raises(TclError):
        n.call(("set", "missing"))
    n.call(("set", "w", ("x", "y z")))
    assert interp.tk.eval("set ::n::w") == "x {y z}"
    assert n.eval("variable q 7; set q") == "7"
    assert str(n.call("variable z 3; set z")) == "3"
    empty = T(None, tcl=interp)
    assert empty.call("set", "::g", 1) == 1
    assert interp.tk.eval("set ::g") == "1"
    with pytest.raises(TclError):
        empty.call("set ::g 2")  # one word: no such command
    assert empty.eval("set ::g 2") == "2"


@pytest.mark.parametrize("name", ["", "::n"])
def test_hash_first_word_runs_the_command(interp, name):
    n = T(name, tcl=interp)
    if name:
        n.create()
    # Without quoting, "#cmd a" would be a comment and give "" silently.
    with pytest.raises(TclError, match='invalid command name "#cmd"'):
        n.eval("#cmd", "a")
    with pytest.raises(TclError, match='invalid command name "#cmd"'):
        n.eval(("#cmd", "a"))
    interp.tk.eval("proc ::#cmd {args} {return [list ran {*}$args]}")
    assert n.eval("::#cmd", "a b") == "ran {a b}"
    assert n.eval("#cmd", "a b") == "ran {a b}"
    assert n.eval(("#cmd",)) == "ran"
    interp.tk.call("proc", "::#c{md", "args", "return [list odd {*}$args]")
    assert n.eval("#c{md", "x") == "odd x"  # written with backslashes
    # A script given as a string is the caller's own: a comment stays one.
    assert n.eval("#cmd a") == ""
    assert wordform(("#cmd", "a")) == "#cmd a"


def test_dead_interpreter_gives_reference_error():
    from oskra.tcl.interpreter import Interpreter

    interp = Interpreter()
    n = T("::n", tcl=interp)
    tmp = TempTclNamespace(tcl=interp)
    del interp
    gc.collect()
    for call in (
        n.exists,
        n.create,
        n.delete,
        n.current,
        n.children,
        lambda: n.eval("x"),
        lambda: n.call("x"),
        n.export,
        lambda: n.vars["x"],
        lambda: list(n.cmds),
        lambda: "x" in n.procs,
        tmp.__enter__,
        lambda: tmp.__exit__(None, None, None),
    ):
        with pytest.raises(ReferenceError):
            call()
    assert n.is_absolute() is True and T.join(n, "x") == "::n::x" and n.absolute() == "::n"


@pytest.mark.parametrize(
    "value, error",
    [
        (("a", "\ud800"), UnicodeEncodeError),
        ([["x\udfff"]], UnicodeEncodeError),
    ],
)
def test_nested_values_the_tcl_layer_cannot_convert_raise(interp, value, error):
    for n in (T("::n", tcl=interp), T(None, tcl=interp)):
        with pytest.raises(error):
            n.call("list", value)
    with pytest.raises(error):
        T("::n", tcl=interp).code(value)
    assert interp.tk.eval("set ::alive 1") == "1"


def test_deeply_nested_call_raises_recursion_error(interp):
    deep = "x"
    for _ in range(100_000):
        deep = (deep,)
    with pytest.raises(RecursionError):
        T("::n", tcl=interp).call("list", deep)
