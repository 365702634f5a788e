"""Namespace name algebra and the variable views.

The name-algebra cases call the function through functools.partial, for
both variants alike, so that the fixed cost of a lambda frame does not
dilute the comparison of the functions themselves."""

import itertools
from functools import partial

import baseline_namespace as base
from run import Case

from oskra.tcl.namespace import TclNamespace


def cases(env):
    interp, tk = env.interp, env.tk

    group = 'TclNamespace.join("::a::b", "c", "d")'
    yield Case(group, "oskra", partial(TclNamespace.join, "::a::b", "c", "d"), ("baseline", ">=", 5))
    yield Case(group, "baseline", partial(base.TclNamespace.join, "::a::b", "c", "d"))

    group = 'TclNamespace.split("::alpha::beta::gamma")'
    yield Case(group, "oskra", partial(TclNamespace.split, "::alpha::beta::gamma"), ("baseline", ">=", 5))
    yield Case(group, "baseline", partial(base.TclNamespace.split, "::alpha::beta::gamma"))

    # 1,000 different names in turn: the component cache does not help.
    names = ["::ns%d::sub%d::leaf%d" % (i, i * 7, i * 13) for i in range(1000)]
    ours_names, base_names = itertools.cycle(names), itertools.cycle(names)
    group = "TclNamespace.split, 1,000 names in turn"
    yield Case(group, "oskra", lambda: TclNamespace.split(next(ours_names)))
    yield Case(group, "baseline", lambda: base.TclNamespace.split(next(base_names)))

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
    yield Case(
        group, "tkinter", lambda: tk.splitlist(tk.call("namespace", "eval", "::bench1k", ("::info", "vars")))
    )
    yield Case(group, "baseline", lambda: list(theirs1k.vars))
