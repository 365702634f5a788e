"""Lifetimes: objects that outlive their interpreter, clean-up on errors,
and an interpreter that stays usable after a callback failed."""

import gc
import os
import subprocess
import sys
import textwrap
import weakref
from tkinter import TclError

import pytest

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import (
    TclArrayVariable,
    TclCommand,
    TclNamespace,
    TclVariable,
    TempTclArrayVariable,
    TempTclCommand,
    TempTclNamespace,
    TempTclVariable,
)

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))


def bound_objects(interp):
    """Every kind of object that holds an interpreter."""
    interp.eval("proc ::p {a} {return $a}")
    return {
        "variable": TclVariable("::v", tcl=interp),
        "element": TclVariable("::arr", "k", tcl=interp),
        "array": TclArrayVariable("::arr", tcl=interp),
        "command": TclCommand("::p", "x", tcl=interp),
        "namespace": TclNamespace("::n", tcl=interp),
        "local namespace": TclNamespace(None, tcl=interp),
        "vars": interp.global_ns.vars,
        "objs": interp.objs,
        "cmds": interp.global_ns.cmds,
        "procs": interp.global_ns.procs,
        "quick": interp.quick,
        "quick code": interp.quick.p,
        "temp variable": TempTclVariable(tcl=interp),
        "temp array": TempTclArrayVariable(tcl=interp),
        "temp command": TempTclCommand(tcl=interp),
        "temp namespace": TempTclNamespace(tcl=interp),
    }


def dead_interpreter_objects():
    """Every kind of object that holds an interpreter, after it was collected."""
    interp = Interpreter()
    interp.create_callback(lambda *a: "cb", "::cb")
    objs = bound_objects(interp)
    ref = weakref.ref(interp)
    del interp
    gc.collect()
    assert ref() is None, "something keeps the interpreter alive"
    return objs


@pytest.fixture(scope="module")
def dead():
    return dead_interpreter_objects()


OPERATIONS = [
    ("variable", lambda v: v.get()),
    ("variable", lambda v: v.get_str()),
    ("variable", lambda v: v.set(1)),
    ("variable", lambda v: v.unset(nocomplain=True)),
    ("variable", lambda v: v.exists()),
    ("variable", lambda v: v.array_get()),
    ("variable", lambda v: v.array_set({})),
    ("variable", lambda v: v.array_names()),
    ("variable", lambda v: v.is_array()),
    ("variable", lambda v: TclVariable("rel", tcl=v.tcl).absolute()),
    ("element", lambda v: v.get()),
    ("element", lambda v: v.set(1)),
    ("array", lambda a: len(a)),
    ("array", lambda a: list(a)),
    ("array", lambda a: a["k"]),
    ("array", lambda a: a.__setitem__("k", 1)),
    ("array", lambda a: "k" in a),
    ("array", lambda a: a.clear()),
    ("command", lambda c: c()),
    ("command", lambda c: c.eval()),
    ("command", lambda c: c.exists()),
    ("command", lambda c: c.is_proc()),
    ("command", lambda c: c.proc_args()),
    ("command", lambda c: c.proc_arg_default("a")),
    ("command", lambda c: c.rename("::q")),
    ("command", lambda c: c.delete()),
    ("command", lambda c: c.createcommand(print)),
    ("command", lambda c: c.origin()),
    ("command", lambda c: TclCommand("rel", tcl=c.tcl).absolute()),
    ("namespace", lambda n: n.eval("set a 1")),
    ("namespace", lambda n: n.call("set", "a", 1)),
    ("namespace", lambda n: n.create()),
    ("namespace", lambda n: n.delete()),
    ("namespace", lambda n: n.exists()),
    ("namespace", lambda n: n.children()),
    ("namespace", lambda n: n.parent()),
    ("namespace", lambda n: n.export()),
    ("namespace", lambda n: n.which("set")),
    ("local namespace", lambda n: n.current()),
    ("local namespace", lambda n: n.absolute()),
    ("vars", lambda v: v["::a"]),
    ("vars", lambda v: v.__setitem__("::a", 1)),
    ("vars", lambda v: len(v)),
    ("vars", lambda v: "a" in v),
    ("vars", lambda v: list(v)),
    ("vars", lambda v: v.array_get("arr")),
    ("objs", lambda v: v.get("::a")),
    ("cmds", lambda c: c.__setitem__("x", print)),
    ("cmds", lambda c: "set" in c),
    ("cmds", lambda c: list(c)),
    ("cmds", lambda c: c.__delitem__("x")),
    ("cmds", lambda c: c["p"]()),
    ("procs", lambda p: len(p)),
    ("quick", lambda q: q.set("a", 1)),
    ("quick code", lambda q: q()),
    ("temp variable", lambda t: t.__exit__(None, None, None)),
    ("temp variable", lambda t: t.set(1)),
    ("temp array", lambda t: t.__exit__(None, None, None)),
    ("temp array", lambda t: len(t)),
    ("temp command", lambda t: t.__exit__(None, None, None)),
    ("temp command", lambda t: t.call()),
    ("temp namespace", lambda t: t.__enter__()),
    ("temp namespace", lambda t: t.__exit__(None, None, None)),
]


