"""TclCommand against a live interpreter."""

import gc
import logging
from tkinter import TclError

import pytest

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclCommand, TclVariable
from oskra.tcl.wordform import wordform

LITERALS = ["[exit]", "$x", "{", "}", "a\\", "\\n", '"', "a b", "", "\U0001f600", ";set y 1", "#c"]


@pytest.fixture
def rec(interp):
    """A procedure that records its arguments in ::got."""
    interp.tk.eval("proc rec {args} {set ::got $args; return [llength $args]}")
    return interp


def got(interp):
    return interp.tk.splitlist(interp.tk.getvar("got"))


class Words(tuple):
    pass


@pytest.mark.parametrize(
    "cmd, name, args",
    [
        ("puts {hello world}", "puts", ("hello world",)),
        (("::foo", "a b"), "::foo", ("a b",)),  # a plain tuple is sliced
        (["f", "a", "b c"], "f", ("a", "b c")),  # a list goes through the list cast
        (Words(["f", "x y"]), "f", ("x y",)),  # and so does a tuple subclass
        (("f", 1, ("a", "b c")), "f", (1, ("a", "b c"))),
        ("{a b} c", "a b", ("c",)),
    ],
)
def test_construction_from_a_command_line(interp, cmd, name, args):
    command = TclCommand(cmd, tcl=interp)
    assert command.cmd_name == name and command.args == args and command.keywords == {}


def test_construction_errors(interp):
    with pytest.raises(ValueError) as info:
        TclCommand("a {b", tcl=interp)
    assert isinstance(info.value.args[0], TclError) and info.value.__cause__ is info.value.args[0]
    for empty in ("", ()):
        with pytest.raises(IndexError):
            TclCommand(empty, tcl=interp)
    for wrong in (None, 5, object()):
        with pytest.raises(TypeError):
            TclCommand(wrong, tcl=interp)
    with pytest.raises(TypeError):
        TclCommand("f", tcl=interp, bogus=1)


def _selfref():
    lst = [1]
    lst.append(lst)
    return lst


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda c: c(_selfref()), RecursionError),
        (lambda c: c(o=_selfref()), RecursionError),
        (lambda c: TclCommand("f", _selfref(), tcl=c.tcl), RecursionError),
        (lambda c: c("\ud800"), UnicodeError),
        (lambda c: c.rename(_selfref()), RecursionError),
        (lambda c: TclCommand.__call__(object()), TypeError),
        (lambda c: TclCommand.kwargs_to_dashed_args(1), TypeError),
        (lambda c: TclCommand("f", tcl=c.tcl, keywords=5), AttributeError),
    ],
)
def test_hostile_input_raises(rec, call, error):
    cmd = TclCommand("rec", tcl=rec)
    with pytest.raises(error):
        call(cmd)
    assert cmd("still", "works") == 2


def test_build_tclcmd_and_options(interp):
    cmd = TclCommand("::foo", "a", {"x": "y"}, tcl=interp)
    assert cmd.build_tclcmd() == ("::foo", "a", "-x", "y")
    assert cmd.build_tclcmd("b", x="z", w=2) == ("::foo", "a", "b", "-x", "z", "-w", 2)
    assert cmd.keywords == {"x": "y"}
    several = TclCommand("f", None, {"a": 1, "b": 2, "c": 3}, tcl=interp)
    assert several.build_tclcmd(d=4, b=[5, 6]) == ("f", "-a", 1, "-b", (5, 6), "-c", 3, "-d", 4)
    assert several.build_tclcmd() == ("f", "-a", 1, "-b", 2, "-c", 3)
    assert TclCommand.kwargs_to_dashed_args() == ()
    assert cmd.kwargs_to_dashed_args(n=None, b=True) == ("-n", None, "-b", True)
    assert TclCommand("f", tcl=interp).build_tclcmd(n=None) == ("f", "-n", "")
    assert str(TclCommand("puts {hello world}", tcl=interp)) == "puts {hello world}"
    bad = TclCommand("f", (), {1: "v"}, tcl=interp)  # accepted here, refused when expanded
    for expand in (bad.build_tclcmd, bad.call, bad.eval, lambda: str(bad)):
        with pytest.raises(TypeError):
            expand()


def test_command_built_from_another(interp):
    other = TclCommand("f", "a", {"o": 1}, tcl=interp, cast=int, logger=logging.getLogger("x"))
    copy = TclCommand(other, tcl=interp)
    assert copy.cmd_name == "f" and copy.args == ("a", "-o", 1) and copy.keywords == {}
    assert copy.cast is None and copy.logger is None
    assert TclCommand(other, ("x y",), tcl=interp).args == ("a", "x y", "-o", 1)
    assert TclCommand(other, "x {y z}", tcl=interp).args == ("a", "x", "y z", "-o", 1)


