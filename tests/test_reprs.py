"""Reprs say what an object refers to, never an address."""

import gc
import re

import pytest

from oskra.tcl.interpreter import Interpreter, _global_interpreter
from oskra.tcl.namespace import TclNamespace, TempTclCommand, TempTclNamespace, TempTclVariable

ADDRESS = re.compile(r"0x[0-9a-f]+|object at")


@pytest.fixture
def interp():
    return Interpreter()


def test_interpreter_repr_tells_history_and_callbacks(interp):
    assert repr(interp) == "<Interpreter: 0 of 9999 calls in history (recording), 0 callbacks>"
    interp.eval("set a 1")
    interp.quick.set("b", 2)
    interp.create_callback(print, "p")
    interp.history.disable()
    assert repr(interp) == "<Interpreter: 2 of 9999 calls in history (not recording), 1 callback>"
    assert repr(_global_interpreter).startswith("<Interpreter (shared): ")


def test_interpreter_repr_after_close(interp):
    interp.close()
    assert repr(interp) == "<Interpreter (closed): 0 of 9999 calls in history (recording), 0 callbacks>"
    assert repr(interp.quick) == "<tcl.Quick magic of %r>" % (interp,)


def test_interpreter_repr_of_an_unstarted_instance():
    assert repr(Interpreter.__new__(Interpreter)) == "<Interpreter>"


@pytest.mark.parametrize(
    "make, text",
    [
        (lambda i: TclNamespace("::shop", tcl=i), "TclNamespace('::shop')"),
        (lambda i: i.local_ns, "TclNamespace('')"),
        (lambda i: TempTclNamespace("::t", tcl=i), "TempTclNamespace('::t')"),
        (lambda i: i.vars, "TclNamespace.VariablesView(TclNamespace(''))"),
        (lambda i: i.global_ns.objs, "TclNamespace.ObjectsView(TclNamespace('::'))"),
        (lambda i: TclNamespace("a b", tcl=i).cmds, "TclNamespace.CommandsView(TclNamespace('a b'))"),
        (lambda i: i.global_ns.procs, "TclNamespace.ProcsView(TclNamespace('::'))"),
        (lambda i: TempTclVariable("::v", tcl=i), "TempTclVariable('::v')"),
        (lambda i: TempTclCommand(cmd_name="::c", tcl=i), "TempTclCommand('::c')"),
        (lambda i: i.quick.ns.proc, "<tcl.Quick magic, referring Tcl code ::ns::proc>"),
    ],
)
def test_reprs_name_what_they_refer_to(interp, make, text):
    assert repr(make(interp)) == text


def test_quick_root_repr_shows_its_interpreter():
    interp = Interpreter()
    quick = interp.quick
    assert repr(quick) == "<tcl.Quick magic of %r>" % (interp,)
    assert not ADDRESS.search(repr(quick))
    del interp
    gc.collect()
    assert repr(quick) == "<tcl.Quick magic of a deleted interpreter>"
