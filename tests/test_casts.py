"""Casts and variable access, with tkinter itself as the oracle."""

import functools
import math
import re
import tkinter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from oskra.tcl.array import Array
from oskra.tcl.interpreter import Interpreter, NestMap
from oskra.tcl.wordform import wordform


@pytest.fixture(scope="module")
def oracle():
    return tkinter.Tcl()


@pytest.fixture(scope="module")
def shared():
    return Interpreter()


# Straight transcriptions of the cast rules over a plain tkinter.Tk.
def ref_number(oracle, method, value):
    try:
        return method(value)
    except TypeError:
        return method(wordform(value))


def ref_boolean(oracle, value):
    try:
        try:
            return bool(oracle.tk.getboolean(value))
        except TypeError:
            return bool(oracle.tk.getboolean(wordform(value)))
    except tkinter.TclError as exc:
        try:
            return ref_number(oracle, oracle.getint, value) != 0
        except ValueError:
            pass
        try:
            return ref_number(oracle, oracle.getdouble, value) != 0.0
        except ValueError:
            pass
        raise ValueError(exc) from exc


# Decimal text with a leading zero stays text: Tcl would read it as octal.
LEADING_ZERO = re.compile(r"\s*[+-]?0[0-9]")


def ref_any(oracle, value):
    """cast_any of a str: the number and boolean casts, then the keyed-list attempt."""
    if LEADING_ZERO.match(value):
        return value
    for cast in (
        lambda v: ref_number(oracle, oracle.getint, v),
        lambda v: ref_number(oracle, oracle.getdouble, v),
        lambda v: ref_boolean(oracle, v),
    ):
        try:
            return cast(value)
        except (TypeError, ValueError):
            pass
    if value.strip(" \t\n\r\v\f"):  # blank text is no keyed list
        try:
            return NestMap.from_tcl(value)
        except (TypeError, ValueError):
            pass
    return value


def outcome(fn, value):
    """What a call gives: the result with its type, or the error's type and text."""
    try:
        result = fn(value)
    except Exception as exc:  # compared, not hidden
        return ("raised", type(exc), str(exc))
    if isinstance(result, float) and math.isnan(result):
        return ("nan", type(result))
    return ("returned", type(result), result)


STRINGS = [
    "12",
    "-7",
    "+3",
    " 12 ",
    "\t12\n",
    "0x1F",
    "0X1f",
    "0o17",
    "017",
    "08",
    "0b101",
    "0d12",
    "1_000",
    "007",
    "9" * 30,
    "-" + "9" * 30,
    "18446744073709551615",
    "9223372036854775808",
    "-9223372036854775808",
    "9223372036854775807",
    "1.5",
    "1e3",
    ".5",
    "5.",
    "inf",
    "-Inf",
    "nan",
    "NaN",
    "1e400",
    "1e-400",
    "0x1p3",
    "",
    " ",
    "abc",
    "12abc",
    "1 2",
    "-",
    "+",
    "0",
    "0.0",
    "-0",
    "0x",
    "0o",
    "0b",
    "true",
    "no",
    "y",
    "o",
    "of",
    "on",
    "FALSE",
    "Yes",
    "nO",
    "OFF",
    "t",
    "f",
    "tru",
    "  true",
    "maybe",
    "a\x00b",
    "\x00",
    "\ud800",
    "x\udfffy",
    "\U0001f600",
    "１２",
    "½",
    "١٢",
    "x" * 100000,
]
OTHERS = [
    12,
    True,
    1.5,
    2**70,
    float("nan"),
    None,
    b"12",
    bytearray(b"1"),
    (1, 2),
    ["1"],
    object(),
    Array({"a": "1"}),
]


@pytest.mark.parametrize("value", STRINGS + OTHERS, ids=repr)
@pytest.mark.parametrize("name", ["getint", "getdouble"])
def test_number_casts_match_tkinter(shared, oracle, value, name):
    mine = shared.cast_int if name == "getint" else shared.cast_double
    assert outcome(mine, value) == outcome(lambda v: ref_number(oracle, getattr(oracle, name), v), value)


@pytest.mark.parametrize("value", STRINGS + OTHERS, ids=repr)
def test_boolean_and_any_match_the_rules(shared, oracle, value):
    assert outcome(shared.cast_boolean, value) == outcome(lambda v: ref_boolean(oracle, v), value)
    if isinstance(value, str) and value:
        assert outcome(shared.cast_any, value) == outcome(lambda v: ref_any(oracle, v), value)


