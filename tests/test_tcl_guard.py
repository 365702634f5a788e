"""The guard in front of the Tcl layer's unchecked conversion of nested values,
and the values that cross it (callback results, quick-call words, deep keyed
lists, pathological text)."""

import pytest
from hostile import (
    BIG,
    Boom,
    StrRaises,
    StrReturnsNonStr,
    assert_survived,
    deep_list,
    deep_tuple,
    guard,
    run_isolated,
)

from oskra.tcl.wordform import tclobj

# --------------------------------------------------------------------------
# The guard in front of the Tcl layer's conversion of nested values


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
        import tkinter, hostile as h
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
        import hostile as h
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
        import hostile as h
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
