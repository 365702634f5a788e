"""Namespace name algebra and the variable views."""
import baseline_namespace as base
from run import Case

from oskra.tcl.namespace import TclNamespace


def cases(env):
    interp, tk = env.interp, env.tk

    group = 'TclNamespace.join("::a::b", "c", "d")'
    yield Case(group, "oskra", lambda: TclNamespace.join("::a::b", "c", "d"), ("baseline", ">=", 5))
    yield Case(group, "baseline", lambda: base.TclNamespace.join("::a::b", "c", "d"))

    group = 'TclNamespace.split("::alpha::beta::gamma")'
    yield Case(group, "oskra", lambda: TclNamespace.split("::alpha::beta::gamma"), ("baseline", ">=", 5))
    yield Case(group, "baseline", lambda: base.TclNamespace.split("::alpha::beta::gamma"))

    tk.eval("namespace eval ::bench { variable value {some text} }")
    ours = TclNamespace("::bench", tcl=interp)
    theirs = base.TclNamespace("::bench", tcl=interp)

    group = 'ns.vars["value"] (string read)'
    yield Case(group, "oskra", lambda: ours.vars["value"])
    yield Case(group, "tkinter", lambda: tk.eval("set ::bench::value"))
    yield Case(group, "baseline", lambda: theirs.vars["value"])

    group = 'ns.objs["value"] (typed read)'
    yield Case(group, "oskra", lambda: ours.objs["value"])
    yield Case(group, "tkinter", lambda: tk.getvar("::bench::value"))
    yield Case(group, "baseline", lambda: theirs.objs["value"])

    tk.eval("namespace eval ::bench1k { for {set i 0} {$i < 1000} {incr i} { variable v$i $i } }")
    ours1k = TclNamespace("::bench1k", tcl=interp)
    theirs1k = base.TclNamespace("::bench1k", tcl=interp)

    group = "list(ns.vars) over 1,000 variables"
    yield Case(group, "oskra", lambda: list(ours1k.vars))
    yield Case(group, "tkinter", lambda: tk.splitlist(tk.call("namespace", "eval", "::bench1k", ("::info", "vars"))))
    yield Case(group, "baseline", lambda: list(theirs1k.vars))
