import collections
import copy
import gc
import logging
import pickle
import re
import weakref
from datetime import datetime

import pytest

import oskra.tcl.history as history
from oskra.tcl.history import Entry, History
from oskra.utils.utils import get_time


def apis(entries):
    return [e.api for e in entries]


def filled(n, max_history=9999):
    h = History(max_history)
    for i in range(n):
        h.append("cmd %d" % i)
    return h


def test_module_names_in_order():
    names = [n for n in vars(history) if not n.startswith("__")]
    assert names == ["re", "logging", "deque", "get_time", "log", "Entry", "History"]
    assert history.log is logging.getLogger("oskra.tcl")
    assert history.deque is collections.deque
    assert history.get_time is get_time


def test_new_history_state():
    h = History()
    assert History.__MAX_HISTORY__ == 9999
    assert type(h.__history__) is collections.deque
    assert h.__history__.maxlen == 9999
    assert h.__markers__ == {} and h.__activeMarkers__ == [] and h.enabled is True
    assert str(h) == repr(h) == "deque([], maxlen=9999)"


@pytest.mark.parametrize(
    "api, text",
    [
        (["set", "a b"], "set {a b}"),
        ("set a b", "set a b"),
        (("puts",), "puts"),
        ([], ""),
        (["a", " ", "", "b c d"], "a { }  {b c d}"),
        (iter(["x", "y z"]), "x {y z}"),
        (["{a b}", "\\n", "é", "\U0001f600 x", "\x00"], "{{a b}} \\n é {\U0001f600 x} \x00"),
        (["tab\there"], "tab\there"),  # only the space character triggers braces
        (["w"] * 70 + ["x y"], " ".join(["w"] * 70) + " {x y}"),  # beyond the first 64 words
    ],
)
def test_entry_api(api, text):
    assert Entry(api).api == text


def test_entry_string_subclass_kept_as_is():
    class S(str):
        pass

    s = S("a b")
    assert Entry(s).api is s


@pytest.mark.parametrize(
    "api, message",
    [
        (None, "'NoneType' object is not iterable"),
        (5, "'int' object is not iterable"),
        ([1], "argument of type 'int' is not iterable"),
        ([["a"]], "sequence item 0: expected str instance, list found"),
        ([b"a b"], "a bytes-like object is required, not 'str'"),
    ],
)
def test_entry_rejects_non_string_words(api, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        Entry(api)


def test_entry_nothing_recorded_on_bad_item():
    h = History()
    with pytest.raises(TypeError):
        h.append([1, 2])
    assert len(h.__history__) == 0


def test_entry_timestamp_is_get_time_at_creation():
    before = get_time()
    e = Entry("x")
    after = get_time()
    ts = e.timestamp
    assert type(ts) is datetime and ts.tzinfo is None
    assert before <= ts <= after
    assert e.timestamp is ts  # built once


def test_entry_text_and_repr():
    e = Entry(["set", "a b"])
    text = str(e)
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}: set \{a b\}", text)
    assert text == e.timestamp.strftime("%Y-%m-%dT%H:%M:%S.%f") + ": set {a b}"
    assert repr(e) == "<Entry '" + text + "' at " + hex(id(e)) + ">"


def test_entry_replaced_get_time_is_honoured(monkeypatch):
    fixed = datetime(2024, 5, 1, 13, 45, 10, 123)
    monkeypatch.setattr(history, "get_time", lambda: fixed)
    e = Entry("x")
    assert e.timestamp is fixed
    assert str(e) == "2024-05-01T13:45:10.000123: x"


def test_entry_attributes_writable():
    e = Entry("x")
    e.api = "y"
    e.timestamp = datetime(2001, 2, 3, 4, 5, 6, 7)
    e.note = 1
    assert str(e) == "2001-02-03T04:05:06.000007: y" and e.note == 1
    assert weakref.ref(e)() is e


@pytest.mark.parametrize("max_history, kept", [(2, ["b", "c"]), (1, ["c"]), (0, []), (None, ["a", "b", "c"])])
def test_bounded_history_and_marker(max_history, kept):
    h = History(max_history=max_history)
    h.start_marker("m")
    for x in "abc":
        h.append(x)
    assert apis(h.__history__) == kept
    assert apis(h.__markers__["m"]) == kept
    assert h.__markers__["m"].maxlen == max_history


