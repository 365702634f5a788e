"""List splitting and keyed lists against tkinter's splitter and the baseline."""

import baseline_lists as baseline
from run import Case

from oskra.tcl.internal import GetListFromAny
from oskra.tcl.nestmap import NestMap


def _list_text(n):
    words = []
    for i in range(n):
        kind = i % 4
        if kind == 0:
            words.append("w%d" % i)
        elif kind == 1:
            words.append("{two words %d}" % i)
        elif kind == 2:
            words.append(str(i * 7))
        else:
            words.append('"q%d"' % i)
    return " ".join(words)


def _keyed_text():
    # 5 x 4 x 5 = 100 leaves over three levels
    top = []
    for a in range(5):
        mid = []
        for b in range(4):
            leaves = " ".join("{leaf%d value%d}" % (c, a * 100 + b * 10 + c) for c in range(5))
            mid.append("{mid%d {%s}}" % (b, leaves))
        top.append("{top%d {%s}}" % (a, " ".join(mid)))
    return " ".join(top)


def cases(env):
    tk = env.tk
    text = _list_text(1000)
    assert GetListFromAny(text) == tk.splitlist(text) == baseline.split_list(text)
    group = "GetListFromAny 1000 elements"
    yield Case(group, "oskra", lambda: GetListFromAny(text), target=("tkinter", "<=", 1.0))
    yield Case(group, "tkinter", lambda: tk.splitlist(text))
    group = "GetListFromAny 1000 elements vs baseline"
    yield Case(group, "oskra", lambda: GetListFromAny(text), target=("baseline", ">=", 5))
    yield Case(group, "baseline", lambda: baseline.split_list(text))

    Ref = baseline.make_nestmap(baseline.tk_cast_list(tk))
    keyed = _keyed_text()
    ours, ref = NestMap.from_tcl(keyed), Ref.from_tcl(keyed)
    assert len(ours.all_keys()) == 100 and ours.all_items() == ref.all_items()
    group = "NestMap.from_tcl 100 leaves, 3 levels"
    yield Case(group, "oskra", lambda: NestMap.from_tcl(keyed), target=("baseline", ">=", 5))
    yield Case(group, "baseline", lambda: Ref.from_tcl(keyed))

    nm, rm = NestMap({"a.b.c": 1}), Ref({"a.b.c": 1})
    group = 'NestMap get nm["a.b.c"]'
    yield Case(group, "oskra", lambda: nm["a.b.c"], target=("baseline", ">=", 1))
    yield Case(group, "baseline", lambda: rm["a.b.c"])

    def set_ours():
        nm["a.b.c"] = 2

    def set_ref():
        rm["a.b.c"] = 2

    group = 'NestMap set nm["a.b.c"]'
    yield Case(group, "oskra", set_ours, target=("baseline", ">=", 1))
    yield Case(group, "baseline", set_ref)
