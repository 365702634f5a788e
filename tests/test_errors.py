"""Errors that tell the whole story: Python exceptions raised by callbacks,
Tcl's error state on every TclError, and a clean start."""

import logging
import subprocess
import sys
import textwrap
from tkinter import TclError

import pytest

from oskra.tcl.namespace import TclCommand, TclVariable, TempTclCommand
from oskra.tcl.nestmap import NestMap


class DeviceError(Exception):
    pass


def measure(port):
    raise DeviceError("device not ready: port %s" % port)


@pytest.fixture(params=["create_callback", "view", "temporary"])
def register(request, interp):
    """Each way a Python callable becomes the Tcl command "measure"; each
    returns how a caller would run Tcl code that uses it."""
    temporaries = []

    def register(func):
        if request.param == "create_callback":
            interp.create_callback(func, "measure", force=True)
            return interp.eval
        if request.param == "view":
            interp.global_ns.cmds["measure"] = func
            return lambda script: interp.quick.eval(script, cast_=False)
        tmp = TempTclCommand(func, tcl=interp)
        temporaries.append(tmp)
        interp.eval("interp alias {} measure {} %s" % tmp.cmd_name)
        return TclCommand("::eval", tcl=interp)

    yield register
    for tmp in temporaries:
        tmp.__exit__(None, None, None)
    temporaries.clear()


def test_callback_exception_reaches_tcl_and_the_caller(interp, register, caplog):
    run = register(measure)
    with caplog.at_level(logging.ERROR, logger="oskra.tcl"):
        with pytest.raises(TclError) as info:
            run("measure 3")
    err = info.value
    assert isinstance(err.__cause__, DeviceError)
    assert str(err.__cause__) == "device not ready: port 3"
    assert err.errorinfo.startswith(
        "DeviceError: device not ready: port 3\nTraceback (most recent call last):"
    )
    assert 'raise DeviceError("device not ready: port %s" % port)' in err.errorinfo
    assert err.errorcode == ("PYTHON", "DeviceError", "device not ready: port 3")
    # What Tcl itself saw.
    assert interp.eval("catch {measure 4} m; set m") == "DeviceError: device not ready: port 4"
    assert interp.get_errorInfo().startswith("DeviceError: device not ready: port 4\nTraceback")
    assert interp.eval("set ::errorCode") == "PYTHON DeviceError {device not ready: port 4}"
    logged = [r for r in caplog.records if r.name == "oskra.tcl" and r.levelno == logging.ERROR]
    assert logged and logged[0].exc_info[1] is err.__cause__


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize(
    "script",
    ["stop", "catch stop; set after 1", "try {stop} on error {} {}", "proc p {} {catch stop}; p"],
)
def test_interrupts_propagate_even_when_tcl_catches_them(interp, interrupt, script):
    calls = []

    def stop():
        calls.append(1)
        raise interrupt("stop")

    interp.create_callback(stop)
    with pytest.raises(interrupt):
        interp.eval(script)
    with pytest.raises(interrupt):
        interp.quick.eval(script)
    # A loop that swallows the error calls no more Python once it was raised.
    before = len(calls)
    with pytest.raises(interrupt):
        interp.eval("foreach i {1 2 3 4} {catch stop}")
    assert len(calls) == before + 1
    assert interp.eval("set ok 1") == "1"  # and nothing is left behind


def test_exception_caught_by_tcl_is_not_blamed_later(interp):
    interp.create_callback(measure)
    assert interp.eval("catch {measure 1}") == "1"
    with pytest.raises(TclError) as info:
        interp.eval("error plain")
    assert info.value.__cause__ is None
    assert info.value.errorcode == ("NONE",)


def test_nested_calls_chain_their_causes(interp):
    def outer():
        return interp.eval("measure 7")

    interp.create_callback(measure)
    interp.create_callback(outer)
    with pytest.raises(TclError) as info:
        interp.eval("outer")
    inner = info.value.__cause__
    assert isinstance(inner, TclError) and isinstance(inner.__cause__, DeviceError)


