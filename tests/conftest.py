"""Shared fixtures."""

import tkinter

import pytest

pytest_plugins = ["pytester"]


@pytest.fixture
def interp():
    """A fresh, started Interpreter."""
    from oskra.tcl.interpreter import Interpreter

    return Interpreter()


@pytest.fixture(scope="module")
def shared():
    """An Interpreter shared by the tests of one module."""
    from oskra.tcl.interpreter import Interpreter

    return Interpreter()


@pytest.fixture(scope="session")
def tcl():
    """A bare tkinter Tcl interpreter with TclX: the oracle."""
    oracle = tkinter.Tcl()
    oracle.eval("package require Tclx")
    return oracle


@pytest.fixture(scope="module")
def tcllib_interp():
    """An Interpreter that finds Debian's tcllib (skips where it is not installed)."""
    import glob

    from oskra.tcl.interpreter import Interpreter

    if not glob.glob("/usr/share/tcltk/tcllib*"):
        pytest.skip("tcllib is not installed (Debian package tcllib)")
    interp = Interpreter()
    if interp.tk.eval("catch {package require json}") != "0":
        pytest.skip("tcllib is not on the Tcl package path")
    return interp
