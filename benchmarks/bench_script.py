"""A realistic test script: 10,000 mixed calls (evaluations, quick calls
with options, variable reads and writes, a Python callback round trip, a
keyed-list read), against the same script written with raw tkinter."""

from run import Case

STEPS = 1000  # ten calls each


def cases(env):
    interp, tk = env.interp, env.tk
    tk.eval("proc ::script_proc {args} { return [llength $args] }")
    tk.eval("keylset ::script_kl name.first Ann name.last Lee age 42")
    tk.setvar("::script_n", 12)

    def cb(*words):
        return words[0]

    interp.create_callback(cb, "script_cb", force=True)
    tk.createcommand("script_raw_cb", cb)
    quick, objs, vars_ = interp.quick, interp.objs, interp.vars

    def ours():
        for _ in range(STEPS):
            interp.eval("set ::script_count 0")
            quick.script_proc("a b", level=2)
            interp.set_var("::script_x", "hello world")
            interp.get_var("::script_x")
            objs["::script_n"]
            interp.eval("script_cb x y")
            interp.get_keyed_list("::script_kl")["name.first"]
            quick.set("::script_y", "b c", cast_=False)
            vars_["::script_y"] = "d e"
            interp.eval("incr ::script_count", typecast=True)

    def raw():
        for _ in range(STEPS):
            tk.eval("set ::script_count 0")
            tk.call("::script_proc", "a b", "-level", 2)
            tk.setvar("::script_x", "hello world")
            tk.getvar("::script_x")
            tk.getint(tk.getvar("::script_n"))
            tk.eval("script_raw_cb x y")
            tk.eval("keylget ::script_kl name.first")
            tk.call("set", "::script_y", "b c")
            tk.setvar("::script_y", "d e")
            tk.getint(tk.eval("incr ::script_count"))

    group = "script: 10,000 mixed calls"
    yield Case(group, "oskra", ours, ("tkinter", "<=", 2.0))
    yield Case(group, "tkinter", raw)
