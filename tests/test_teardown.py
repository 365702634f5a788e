"""Teardown: close(), the context manager, destroy(), and interpreters that
are dropped with Python commands still registered."""

import gc
import sys
import textwrap
import weakref

import pytest
from test_lifetime import OPERATIONS, bound_objects, run_isolated
from test_threads import in_thread

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclCommand, TempTclCommand

CLOSED = "interpreter is closed"


def closed_interpreter_objects():
    """Every kind of object bound to an interpreter, after close()."""
    interp = Interpreter()
    objs = dict(bound_objects(interp), interp=interp)
    interp.close()
    return objs


@pytest.fixture(scope="module")
def closed():
    return closed_interpreter_objects()


INTERPRETER_OPERATIONS = [
    lambda i: i.eval("set a 1"),
    lambda i: i.eval("set a 1", record=False),
    lambda i: i.get_errorInfo(),
    lambda i: i.get_var("::a"),
    lambda i: i.get_int("::a"),
    lambda i: i.get_list("::a"),
    lambda i: i.get_array("::arr"),
    lambda i: i.set_var("::a", 1),
    lambda i: i.set_list("::a", [1]),
    lambda i: i.set_boolean("::a", True),
    lambda i: i.cast_boolean("yes"),
    lambda i: i.cast_int("x"),
    lambda i: i.cast_double("x"),
    lambda i: i.create_callback(print, "::cb"),
    lambda i: i.call("set", "a"),
    lambda i: i.tk.eval("set a"),
    lambda i: i.getint("x"),
    lambda i: i.quick.set("a", 1),
]


@pytest.mark.parametrize("op", INTERPRETER_OPERATIONS)
def test_interpreter_after_close_raises_a_clear_error(closed, op):
    with pytest.raises(RuntimeError, match=CLOSED):
        op(closed["interp"])


@pytest.mark.parametrize("kind, op", OPERATIONS, ids=[f"{k}-{i}" for i, (k, _) in enumerate(OPERATIONS)])
def test_objects_bound_to_a_closed_interpreter_raise_a_clear_error(closed, kind, op):
    with pytest.raises(RuntimeError, match=CLOSED):
        op(closed[kind])


def test_closed_interpreter_keeps_its_record_and_plain_attributes(closed):
    interp = closed["interp"]
    assert interp.history is not None and interp.__callbacks__ == {}
    assert not hasattr(interp, "no_such_thing")
    assert repr(interp.tk) == "<closed Tcl application>"
    assert interp.cast_list("a b") == ("a", "b")  # needs no interpreter
    interp.close()  # again: nothing happens
    interp.destroy()


@pytest.mark.parametrize("end", ["close", "destroy", "with"])
def test_closing_deletes_every_python_command(end):
    interp = Interpreter()
    tk = interp.tk
    baseline = sys.getrefcount(tk)
    interp.create_callback(lambda *a: "cb", "::cb")
    interp.global_ns.cmds["view"] = lambda *a: "view"
    temp = TempTclCommand(lambda: "temp", tcl=interp)
    TclCommand("::ns::made", tcl=interp).createcommand(lambda: "made")
    tk.createcommand("raw", lambda: "raw")
    interp.create_callback(lambda: "renamed", "::before")
    tk.call("rename", "::before", "::moved")
    names = ["::cb", "::view", temp.cmd_name, "::ns::made", "::raw", "::moved"]
    assert all(tk.call("info", "commands", n) for n in names)
    assert sys.getrefcount(tk) > baseline  # each command holds the application
    if end == "with":
        with interp as entered:
            assert entered is interp
    else:
        getattr(interp, end)()
    assert [n for n in names if tk.call("info", "commands", n)] == []
    assert sys.getrefcount(tk) == baseline - 1  # only `tk` here: the interpreter let go too


@pytest.mark.parametrize(
    "damage", ["namespace delete ::", "rename ::apply {}", "rename ::info {}; rename ::set {}"]
)
def test_closing_an_interpreter_whose_own_commands_are_gone(damage):
    # Listing the commands is a Tcl script; without the commands it needs,
    # close() still deletes the callbacks it knows and lets the interpreter go.
    interp = Interpreter()
    tk = interp.tk
    baseline = sys.getrefcount(tk)
    interp.create_callback(lambda *a: "cb", "::cb")
    tk.eval(damage)
    interp.close()
    assert repr(interp).startswith("<Interpreter (closed)")
    assert sys.getrefcount(tk) <= baseline - 1


def test_with_block_closes_when_it_raises_and_the_exception_propagates():
    with pytest.raises(KeyError):
        with Interpreter() as interp:
            interp.create_callback(lambda: 1, "::cb")
            raise KeyError("inside")
    with pytest.raises(RuntimeError, match=CLOSED):
        interp.eval("cb")


def test_close_from_another_thread_is_refused():
    interp = Interpreter()
    with pytest.raises(RuntimeError, match="Calling Tcl from different apartment"):
        in_thread(interp.close)
    assert interp.eval("set a 1") == "1"
    interp.close()


