"""Shared fixtures."""

import tkinter

import pytest

pytest_plugins = ["pytester"]


@pytest.fixture
def interp():
    """A fresh, started Interpreter."""
    from oskra.tcl.interpreter import Interpreter

    return Interpreter()


@pytest.fixture(scope="session")
def tcl():
    """A bare tkinter Tcl interpreter with TclX: the oracle."""
    oracle = tkinter.Tcl()
    oracle.eval("package require Tclx")
    return oracle
