"""No Python value ever becomes Tcl code.

Every path that builds a Tcl command or script from Python values is driven
with text full of Tcl syntax. Tcl itself is the witness: a procedure records
the words it receives, `exit` and a `pwn` command only raise a flag, and the
variable `x` holds a marker that would show any substitution. Each value must
arrive as exactly one literal word, and the flag must stay down.
"""

from tkinter import TclError

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclCommand, TclNamespace, TclVariable
from oskra.tcl.nestmap import NestMap
from oskra.tcl.wordform import tclobj, wordform

MARKER = "SUBSTITUTED"
FRAGMENTS = [
    "[pwn]",
    "[exit]",
    "$x",
    "${x}",
    "$::x",
    "\\x41",
    "\\u0041",
    "\\U0001F600",
    "\\101",
    "\\n",
    "\\",
    "\\\n",
    "{",
    "}",
    "{*}",
    '"',
    ";",
    "\n",
    " ",
    "\t",
    "#",
    "[",
    "]",
    "$",
    "(",
    ")",
    "a",
    "\U0001f600",
    "\0",
    "\u00e9",
    "::",
    "\r",
    "*",
    "?",
]

text = st.lists(st.sampled_from(FRAGMENTS) | st.text(max_size=3), max_size=8).map("".join)
words = st.lists(text, max_size=5)
values = st.recursive(
    text | st.integers(-(10**6), 10**6), lambda inner: st.lists(inner, max_size=4), max_leaves=8
)
# Names: components without a lone colon (the name algebra rejects those), no NUL.
name_part = st.lists(
    st.sampled_from([f for f in FRAGMENTS if ":" not in f and "\0" not in f])
    | st.text(
        alphabet=st.characters(blacklist_characters=":\0", blacklist_categories=("Cs",)),
        min_size=1,
        max_size=3,
    ),
    min_size=1,
    max_size=5,
).map("".join)

SETTINGS = settings(max_examples=60, deadline=None, suppress_health_check=list(HealthCheck))


@pytest.fixture(scope="module")
def interp():
    interp = Interpreter()
    interp.tk.eval("""
        proc ::rec {args} {set ::got $args; return [llength $args]}
        proc ::pwn {args} {set ::pwned 1}
        catch {rename ::exit ::__real_exit}
        proc ::exit {args} {set ::pwned 1}
        set ::x SUBSTITUTED
    """)
    return interp


def received(interp):
    """The words the recorder was last called with, as Tcl list elements."""
    got = interp.tk.call("set", "::got")
    return [wordform(w) for w in (got if isinstance(got, tuple) else interp.tk.splitlist(got))]


def assert_literal(interp, sent):
    assert received(interp) == [wordform(v) for v in sent]
    assert_untouched(interp)


def assert_untouched(interp):
    assert interp.tk.call("info", "exists", "::pwned") == 0, "Tcl code ran"
    assert interp.tk.call("set", "::x") == MARKER


def forget(interp):
    interp.tk.call("set", "::got", "")


def evaluated(interp, run, sent):
    """Run an eval-path call; a script cannot carry NUL through the Tcl layer."""
    forget(interp)
    if "\0" in wordform(sent):
        with pytest.raises(ValueError):
            run()
        assert_untouched(interp)
    else:
        run()
        assert_literal(interp, sent)


@SETTINGS
@given(args=st.lists(values, max_size=5), kw=st.dictionaries(text, values, max_size=3))
def test_command_call_and_eval(interp, args, kw):
    cmd = TclCommand("::rec", tcl=interp)
    dashed = [w for k, v in kw.items() for w in ("-" + k, v)]
    forget(interp)
    cmd.call(*args, **kw)
    assert_literal(interp, args + dashed)
    evaluated(interp, lambda: cmd.eval(*args, **kw), args + dashed)


@SETTINGS
@given(args=words)
def test_command_from_a_command_line(interp, args):
    """A command line is a Tcl list: split, never evaluated."""
    forget(interp)
    TclCommand(wordform(["::rec"] + args), tcl=interp).call()
    assert_literal(interp, args)
    evaluated(interp, TclCommand("::rec", wordform(args), tcl=interp).eval, args)


@SETTINGS
@given(ns=st.sampled_from([None, "::inj", "inj2"]), args=st.lists(values, max_size=5))
def test_namespace_eval_and_call(interp, ns, args):
    space = TclNamespace(ns, tcl=interp)
    evaluated(interp, lambda: space.eval("::rec", *args), args)
    if args:  # a lone string with the empty name is a one-word command
        forget(interp)
        space.call("::rec", *args)
        assert_literal(interp, args)
    forget(interp)
    space.call(("::rec",) + tuple(args))
    assert_literal(interp, args)


@SETTINGS
@given(ns=name_part, args=words)
def test_namespace_with_a_hostile_name(interp, ns, args):
    space = TclNamespace("::inj::" + ns, tcl=interp)
    evaluated(interp, lambda: space.eval("::rec", *args), args)
    space.create()
    assert interp.tk.call("namespace", "exists", "::inj::" + ns) == 1
    assert space.exists()
    space.delete()
    assert not space.exists()
    assert_untouched(interp)


@SETTINGS
@given(name=name_part, value=text.filter(lambda t: "\0" not in t))
def test_variable_get_str_with_a_hostile_name(interp, name, value):
    """get_str evaluates a script; the name in it must stay one literal word."""
    full = "::inj_v_" + name
    var = TclVariable(full, tcl=interp)
    try:
        interp.tk.setvar(full, value)
    except TclError:  # Tcl's own name rules (for example "a(b)" on a scalar)
        with pytest.raises(TclError):
            var.get_str()
    else:
        assert var.get_str() == interp.tk.getvar(full)
        var.unset()
    assert_untouched(interp)


