"""wordform() and tclobj() against tkinter's own joining and the baseline."""

import tkinter

import baseline_wordform as baseline
from run import Case

from oskra.tcl.wordform import tclobj, wordform


def _mixed(n):
    kinds = [
        lambda i: i,
        lambda i: i * 0.5,
        lambda i: "word%d" % i,
        lambda i: "two words %d" % i,
        lambda i: "",
        lambda i: "{brace",
        lambda i: "tab\there",
        lambda i: ["nested", i, "x y"],
        lambda i: ("a", "$b"),
        lambda i: "semi;colon]",
    ]
    return [kinds[i % len(kinds)](i) for i in range(n)]


def _words(n):
    return ["w%d" % i for i in range(n)]


def cases(env):
    mixed = _mixed(100)
    words = _words(10_000)
    for group, data in (
        ("wordform: 100-element mixed list", mixed),
        ("wordform: 10,000 short strings", words),
    ):
        yield Case(group, "oskra", lambda d=data: wordform(d), ("tkinter", ">=", 5))
        yield Case(group, "tkinter", lambda d=data: tkinter._join(d))
        yield Case(group, "baseline", lambda d=data: baseline.wordform(d))

    # The same 100,000 strings cut into lists of 1k, 10k and 100k: equal
    # times mean a flat cost per element.
    group = "wordform: 100k strings as 100x1k/10x10k/1x100k"
    all_words = _words(100_000)
    chunks = {n: [all_words[i : i + n] for i in range(0, 100_000, n)] for n in (1_000, 10_000, 100_000)}

    def run(lists):
        for lst in lists:
            wordform(lst)

    yield Case(group, "oskra", lambda: run(chunks[100_000]), ("oskra-1k", "<=", 1.3))
    yield Case(group, "oskra-10k", lambda: run(chunks[10_000]), ("oskra-1k", "<=", 1.3))
    yield Case(group, "oskra-1k", lambda: run(chunks[1_000]))
    yield Case(group, "tkinter", lambda: tkinter._join(chunks[100_000][0]))

    table = {"key%d" % i: [i, "v %d" % i, [i * 0.5, None]] for i in range(100)}
    group = "tclobj: dict of 100 lists"
    yield Case(group, "oskra", lambda: tclobj(table), ("baseline", ">=", 5))
    yield Case(group, "baseline", lambda: baseline.tclobj(table))
