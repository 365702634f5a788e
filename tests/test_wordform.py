"""oskra.tcl.wordform: list quoting, wordform() and tclobj()."""

import _tkinter
import collections.abc
import copy
import importlib
import inspect
import pickle
import sys
import tkinter

import pytest

wf = importlib.import_module("oskra.tcl.wordform")
_Tcl_ConvertElement, _Tcl_ScanElement = wf._Tcl_ConvertElement, wf._Tcl_ScanElement
wordform, tclobj = wf.wordform, wf.tclobj

DONT = {"TCL_DONT_USE_BRACES", "BRACES_UNMATCHED"}
BS = "\\"


@pytest.fixture(scope="module")
def tcl():
    return tkinter.Tcl()


# -- list element quoting -------------------------------------------------


@pytest.mark.parametrize(
    "element, quoted",
    [
        ("abc", "abc"),
        ("", "{}"),
        ("a b", "{a b}"),
        ("a$b", "{a$b}"),
        ("{a b}", "{{a b}}"),
        ('"a"', '{"a"}'),
        ('a"b', 'a\\"b'),
        ("a]", "a\\]"),
        ("a{", "a\\{"),
        ("a}", "a\\}"),
        ("{a", "\\{a"),
        ("x\\", "x\\\\"),
        ("a\nb", "{a\nb}"),
        ("a\\\nb", "a\\\\\\nb"),
        ("}{", "\\}\\{"),
        ("#x", "#x"),
        ("a\\{b}", "a\\\\\\{b\\}"),  # the quoted brace does not count...
        ("a\\{{b}", "{a\\{{b}}"),  # ...so these braces balance
        ("\\x7b{", "\\\\x7b\\{"),
        ("a\tb\fc", "{a\tb\fc}"),
        ("a;\tb}", "a\\;\\tb\\}"),
        ("\x0b\r}", "\\v\\r\\}"),
    ],
)
def test_element_quoting(element, quoted):
    assert wordform([element]) == quoted
    assert _Tcl_ConvertElement(element, _Tcl_ScanElement(element)[1]) == quoted


@pytest.mark.parametrize(
    "element, flags",
    [
        ("abc", set()),
        ("", {"USE_BRACES"}),
        ('"', {"USE_BRACES"}),
        ("a]b", set()),
        ("a}", DONT),
        ("a[}{b", DONT | {"USE_BRACES"}),  # "}" keeps what was collected
        ("a b\\", DONT),  # a final backslash discards it
        ("a\\\nb c", DONT | {"USE_BRACES"}),
        ("{a", DONT),
        ("a\\}", {"USE_BRACES"}),
        ("\\u007b", {"USE_BRACES"}),
        ("\\0{", DONT),
    ],
)
def test_scan_flags(element, flags):
    size, got = _Tcl_ScanElement(element)
    assert got == flags and size == 2 * len(element) + 2
    assert _Tcl_ScanElement(string=element) == (size, got)


@pytest.mark.parametrize(
    "flags, expected, unmatched_after",
    [
        (set(), "\\{a\\}b\\}", True),
        ({"BRACES_UNMATCHED"}, "\\{a\\}b\\}", True),
        ({"USE_BRACES"}, "{{a}b}}", False),
        ({"USE_BRACES", "TCL_DONT_USE_BRACES"}, "\\{a\\}b\\}", True),
    ],
)
def test_convert_changes_callers_flags(flags, expected, unmatched_after):
    assert _Tcl_ConvertElement("{a}b}", flags) == expected
    assert ("BRACES_UNMATCHED" in flags) is unmatched_after


def test_convert_unmatched_backslashes_every_brace():
    assert _Tcl_ConvertElement(src="a{b}", flags={"BRACES_UNMATCHED"}) == "a\\{b\\}"
    assert _Tcl_ConvertElement("a{b}", ["BRACES_UNMATCHED"]) == "a\\{b\\}"


@pytest.mark.parametrize(
    "seq, text",
    [
        ([], ""),
        ([""], "{}"),
        ([1, 2, [3, 4]], "1 2 {3 4}"),
        ((True, None, 1.5), "true {} 1.5"),
        (iter(["a b", "c"]), "{a b} c"),
        ("ab", "a b"),
    ],
)
def test_update_string_of_list(seq, text):
    assert wf._tcl_UpdateStringOfList(seq) == text


# -- module surface -------------------------------------------------------