@pytest.mark.parametrize("bad, exc", [(-1, ValueError), ("x", TypeError)])
def test_bad_max_history(bad, exc):
    with pytest.raises(exc):
        History(bad)


def test_disabled_logs_but_stores_nothing(caplog):
    h = History()
    with caplog.at_level(logging.DEBUG, logger="oskra.tcl"):
        h.disable()
        h.append("x")
        h.append(["set", "a b"])
        h.enable()
        h.append("y")
    assert [(r.name, r.levelno, r.getMessage()) for r in caplog.records] == [
        ("oskra.tcl", logging.DEBUG, "TclHistory is disabled."),
        ("oskra.tcl", logging.DEBUG, "% x"),
        ("oskra.tcl", logging.DEBUG, "% ['set', 'a b']"),
        ("oskra.tcl", logging.DEBUG, "TclHistory is enabled."),
        ("oskra.tcl", logging.DEBUG, "% y"),
    ]
    assert apis(h.__history__) == ["y"]


def test_constructor_logs_enabled(caplog):
    with caplog.at_level(logging.DEBUG, logger="oskra.tcl"):
        History()
    assert caplog.messages == ["TclHistory is enabled."]


def test_logging_follows_level_changes(caplog):
    # The DEBUG check must track level changes made after earlier appends.
    h = History()
    logger = logging.getLogger("oskra.tcl")
    with caplog.at_level(logging.DEBUG, logger="oskra.tcl"):
        logger.setLevel(logging.INFO)
        h.append("quiet")
        logger.setLevel(logging.DEBUG)
        h.append("loud")
        logger.disabled = True
        h.append("off")
        logger.disabled = False
    assert caplog.messages == ["% loud"]


def test_logger_replaced_in_module(monkeypatch):
    calls = []

    class Fake:
        def isEnabledFor(self, level):
            return level == logging.DEBUG

        def debug(self, *args):
            calls.append(args)

    monkeypatch.setattr(history, "log", Fake())
    History().append("x")
    assert calls == [("TclHistory is enabled.",), ("%% %s", "x")]


def test_double_marker_shares_entry():
    h = History()
    h.start_marker("m")
    h.start_marker("m")
    h.append("x")
    m = h.__markers__["m"]
    assert len(m) == 2 and m[0] is m[1] is h.__history__[0]
    h.end_marker("m")
    assert h.__activeMarkers__ == ["m"]
    h.append("y")
    assert apis(m) == ["x", "x", "y"]


def test_marker_lifecycle():
    h = History()
    h.append("before")
    h.start_marker("a")
    h.append("one")
    h.start_marker("b")
    h.append("two")
    h.end_marker("a")
    h.append("three")
    h.disable()
    h.append("hidden")
    h.enable()
    h.append("four")
    assert apis(h.__markers__["a"]) == ["one", "two"]
    assert apis(h.__markers__["b"]) == ["two", "three", "four"]
    h.end_marker("b")
    h.start_marker("a")  # restarting keeps what was recorded
    h.append("five")
    assert apis(h.__markers__["a"]) == ["one", "two", "five"]
    with pytest.raises(ValueError):
        h.end_marker("b")


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({}, ["cmd %d" % i for i in range(5, 25)]),
        ({"count": 0}, ["cmd %d" % i for i in range(25)]),
        ({"count": 100}, ["cmd %d" % i for i in range(25)]),
        ({"count": 3}, ["cmd 22", "cmd 23", "cmd 24"]),
        ({"count": -22}, ["cmd 22", "cmd 23", "cmd 24"]),
        ({"count": 5, "regex": "2$"}, ["cmd 22"]),
        ({"count": 0, "regex": "^cmd 1"}, ["cmd 1"] + ["cmd %d" % i for i in range(10, 20)]),
        ({"regex": ""}, ["cmd %d" % i for i in range(5, 25)]),  # a false pattern filters nothing
        ({"regex": re.compile("4")}, ["cmd 14", "cmd 24"]),
    ],
)
def test_filter(kwargs, expected):
    h = filled(25)
    result = h.filter(**kwargs)
    assert type(result) is list
    assert apis(result) == expected


def test_filter_regex_after_slice():
    h = History()
    for code in ["set a 1", "puts a", "set b 2", "puts b", "set c 3"]:
        h.append(code)
    assert apis(h.filter(count=2, regex="^set")) == ["set c 3"]
    assert apis(h.filter(count=5, regex="^set")) == ["set a 1", "set b 2", "set c 3"]


