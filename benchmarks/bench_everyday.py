"""The calls a test script makes thousands of times, each against the same
job done through raw tkinter: variable reads and writes, a boolean cast,
a procedure's argument names."""

from run import Case

from oskra.tcl.namespace import TclCommand


def cases(env):
    interp, tk = env.interp, env.tk
    tk.setvar("::a", "some text")

    group = 'get_var("::a")'
    yield Case(group, "oskra", lambda: interp.get_var("::a"), ("tkinter", "<=", 2.0))
    yield Case(group, "tkinter", lambda: tk.getvar("::a"))

    group = 'objs["::a"]'
    objs = interp.objs
    yield Case(group, "oskra", lambda: objs["::a"], ("tkinter", "<=", 1.5))
    yield Case(group, "tkinter", lambda: tk.getvar("::a"))

    group = 'set_var("::a", "1")'
    yield Case(group, "oskra", lambda: interp.set_var("::a", "1"), ("tkinter", "<=", 1.5))
    yield Case(group, "tkinter", lambda: tk.setvar("::a", "1"))

    group = 'cast_any("true")'
    yield Case(group, "oskra", lambda: interp.cast_any("true"), ("tkinter", "<=", 3.0))
    yield Case(group, "tkinter", lambda: tk.getboolean("true"))

    tk.eval("proc ::bench_p {a {b 2} args} {}")
    proc = TclCommand("::bench_p", tcl=interp)
    group = "TclCommand.proc_args()"
    yield Case(group, "oskra", proc.proc_args, ("tkinter", "<=", 1.2))
    yield Case(group, "tkinter", lambda: tk.splitlist(tk.call("info", "args", "::bench_p")))