@SETTINGS
@given(index=text.filter(lambda t: "\0" not in t), value=text)
def test_array_element_with_a_hostile_index(interp, index, value):
    var = TclVariable("::inj_arr", index, tcl=interp)
    var.set(value)
    assert interp.tk.getvar("::inj_arr", index) == value == var.get_obj()
    if "\0" not in value:
        assert var.get_str() == value
    assert var.exists()
    var.unset()
    assert not var.exists()
    assert_untouched(interp)


@SETTINGS
@given(pattern=text.filter(lambda t: "\0" not in t), keys=st.lists(text, max_size=4))
def test_array_get_str_pattern(interp, pattern, keys):
    """array_get_str evaluates a script with the pattern as one word."""
    arr = TclVariable("::inj_pat", tcl=interp)
    arr.unset(nocomplain=True)
    arr.array_set({k: "v" for k in keys})
    assert dict(arr.array_get_str(pattern)) == dict(arr.array_get_obj(pattern))
    assert_untouched(interp)


@SETTINGS
@given(args=st.lists(values, max_size=5), kw=st.dictionaries(text, values, max_size=3))
def test_quick_call(interp, args, kw):
    forget(interp)
    interp.quick.rec(*args, **kw)
    assert_literal(interp, args + [w for k, v in kw.items() for w in ("-" + k, v)])


@SETTINGS
@given(name=name_part, args=words)
def test_quick_call_of_a_hostile_procedure_name(interp, name, args):
    interp.tk.call("proc", "::inj_p_" + name, "args", "set ::got $args")
    forget(interp)
    getattr(interp.quick, "inj_p_" + name)(*args)
    assert_literal(interp, args)


@SETTINGS
@given(name=name_part, value=values)
def test_views_with_hostile_names(interp, name, value):
    space = TclNamespace("::inj_views", tcl=interp)
    space.create()
    full = "::inj_views::" + name
    if "(" in name:
        return  # an element name: Tcl's array syntax, covered above
    space.vars[name] = value
    assert wordform(interp.tk.getvar(full)) == wordform(value)
    assert name in space.vars
    if "\0" not in wordform(value):
        # The string form is Tcl's own for that value (Tcl writes a list's
        # canonical text, e.g. {#} for the one-element list "#").
        interp.tk.setvar("::inj_views_ref", tclobj(value))
        assert space.vars[name] == interp.tk.eval("set ::inj_views_ref")
    del space.vars[name]
    assert name not in space.vars
    assert_untouched(interp)


@SETTINGS
@given(name=name_part, args=words)
def test_command_views_and_callbacks_with_hostile_names(interp, name, args):
    calls = []

    def callback(*words):
        calls.append(words)
        return "ok"

    space = TclNamespace("::inj_cmds", tcl=interp)
    space.create()
    space.cmds[name] = callback
    assert interp.tk.call(("::inj_cmds::" + name,) + tuple(args)) == "ok"
    assert calls == [tuple(args)]
    # Membership is by name, whatever glob characters the name holds.
    assert name in space.cmds and name in set(space.cmds)
    del space.cmds[name]
    assert name not in space.cmds
    command = interp.create_callback(callback, "::inj_cb_" + name)
    assert command.call(*args) == "ok" and calls[-1] == tuple(args)
    interp.remove_callback(command)
    assert_untouched(interp)


@SETTINGS
@given(items=st.lists(values, max_size=6))
def test_set_list(interp, items):
    interp.set_list("::inj_list", items)
    stored = interp.tk.call("set", "::inj_list")
    assert [wordform(w) for w in interp.tk.splitlist(stored)] == [wordform(v) for v in items]
    assert_untouched(interp)


keys = st.text(alphabet="ab[]$\\{}\";#*?", min_size=1, max_size=6)


@SETTINGS
@given(mapping=st.dictionaries(keys, text, min_size=1, max_size=4))
def test_keyed_list_text(interp, mapping):
    """A NestMap's text is a keyed list TclX reads back key by key."""
    interp.set_keyed_list("::inj_kl", mapping)
    for key, value in mapping.items():
        assert interp.tk.call("keylget", "::inj_kl", key) == value
    assert interp.tk.call("keylget", "::inj_kl") == interp.tk.splitlist(wordform(list(mapping)))
    interp.tk.setvar("::inj_kl2", wordform(NestMap(mapping)))
    for key, value in mapping.items():
        assert interp.tk.call("keylget", "::inj_kl2", key) == value
    assert_untouched(interp)


@SETTINGS
@given(code=text)
def test_history_and_casts_never_evaluate(interp, code):
    """Recording a call and casting a result are pure: no Tcl runs."""
    interp.history.append(code)
    interp.cast_any(code)
    try:
        interp.cast_list(code)
    except ValueError:
        pass
    assert_untouched(interp)


@SETTINGS
@given(
    name=name_part.filter(lambda n: "(" not in n),
    keys=st.lists(text.filter(lambda t: "\0" not in t), max_size=3),
)
def test_array_reads_with_a_hostile_array_name(interp, name, keys):
    """The array name in the script of array_get_str stays one literal word."""
    full = "::inj_an_" + name
    interp.tk.call("array", "unset", full)
    for key in keys:
        interp.tk.setvar(full, key, "v")
    var = TclVariable(full, tcl=interp)
    assert dict(var.array_get_str()) == dict.fromkeys(keys, "v") == dict(interp.get_array(full))
    assert_untouched(interp)
