"""GetListFromAny against Tcl's own list parser, and TclDLL.Tcl_ResetResult."""

import ctypes
import tkinter
import weakref

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from oskra.tcl.internal import GetListFromAny, TclDLL

E = "\U0001f600"


# The text is rebuilt inside Tcl from the bytes tkinter would hand over, with
# NUL in Tcl's own two-byte form whatever the Python (tkinter before 3.13
# passes a raw zero byte); the outcome comes back as a list, so that an error
# message keeps its NUL too.
SPLIT_IN_TCL = """{hex} {
    set s [encoding convertfrom identity [binary decode hex $hex]]
    if {[catch {lrange $s 0 end} r]} {return [list ERR $r]}
    return [list OK {*}$r]
}"""


def tcl_split(tk, s):
    """Tcl's elements of s, or ("ERR", message)."""
    if "\x00" in s:
        # tkinter refuses NUL in splitlist's text; lrange parses it too.
        status, *rest = tk.call("apply", SPLIT_IN_TCL, s.encode("utf-8").replace(b"\0", b"\xc0\x80").hex())
        return tuple(rest) if status == "OK" else ("ERR", *rest)
    try:
        return tk.splitlist(s)
    except tkinter.TclError as exc:
        return ("ERR", str(exc))


def ours(s):
    try:
        return GetListFromAny(s)
    except tkinter.TclError as exc:
        return ("ERR", str(exc))


EXAMPLES = [
    "",
    "   ",
    "a b c",
    " \t\n\v\f\ra\rb ",
    "{a b} c",
    "{a {b c} d} e",
    "{}",
    '""',
    '"" {} x',
    '"a b" c',
    "a{b c}d",
    'a"b c"d',
    "{a\\}b} c",
    "{\\{} x",
    "{a\\\nb}",
    "a\\ b",
    "\\{a",
    '"\\""',
    '"a\\\n  b"',
    "x \\\n   y",
    "\\\n\t b",
    "a\\\n\\\nb",
    "a\\\r\nb",
    "a\\",
    "\\",
    "\\a\\b\\f\\n\\r\\t\\v\\q",
    "\\x41g \\x414 \\x \\xZ \\x123",
    "\\u12345 \\u \\u00e9 \\u0000",
    "\\U0011FFFF \\U0010FFFF \\U1F600x \\U110000 \\U",
    "\\ud83d\\ude00 \\ud83d \\ude00 \\ud83d\\ud83d \\ude00\\ud83d",
    "\\ud83dx\\ude00",
    "\\1234 \\400 \\08 \\777 \\8 \\0 \\37",
    "a\\\x00b \\\x00",
    "{\\\x00}",
    "a\x00b {\x00}",
    "\\" + E + "b",
    "a " + E + " {" + E + "}",
    "\\\u20ac \\\xe9",
    # malformed
    "{a",
    '"a',
    "{a}b",
    '"a"b',
    "{a}{b}",
    '"a""',
    "{a}xyzxyzxyzxyzxyzxyzxyzxyz",
    "a {b\\}",
    "{a\\}",
    '"a\\"',
    "{a}\\b",
    '"x"{',
    "{a}\\\nb",
    "{{a} b",
    "{a}\x00",
    "{a}x\x00yy",
    "{a}" + E,
    "{a}" + E + " b",
    "{a}x" + E * 5,
    "{a}" + "x" * 16 + E + "yz",
    "{a}" + "x" * 17 + E,
    "{a}" + "x" * 15 + E + E,
    "{a}" + "x" * 15 + E + "\u20ac",
    "{a}" + "x" * 18 + "\u20ac",
    "{a}" + "\xe9" * 12,
    '"a"' + "x" * 19 + "\xe9",
    "{a}\u2028y",
    "{a}\xa0",
    "{a}\x85 b",
]


@pytest.mark.parametrize("text", EXAMPLES)
def test_examples_match_tcl(tcl, text):
    assert ours(text) == tcl_split(tcl, text)


ALPHABET = list(" \t\n\r\v\f\\{}\"\x00") + list("axuU0178fF9") + ["\xe9", "\u20ac", E]
TOKENS = ALPHABET + ["\\n", "\\u", "\\U", "\\x", "d83d", "dc00", "\\ud83d", "\\udc00"]


