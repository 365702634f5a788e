"""Threads: only the thread that created an interpreter touches it through
Tcl's C library; other threads get the same answers without doing so."""

import threading

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from test_lifetime import run_isolated

from oskra.tcl.internal import TclDLL


def in_thread(fn):
    """fn() run on a new thread: its result, or its exception raised here."""
    box = {}

    def run():
        try:
            box["result"] = fn()
        except BaseException as exc:
            box["error"] = exc

    worker = threading.Thread(target=run)
    worker.start()
    worker.join()
    if "error" in box:
        raise box["error"]
    return box["result"]


def outcome(fn, value):
    try:
        result = fn(value)
    except Exception as exc:  # the kind and text of a failure are compared
        return type(exc).__name__, str(exc)
    return type(result).__name__, result


CASTS = ["cast_int", "cast_double", "cast_boolean", "cast_any"]

NUMBERISH = st.text(alphabet="0123456789abefxoiEnN.+- \t_\u00e9\u20ac\U0001f600", max_size=70)


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(texts=st.lists(NUMBERISH, min_size=1, max_size=40))
def test_casts_from_another_thread_match_the_owner_thread(interp, texts):
    def all_outcomes():
        return [(cast, t, outcome(getattr(interp, cast), t)) for cast in CASTS for t in texts]

    assert in_thread(all_outcomes) == all_outcomes()


SPECIAL = [
    "08",
    " 09 ",
    "08a",
    "-089 x",
    "08.5z",
    "08e",
    "07a",
    "-0x1F",
    "0o17",
    "017",
    "nan",
    "inf",
    "99999999999999999999999",
    "-0x8000000000000000000",
    "0b" + "1" * 70,
    "x" * 60,
    "\u00e9" * 30,
    "\U0001f600" * 20,
    "a\x00b",
    "\ud800",
    12,
    2.5,
    True,
    None,
    (1, 2),
]


@pytest.mark.parametrize("cast", CASTS)
def test_special_values_from_another_thread(interp, cast):
    fn = getattr(interp, cast)
    values = SPECIAL + [
        interp.tk.call("expr", "2**70"),
        interp.tk.call("expr", "1.5"),
        interp.tk.call("list", "a"),
    ]
    assert in_thread(lambda: [outcome(fn, v) for v in values]) == [outcome(fn, v) for v in values]


def test_result_reset_refused_from_another_thread(interp):
    with pytest.raises(RuntimeError, match="Calling Tcl from different apartment"):
        in_thread(lambda: TclDLL.Tcl_ResetResult(interp))
    with pytest.raises(RuntimeError, match="Calling Tcl from different apartment"):
        in_thread(lambda: TclDLL.Tcl_ResetResult(interp.tk))
    assert TclDLL.Tcl_ResetResult(interp) is None


def test_casts_in_a_thread_leave_the_owner_evaluation_intact():
    """A worker casting in a loop while the owner thread evaluates a long
    script: the owner's results stay exact."""
    proc = run_isolated(
        """
        import threading
        from oskra.tcl.interpreter import Interpreter
        interp = Interpreter()
        big = interp.tk.call("expr", "2**70")
        stop = threading.Event()
        def worker():
            while not stop.is_set():
                assert interp.cast_boolean("yes") is True
                assert interp.cast_any("12") == 12 and interp.cast_any("maybe") == "maybe"
                for cast in (interp.cast_boolean, interp.cast_int, interp.cast_double):
                    try:
                        cast("maybe")
                    except ValueError:
                        pass
                interp.cast_int(big)
        threads = [threading.Thread(target=worker) for _ in range(2)]
        for t in threads:
            t.start()
        script = "set l {}; for {set k 0} {$k<200000} {incr k} {lappend l $k}; llength $l"
        results = [interp.tk.eval(script) for _ in range(5)]
        stop.set()
        for t in threads:
            t.join()
        assert results == ["200000"] * 5, results
        print("intact")
    """,
        timeout=900,
    )
    assert proc.returncode == 0 and "intact" in proc.stdout, proc.stderr[-3000:]