def test_module_names_in_order():
    names = [
        "Mapping",
        "Sequence",
        "Set",
        "_tkTcl_Obj",
        "sys",
        "unicode",
        "_Tcl_ScanElement",
        "_Tcl_ConvertElement",
        "_tcl_UpdateStringOfList",
        "_wordform_from_sequence",
        "_wordform_from_mapping",
        "wordform",
        "_sysmaxsize",
        "_long_type",
        "_tclobj_from_sequence",
        "_tclobj_from_mapping",
        "tclobj",
    ]
    assert [n for n in vars(wf) if not n.startswith("__")] == names
    assert wf.Mapping is collections.abc.Mapping and wf.Set is collections.abc.Set
    assert wf._tkTcl_Obj is _tkinter.Tcl_Obj and wf.unicode is str and wf.sys is sys
    assert wf._sysmaxsize == sys.maxsize and wf._long_type is int
    assert wf._wordform_from_sequence is wf._tcl_UpdateStringOfList is wordform.from_sequence
    assert wordform.from_mapping is wf._wordform_from_mapping
    assert tclobj.from_sequence is wf._tclobj_from_sequence
    assert tclobj.from_mapping is wf._tclobj_from_mapping
    assert pickle.loads(pickle.dumps(tclobj)) is tclobj and copy.deepcopy([wordform])[0] is wordform
    assert (wordform.__name__, wordform.__module__) == ("wordform", "oskra.tcl.wordform")


@pytest.mark.parametrize(
    "fn, params",
    [
        (wordform, ["obj"]),
        (tclobj, ["obj"]),
        (_Tcl_ScanElement, ["string"]),
        (_Tcl_ConvertElement, ["src", "flags"]),
        (wf._tclobj_from_mapping, ["obj"]),
    ],
)
def test_signatures_and_argument_errors(fn, params):
    assert list(inspect.signature(fn).parameters) == params
    n = len(params)
    for args, kwargs in [
        ((), {}),
        (("x",) * (n + 1), {}),
        (("x",) * n, {"bogus": 1}),
        (("x",) * n, {params[0]: "x"}),
    ]:
        with pytest.raises(TypeError):
            fn(*args, **kwargs)


# -- wordform / tclobj ----------------------------------------------------


class Both:
    def __wordform__(self):
        return "W"

    def __tclobj__(self):
        return ("T", 1)


class OnlyTclobj:
    def __tclobj__(self):
        return ("a b", [1])


