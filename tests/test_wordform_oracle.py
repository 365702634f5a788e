"""Tcl itself as the oracle: quoted lists and words read back unchanged."""

import importlib
import tkinter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

wf = importlib.import_module("oskra.tcl.wordform")
wordform = wf.wordform

# Characters that matter to Tcl's list and script syntax, mixed with
# arbitrary text. tkinter cannot pass lone surrogates, and its splitlist
# refuses NUL; both are left to the example tests below.
SPECIAL = list("{}[]$;\\\"# \t\n\r\f\v") + ["\\{", "\\}", "\\\n", "\\x7b", "\\u007d", "\\0", "\\U0001F600"]
chars = st.characters(exclude_categories=("Cs",), exclude_characters="\0")
text = st.lists(st.one_of(st.sampled_from(SPECIAL), chars), max_size=12).map("".join)
nested = st.recursive(text, lambda inner: st.lists(inner, max_size=5), max_leaves=25)


@pytest.fixture(scope="module")
def tcl():
    interp = tkinter.Tcl()
    # Any substitution in the tests below would show up as an error.
    interp.eval("proc exit args {error substituted}; set x SUBSTITUTED")
    interp.eval("proc record args {set ::got $args; return}")
    return interp


def check_split(tcl, value, text):
    if isinstance(value, str):
        assert text == value
        return
    parts = tcl.splitlist(text)
    assert len(parts) == len(value)
    for v, p in zip(value, parts):
        check_split(tcl, v, p)


@settings(max_examples=400, deadline=None)
@given(st.lists(text, max_size=8))
def test_split_gives_back_elements(tcl, elements):
    s = wordform(elements)
    assert tcl.splitlist(s) == tuple(elements)
    assert int(tcl.call("llength", s)) == len(elements)


@settings(max_examples=150, deadline=None)
@given(st.lists(nested, max_size=6))
def test_nested_lists_split_back(tcl, value):
    s = wordform(value)
    check_split(tcl, value, s)
    for i, v in enumerate(value):
        if isinstance(v, list) and v and isinstance(v[0], str):
            assert tcl.call("lindex", s, i, 0) == v[0]


@settings(max_examples=400, deadline=None)
@given(st.lists(text, max_size=8))
def test_words_reach_a_command_literally(tcl, words):
    tcl.eval(wordform(("record",) + tuple(words)))
    assert tcl.splitlist(tcl.eval("set ::got")) == tuple(words)


@pytest.mark.parametrize(
    "element",
    [
        "a\0b",
        "{\0",
        "\0}",
        "a\\{b}",
        "{a\\}",
        "[exit]",
        "$x",
        "a\\\nb",
        "\\",
        "}{",
        '"',
        "\U0001f600{",
        "\\U0001F600}",
    ],
)
def test_examples_through_tcl_objects(tcl, element):
    s = wordform([element, "z"])
    assert tcl.call("lindex", s, 0) == element
    tcl.call("eval", wordform(("record", element)))  # a Tcl object: NUL passes
    assert tcl.call("lindex", tcl.getvar("::got"), 0) == element


@settings(max_examples=80, deadline=None)
@given(st.dictionaries(text, nested, max_size=5))
def test_mappings_are_key_value_lists(tcl, mapping):
    pairs = [x for kv in mapping.items() for x in kv]
    check_split(tcl, pairs, wordform(mapping))