def test_tcl_obj_values_match_tkinter(shared, oracle):
    shared.tk.eval("set d 1.5; set i [expr {7 * 6}]; keylset k a 1")
    values = [shared.tk.call("set", "k"), shared.tk.call("binary", "format", "a2", "ab")]
    for value in values:
        for mine, name in ((shared.cast_int, "getint"), (shared.cast_double, "getdouble")):
            assert outcome(mine, value) == outcome(
                lambda v: ref_number(oracle, getattr(oracle, name), v), value
            )
        assert outcome(shared.cast_boolean, value) == outcome(lambda v: ref_boolean(oracle, v), value)


NUMBERISH = st.text(alphabet="0123456789+-.eExXoObB _afinlrstuyN\t ", max_size=12)


@settings(max_examples=400, deadline=None)
@given(NUMBERISH)
def test_casts_agree_with_tkinter_on_generated_text(shared, oracle, text):
    for mine, name in ((shared.cast_int, "getint"), (shared.cast_double, "getdouble")):
        assert outcome(mine, text) == outcome(lambda v: ref_number(oracle, getattr(oracle, name), v), text)
    assert outcome(shared.cast_boolean, text) == outcome(lambda v: ref_boolean(oracle, v), text)
    assert outcome(shared.cast_any, text) == outcome(lambda v: ref_any(oracle, v), text)


@pytest.mark.parametrize(
    "text,expected",
    [
        ("yes", True),
        ("5", True),
        ("-2", True),
        ("0.5", True),
        ("1e400", True),
        ("off", False),
        ("0", False),
        ("0.0", False),
        ("0x0", False),
        ("-0.0", False),
    ],
)
def test_cast_boolean_values(shared, text, expected):
    assert shared.cast_boolean(text) is expected


def test_cast_boolean_failure_chains_the_tcl_error(shared):
    with pytest.raises(ValueError) as info:
        shared.cast_boolean("maybe")
    exc = info.value
    assert isinstance(exc.args[0], tkinter.TclError)
    assert exc.__cause__ is exc.args[0]
    assert str(exc.args[0]) == 'expected boolean value but got "maybe"'


def test_cast_int_errors_are_tkinters(shared):
    with pytest.raises(ValueError, match=r'^expected integer but got "1\.5"$'):
        shared.cast_int("1.5")
    assert shared.cast_int("12") == 12
    assert shared.cast_double("1.5") == 1.5


@pytest.mark.parametrize(
    "value,expected",
    [
        ("12", 12),
        ("1.5", 1.5),
        ("true", True),
        ("hello world", "hello world"),
        ("", ""),
        (7, 7),
        (2.5, 2.5),
        (True, True),
        ("-0x10", -16),
        (" 3 ", 3),
        # Braced text: never a number or boolean, and a keyed list only when
        # every element is a pair.
        ("{1}", "{1}"),
        ("{true}", "{true}"),
        ("{a", "{a"),
        ("{a 1} b", "{a 1} b"),
        ("{a b c}", "{a b c}"),
    ],
)
def test_cast_any(shared, value, expected):
    result = shared.cast_any(value)
    assert result == expected and type(result) is type(expected)


def test_cast_any_keeps_numbers_identical_and_handles_containers(shared):
    for value in (7, 2.5, True, 2**80):
        assert shared.cast_any(value) is value
    assert shared.cast_any(("a b", 1, ("x", "y z"))) == ("a b", "1", wordform(("x", "y z")))
    assert shared.cast_any(["1", "2"]) == str(["1", "2"])
    assert shared.cast_any([5]) == str([5])  # a list is not a tuple: cast from its str form
    assert shared.cast_any(IntSub(5)) == 5 and type(shared.cast_any(IntSub(5))) is int


class IntSub(int):
    pass


def test_cast_any_keyed_list(shared):
    result = shared.cast_any("{a 1} {b 2}")
    assert isinstance(result, NestMap) and dict(result) == {"a": "1", "b": "2"}
    shared.tk.eval("keylset kl x 1 y 2")
    obj = shared.tk.call("set", "kl")
    assert obj.typename == "keyedList"
    assert dict(shared.cast_any(obj)) == {"x": "1", "y": "2"}


@pytest.mark.parametrize("value", ["\ud800", "a\x00b", "\U0001f600 x", "{", "x" * 1000000])
def test_cast_any_hostile_strings_come_back(shared, value):
    assert shared.cast_any(value) == value