class SeqWithWordform(collections.abc.Sequence):
    def __init__(self, *items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        return len(self.items)

    def __wordform__(self):
        return "custom"


class Falsy:
    __wordform__ = None
    __tclobj__ = 0

    def __str__(self):
        return "plain"


class Missing:
    def __getattr__(self, name):
        raise AttributeError(name)

    def __str__(self):
        return "missing"


class Indexed(collections.abc.Mapping):
    """A mapping whose values come from indexing, not from items()."""

    def __getitem__(self, k):
        return k.upper()

    def __iter__(self):
        return iter(["a", "b c"])

    def __len__(self):
        return 2

    def items(self):
        raise AssertionError("items() must not be used")


class MyInt(int):
    def __str__(self):
        return "my" + int.__repr__(self)


class MyStr(str):
    def __str__(self):
        return "mystr"


BIG = 2**63


@pytest.mark.parametrize(
    "obj, text",
    [
        (None, ""),
        (True, "true"),
        (False, "false"),
        (5, "5"),
        (1.5, "1.5"),
        (-0.0, "-0.0"),
        ("a b", "a b"),
        ({"my key": "my value", "a": "b"}, "{my key} {my value} a b"),
        (range(3), "0 1 2"),
        (frozenset(["x"]), "x"),
        (b"ab", "97 98"),
        (bytearray(b"a"), "97"),
        (MyInt(3), "my3"),
        (MyStr("x"), "mystr"),
        (Both(), "W"),
        (OnlyTclobj(), "{a b} 1"),
        (SeqWithWordform(1, 2), "custom"),
        (Falsy(), "plain"),
        (Missing(), "missing"),
        (Indexed(), "a A {b c} {B C}"),
        ([[None, True], {}], "{{} true} {}"),
        (BIG, str(BIG)),
    ],
)
def test_wordform_rules(obj, text):
    assert wordform(obj) == text
    assert wordform(obj=obj) == text


@pytest.mark.parametrize(
    "obj, value",
    [
        (None, ""),
        (2.5, 2.5),
        (BIG - 1, BIG - 1),
        (-BIG, -BIG),
        (BIG, str(BIG)),
        (-BIG - 1, str(-BIG - 1)),
        (bytearray(b"ab"), (97, 98)),
        ([1, "a b", {"k": None}], (1, "a b", ("k", ""))),
        (MyInt(7), "my7"),
        (Both(), ("T", 1)),
        (SeqWithWordform(1, [2]), (1, (2,))),
        (Falsy(), "plain"),
        (Indexed(), ("a", "A", "b c", "B C")),
        ({1}, (1,)),
    ],
)
def test_tclobj_rules(obj, value):
    got = tclobj(obj)
    assert got == value and type(got) is type(value)


@pytest.mark.parametrize("obj", [True, b"ab", "s", MyStr("x"), 1.0, 12])
def test_tclobj_keeps_native_values(obj):
    assert tclobj(obj) is obj


def test_tcl_obj_values(tcl):
    obj = tcl.call("dict", "create", "a", "b c")
    assert isinstance(obj, _tkinter.Tcl_Obj)
    assert tclobj(obj) is obj
    assert wordform(obj) == str(obj) == "a {b c}"
    assert wordform([obj, tcl.eval("list 1 {2 3}")]) == "{a {b c}} {1 {2 3}}"
    assert tclobj(tcl.call("list", 1, "2 3")) == (1, "2 3")


def test_wordform_returns_protocol_result_unchanged():
    marker = object()

    class Odd:
        def __wordform__(self):
            return marker

    assert wordform(Odd()) is marker


def test_element_of_non_str_wordform_is_converted_again():
    class Inner:
        def __wordform__(self):
            return ["x y", 1]

    class Loop:
        def __wordform__(self):
            return self

    assert wordform([Inner()]) == "{{x y} 1}"
    with pytest.raises(TypeError):
        wordform([Loop()])


# -- failures and hostile input -------------------------------------------


class Boom(Exception):
    pass


def _raise(*a):
    raise Boom


class BadProperty:
    @property
    def __wordform__(self):
        raise Boom


class BadSequence(collections.abc.Sequence):
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise Boom


def _self_list():
    x = [1]
    x.append(x)
    return x


def _self_dict():
    d = {}
    d["k"] = [d]
    return d


def _deep(n=100000):
    x = []
    for _ in range(n):
        x = [x]
    return x


@pytest.mark.parametrize("fn", [wordform, tclobj, wf._tcl_UpdateStringOfList, _Tcl_ScanElement])
@pytest.mark.parametrize(
    "make, exc",
    [
        (lambda: type("R", (), {"__wordform__": _raise, "__tclobj__": _raise})(), Boom),
        (lambda: type("S", (), {"__str__": _raise})(), Boom),
        (BadProperty, Boom),
        (BadSequence, Boom),
        (_self_list, RecursionError),
        (_self_dict, RecursionError),
        (_deep, RecursionError),
    ],
)
def test_errors_propagate(fn, make, exc):
    with pytest.raises(exc):
        fn([make()])


def test_protocol_loop_ends_in_recursion_error():
    class SelfTclobj:
        def __tclobj__(self):
            return self

    obj = SelfTclobj()
    assert tclobj(obj) is obj
    with pytest.raises(RecursionError):
        wordform(obj)


@pytest.mark.parametrize(
    "value, text",
    [
        (["a\0b", "c d\0"], "a\0b {c d\0}"),
        (["\ud800 {", "x\udfff}"], "\ud800\\ \\{ x\udfff\\}"),
        (["\U0001f600", "\U0010ffff x", "\xe9"], "\U0001f600 {\U0010ffff x} \xe9"),
        (["\xe9{}", "\u20ac;"], "\xe9{} {\u20ac;}"),
        ([("\xff",), "a"], "\xff a"),
    ],
)
def test_unusual_code_points_are_kept(value, text):
    # str equality also compares the storage kind: the result is canonical.
    assert wordform(value) == text


def test_flags_of_wrong_type():
    with pytest.raises(TypeError):
        _Tcl_ConvertElement("a", 5)
    with pytest.raises(AttributeError):
        _Tcl_ConvertElement("{a", frozenset())


def test_huge_strings():
    s = "x y" * 3_500_000
    assert wordform([s, s]) == "{%s} {%s}" % (s, s)
    t = "\\" * 9_999_999
    assert wordform([t]) == t * 2


def test_no_reference_leaks():
    data = [1, 2.5, "a b", None, True, ["x", {"k": (1, "{")}], b"ab", Both(), OnlyTclobj()]

    bad = [[1, "x"], BadSequence(), {"k": BadSequence()}]

    def run():
        for _ in range(2000):
            wordform(data)
            tclobj(data)
            _Tcl_ConvertElement("{a}", _Tcl_ScanElement("a b")[1])
            for fn in (wordform, tclobj):
                with pytest.raises(Boom):
                    fn(bad)

    run()
    before = sys.getallocatedblocks()
    run()
    assert sys.getallocatedblocks() - before < 200