@settings(max_examples=1500, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.sampled_from(TOKENS), max_size=40).map("".join))
def test_syntax_soup_matches_tcl(tcl, text):
    assert ours(text) == tcl_split(tcl, text)


@settings(max_examples=300)
@given(st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=60))
def test_any_text_matches_tcl(tcl, text):
    assert ours(text) == tcl_split(tcl, text)


@settings(max_examples=300)
@given(st.lists(st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=12), max_size=8))
def test_tcl_built_lists_round_trip(tcl, items):
    text = tcl.call("format", "%s", tcl.call("list", *items)) if items else ""
    assert isinstance(text, str)
    assert GetListFromAny(text) == tuple(items)


def test_error_is_tclerror():
    with pytest.raises(tkinter.TclError, match="^unmatched open brace in list$"):
        GetListFromAny("{a")


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a \ud800 b", ("a", "\ud800", "b")),
        ("{\udfff x}", ("\udfff x",)),
        ("\\\ud800", ("\ud800",)),
    ],
)
def test_lone_surrogates_are_kept(text, expected):
    assert GetListFromAny(text) == expected


def test_tcl_obj_input(tcl):
    obj = tcl.call("dict", "create", "a", "b c", "{", "\\x")
    assert type(obj).__name__ == "Tcl_Obj"
    assert GetListFromAny(obj) == ("a", "b c", "{", "\\x")


@pytest.mark.parametrize(
    "value, expected",
    [
        ([1, "a b"], (1, "a b")),
        (range(3), (0, 1, 2)),
        ((), ()),
    ],
)
def test_sequences_become_tuples(value, expected):
    assert GetListFromAny(value) == expected


def test_tuple_is_returned_as_is():
    t = ("x y", 1)
    assert GetListFromAny(t) is t


@pytest.mark.parametrize("value", [None, 1, 2.5, {"a": 1}, {1, 2}, iter("ab"), object()])
def test_other_types_raise_typeerror(value):
    with pytest.raises(TypeError):
        GetListFromAny(value)


def test_huge_and_deep_input():
    n = 200_000
    assert len(GetListFromAny("x " * n)) == n
    assert GetListFromAny("{" * n + "}" * n) == ("{" * (n - 1) + "}" * (n - 1),)
    with pytest.raises(tkinter.TclError, match="unmatched open brace"):
        GetListFromAny("{" * n)
    big = "\\u00e9" * n
    assert GetListFromAny(big) == ("\xe9" * n,)


def test_str_subclass_gives_plain_str_elements():
    class Text(str):
        pass

    elems = GetListFromAny(Text("abc {d e} \\x41"))
    assert elems == ("abc", "d e", "A")
    assert all(type(e) is str for e in elems)


class TestResetResult:
    @pytest.fixture
    def libtcl(self):
        lib = ctypes.CDLL("libtcl8.6.so")
        lib.Tcl_GetStringResult.restype = ctypes.c_char_p
        lib.Tcl_GetStringResult.argtypes = [ctypes.c_void_p]
        return lib

    @pytest.mark.parametrize("how", ["app", "tk", "holder", "proxy"])
    def test_resets_the_interpreter_result(self, libtcl, how):
        app = tkinter.Tcl()

        class Holder:
            pass

        holder = Holder()
        holder.tk = app.tk
        target = {"app": app, "tk": app.tk, "holder": holder, "proxy": weakref.proxy(app)}[how]
        app.eval("set x hello")
        assert libtcl.Tcl_GetStringResult(app.interpaddr()) == b"hello"
        assert TclDLL.Tcl_ResetResult(target) is None
        assert libtcl.Tcl_GetStringResult(app.interpaddr()) == b""

    def test_dead_proxy_raises_reference_error(self):
        app = tkinter.Tcl()
        proxy = weakref.proxy(app)
        del app
        with pytest.raises(ReferenceError):
            TclDLL.Tcl_ResetResult(proxy)

    @pytest.mark.parametrize("value", [None, 1, "x", object()])
    def test_no_interpreter(self, value):
        with pytest.raises(AttributeError):
            TclDLL.Tcl_ResetResult(value)

    def test_tk_that_is_not_an_application(self):
        class Fake:
            tk = "not an app"

        with pytest.raises(TypeError):
            TclDLL.Tcl_ResetResult(Fake())