@pytest.mark.parametrize(
    "make, text",
    [
        (lambda i: TclCommand("::foo", tcl=i), "TclCommand('::foo')"),
        (
            lambda i: TclCommand("::foo", "a", cast=int, tcl=i),
            "TclCommand('::foo', args=('a',), cast=<class 'int'>)",
        ),
        (lambda i: TclCommand("f", None, {"k": 1}, tcl=i), "TclCommand('f', keywords={'k': 1})"),
        (lambda i: type("Sub", (TclCommand,), {})("g", tcl=i), "Sub('g')"),
    ],
)
def test_repr(interp, make, text):
    assert repr(make(interp)) == text


@pytest.mark.parametrize("value", LITERALS)
def test_values_arrive_literally(rec, value):
    cmd = TclCommand("rec", tcl=rec)
    assert cmd(value, opt=value) == 3 and got(rec) == (value, "-opt", value)
    assert cmd.eval(value) == "1" and got(rec) == (value,)


def test_native_types_in_call_text_in_eval(rec):
    cmd = TclCommand("rec", tcl=rec)
    cmd(flag=True)
    assert rec.tk.eval("string is boolean -strict [lindex $::got 1]") == "1"
    cmd.eval(flag=True)
    assert got(rec) == ("-flag", "true")
    assert str(TclCommand("rec", None, {"flag": True}, tcl=rec)) == "rec -flag true"


def test_inspection(interp):
    interp.tk.eval("proc myproc {a {b {x y}}} {return $a}")
    proc, builtin = TclCommand("myproc", tcl=interp), TclCommand("::set", tcl=interp)
    assert proc.exists() and proc.is_proc() and not proc.is_command()
    assert builtin.exists() and builtin.is_command() and not builtin.is_proc()
    missing = TclCommand("no_such_cmd", tcl=interp)
    assert not missing.exists() and not missing.is_command() and not missing.is_proc()
    assert TclCommand("mypr*", tcl=interp).exists()  # a glob pattern
    assert proc.proc_body() == "return $a" and proc.proc_args() == ("a", "b")
    assert str(proc.origin()) == "::myproc"
    for op in (missing.origin, missing.proc_body, missing.proc_args, lambda: builtin.proc_args()):
        with pytest.raises(TclError):
            op()


def _temporaries(interp):
    return interp.tk.splitlist(interp.tk.eval("info vars ::__oskra__*"))


def test_proc_arg_default(interp):
    interp.tk.eval("proc withdef {a {b {x y}} {c {}}} {}")
    cmd = TclCommand("withdef", tcl=interp)
    assert cmd.proc_arg_default("a") is None
    assert cmd.proc_arg_default("b") == "x y"
    assert cmd.proc_arg_default("c") == ""
    for bad in (
        lambda: cmd.proc_arg_default("nope"),
        lambda: TclCommand("set", tcl=interp).proc_arg_default("a"),
    ):
        with pytest.raises(TclError):
            bad()
    assert _temporaries(interp) == ()  # the scratch variable is gone in every case


def test_rename_and_delete(interp):
    interp.tk.eval("proc old {} {return 1}; proc taken {} {}")
    cmd = TclCommand("old", tcl=interp)
    cmd.rename("new name")
    assert cmd.cmd_name == "new name" and cmd() == 1 and not TclCommand("old", tcl=interp).exists()
    with pytest.raises(TclError):
        cmd.rename("taken")
    assert cmd.cmd_name == "new name"
    cmd.delete()
    assert cmd.cmd_name == "new name" and not cmd.exists()
    with pytest.raises(TclError):
        cmd.delete()


def test_createcommand(interp):
    seen = []
    cmd = TclCommand("::py_cb", tcl=interp)
    cmd.createcommand(lambda *args: seen.append(args) or "done")
    assert interp.tk.eval("py_cb a {b c}") == "done" and seen == [("a", "b c")]


def test_absolute(interp):
    assert TclCommand("foo", tcl=interp).absolute() == "::foo"
    assert interp.tk.eval("namespace eval ::ns {}") == ""
    cmd = TclCommand("bar", tcl=interp)
    cmd.make_absolute()
    assert cmd.cmd_name == "::bar"


