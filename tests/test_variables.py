"""TclVariable and TclArrayVariable against a live interpreter."""

import gc
import weakref
from tkinter import TclError

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import oskra.tcl
from oskra.tcl.array import Array
from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclArrayVariable, TclVariable
from oskra.tcl.wordform import tclobj, wordform

# Text that Tcl must store and give back literally.
# (NUL is left out: the Tcl layer's eval result stops at a NUL.)
LITERALS = [
    "[exit]",
    "$x",
    "{",
    "}",
    "a\\",
    "\\n",
    '"',
    "a b",
    "",
    "\U0001f600",
    ";set y 1",
    "\u00e9{" * 50_000,
]
TEXT = st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\0"), max_size=20)


@pytest.mark.parametrize(
    "args, name",
    [
        (("x", "y"), "x(y)"),
        (("a b",), "a b"),
        (("x", "a b"), "x(a b)"),
        (("x", 3), "x(3)"),
        (("v", None), "v"),
    ],
)
def test_var_name(interp, args, name):
    assert TclVariable(*args, tcl=interp).var_name == name


def test_element_with_spaces_reads_through_its_quoted_name(interp):
    interp.tk.eval("set {x(a b)} {v w}")
    var = TclVariable("x", "a b", tcl=interp)
    assert var.get_str() == "v w" and var.get() == "v w" and var.exists()


def test_get_obj_casts_and_the_sentinel(interp):
    var = TclVariable("n", tcl=interp, cast=int)
    var.set("42")
    assert var.get_obj() == 42 and var.get() == 42
    assert var.get_obj(cast=TclVariable._TclVariable__marker) == 42
    assert var.get_obj(cast=None) in ("42", 42) and not isinstance(var.get_obj(cast=None), bool)
    assert var.get_obj(cast=str) == "42"
    assert var.get_str() == "42"
    var.cast = lambda value: ("cast", value)
    assert var.get()[0] == "cast"


def test_aliases_are_the_same_function():
    assert TclVariable.__dict__["get"] is TclVariable.__dict__["get_obj"]
    assert TclVariable.__dict__["array_get"] is TclVariable.__dict__["array_get_obj"]
    assert TclArrayVariable.__dict__["get"] is TclVariable.__dict__["get"]


@pytest.mark.parametrize("value", LITERALS, ids=lambda v: ascii(v[:10]))
def test_values_arrive_literally(interp, value):
    var = TclVariable("lit", tcl=interp)
    var.set(value)
    assert interp.tk.eval("set lit") == value == var.get_str()
    arr = TclVariable("lits", tcl=interp)
    arr.set(value, array_index=value)  # element names too
    assert interp.tk.call("set", "lits(%s)" % value) == value == arr.get_str(value) == arr.get(value)


def test_nul_survives_get(interp):
    var = TclVariable("nul", tcl=interp)
    var.set("x\0y")
    assert var.get() == "x\0y" and interp.tk.getvar("nul") == "x\0y"


def test_set_converts_with_tclobj(interp):
    var = TclVariable("l", tcl=interp)
    var.set([1, "a b", {"k": None}])
    assert interp.tk.splitlist(var.get_str()) == ("1", "a b", "k {}")


def test_unset_and_exists(interp):
    var = TclVariable("u", tcl=interp)
    assert var.exists() is False
    with pytest.raises(TclError):
        var.unset()
    assert var.unset(nocomplain=True) is None
    var.set(1)
    assert var.exists() is True
    var.unset()
    assert not var.exists()
    var.set("v", array_index="k")
    assert var.exists("k") and not var.exists("other")
    var.unset("k")
    assert not var.exists("k")
    with pytest.raises(TclError):
        var.unset("k")


def test_reading_a_missing_variable_or_a_whole_array_raises(interp):
    with pytest.raises(TclError):
        TclVariable("missing", tcl=interp).get()
    arr = TclVariable("arr", tcl=interp)
    arr.array_set({"a": 1})
    for read in (arr.get, arr.get_str):
        with pytest.raises(TclError):
            read()


def test_missing_array_is_empty_without_error(interp):
    arr = TclArrayVariable("nothing", tcl=interp)
    assert arr.array_size() == 0 and len(arr) == 0 and not arr
    assert arr.array_names() == () and list(arr) == []
    assert arr.is_array() is False
    TclVariable("scalar", tcl=interp).set(1)
    assert TclVariable("scalar", tcl=interp).is_array() is False


def test_array_operations(interp):
    var = TclVariable("arr", tcl=interp)
    var.array_set({"a": 1, "b": "x y"})
    got = var.array_get_str()
    assert isinstance(got, Array) and dict(got) == {"a": "1", "b": "x y"}
    assert dict(var.array_get("a")) == {"a": "1"} or dict(var.array_get("a")) == {"a": 1}
    assert dict(var.array_get_str("")) == {}  # an empty pattern is a pattern
    assert sorted(var.array_names()) == ["a", "b"] and var.array_names("b") == ("b",)
    var.array_set(("c", "3"))
    assert var.array_size() == 3 and var.is_array()
    var.array_unset("a")
    assert sorted(var.array_names()) == ["b", "c"]
    with pytest.raises(TclError):
        var.array_set(("odd",))
    var.array_unset()
    assert not var.exists()