def test_filter_marker():
    h = filled(3)
    h.start_marker("m")
    h.append("set x 1")
    h.append("puts x")
    assert apis(h.filter(marker="m", regex="set")) == ["set x 1"]
    assert apis(h.filter("m", 1)) == ["puts x"]


def test_filter_unknown_marker():
    h = History()
    with pytest.raises(Exception, match="^No such marker: none$") as info:
        h.filter(marker="none")
    assert type(info.value) is Exception
    assert isinstance(info.value.__context__, KeyError)


@pytest.mark.parametrize(
    "kwargs, exc",
    [
        ({"regex": "("}, re.error),
        ({"count": 1.5}, TypeError),
        ({"count": None}, TypeError),
        ({"marker": []}, TypeError),
    ],
)
def test_filter_errors(kwargs, exc):
    with pytest.raises(exc):
        filled(3).filter(**kwargs)


def test_clear_variants():
    h = History()
    h.start_marker("m")
    h.start_marker("n")
    h.end_marker("n")
    h.append("x")
    h.clear(marker="m")
    assert apis(h.__history__) == ["x"] and len(h.__markers__["m"]) == 0
    h.append("y")
    h.clear()
    assert len(h.__history__) == 0 and apis(h.__markers__["m"]) == ["y"]
    h.append("z")
    h.clear(marker="ignored", clear_all=True)
    assert len(h.__history__) == 0
    assert {k: len(v) for k, v in h.__markers__.items()} == {"m": 0, "n": 0}
    assert h.__activeMarkers__ == ["m"]
    with pytest.raises(KeyError):
        h.clear(marker="never")


@pytest.mark.parametrize(
    "call",
    [
        lambda h: h.append(),
        lambda h: h.append(1, 2),
        lambda h: h.append(item="x", other=1),
        lambda h: h.filter(None, 1, None, 4),
        lambda h: h.clear(None, marker=None),
        lambda h: h.start_marker(),
        lambda h: h.enable(1),
    ],
)
def test_wrong_arguments(call):
    with pytest.raises(TypeError):
        call(History())


def test_keyword_arguments():
    h = History(max_history=3)
    h.append(item="x")
    h.start_marker(marker="m")
    h.append(item="y")
    assert apis(h.filter(regex="y", count=2, marker="m")) == ["y"]
    h.end_marker(marker="m")
    h.clear(clear_all=True)
    assert len(h.__history__) == 0


@pytest.mark.parametrize(
    "item, text",
    [
        ("\ud800 lone", "\ud800 lone"),
        (["\U0010ffff", "a\x00 b"], "\U0010ffff {a\x00 b}"),
        ("x" * 1_000_000, "x" * 1_000_000),
    ],
)
def test_hostile_items_stored(item, text):
    h = History()
    h.append(item)
    assert h.__history__[0].api == text


def test_self_referencing_item_is_an_error():
    loop = []
    loop.append(loop)
    h = History()
    with pytest.raises(TypeError):
        h.append(loop)


def test_tampered_state_gives_python_errors():
    h = History()
    h.start_marker("m")
    del h.__markers__["m"]
    with pytest.raises(KeyError):
        h.append("x")
    del h.enabled
    with pytest.raises(AttributeError, match="enabled"):
        h.append("x")
    h.enabled = 1
    h.__activeMarkers__ = ()
    h.__history__ = []  # any object with append() works
    h.append("y")
    assert apis(h.__history__)[-1] == "y"


def test_subclass_override_and_cycle_collected():
    seen = []

    class Mine(History):
        def enable(self):
            seen.append("enable")
            super().enable()

    h = Mine(5)
    h.me = h
    assert seen == ["enable"] and h.__history__.maxlen == 5
    ref = weakref.ref(h)
    del h
    gc.collect()
    assert ref() is None


@pytest.mark.parametrize("clone", [copy.deepcopy, lambda h: pickle.loads(pickle.dumps(h))])
def test_history_copies_keep_entries_and_sharing(clone):
    h = History(3)
    h.start_marker("m")
    h.append(["set", "a b"])
    h.disable()
    c = clone(h)
    assert (str(c.__history__[0]), c.enabled, c.__activeMarkers__) == (str(h.__history__[0]), False, ["m"])
    assert c.__history__[0] is c.__markers__["m"][0] and c.__history__.maxlen == 3
