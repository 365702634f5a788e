"""Reading namespaces: own names only, readable keys, nothing created, Tcl's own commands, names as text."""

import pytest

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclArrayVariable, TclCommand, TclNamespace, TempTclNamespace


@pytest.fixture(scope="module")
def interp():
    i = Interpreter()
    i.tk.eval(
        "namespace eval ::rw {variable s 1; variable declared; variable arr; array set arr {k 1};"
        " proc p {a {n 010}} {expr {$n + 0}}; namespace eval child {} }"
        "; set ::rw::file:counter 3; proc ::rw::a:b {} {}"
    )
    return i


def namespaces(tk):
    return set(tk.eval("namespace children ::").split())


@pytest.mark.parametrize("name", ["::rw", "rw", "::rw::", "::"])
def test_views_are_mappings_of_own_names(interp, name):
    ns = TclNamespace(name, tcl=interp)
    for view in (ns.vars, ns.objs, ns.cmds, ns.procs):
        keys = list(view)
        assert all(type(k) is str for k in keys)
        assert all(k in view for k in keys)
        assert len(dict(view)) == len(keys)
    if name != "::":
        # no globals, no variable that was only declared; a single colon is part of a name
        assert set(ns.vars) == {"s", "arr", "file:counter"}
        assert set(ns.procs) == set(ns.cmds) == {"p", "a:b"}
        assert ns.vars["file:counter"] == "3" and ns.cmds["a:b"].is_proc()
    assert set(TclNamespace("::", tcl=interp).vars) >= {"argv", "errorInfo", "auto_index"}


def test_arrays_read_as_text_or_array(interp):
    g = TclNamespace("::", tcl=interp)
    text = g.vars["auto_index"]
    assert isinstance(text, str) and interp.cast_array(text) == g.objs["auto_index"]
    assert TclNamespace("::rw", tcl=interp).objs["arr"] == {"k": "1"}


def test_reads_of_a_missing_namespace_create_nothing(interp):
    before = namespaces(interp.tk)
    typo = TclNamespace("::typo", tcl=interp)
    assert typo.children() == () and typo.children("*") == () and typo.export() == ()
    for view in (typo.vars, typo.objs, typo.cmds, typo.procs):
        assert list(view) == [] and len(view) == 0 and "x" not in view
    for read in (lambda: typo.which("set"), lambda: typo.origin("set"), lambda: typo.code("x")):
        with pytest.raises(Exception, match='namespace "::typo" not found'):
            read()
    with TempTclNamespace(tcl=interp) as temp:
        temp.vars["x"] = 1
    assert list(temp.vars) == [] and len(temp.cmds) == 0 and "x" not in temp.vars
    assert namespaces(interp.tk) == before


def test_a_namespace_defining_namespace_and_info_is_not_asked(interp):
    interp.tk.eval(
        "namespace eval ::shadow {proc q {} {}; namespace export q; namespace eval kid {};"
        " proc info args {error shadowed}; proc set args {error shadowed}; proc namespace args {error shadowed}}"
    )
    ns = TclNamespace("::shadow", tcl=interp)
    assert ns.children() == ("::shadow::kid",) and ns.children("k*") == ("::shadow::kid",)
    assert ns.export() == ("q",)
    assert ns.which("q", command=True) == "::shadow::q"
    assert set(ns.procs) == {"namespace", "info", "set", "q"}
    ns.vars["v"] = "x y"
    assert ns.vars["v"] == "x y" and dict(ns.vars) == {"v": "x y"}
    assert TclCommand("::shadow::q", tcl=interp).proc_args() == ()


def test_names_are_text_whatever_tcl_holds(interp):
    tk = interp.tk
    tk.eval("array set ::idx {} ; foreach k {{a b} 007 0x10} {set ::idx($k) 1}")
    tk.eval("foreach k [array names ::idx] {catch {llength $k; expr {$k + 0}}}")  # shimmer the names
    arr = TclArrayVariable("::idx", tcl=interp)
    assert sorted(arr) == sorted(["a b", "007", "0x10"])
    assert set(arr.array_get()) == {"a b", "007", "0x10"} and set(dict(arr)) == set(arr)
    p = TclCommand("::rw::p", tcl=interp)
    for _ in range(2):  # before and after the procedure ran (and compiled its default)
        assert p.proc_args() == ("a", "n")
        assert p.proc_arg_default("n") == "010" and p.proc_arg_default("a") is None
        assert tk.call("::rw::p", 1) == 8