def test_array_item_byref(interp):
    arr = TclVariable("arr", tcl=interp, cast=int)
    item = arr.array_item_byref("k")
    assert type(item) is TclVariable and item.var_name == "arr(k)"
    assert item.tcl == arr.tcl and item.cast is None
    item.set("v w")
    assert interp.tk.eval("set arr(k)") == "v w"
    assert arr.array_item_byref("k", cast=len).get() == 3


def test_mapping_protocol(interp):
    arr = TclArrayVariable("m", tcl=interp)
    arr.update({"x": 1}, y=2)
    assert dict(arr) == {"x": 1, "y": 2} or dict(arr) == {"x": "1", "y": "2"}
    assert "x" in arr and "z" not in arr and len(arr) == 2
    assert sorted(arr) == ["x", "y"]
    assert str(arr.get("x")) == "1"
    with pytest.raises(TclError):
        arr.get()
    arr["sp ace"] = "v"
    assert arr["sp ace"] == "v"
    del arr["sp ace"]
    for missing in (lambda: arr["nope"], lambda: arr.__delitem__("nope"), lambda: arr.pop("nope", 0)):
        with pytest.raises(TclError):
            missing()
    arr.clear()
    assert not interp.tk.call("info", "exists", "m") and len(arr) == 0 and not arr


def test_integer_keys_read_what_they_wrote(interp):
    arr = TclArrayVariable("ints", tcl=interp)
    arr[1] = "one"
    assert arr[1] == "one" and arr["1"] == "one" and 1 in arr
    assert TclVariable("ints", tcl=interp).get(1) == "one"


def test_iteration_is_lazy_and_a_snapshot(interp):
    arr = TclArrayVariable("lazy", tcl=interp)
    it = iter(arr)
    arr["a"] = 1  # set after iter(): the names are fetched on first next()
    assert list(it) == ["a"]
    it = iter(arr)
    assert next(it) == "a"
    arr["b"] = 2
    assert list(it) == []


def test_name_not_contents_is_the_tcl_form(interp):
    arr = TclArrayVariable("::named", tcl=interp)
    arr["k"] = 1
    assert str(arr) == "::named" and wordform(arr) == "::named" and tclobj(arr) == "::named"
    assert wordform((TclVariable("a b", tcl=interp),)) == "{a b}"
    assert repr(TclVariable("::v", tcl=interp)) == "TclVariable('::v')"
    assert repr(arr) == "TclArrayVariable('::named')"


def test_absolute(interp):
    var = TclVariable("x", tcl=interp)
    assert var.absolute() == "::x" and var.var_name == "x"
    var.make_absolute()
    assert var.var_name == "::x"
    interp.tk.eval("namespace eval ::ns {}")
    assert TclVariable("::ns::y", tcl=interp).absolute() == "::ns::y"


def test_default_interpreter_is_the_package(interp):
    var = TclVariable("pkg_default")
    assert type(var.tcl) in weakref.ProxyTypes
    var.set("v")
    assert oskra.tcl.tk.getvar("pkg_default") == "v"


def test_dead_interpreter_gives_reference_error():
    interp = Interpreter()
    var, arr = TclVariable("x", tcl=interp), TclArrayVariable("a", tcl=interp)
    del interp
    gc.collect()
    for op in (
        var.get,
        var.get_str,
        lambda: var.set(1),
        var.unset,
        var.exists,
        var.array_names,
        var.absolute,
        lambda: len(arr),
        lambda: list(arr),
        lambda: arr["k"],
        arr.clear,
    ):
        with pytest.raises(ReferenceError):
            op()
    assert str(var) == "x" and repr(arr) == "TclArrayVariable('a')"


@pytest.mark.parametrize(
    "call",
    [
        lambda i: TclVariable(),
        lambda i: TclVariable("x", tcl=i).set(),
        lambda i: TclVariable("x", tcl=i).get(1, 2, 3),
        lambda i: TclVariable("x", tcl=i).get(bogus=1),
        lambda i: TclVariable("x", tcl=5),
        lambda i: TclArrayVariable("x", tcl=i, array_index=1),
        lambda i: TclArrayVariable.__len__(object()),
        lambda i: TclVariable("x\ud800", tcl=i).set(1),
        lambda i: TclVariable("x", tcl=i).set("\ud800"),
    ],
)
def test_hostile_input_raises(interp, call):
    with pytest.raises((TypeError, UnicodeError, ValueError)):
        call(interp)


def test_deleted_fields_raise_attribute_error(interp):
    var = TclVariable("x", tcl=interp)
    del var.tcl
    with pytest.raises(AttributeError):
        var.get()
    uninit = TclVariable.__new__(TclVariable)
    with pytest.raises(AttributeError):
        uninit.get()


@settings(max_examples=150, deadline=None)
@given(key=TEXT, value=TEXT)
def test_elements_round_trip(key, value):
    interp = _shared()
    arr = TclArrayVariable("prop", tcl=interp)
    arr[key] = value
    assert arr[key] == value and arr.get_str(key) == value
    flat = interp.tk.splitlist(interp.tk.call("array", "get", "prop"))
    assert dict(zip(flat[::2], flat[1::2]))[key] == value
    arr.clear()


_INTERP = []


def _shared():
    if not _INTERP:
        _INTERP.append(Interpreter())
    return _INTERP[0]
