"""Hostile input whose right answer is known: the errors, round trips and
results pinned."""

import importlib
from tkinter import TclError

import pytest
from hostile import (
    BIG,
    Boom,
    ChangesWhileIterated,
    FalsyProtocol,
    GetattrRaises,
    IterRaises,
    KeysRaise,
    RaisesEverywhere,
    ReturnsItself,
    StrRaises,
    StrReturnsNonStr,
    TclobjReturnsItself,
    assert_survived,
    deep_list,
    deep_tuple,
    run_isolated,
    self_dict,
    self_list,
)

# --------------------------------------------------------------------------
# Results for hostile input that are known


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
