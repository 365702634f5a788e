"""Call history and quick calls."""

import weakref

import baseline_history_quick as base
from run import Case

from oskra.tcl.history import History


def _full(cls):
    h = cls()
    for i in range(cls.__MAX_HISTORY__):
        h.append("set a %d" % i)
    return h


def cases(env):
    group = "History.append at capacity"
    ours, theirs = _full(History), _full(base.History)
    words = ["set", "a", "b c"]
    yield Case(group, "oskra", lambda: ours.append("set a 1"), ("baseline", ">=", 3))
    yield Case(group, "baseline", lambda: theirs.append("set a 1"))

    group = "History.append word list, 1 marker"
    ours2, theirs2 = _full(History), _full(base.History)
    ours2.start_marker("m")
    theirs2.start_marker("m")
    yield Case(group, "oskra", lambda: ours2.append(words), ("baseline", ">=", 3))
    yield Case(group, "baseline", lambda: theirs2.append(words))

    interp, tk = env.interp, env.tk
    proxy = weakref.proxy(interp)
    for i in range(History.__MAX_HISTORY__):  # the interpreter's history is full
        interp.history.append("warm %d" % i)

    group = 'quick.set("a", "b c")'
    yield Case(group, "oskra", lambda: interp.quick.set("a", "b c"), ("tkinter", "<=", 1.8))
    yield Case(group, "tkinter", lambda: tk.call("set", "a", "b c"))
    yield Case(group, "baseline", lambda: base.Quick_Code("set", tcl=proxy)("a", "b c"))

    group = 'quick.set("a", "b c", cast_=False)'
    yield Case(group, "oskra", lambda: interp.quick.set("a", "b c", cast_=False), ("tkinter", "<=", 1.5))
    yield Case(group, "tkinter", lambda: tk.call("set", "a", "b c"))
    yield Case(group, "baseline", lambda: base.Quick_Code("set", tcl=proxy)("a", "b c", cast_=False))
