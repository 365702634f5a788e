"""pytest support, loaded through the ``pytest11`` entry point.

* The fixture ``tcl_interp``: a fresh ``Interpreter``, closed after the test.
* For every failing test, a report section "Tcl history" with the last calls
  (``--tcl-history=N``, default 20, 0 turns it off) that each interpreter the
  test used recorded during the test, the failed call marked with its error.

Nothing here starts an interpreter unless a test asks for one: the
interpreters are found through the interpreter module only once some code
has imported it.
"""

from __future__ import annotations

import sys
import weakref
from collections.abc import Generator, Iterator, Mapping
from typing import Any

import pytest

DEFAULT_COUNT = 20
SECTION = "Tcl history"
_marks = pytest.StashKey[Mapping[Any, Any]]()


def pytest_addoption(parser: pytest.Parser) -> None:
    """Add ``--tcl-history=N``."""
    group = parser.getgroup("oskra.tcl")
    group.addoption(
        "--tcl-history",
        type=int,
        default=DEFAULT_COUNT,
        metavar="N",
        help="for a failing test, show the last N Tcl calls of each interpreter it used "
        "(default %d; 0 shows none)" % DEFAULT_COUNT,
    )


@pytest.fixture
def tcl_interp() -> Iterator[Any]:
    """A fresh Interpreter, closed after the test."""
    from oskra.tcl.interpreter import Interpreter

    interp = Interpreter()
    yield interp
    close = getattr(interp, "close", None)
    if close is not None:
        close()


def _live_interpreters() -> list[Any]:
    module = sys.modules.get("oskra.tcl.interpreter")
    return list(getattr(module, "_interpreters", ()))


def _last_entry(interp: Any) -> Any:
    entries = getattr(interp.history, "__history__", None)
    return entries[-1] if entries else None


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_setup(item: pytest.Item) -> None:
    """Remember where the record of every live interpreter stands."""
    if item.config.getoption("tcl_history") <= 0:
        return
    marks: weakref.WeakKeyDictionary[Any, Any] = weakref.WeakKeyDictionary()
    for interp in _live_interpreters():
        marks[interp] = _last_entry(interp)
    item.stash[_marks] = marks


def _calls_since(interp: Any, mark: Any) -> list[Any]:
    """The entries recorded after `mark` (all of them for a new interpreter,
    or when `mark` has left the bounded record)."""
    entries = list(interp.history)
    for index in range(len(entries) - 1, -1, -1):
        if entries[index] is mark:
            return entries[index + 1 :]
    return entries


def _describe(entry: Any) -> str:
    api = entry.api.replace("\n", "\n    ")
    text: str = "%s: %s" % (entry.timestamp.strftime("%H:%M:%S.%f"), api)
    if entry.error is not None:
        first_line = entry.error.split("\n", 1)[0]
        text += "\n    ^^^ failed: " + first_line
    return text


def history_section(marks: Mapping[Any, Any], count: int) -> str:
    """The text of the report section, or "" when no interpreter recorded a
    call since `marks` (interpreter -> its last entry before the test)."""
    module = sys.modules.get("oskra.tcl.interpreter")
    shared = getattr(module, "_global_interpreter", None)
    blocks = []
    for interp in _live_interpreters():
        try:
            calls = _calls_since(interp, marks.get(interp))
        except Exception:  # a history replaced by something else: nothing to show
            continue
        if not calls:
            continue
        shown = calls[-count:]
        name = "shared interpreter" if interp is shared else "Interpreter at %#x" % id(interp)
        head = "%s: last %d of %d calls during the test" % (name, len(shown), len(calls))
        blocks.append("\n".join([head] + [_describe(entry) for entry in shown]))
    return "\n\n".join(blocks)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: pytest.Item, call: pytest.CallInfo[None]) -> Generator[None, Any, None]:
    """Add the "Tcl history" section to the report of a failing test."""
    outcome: Any = yield
    report: pytest.TestReport = outcome.get_result()
    count: int = item.config.getoption("tcl_history")
    if not report.failed or count <= 0:
        return
    text = history_section(item.stash.get(_marks, {}), count)
    if text:
        report.sections.append((SECTION, text))