def test_dropped_interpreters_with_callbacks_are_freed():
    """200 interpreters, each with callbacks of every kind, dropped without
    close(): every one is collected, its application object is left with
    no holder, and the resident memory stays flat."""
    proc = run_isolated(
        """
        import gc, os, sys, weakref
        from oskra.tcl.interpreter import Interpreter
        from oskra.tcl.namespace import TempTclCommand

        def rss():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * 4096

        def one():
            interp = Interpreter()
            payload = bytearray(200_000)  # what the callbacks capture
            interp.create_callback(lambda *a: len(payload), "cb")
            interp.global_ns.cmds["view"] = lambda *a: len(payload)
            temp = TempTclCommand(lambda: len(payload), tcl=interp)
            assert interp.eval("cb") == "200000" and temp() == 200000
            tk, ref = interp.tk, weakref.ref(interp)
            del temp, interp
            gc.collect()
            return ref() is None, sys.getrefcount(tk) - 1

        for _ in range(20):
            one()
        base = rss()
        outcomes = [one() for _ in range(200)]
        growth = rss() - base
        assert outcomes == [(True, 1)] * 200, outcomes[:3]
        # The sanitizer's quarantine holds freed memory, so RSS says nothing there.
        sanitized = "asan" in os.environ.get("LD_PRELOAD", "") or os.environ.get("PYTHONMALLOC") == "malloc"
        assert sanitized or growth < 20_000_000, growth  # a leak would be over 200 MB
        print("flat", growth)
    """,
        timeout=900,
    )
    assert proc.returncode == 0 and "flat" in proc.stdout, proc.stderr[-3000:]


@pytest.mark.parametrize(
    "code",
    [
        # The shared interpreter started by a worker thread.
        """
        import threading
        def worker():
            import oskra.tcl
            assert oskra.tcl.cast_list("a b") == ("a", "b") and oskra.tcl.eval("set a 1") == "1"
        t = threading.Thread(target=worker); t.start(); t.join()
        import oskra.tcl
        try:
            oskra.tcl.eval("set a 2")
        except RuntimeError as exc:
            assert str(exc) == "Calling Tcl from different apartment"
        assert oskra.tcl.cast_boolean("yes") is True and oskra.tcl.cast_list("x") == ("x",)
        """,
        # An interpreter made on a worker thread and dropped on the main thread.
        """
        import threading
        from oskra.tcl.interpreter import Interpreter
        box = []
        def worker():
            box.append(Interpreter())
            box[0].create_callback(print, "cb")
        t = threading.Thread(target=worker); t.start(); t.join()
        box.clear()
        """,
        # One made on the main thread and dropped by a worker.
        """
        import threading
        from oskra.tcl.interpreter import Interpreter
        box = [Interpreter()]
        t = threading.Thread(target=box.clear); t.start(); t.join()
        """,
    ],
    ids=["shared-from-worker", "dropped-on-main", "dropped-on-worker"],
)
def test_interpreters_of_other_threads_never_abort_the_process(code):
    proc = run_isolated(textwrap.dedent(code) + "\nprint('exited cleanly')\n")
    assert proc.returncode == 0 and "exited cleanly" in proc.stdout, proc.stderr[-3000:]
    assert "Tcl_AsyncDelete" not in proc.stderr


def test_interpreter_with_a_half_run_constructor_can_be_dropped():
    interp = Interpreter.__new__(Interpreter)
    ref = weakref.ref(interp)
    interp.close()
    del interp
    assert ref() is None


REGISTRATIONS = {
    "create_callback": lambda i, f: i.create_callback(f, "::cb"),
    "cmds view": lambda i, f: i.global_ns.cmds.__setitem__("cb", f),
    "TclCommand": lambda i, f: TclCommand("::cb", tcl=i).createcommand(f),
    "TempTclCommand": lambda i, f: TempTclCommand(f, "::cb", tcl=i),
}


@pytest.mark.parametrize("register", REGISTRATIONS.values(), ids=REGISTRATIONS.keys())
def test_callbacks_that_refer_to_their_interpreter_are_collected(register):
    def make():
        interp = Interpreter()
        keep = register(interp, lambda *a: interp.eval("set ::x 1"))
        assert interp.eval("cb") == "1"
        return weakref.ref(interp), interp.tk, keep

    ref, tk, keep = make()
    del keep
    gc.collect()
    assert ref() is None
    assert sys.getrefcount(tk) == 2  # `tk` and the argument: no Tcl command holds it


@pytest.mark.parametrize("register", REGISTRATIONS.values(), ids=REGISTRATIONS.keys())
def test_a_deleted_command_releases_its_callable(interp, register):
    def callback(*args):
        return "called"

    held = sys.getrefcount(callback)
    keep = register(interp, callback)
    assert interp.eval("cb") == "called"
    interp.tk.call("rename", "::cb", "")
    interp.__callbacks__.clear()
    del keep
    gc.collect()
    assert sys.getrefcount(callback) == held and interp.__commands__ == {}
