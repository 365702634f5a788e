"""Hostile behaviour: Python code the C++ calls may change what it is reading.

A protocol method (__tclobj__, __wordform__, str(), __bool__, __eq__,
__hash__, __contains__), a cast or a logger may assign the receiver's fields
again, clear the list or dict being read, or replace itself. The probes of
hostile_probes.py do that for every public method that takes a value; they
run in one child interpreter, so that a crash fails the probes from the one
that crashed on instead of killing the run. The remaining tests pin the
results where the right answer is known.
"""

import os
import subprocess
import sys

import pytest
from hostile_probes import Tclobj, Word, Wordform, all_probes

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
PROBES = sorted(all_probes())


@pytest.fixture(scope="module")
def outcomes():
    """Runs every probe in one child; maps each probe to its output lines."""
    # Python's debug allocator fills freed memory, so that a use after free
    # crashes here instead of reading stale data (a sanitizer run keeps its
    # own allocator setting).
    env = {"PYTHONMALLOC": "debug", **os.environ}
    proc = subprocess.run(
        [sys.executable, "-X", "faulthandler", os.path.join(TESTS_DIR, "hostile_probes.py"), *PROBES],
        cwd=TESTS_DIR,
        env=env,
        capture_output=True,
        text=True,
        timeout=600,
    )
    lines = proc.stdout.splitlines()
    result = {}
    for name in PROBES:
        result[name] = [line for line in lines if line.endswith(" " + name) or f" {name}: " in line]
    tail = "\n".join(proc.stderr.splitlines()[-20:])
    return result, proc.returncode, tail


@pytest.mark.parametrize("probe", PROBES)
def test_no_crash_when_python_code_changes_the_receiver(outcomes, probe):
    result, returncode, tail = outcomes
    lines = result[probe]
    assert f"ok {probe}" in lines, f"child died (return code {returncode}) at or before this probe:\n{tail}"
    # Only ordinary errors: a failed check inside a probe is a wrong result.
    assert not any("AssertionError" in line for line in lines), lines


# --------------------------------------------------------------------------
# Results that hold however the fields change meanwhile


def test_init_options_land_in_the_objects_own_dict(interp):
    from oskra.tcl.namespace import TclCommand

    cmd = TclCommand.__new__(TclCommand)
    replaced = {}

    def replace():
        cmd.keywords = replaced

    cmd.__init__("::puts", keywords={"a": Tclobj(replace, "1"), "b": 2}, tcl=interp)
    assert cmd.keywords is replaced
    assert replaced == {"a": "1", "b": 2}


def test_call_reads_each_field_when_python_would(interp):
    from oskra.tcl.namespace import TclCommand

    interp.eval("proc ::rec {args} {return $args}")
    cmd = TclCommand("::rec", ("a",), {"o": "v"}, tcl=interp)

    def replace():
        cmd.args = ("other",)
        cmd.keywords = {}

    # Name and arguments are read before the call's values are converted,
    # the options after, as (cmd_name,) + args + tclobj(...) then keywords.
    assert cmd.call(Tclobj(replace, "x")) == ("a", "x")
    assert cmd.build_tclcmd() == ("::rec", "other")


def test_option_key_that_changes_the_options_keeps_the_snapshot(interp):
    from oskra.tcl.namespace import TclCommand

    cmd = TclCommand("::rec", tcl=interp)
    cmd.keywords = {Word("o", lambda: cmd.keywords.clear()): "v", "p": "w"}
    assert cmd.build_tclcmd(o=1) == ("::rec", "-o", 1, "-p", "w")


@pytest.mark.parametrize("method", ["set", "get_str", "exists"])
def test_variable_uses_the_name_read_before_the_conversion(interp, method):
    from oskra.tcl.namespace import TclVariable

    interp.eval("array set ::hv {k 1}")
    var = TclVariable("::hv", tcl=interp)
    index = Wordform(lambda: setattr(var, "var_name", "::elsewhere"), "k")
    if method == "set":
        var.set("2", array_index=index)
        assert interp.eval("set ::hv(k)") == "2"
    else:
        assert str(getattr(var, method)(index)) in ("1", "True")
    assert interp.eval("info exists ::elsewhere") == "0"


@pytest.mark.parametrize("make", ["Entry", "append"])
def test_words_cleared_by_their_containment_test_are_recorded_as_given(make):
    from oskra.tcl.history import Entry, History

    words = []
    words.extend([Word("a b", words.clear), "c"])
    if make == "Entry":
        assert Entry(words).api == "{a b} c"
    else:
        hist = History()
        hist.append(words)
        assert hist.__history__[-1].api == "{a b} c"


# --------------------------------------------------------------------------
# Consistency faults found on the way


def test_quick_word_from_a_tuple_is_the_same_with_and_without_history(interp):
    interp.eval("proc ::first {a args} {return [list $a [lindex $args end]]}")
    arg = Wordform(lambda: None, ("a b", "c"))
    recorded = interp.quick.first(arg, opt=arg)
    assert interp.history.filter(count=1)[0].api == "first {{a b} c} -opt {{a b} c}"
    interp.history.disable()
    assert interp.quick.first(arg, opt=arg) == recorded == ("{a b} c", "{a b} c")


@pytest.mark.parametrize(
    ("method", "cast", "tcl_value"),
    [("get_list", "cast_list", "a b"), ("get_keyed_list", "cast_keyed_list", "{k v}")],
)
def test_list_readers_honour_a_subclass_cast(method, cast, tcl_value):
    from oskra.tcl.interpreter import Interpreter

    class Mine(Interpreter):
        pass

    setattr(Mine, cast, staticmethod(lambda value, item_cast=None: ("mine", str(value))))
    interp = Mine()
    interp.eval(f"set ::lv {{{tcl_value}}}")
    assert getattr(interp, method)("::lv") == ("mine", tcl_value)


def test_forced_callback_twice_on_one_name_keeps_the_original(interp):
    interp.eval("proc ::orig {} {return original}")
    interp.create_callback(lambda: "first", "::orig", force=True)
    interp.create_callback(lambda: "second", "::orig", force=True)
    assert interp.eval("::orig") == "second"
    interp.remove_callback("::orig")
    assert interp.eval("::orig") == "original"