def test_cast_list():
    assert Interpreter.cast_list("1 2 3") == ("1", "2", "3")
    assert Interpreter.cast_list("1 2 3", item_cast=int) == (1, 2, 3)
    assert functools.partial(Interpreter.cast_list, item_cast=int)("1 2 3") == (1, 2, 3)
    with pytest.raises(ValueError) as info:
        Interpreter.cast_list("{a")
    assert isinstance(info.value.args[0], tkinter.TclError)
    assert info.value.__cause__ is info.value.args[0]
    with pytest.raises(ZeroDivisionError):
        Interpreter.cast_list("1 0", item_cast=lambda x: 1 / int(x))


def test_cast_array_and_keyed_list():
    arr = Interpreter.cast_array("a 1 b 2")
    assert isinstance(arr, Array) and dict(arr) == {"a": "1", "b": "2"}
    assert dict(Interpreter.cast_array("a 1 b 2", item_cast=int)) == {"a": 1, "b": 2}
    kl = Interpreter.cast_keyed_list("{a 1} {b 2}")
    assert isinstance(kl, NestMap) and dict(kl) == {"a": "1", "b": "2"}
    assert dict(Interpreter.cast_keyed_list("{a 1} {b 2}", item_cast=int)) == {"a": 1, "b": 2}
    with pytest.raises(ValueError):
        Interpreter.cast_array("a 1 b")


def test_readers_and_writers(interp):
    interp.set_var("::v", "a b")
    assert interp.get_var("::v") == "a b"
    assert interp.get_list("::v") == ("a", "b")
    interp.set_int("::n", "abc")  # no checking
    assert interp.tk.eval("set ::n") == "abc"
    interp.set_int("::n", 42)
    assert interp.get_int("::n") == 42 and interp.get_double("::n") == 42.0
    interp.set_boolean("::b", "no")  # Python truth, not Tcl meaning
    assert interp.tk.eval("set ::b") == "1" and interp.get_boolean("::b") is True
    interp.set_boolean("::b", [])
    assert interp.tk.eval("set ::b") == "0"
    interp.set_list("::l", (x for x in ["a b", 1]))
    assert interp.tk.splitlist(interp.tk.eval("set ::l")) == ("a b", "1")
    interp.set_array("::arr", {"k": "v w"})
    assert dict(interp.get_array("::arr")) == {"k": "v w"}
    interp.set_keyed_list("::kl", {"a": "1"})
    assert interp.tk.call("keylget", "::kl", "a") == "1"
    assert dict(interp.get_keyed_list("::kl")) == {"a": "1"}
    with pytest.raises(KeyError):
        interp.get_var("::no_such_variable")


def test_aliases():
    assert Interpreter.set_int is Interpreter.set_var
    assert Interpreter.set_double is Interpreter.set_var


class Word:
    """An object with its own Tcl word form."""

    def __init__(self, text):
        self.text = text

    def __wordform__(self):
        return self.text


@pytest.mark.parametrize("cast,expected", [("cast_int", 12), ("cast_double", 12.0), ("cast_boolean", True)])
def test_types_tkinter_refuses_are_retried_through_wordform(shared, cast, expected):
    result = getattr(shared, cast)(Word("12"))
    assert result == expected and type(result) is type(expected)
    assert shared.cast_any(Word("12")).startswith("<")  # cast_any takes str(), not the word form


def test_hostile_containers(shared):
    loop = []
    loop.append((loop,))
    with pytest.raises((RecursionError, ValueError)):
        shared.cast_any((loop,))
    deep = "x"
    for _ in range(100000):
        deep = (deep,)
    with pytest.raises((RecursionError, ValueError)):
        shared.cast_any(deep)
    for bad in (None, 5, object()):
        with pytest.raises((TypeError, ValueError)):
            Interpreter.cast_list(bad)
        with pytest.raises((TypeError, ValueError)):
            Interpreter.cast_keyed_list(bad)
        with pytest.raises((TypeError, ValueError)):
            Interpreter.cast_array(bad)
    with pytest.raises(TypeError):
        Interpreter.cast_list("a b", item_cast=5)


@pytest.mark.parametrize(
    "writer,value",
    [
        ("set_list", "\ud800"),
        ("set_list", ["a", ("b", "x\udfffy")]),
        ("set_var", ("\ud800",)),
        ("set_var", ["ok", ["\udc80"]]),
        ("set_var", "\ud800"),
    ],
)
def test_writers_refuse_lone_surrogates_at_any_depth(interp, writer, value):
    with pytest.raises(UnicodeEncodeError):
        getattr(interp, writer)("::w", value)
    assert interp.eval("set ::alive 1") == "1"
