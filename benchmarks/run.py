"""Benchmark suite: every hot operation against raw tkinter and a baseline.

Each ``benchmarks/bench_*.py`` module defines ``cases(env)``, yielding
``Case`` objects. Cases of one group are measured interleaved (round-robin,
many rounds, medians), so the ratios compare runs under the same machine
load. ``env.interp`` is an ``Interpreter``; ``env.tk`` is its raw tkinter
application object (the floor); ``env.tkroot`` a bare ``tkinter.Tcl()``.

    Case(group, variant, fn, target=None)

``variant`` is "oskra", "tkinter" (the floor) or "baseline" (pure Python);
``target`` on the oskra case is ("tkinter" or "baseline", op, factor): op
"<=" means oskra time <= factor x the other's, ">=" means the other is at
least factor x slower than oskra.

Usage: python benchmarks/run.py [substring-of-group ...]

On a loaded machine set BENCH_CLOCK=cpu: each sample is then the CPU time of
the measuring thread, which does not count the time other processes held
the CPU (wall-clock time is the default).
"""

import dataclasses
import gc
import importlib
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


@dataclasses.dataclass
class Case:
    group: str
    variant: str
    fn: object
    target: tuple = None


class Env:
    def __init__(self):
        import tkinter

        from oskra.tcl.interpreter import Interpreter

        self.interp = Interpreter()
        self.tk = self.interp.tk
        self.tkroot = tkinter.Tcl()


_clock = time.thread_time if os.environ.get("BENCH_CLOCK") == "cpu" else time.perf_counter


def _time_once(fn, number):
    t0 = _clock()
    for _ in range(number):
        fn()
    return (_clock() - t0) / number


def _calibrate(fn):
    number = 1
    while _time_once(fn, number) * number < 0.002:
        number *= 2
    return number


def measure(cases, rounds=15):
    """Median seconds per call for each case, measured interleaved."""
    numbers = [_calibrate(c.fn) for c in cases]
    samples = [[] for _ in cases]
    gc.disable()
    try:
        for _ in range(rounds):
            for i, c in enumerate(cases):
                samples[i].append(_time_once(c.fn, numbers[i]))
    finally:
        gc.enable()
    return [statistics.median(s) for s in samples]


def _fmt(seconds):
    if seconds < 1e-6:
        return "%7.1f ns" % (seconds * 1e9)
    if seconds < 1e-3:
        return "%7.2f us" % (seconds * 1e6)
    return "%7.2f ms" % (seconds * 1e3)


def main(argv):
    env = Env()
    modules = sorted(f[:-3] for f in os.listdir(HERE) if f.startswith("bench_") and f.endswith(".py"))
    groups = {}
    for name in modules:
        for case in importlib.import_module(name).cases(env):
            groups.setdefault(case.group, []).append(case)
    if argv:
        groups = {g: c for g, c in groups.items() if any(a in g for a in argv)}
    failures = 0
    print("%-48s %-9s %11s %9s  %s" % ("group", "variant", "time", "ratio", "target"))
    for group, cases in groups.items():
        times = dict(zip((c.variant for c in cases), measure(cases)))
        for case in cases:
            t = times[case.variant]
            ratio, verdict = "", ""
            if case.target:
                other, op, factor = case.target
                if op == "<=":
                    r = t / times[other]
                    ok = r <= factor
                    ratio = "%.2fx" % r
                    verdict = "%s <= %.1fx %s: %s" % (case.variant, factor, other, "ok" if ok else "MISSED")
                else:
                    r = times[other] / t
                    ok = r >= factor
                    ratio = "%.1fx" % r
                    verdict = "%s faster >= %.0fx: %s" % (other, factor, "ok" if ok else "MISSED")
                failures += not ok
            print("%-48s %-9s %11s %9s  %s" % (group, case.variant, _fmt(t), ratio, verdict))
    print("\n%d target(s) missed" % failures)


if __name__ == "__main__":
    main(sys.argv[1:])
