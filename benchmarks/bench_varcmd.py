"""TclVariable and TclCommand hot paths against raw tkinter and the
pure-Python baseline."""

import baseline_varcmd as base
from run import Case

from oskra.tcl.namespace import TclArrayVariable, TclCommand, TclVariable


def cases(env):
    interp, tk = env.interp, env.tk
    var, bvar = TclVariable("bench_v", tcl=interp), base.TclVariable("bench_v", tcl=interp)

    group = 'TclVariable.set("a b")'
    yield Case(group, "oskra", lambda: var.set("a b"), ("tkinter", "<=", 1.8))
    yield Case(group, "tkinter", lambda: tk.setvar("bench_v", "a b"))
    yield Case(group, "baseline", lambda: bvar.set("a b"))

    group = "TclVariable.get()"
    yield Case(group, "oskra", lambda: var.get(), ("tkinter", "<=", 1.8))
    yield Case(group, "tkinter", lambda: tk.getvar("bench_v"))
    yield Case(group, "baseline", lambda: bvar.get())

    arr, barr = TclArrayVariable("bench_a", tcl=interp), base.TclVariable("bench_a", tcl=interp)
    arr["k"] = "v"
    group = 'TclArrayVariable["k"]'
    yield Case(group, "oskra", lambda: arr["k"], ("tkinter", "<=", 2.5))
    yield Case(group, "tkinter", lambda: tk.getvar("bench_a", "k"))
    yield Case(group, "baseline", lambda: barr.get("k"))

    cmd = TclCommand("list", "fixed", {"level": 1}, tcl=interp)
    bcmd = base.TclCommand("list", "fixed", {"level": 1}, tcl=interp)
    group = 'TclCommand("list" ...)("a b", level=2, mode="x")'
    yield Case(group, "oskra", lambda: cmd("a b", level=2, mode="x"), ("tkinter", "<=", 2.0))
    yield Case(group, "tkinter", lambda: tk.call("list", "fixed", "a b", "-level", 2, "-mode", "x"))
    yield Case(group, "baseline", lambda: bcmd("a b", level=2, mode="x"))

    plain, bplain = TclCommand("list", tcl=interp), base.TclCommand("list", tcl=interp)
    group = 'TclCommand("list")("a", "b")'
    yield Case(group, "oskra", lambda: plain("a", "b"), ("tkinter", "<=", 1.5))
    yield Case(group, "tkinter", lambda: tk.call("list", "a", "b"))
    yield Case(group, "baseline", lambda: bplain("a", "b"))
