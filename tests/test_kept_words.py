"""Command names are passed to Tcl as values kept between calls: every call
must still reach the command the name stands for at that moment, in that
interpreter."""

from tkinter import TclError

import pytest

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclCommand


def test_calls_follow_redefined_renamed_and_deleted_commands(interp):
    interp.tk.eval("proc ::kw_p {} {return 1}")
    assert interp.quick.kw_p() == 1
    interp.tk.eval("proc ::kw_p {} {return 2}")
    assert interp.quick.kw_p() == 2
    interp.tk.eval("rename ::kw_p ::kw_q; proc ::kw_p {} {return 3}")
    assert (interp.quick.kw_p(), interp.quick.kw_q()) == (3, 2)
    interp.tk.eval("rename ::kw_p {}")
    with pytest.raises(TclError, match="invalid command name"):
        interp.quick.kw_p()


def test_each_interpreter_reaches_its_own_command():
    first, second = Interpreter(), Interpreter()
    first.tk.eval("proc ::kw_who {} {return first}")
    second.tk.eval("proc ::kw_who {} {return second}")
    for _ in range(3):
        assert (first.quick.kw_who(), second.quick.kw_who()) == ("first", "second")


@pytest.mark.parametrize(
    "script, args",
    [
        ("proc ::kw_a {x {y 2}} {}", ("x", "y")),
        ("proc ::kw_a {args} {}", ("args",)),
        ("proc ::kw_a {} {}", ()),
    ],
)
def test_introspection_follows_a_redefined_procedure(interp, script, args):
    command = TclCommand("::kw_a", tcl=interp)
    interp.tk.eval("proc ::kw_a {first} {}")
    assert command.proc_args() == ("first",)
    interp.tk.eval(script)
    assert command.proc_args() == args


def test_a_string_read_follows_a_replaced_set_command(interp):
    interp.tk.eval("set ::kw_v {a  b}; llength $::kw_v")
    assert interp.get_var("::kw_v") == "a  b"
    interp.tk.eval("rename ::set ::kw_real_set; proc ::set {args} {return replaced}")
    try:
        assert interp.get_var("::kw_v") == "replaced"
    finally:
        interp.tk.eval("rename ::set {}; rename ::kw_real_set ::set")
    assert interp.get_var("::kw_v") == "a  b"