@pytest.mark.parametrize(
    "script, errorcode",
    [
        ("error boom", ("NONE",)),
        ("error boom info {MY CODE {with space}}", ("MY", "CODE", "with space")),
        ("expr {1/0}", ("ARITH", "DIVZERO", "divide by zero")),
        ("no_such_command", ("TCL", "LOOKUP", "COMMAND", "no_such_command")),
    ],
)
def test_tcl_error_carries_errorinfo_and_errorcode(interp, script, errorcode):
    calls = [
        lambda: interp.eval(script),
        lambda: interp.quick.eval(script),
        lambda: TclCommand("::eval", tcl=interp)(script),
        lambda: TclCommand("::eval", tcl=interp).eval(script),
        lambda: interp.global_ns.eval(script),
    ]
    for call in calls:
        with pytest.raises(TclError) as info:
            call()
        assert info.value.errorcode == errorcode
        assert info.value.errorinfo == interp.get_errorInfo()
    # eval and quick calls keep their message: ::errorInfo itself.
    with pytest.raises(TclError) as info:
        interp.eval(script)
    assert str(info.value) == info.value.errorinfo and info.value.__cause__ is None


def test_views_raise_tcl_errors_with_their_state(interp):
    interp.eval("proc ::guarded {} {}; trace add variable ::guarded_var write {error locked ;#}")
    with pytest.raises(TclError) as info:
        interp.vars["::guarded_var"] = 1
    assert info.value.errorinfo.startswith("locked\n")
    assert info.value.errorcode == ("TCL", "WRITE", "VARNAME")


@pytest.mark.parametrize(
    "read",
    [
        lambda i: i.vars.get("::watched"),
        lambda i: i.global_ns.vars["watched"],
        lambda i: TclVariable("::watched", tcl=i).get_str(),
    ],
    ids=["vars.get", "vars[]", "get_str"],
)
def test_string_reads_raise_tcl_errors_with_their_state(interp, read):
    # The view's KeyError keeps the TclError as its cause.
    interp.eval("set ::watched v; trace add variable ::watched read {error sealed ;#}")
    with pytest.raises((TclError, KeyError)) as info:
        read(interp)
    err = info.value if isinstance(info.value, TclError) else info.value.__cause__
    assert isinstance(err, TclError)
    assert err.errorinfo.startswith("sealed\n")
    assert err.errorcode == ("TCL", "READ", "VARNAME")


def test_fresh_interpreter_has_no_stale_error(interp):
    assert interp.get_errorInfo() == ""
    assert interp.eval("set ::errorCode") == "NONE"


@pytest.mark.parametrize(
    "result, tcl_text",
    [
        (None, ""),
        ("a b", "a b"),
        (7, "7"),
        (["a", "b c", ["d"]], "a {b c} d"),
        (("x", None), "x {}"),
        ({"k": "v w", "n": 1}, "k {v w} n 1"),
        (NestMap({"a": {"b": "1"}}), "{a {{b 1}}}"),
    ],
)
def test_callback_results_are_converted_like_arguments(interp, register, result, tcl_text):
    register(lambda: result)
    assert interp.eval("measure") == tcl_text


def test_import_without_tclx_names_the_package_to_install():
    # `package unknown` emptied: Tcl finds no package it has not seen yet.
    code = textwrap.dedent("""
        import tkinter
        real_init = tkinter.Tk.__init__
        def init(self, *args, **kwargs):
            real_init(self, *args, **kwargs)
            self.tk.eval("package unknown {}")
        tkinter.Tk.__init__ = init
        import oskra.tcl.interpreter
    """)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert proc.returncode != 0
    last = proc.stderr.strip().splitlines()[-1]
    assert last.startswith("_tkinter.TclError: TclX is not installed: install the Debian package tclx8.4")
    assert "can't find package Tclx" in last


def test_history_entries_carry_the_error_of_failed_calls(interp):
    interp.create_callback(measure)
    interp.eval("set ok 1")
    for call in (lambda: interp.eval("measure 1"), lambda: interp.quick.measure(2)):
        with pytest.raises(TclError) as info:
            call()
        assert interp.history.filter(count=1)[0].error == str(info.value)
    # Calls made while a call runs are recorded after it; each keeps its own outcome.
    interp.create_callback(lambda: interp.eval("set inner 1"), "outer")
    with pytest.raises(TclError):
        interp.eval("outer; error late")
    entries = list(interp.history)
    assert len(interp.history) == len(entries) == 5
    assert [entry.api for entry in entries[-2:]] == ["outer; error late", "set inner 1"]
    assert entries[-2].error.startswith("late\n") and entries[-1].error is None
    assert entries[0].error is None
