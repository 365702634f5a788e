"""The pytest plugin: the tcl_interp fixture and the "Tcl history" section
of a failing test's report."""

import re

import pytest

TESTS = """
    import pytest
    from oskra.tcl.interpreter import Interpreter

    def test_fails(tcl_interp):
        for i in range(30):
            tcl_interp.eval("set x %d" % i)
        tcl_interp.eval("error {device gone}")

    def test_passes(tcl_interp):
        assert tcl_interp.eval("set y 1") == "1"

    def test_fails_on_an_interpreter_of_its_own():
        interp = Interpreter()
        interp.quick.set("z", "a b")
        assert interp.eval("set z") == "other"
"""


@pytest.fixture
def run(pytester):
    pytester.makepyfile(TESTS)
    return lambda *args: pytester.runpytest("-p", "no:cacheprovider", *args)


def sections(result):
    text = result.stdout.str()
    return len(re.findall(r"^-+ Tcl history -+$", text, re.M)), text


def test_failing_tests_show_their_tcl_calls(run):
    result = run("--tcl-history=3")
    result.assert_outcomes(passed=1, failed=2)
    count, text = sections(result)
    assert count == 2
    result.stdout.fnmatch_lines(
        [
            "*- Tcl history -*",
            "Interpreter at 0x*: last 3 of 31 calls during the test",
            "*: set x 28",
            "*: set x 29",
            "*: error {device gone}",
            "    ^^^ failed: device gone",
            "*- Tcl history -*",
            "Interpreter at 0x*: last 2 of 2 calls during the test",
            "*: set z {a b}",
            "*: set z",
        ]
    )
    assert "set y 1" not in text  # a passing test shows nothing


def test_history_section_default_and_off(run):
    count, text = sections(run())
    assert count == 2 and "last 20 of 31 calls" in text
    assert sections(run("--tcl-history=0"))[0] == 0


def test_tcl_interp_is_fresh(tcl_interp):
    assert len(tcl_interp.history) == 0
    assert tcl_interp.eval("info exists ::x") == "0"
    assert [entry.api for entry in tcl_interp.history] == ["info exists ::x"]