@pytest.mark.parametrize("kind, op", OPERATIONS, ids=[f"{k}-{i}" for i, (k, _) in enumerate(OPERATIONS)])
def test_use_after_the_interpreter_died_raises_reference_error(dead, kind, op):
    with pytest.raises(ReferenceError):
        op(dead[kind])


@pytest.mark.parametrize(
    "kind, text",
    [
        ("variable", "::v"),
        ("element", "::arr(k)"),
        ("command", "::p x"),
        ("namespace", "::n"),
        ("quick code", "<tcl.Quick magic, referring Tcl code ::p>"),
    ],
)
def test_names_need_no_interpreter(dead, kind, text):
    assert str(dead[kind]) == text
    repr(dead[kind])


def run_isolated(code, timeout=120):
    return subprocess.run(
        [sys.executable, "-X", "faulthandler", "-c", textwrap.dedent(code)],
        cwd=TESTS_DIR,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def test_temporary_command_collected_after_its_interpreter():
    """Its destructor meets a dead proxy: reported, never a crash."""
    proc = run_isolated("""
        import gc
        from oskra.tcl.interpreter import Interpreter
        from oskra.tcl.namespace import TempTclCommand
        interp = Interpreter()
        tmp = TempTclCommand(lambda: 1, tcl=interp)
        del interp
        gc.collect()
        del tmp
        gc.collect()
        print("survived")
    """)
    assert proc.returncode == 0 and "survived" in proc.stdout, proc.stderr[-2000:]
    assert "ReferenceError" in proc.stderr  # reported as an ignored exception


def test_interpreter_collected_with_everything_it_made():
    """Callbacks, history and the objects it hands out never keep it alive."""
    interp = Interpreter()
    interp.create_callback(lambda *a: None, "::cb")
    interp.eval("set a 1")
    interp.quick.set("b", 2)
    handles = [
        interp.vars.byref("a"),
        interp.global_ns.cmds["cb"],
        TempTclVariable(tcl=interp),
        interp.quick.x,
    ]
    ref = weakref.ref(interp)
    del interp
    gc.collect()
    assert ref() is None
    assert handles


# --------------------------------------------------------------------------
# Temporaries clean up when their block raises


class Failure(Exception):
    pass


@pytest.fixture
def interp():
    return Interpreter()


@pytest.mark.parametrize(
    "cls, fill, gone",
    [
        (TempTclVariable, lambda t, i: t.set("x"), lambda t, i: not t.exists()),
        (TempTclArrayVariable, lambda t, i: t.update(a=1, b=2), lambda t, i: not t.exists() and len(t) == 0),
        (TempTclCommand, lambda t, i: t.createcommand(print), lambda t, i: not t.exists()),
        (TempTclNamespace, lambda t, i: t.eval("variable v 1"), lambda t, i: not t.exists()),
    ],
)
def test_temporaries_clean_up_when_the_block_raises(interp, cls, fill, gone):
    with pytest.raises(Failure):
        with cls(tcl=interp) as tmp:
            fill(tmp, interp)
            raise Failure
    assert gone(tmp, interp)
    assert interp.eval("set ::ok 1") == "1"


def test_temporary_command_with_callable_removed_when_collected(interp):
    tmp = TempTclCommand(lambda: "hi", tcl=interp)
    name = tmp.cmd_name
    assert interp.tk.call(name) == "hi"
    del tmp
    gc.collect()
    assert interp.tk.call("info", "commands", name) == ""


def test_unset_inside_the_block_is_fine(interp):
    with TempTclVariable(tcl=interp) as tmp:
        tmp.set(1)
        tmp.unset()
    assert not tmp.exists()


# --------------------------------------------------------------------------
# A callback that fails leaves the interpreter usable


def failing(*args):
    raise ValueError("callback failed: %r" % (args,))


def exiting(*args):
    raise SystemExit(3)


def reentrant_failing(interp):
    def callback(*args):
        interp.eval("set ::inner 1")
        raise KeyError("after re-entering Tcl")

    return callback


@pytest.mark.parametrize(
    "make",
    [lambda i: failing, lambda i: exiting, reentrant_failing],
    ids=["ValueError", "SystemExit", "re-entrant"],
)
def test_interpreter_usable_after_a_failing_callback(interp, make):
    callback = make(interp)
    command = interp.create_callback(callback, "::failing")
    # SystemExit reaches the package's callers as itself, also through a
    # catch; the Tcl layer's own call sees a Tcl error.
    raised = SystemExit if callback is exiting else TclError
    for call, error in (
        (lambda: command("a b"), raised),
        (lambda: interp.eval("::failing x"), raised),
        (lambda: interp.quick.failing(1), raised),
        (lambda: interp.tk.call("::failing"), TclError),
    ):
        with pytest.raises(error):
            call()
    # Everything that follows works as on a fresh interpreter.
    assert interp.eval("set a 1") == "1"
    if raised is SystemExit:
        with pytest.raises(SystemExit):
            interp.eval("catch {::failing} msg")
    else:
        assert interp.eval("catch {::failing} msg") == "1"
    assert interp.quick.set("b", "2") == 2
    interp.set_var("::c", "x y")
    assert interp.get_var("::c") == "x y"
    ok = interp.create_callback(lambda *a: "+".join(a), "::ok")
    assert interp.eval("::ok a b") == "a+b" and ok("c") == "c"
    with pytest.raises(TclError) as info:
        interp.eval("error fresh")
    assert str(info.value).startswith("fresh")
    interp.remove_callback(command)
    interp.remove_callback(ok)


def test_callback_removing_itself_while_running(interp):
    def callback(*args):
        interp.remove_callback("::selfish")
        return "gone"

    interp.create_callback(callback, "::selfish")
    assert interp.eval("::selfish") == "gone"
    assert interp.tk.call("info", "commands", "::selfish") == ""
    assert interp.eval("set a 2") == "2"


def test_runaway_recursion_between_tcl_and_python():
    """A callback that calls itself through Tcl stops with an error, not a crash."""
    proc = run_isolated("""
        from tkinter import TclError
        from oskra.tcl.interpreter import Interpreter
        interp = Interpreter()
        interp.create_callback(lambda *a: interp.eval("::again"), "::again")
        try:
            interp.eval("::again")
        except (TclError, RecursionError):
            pass
        assert interp.eval("set a 1") == "1"
        print("survived")
    """)
    assert proc.returncode == 0 and "survived" in proc.stdout, proc.stderr[-2000:]
