"""Interpreter: eval, casts, Python callbacks."""

import baseline_interpreter as base
from run import Case

KEYED = "{name {{first Ann} {last Lee}}} {age 42} {tags {a b c}} {id 7}"


def cases(env):
    interp, tk = env.interp, env.tk
    baseline = base.Interpreter()
    for i in range(interp.__MAX_HISTORY__):  # both histories at capacity
        interp.history.append("warm %d" % i)
        baseline.history.append("warm %d" % i)

    group = 'eval("set a 1"), history full'
    yield Case(group, "oskra", lambda: interp.eval("set a 1"), ("tkinter", "<=", 1.3))
    yield Case(group, "tkinter", lambda: tk.eval("set a 1"))
    yield Case(group, "baseline", lambda: baseline.eval("set a 1"))

    group = 'eval("set a 1", typecast=True)'
    yield Case(group, "oskra", lambda: interp.eval("set a 1", True))
    yield Case(group, "tkinter", lambda: tk.getint(tk.eval("set a 1")))
    yield Case(group, "baseline", lambda: baseline.eval("set a 1", True))

    group = 'cast_any("12")'
    yield Case(group, "oskra", lambda: interp.cast_any("12"), ("tkinter", "<=", 1.5))
    yield Case(group, "tkinter", lambda: tk.getint("12"))
    yield Case(group, "baseline", lambda: baseline.cast_any("12"))

    group = 'cast_int("12")'
    yield Case(group, "oskra", lambda: interp.cast_int("12"))
    yield Case(group, "tkinter", lambda: interp.getint("12"))

    for text in ("1.5", "true", "hello world"):
        group = "cast_any(%r)" % text
        yield Case(group, "oskra", lambda t=text: interp.cast_any(t), ("baseline", ">=", 10))
        yield Case(group, "baseline", lambda t=text: baseline.cast_any(t))

    group = "cast_any(keyed list, 4 keys, nested)"
    yield Case(group, "oskra", lambda: interp.cast_any(KEYED), ("tkinter", "<=", 3))
    yield Case(group, "tkinter", lambda: tk.splitlist(KEYED))
    yield Case(group, "baseline", lambda: baseline.cast_any(KEYED))

    group = 'cast_boolean("no")'
    yield Case(group, "oskra", lambda: interp.cast_boolean("no"))
    yield Case(group, "tkinter", lambda: tk.getboolean("no"))
    yield Case(group, "baseline", lambda: baseline.cast_boolean("no"))

    text = " ".join("e%d" % i for i in range(1000))
    group = "cast_list(1000 elements)"
    yield Case(group, "oskra", lambda: interp.cast_list(text), ("tkinter", "<=", 1.0))
    yield Case(group, "tkinter", lambda: tk.splitlist(text))
    yield Case(group, "baseline", lambda: baseline.cast_list(text))

    def cb(*words):
        return words[0]

    name = str(interp.create_callback(cb, "bench_cb", force=True))
    tk.createcommand("bench_raw", cb)
    group = "Tcl -> Python callback round trip"
    yield Case(group, "oskra", lambda: tk.eval("bench_cb a b"))
    yield Case(group, "tkinter", lambda: tk.eval("bench_raw a b"))
    assert name == "::bench_cb"
