"""Results read as text are Tcl's text, whatever type the Tcl layer converted them to."""

import pytest

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.wordform import wordform


@pytest.fixture(scope="module")
def shared():
    return Interpreter()


# Each script leaves ::r with a Tcl type that the Tcl layer converts (a tuple,
# an int, a float, a bool, bytes) or wraps (a dict); the Tcl text is what
# `set ::r` evaluated as a script gives.
SHIMMERED = {
    "list": "set ::r [list a {b c} {}]",
    "nested list": "set ::r [list a [list b [list c d]]]",
    "list text kept": "set ::r {a   {b}  c}; llength $::r",
    "dict": "set ::r [dict create k {v w} n 1]",
    "hex int": "set ::r 0x10; expr {$::r + 0}",
    "octal int": "set ::r 0150; expr {$::r + 0}",
    "spaced int": "set ::r { 12 }; expr {$::r + 0}",
    "double": "set ::r 1.50; expr {$::r + 0}",
    "double exp": "set ::r [expr {1e16}]",
    "boolean": "set ::r yes; if {$::r} {}",
    "byte array": "set ::r [binary format a* plain]",
    "high bytes": "set ::r [binary format H* 00ff7f80]",
    "keyed list": "set ::r {}; keylset ::r a.b 1 c {x y}",
    "non-BMP list": "set ::r [list \U0001f600 {\U0001f600 x}]",
}


@pytest.mark.parametrize("script", SHIMMERED.values(), ids=SHIMMERED.keys())
def test_uncast_quick_result_is_tcl_text(shared, script):
    shared.tk.eval(script)
    assert shared.quick.set("::r", cast_=False) == shared.tk.eval("set ::r")


@pytest.mark.parametrize("value", ["a\x00b", "\U0001f600\x00", "\x00"], ids=["nul", "non-BMP", "nul only"])
def test_uncast_text_keeps_every_character(shared, value):
    shared.tk.call("set", "::r", (value, "x y"))
    assert shared.quick.set("::r", cast_=False) == wordform((value, "x y"))


def test_uncast_result_survives_python_commands_that_call_tcl(shared):
    shared.tk.createcommand("py_inner", lambda: shared.tk.eval("list x y"))
    try:
        assert shared.quick.eval("list [py_inner] z", cast_=False) == "{x y} z"
    finally:
        shared.tk.deletecommand("py_inner")


@pytest.mark.parametrize(
    "value,expected",
    [
        (b"plain", "plain"),
        (b"\x00\xff", "\x00\xff"),
        (b"12", 12),  # a byte array's text is cast like any text
        (("a", b"\xe9"), ("a", "\xe9")),
        (("a", (b"x y", "z")), ("a", "{x y} z")),
    ],
)
def test_cast_any_reads_byte_arrays_as_text(shared, value, expected):
    assert shared.cast_any(value) == expected


def test_byte_array_results_are_text(shared):
    assert shared.quick.binary("format", "a*", "plain") == "plain"
    assert shared.quick.binary("format", "H*", "00ff", cast_=False) == "\x00\xff"


@pytest.mark.parametrize(
    "text,expected",
    [
        ("0150", "0150"),
        ("-007", "-007"),
        ("+012", "+012"),
        ("00", "00"),
        (" 0150 ", " 0150 "),
        ("00.5", "00.5"),
        ("0", 0),
        ("-0", 0),
        ("10", 10),
        ("0x1F", 31),
        ("0o17", 15),
        ("0.5", 0.5),
        ("0e5", 0.0),
        (" ", " "),  # blank text is no keyed list
        ("\t\n", "\t\n"),
    ],
)
def test_cast_any_keeps_leading_zero_decimals_as_text(shared, text, expected):
    result = shared.cast_any(text)
    assert (type(result), result) == (type(expected), expected)


def test_explicit_casts_keep_tcl_rules(shared):
    assert shared.cast_int("0150") == 104
    assert shared.cast_double("0150") == 104.0
    assert shared.cast_boolean("00") is False


def test_quick_result_read_as_octal_keeps_its_text(shared):
    shared.tk.eval("set ::zip 0150; expr {$::zip + 0}")
    assert isinstance(shared.tk.call("set", "::zip"), int)
    assert shared.quick.set("::zip") == "0150"
    shared.tk.eval("package require json")
    assert shared.quick.json.json2dict('"0150"') == "0150"
