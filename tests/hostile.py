"""Hostile input for the package's entry points: a catalogue of values that
misbehave (raise from every protocol method, return themselves, change while
iterated, nest deeper than the recursion limit, ...) and a runner for code in
a child interpreter, so that a crash fails one test instead of the whole run.
Used by test_hostile_sweeps.py, test_hostile_results.py and test_tcl_guard.py.
"""

import importlib
import os
import subprocess
import sys
import textwrap
from collections.abc import Mapping, Sequence

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
BIG = 10_000_000  # characters in the "huge" strings


# --------------------------------------------------------------------------
# Running code in a child interpreter


def run_isolated(code, timeout=300):
    """Run `code` in a fresh interpreter; return the finished process."""
    return subprocess.run(
        [sys.executable, "-X", "faulthandler", "-c", textwrap.dedent(code)],
        cwd=TESTS_DIR,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


def assert_survived(proc):
    tail = "\n".join(proc.stderr.splitlines()[-15:])
    assert proc.returncode == 0 and "Fatal Python error" not in proc.stderr, (
        f"child died with return code {proc.returncode}:\n{tail}"
    )


# --------------------------------------------------------------------------
# The hostile value catalogue


class Boom(Exception):
    """Raised by the protocol methods of the hostile objects."""


class RaisesEverywhere:
    def __wordform__(self):
        raise Boom("__wordform__")

    def __tclobj__(self):
        raise Boom("__tclobj__")

    def __str__(self):
        raise Boom("__str__")

    def __repr__(self):
        return "RaisesEverywhere()"


class ReturnsItself:
    def __wordform__(self):
        return self

    def __tclobj__(self):
        return self

    def __str__(self):
        return "itself"


class TclobjReturnsItself:
    def __tclobj__(self):
        return self


class StrRaises:
    def __str__(self):
        raise Boom("__str__")

    def __repr__(self):
        return "StrRaises()"


class StrReturnsNonStr:
    def __str__(self):
        return 5


class FalsyProtocol:
    __wordform__ = None
    __tclobj__ = 0

    def __str__(self):
        return "falsy"


class GetattrRaises:
    def __getattr__(self, name):
        raise Boom(name)


class IterRaises(Sequence):
    def __len__(self):
        return 3

    def __getitem__(self, index):
        raise Boom("__getitem__")

    def __iter__(self):
        raise Boom("__iter__")


class KeysRaise(dict):
    def keys(self):
        raise Boom("keys")

    def __iter__(self):
        raise Boom("__iter__")

    def __getitem__(self, key):
        raise Boom("__getitem__")


class ChangesWhileIterated(Mapping):
    """A mapping that grows while iterated and empties itself when indexed."""

    def __init__(self):
        self.data = {str(i): i for i in range(5)}

    def __iter__(self):
        for key in list(self.data):
            self.data[key + "x"] = 1
            yield key

    def __len__(self):
        return len(self.data)

    def __getitem__(self, key):
        self.data.clear()
        return 1


class GrowsWhileIterated(Sequence):
    def __init__(self):
        self.items = [1, 2, 3]

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        if index >= 50:
            raise IndexError(index)
        self.items.append(index)
        return self.items[index]


class StrSubclass(str):
    def __str__(self):
        raise Boom("str subclass")


def self_list():
    value = []
    value.append(value)
    return value


def self_dict():
    value = {}
    value["a"] = value
    return value


def deep_list(depth=100_000):
    value = []
    for _ in range(depth):
        value = [value]
    return value


def deep_tuple(depth=100_000):
    value = ()
    for _ in range(depth):
        value = (value,)
    return value


def hostile_values(big=True):
    """(label, value) pairs: wrong types, odd text, odd objects, odd containers."""
    values = [
        ("None", None),
        ("zero", 0),
        ("negative", -1),
        ("huge int", 2**70),
        ("huge negative", -(2**70)),
        ("float", 1.5),
        ("nan", float("nan")),
        ("inf", float("inf")),
        ("True", True),
        ("bytes with NUL", b"a\0b"),
        ("bytearray", bytearray(b"xy")),
        ("complex", 3 + 4j),
        ("Ellipsis", Ellipsis),
        ("a type", type),
        ("a function", lambda *a, **k: None),
        ("object", object()),
        ("empty", ""),
        ("NUL", "\0"),
        ("embedded NUL", "a\0b"),
        ("non-BMP", "\U0001f600 x"),
        ("brace", "{"),
        ("close brace", "}"),
        ("backslash", "\\"),
        ("quote", '"'),
        ("script", "[exit]"),
        ("variable", "$x"),
        ("unbalanced list", "a b {c"),
        ("single colon", "a:b"),
        ("colons", ":::"),
        ("str subclass", StrSubclass("x")),
        ("raises everywhere", RaisesEverywhere()),
        ("returns itself", ReturnsItself()),
        ("tclobj returns itself", TclobjReturnsItself()),
        ("str raises", StrRaises()),
        ("str returns non-str", StrReturnsNonStr()),
        ("falsy protocol", FalsyProtocol()),
        ("getattr raises", GetattrRaises()),
        ("iter raises", IterRaises()),
        ("keys raise", KeysRaise(a=1)),
        ("changes while iterated", ChangesWhileIterated()),
        ("grows while iterated", GrowsWhileIterated()),
        ("self list", self_list()),
        ("self dict", self_dict()),
        ("deep list", deep_list()),
        ("deep tuple", deep_tuple()),
        ("nested", [1, [2, [3, "a b"]]]),
        ("int keys", {1: 2}),
        ("nested dict", {"a": {"b": "c"}}),
        ("set", {1}),
        ("frozenset", frozenset()),
        ("range", range(3)),
    ]
    if big:
        values += [("huge list text", "x y{" * (BIG // 4)), ("huge word", "a" * BIG)]
    return values


# Values that reach the Tcl layer nested inside a list and that it cannot
# convert. Kept apart from the sweeps while the guard against them is missing
# (see test_nested_unconvertible_values_do_not_crash).
def unconvertible_nested_values():
    class NestedStrRaises:
        def __tclobj__(self):
            return (1, StrRaises())

    class NestedDeep:
        def __tclobj__(self):
            return deep_tuple()

    return [
        ("surrogate in list", ["\ud800"]),
        ("surrogate in tuple", ("a", ("\udfff",))),
        ("surrogate in dict", {"k": "\ud800"}),
        ("str raises in list", [StrRaises()]),
        ("tclobj nests str raises", NestedStrRaises()),
        ("tclobj nests deep tuple", NestedDeep()),
    ]


LONE_SURROGATES = [("lone surrogate", "\ud800"), ("surrogate inside", "x\udfffy")]


def guard(value):
    return importlib.import_module("oskra.tcl.internal")._tcl_safe_value(value)