def test_logger(rec, caplog):
    logger = logging.getLogger("test.varcmd")
    cmd = TclCommand("rec", tcl=rec, logger=logger)
    with caplog.at_level(logging.INFO, logger="test.varcmd"):
        cmd("a b", o=1)
        cmd.eval("quiet")
        failing = TclCommand("no_such_cmd", tcl=rec, logger=logger)
        with pytest.raises(TclError):
            failing(1)
    assert [(r.levelno, r.getMessage()) for r in caplog.records] == [
        (logging.INFO, "Calling: rec {a b} -o 1"),
        (logging.INFO, "Calling: no_such_cmd 1"),
    ]


def test_cast(rec):
    assert TclCommand("rec", tcl=rec, cast=str)("a", "b") == "2"

    def boom(result):
        raise KeyError(result)

    with pytest.raises(KeyError):
        TclCommand("rec", tcl=rec, cast=boom)("ran")
    assert got(rec) == ("ran",)  # the command ran before the cast failed


class Holder:
    show = None

    def __tclobj__(self):
        return "holder-form"


def test_descriptor_binding(rec):
    Holder.show = TclCommand("rec", "fixed", tcl=rec)
    assert Holder.show is Holder.__dict__["show"]
    bound = Holder().show
    assert bound.__func__ is Holder.show
    bound("more")
    assert got(rec) == ("fixed", "holder-form", "more")


def test_call_is_looked_up_on_the_instance(rec):
    class Loud(TclCommand):
        def call(self, *args, **kwargs):
            return ("loud", super().call(*args, **kwargs))

    assert Loud("rec", tcl=rec)("a", "b") == ("loud", 2)
    plain = TclCommand("rec", tcl=rec)
    plain.call = lambda *a, **k: "patched"
    assert plain("a") == "patched"


@pytest.mark.parametrize("name", ["#hash", "#a{", "#a\\b"])
def test_eval_of_a_name_beginning_with_hash_runs_the_command(interp, name):
    # A script whose first word begins with "#" would be a Tcl comment.
    interp.tk.call("proc", name, "args", "return ran:$args")
    cmd = TclCommand((name,), tcl=interp)
    assert cmd.eval("x y") == "ran:{x y}"
    assert cmd.call("x y") == "ran:{x y}"
    assert str(cmd) == wordform((name,))  # the word list itself is unchanged


def test_proc_arg_default_reads_through_a_variable_object(interp):
    # The Tcl layer turns the variable object into its name.
    interp.tk.eval("proc d {{v 5}} {}")
    var = TclVariable("::target", tcl=interp)
    assert interp.tk.call("info", "default", "d", "v", var) == 1 and str(var.get()) == "5"


def test_dead_interpreter_gives_reference_error():
    interp = Interpreter()
    cmd, absolute = TclCommand("set", tcl=interp), TclCommand("::a::b", tcl=interp)
    del interp
    gc.collect()
    for op in (
        cmd,
        cmd.call,
        cmd.eval,
        cmd.exists,
        cmd.is_command,
        cmd.delete,
        cmd.proc_args,
        lambda: cmd.proc_arg_default("a"),
        lambda: cmd.rename("x"),
        lambda: cmd.createcommand(print),
        cmd.absolute,
    ):
        with pytest.raises(ReferenceError):
            op()
    # Neither the text forms nor an absolute name need the interpreter.
    assert str(cmd) == "set" and repr(cmd) == "TclCommand('set')" and absolute.absolute() == "::a::b"


def test_hot_and_error_paths_do_not_leak(rec):
    import tracemalloc

    from oskra.tcl.namespace import TclArrayVariable

    rec.tk.eval("proc withdef {{a 1}} {}")
    var, arr = TclVariable("leak", tcl=rec), TclArrayVariable("leak_a", tcl=rec)
    cmd, withdef = TclCommand("rec", "x", {"o": 1}, tcl=rec), TclCommand("withdef", tcl=rec)

    def round_():
        var.set("a b")
        var.get()
        var.get_str()
        var.exists()
        arr["k"] = 1
        arr["k"]
        list(arr)
        var.unset(nocomplain=True)
        var.unset(nocomplain=True)
        cmd("a", o=2, p=None)
        cmd.eval("a")
        str(cmd)
        repr(cmd)
        TclCommand(cmd, ("y",), tcl=rec)
        withdef.proc_arg_default("a")
        for fail in (var.get, lambda: TclCommand("a {b", tcl=rec), lambda: withdef.proc_arg_default("zz")):
            try:
                fail()
            except (TclError, ValueError):
                pass

    for _ in range(200):
        round_()
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(2000):
            round_()
        gc.collect()
        growth = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert growth < 64 * 1024
