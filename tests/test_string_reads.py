"""String reads of variables give the value's exact Tcl text, read once.

Tcl itself is the oracle: `subst` builds a fresh string of a value, which
the Tcl layer hands back as text, whatever the value's internal type.
"""

import sys
import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclNamespace, TclVariable

TEXT = st.text(st.characters(blacklist_categories=("Cs",)), max_size=12)


@pytest.fixture(scope="module")
def shared():
    return Interpreter()


def readers(i, name):
    """Every string reader of a variable, by name."""
    return {
        "get_var": lambda: i.get_var(name),
        "vars[]": lambda: i.vars[name],
        "global vars[]": lambda: i.global_ns.vars[name],
        "vars.get": lambda: i.vars.get(name),
        "get_str": lambda: TclVariable(name, tcl=i).get_str(),
    }


def tcl_text(i, name):
    text = i.tk.call("::subst", "[::set %s]" % name)
    return text.decode("latin-1") if isinstance(text, bytes) else str(text)


# Scripts that leave ::v holding a value whose internal type is no string,
# and whose text the Tcl layer's typed conversion would not give back.
TYPED = [
    "set v 0x10; expr {$v + 1}",
    "set v 1.50; expr {$v + 1}",
    "set v {a  {b c}  d}; llength $v",
    "set v {k  1}; dict size $v",
    "set v yes; if {$v} {}",
    "set v [list a\\0b \\U1F600]",
    "set v a\\0b",
    "set v [binary format a3 abc]",
    "set v {}; llength $v",
]


@pytest.mark.parametrize("script", TYPED)
def test_typed_values_read_as_their_own_text(shared, script):
    shared.tk.eval(script)
    expected = tcl_text(shared, "::v")
    for reader in readers(shared, "::v").values():
        assert reader() == expected


def test_byte_array_text_is_one_character_per_byte(shared):
    shared.tk.eval("set ::v [binary format H* 00ff41c080]")
    assert shared.get_var("::v") == "\x00\xffA\xc0\x80"


@pytest.mark.parametrize("text", ["a\0b", "\0", "\0\U0001f600\0", "x" * 100_000 + "\0"])
def test_nul_and_wide_characters_survive(shared, text):
    shared.set_var("::hostile_nul", text)
    for name, reader in readers(shared, "::hostile_nul").items():
        assert reader() == text, name


@settings(max_examples=40, deadline=None)
@given(items=st.lists(TEXT, max_size=4))
def test_list_values_read_as_tcl_text(shared, items):
    shared.tk.call("set", "::v", tuple(items))  # a list-typed value
    assert shared.get_var("::v") == tcl_text(shared, "::v")


def test_array_text_keeps_nul_in_keys_and_values(shared):
    var = TclVariable("::arr_nul", tcl=shared)
    var.unset(nocomplain=True)
    var.array_set({"a\0b": "x\0y", "c": "1"})
    assert dict(var.array_get_str()) == {"a\0b": "x\0y", "c": "1"}
    assert dict(var.array_get_str("a*")) == {"a\0b": "x\0y"}


@pytest.mark.parametrize("reader", ["get_var", "vars[]", "global vars[]", "vars.get", "get_str"])
def test_a_string_read_reads_the_variable_once(shared, reader):
    shared.tk.eval("set ::traced {a  b}; llength $::traced; set ::reads 0")
    shared.tk.eval("trace add variable ::traced read {apply {args {incr ::reads}}}")
    try:
        assert readers(shared, "::traced")[reader]() == "a  b"
        assert shared.tk.getvar("::reads") == 1
    finally:
        shared.tk.eval("unset ::traced")


def test_a_read_trace_may_call_back_into_python(shared):
    seen = []
    shared.create_callback(lambda *w: seen.append(shared.get_var("::other")), "on_read", force=True)
    shared.tk.eval("set ::other 7; set ::watched 0x1F; expr {$::watched + 0}")
    shared.tk.eval("trace add variable ::watched read {apply {args on_read}}")
    assert shared.get_var("::watched") == "0x1F"
    assert seen == ["7"]


def test_missing_variables_raise_as_before(shared):
    from tkinter import TclError

    with pytest.raises(KeyError) as info:
        shared.vars["::no_such_variable"]
    assert isinstance(info.value.__cause__, TclError)
    with pytest.raises(TclError, match="no such variable"):
        TclVariable("::no_such_variable", tcl=shared).get_str()


def test_namespace_views_join_the_name(shared):
    shared.tk.eval("namespace eval ::strns { variable v 0x2A; expr {$v + 0} }")
    space = TclNamespace("::strns", tcl=shared)
    assert space.vars["v"] == "0x2A"
    assert space.objs["v"] == 42


def test_reads_from_another_thread_keep_the_text():
    """Off the interpreter's thread the Tcl layer relays the read to the
    owner thread's event loop."""
    interp = Interpreter()
    interp.tk.eval("set ::v {a  b}; llength $::v; set ::done 0")
    results = []

    def worker():
        try:
            results.append(interp.get_var("::v"))
        finally:
            interp.tk.setvar("::done", 1)

    interp.tk.willdispatch()
    interp.tk.call("after", 5000, "set ::done 1")  # never wait for ever
    thread = threading.Thread(target=worker)
    thread.start()
    while str(interp.tk.getvar("::done")) == "0":
        interp.tk.dooneevent()
    thread.join()
    assert results == ["a  b"]


@pytest.mark.skipif(sys.version_info < (3, 13), reason="the Tcl layer's eval of 3.12 cuts its result at NUL")
def test_eval_keeps_nul(shared):
    shared.set_var("::hostile_nul", "a\0b")
    assert shared.eval("set ::hostile_nul") == "a\0b"


def outcome(call):
    try:
        return ("ok", call())
    except Exception as e:
        return (type(e), str(e), type(e.__cause__))


# Names heavy in what the namespace join treats specially: colons, the
# array-element parentheses, Tcl's quoting characters.
NAME = st.text(st.sampled_from(":a( )\\{\0\U0001f600"), max_size=8)


@settings(max_examples=200, deadline=None)
@given(name=NAME, value=TEXT)
def test_interpreter_reads_and_writes_as_its_view_does(shared, name, value):
    """get_var and set_var reach Tcl without the view when they can: the
    outcome is the view's, whatever the name."""
    shared.tk.eval("foreach v [info vars ::*] {if {[string match *a* $v]} {unset -nocomplain $v}}")
    shared.tk.eval("array set ::a(r {k 1}")  # an array, read as its `array get` text
    assert outcome(lambda: shared.set_var(name, value)) == outcome(
        lambda: shared.vars.__setitem__(name, value)
    )
    assert outcome(lambda: shared.get_var(name)) == outcome(lambda: shared.vars[name])


def test_a_view_replaced_or_retargeted_is_honoured():
    interp = Interpreter()
    interp.tk.setvar("::v", "tcl")

    class Loud(type(interp.vars)):
        def __getitem__(self, name):
            return "view:" + super().__getitem__(name)

    interp.vars = Loud(interp.local_ns)
    assert interp.get_var("::v") == "view:tcl"
    interp.tk.eval("namespace eval ::ns_elsewhere {}")
    interp.vars = TclNamespace("::ns_elsewhere", tcl=interp).vars
    interp.set_var("v", "there")
    assert interp.tk.getvar("::ns_elsewhere::v") == "there"
    assert interp.get_var("v") == "there"
