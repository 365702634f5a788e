"""Quick calls: attribute-style calling of Tcl commands."""

import copy
import gc
import pickle
import tkinter
import tracemalloc
import weakref

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import oskra.tcl.quick as module
from oskra.tcl.history import History
from oskra.tcl.nestmap import NestMap
from oskra.tcl.quick import Quick, Quick_Code
from oskra.tcl.wordform import wordform

TclError = tkinter.TclError


@pytest.fixture
def echo(interp):
    """interp with ::echo (keeps its words in ::got, returns their count) and a namespaced proc."""
    interp.tk.eval("proc ::echo args {set ::got $args; llength $args}")
    interp.tk.eval('namespace eval ns_a::ns_b {proc procname {x} {return "got $x"}}')
    return interp


def got(interp):
    return [str(w) for w in interp.tk.splitlist(interp.tk.call("set", "::got"))]


def test_module_names_and_method_order():
    names = [n for n in vars(module) if not n.startswith("__")]
    assert names == ["weakref", "TclError", "wordform", "Quick", "Quick_Code"]
    assert module.TclError is TclError and module.wordform is wordform
    assert [n for n in vars(Quick) if n in ("__init__", "__getattr__", "__call__")] == [
        "__init__",
        "__getattr__",
        "__call__",
    ]
    assert [
        n for n in vars(Quick_Code) if n in ("__init__", "__call__", "__getattr__", "__repr__", "__str__")
    ] == ["__init__", "__call__", "__getattr__", "__repr__", "__str__"]


def test_root_holds_interpreter_weakly(interp):
    q = interp.quick
    assert interp.Quick is q
    assert type(q.tcl) in weakref.ProxyTypes
    assert q.tcl.tk is interp.tk
    assert Quick(tcl=q.tcl).tcl is q.tcl  # a proxy is kept as it is


@pytest.mark.parametrize("args", [(), (1,), ("a", "b"), ("x",)])
def test_calling_root_is_invalid_command(interp, args):
    with pytest.raises(TclError) as info:
        interp.quick(*args, opt=1)
    assert info.value.args == ('invalid command name ""',)
    assert len(str(info.value)) == 23


@pytest.mark.parametrize(
    "value, cast, expected",
    [
        ("value", True, "value"),
        ("12", True, 12),
        ("1.5", True, 1.5),
        (7, False, "7"),
        ("1", 0, "1"),
        ("a b", True, "a b"),
    ],
)
def test_set_and_cast(interp, value, cast, expected):
    result = interp.quick.set("myVar", value, cast_=cast)
    assert result == expected and type(result) is type(expected)
    assert interp.tk.getvar("myVar") == str(value)


def test_words_positional_then_keywords(echo):
    assert echo.quick.echo("a b", 1, [1, 2], arg_a=5, z=None) == 7
    assert got(echo) == ["a b", "1", "1 2", "-arg_a", "5", "-z", ""]
    entry = echo.history.filter(count=1)[0]
    assert entry.api == "echo {a b} 1 {1 2} -arg_a 5 -z "  # the empty word joins as nothing


def test_nestmap_argument_is_keyed_list(echo):
    nm = NestMap({"a": 1, "b": {"c": "x y"}})
    echo.quick.echo(nm)
    (word,) = got(echo)
    assert word == wordform(nm)
    assert echo.tk.eval("set kl [lindex $::got 0]; keylget kl b.c") == "x y"


def test_namespaced_name(echo):
    code = echo.quick.ns_a.ns_b.procname
    assert code.cmd == ["ns_a", "ns_b", "procname"]
    assert str(code) == repr(code) == "<tcl.Quick magic, referring Tcl code ::ns_a::ns_b::procname>"
    assert code("y", cast_=False) == "got y"
    assert echo.history.filter(count=1)[0].api == "ns_a::ns_b::procname y"


def test_segments_accumulate_on_same_object(interp):
    x = interp.quick.a
    assert x.b is x
    x.c
    assert x.cmd == ["a", "b", "c"]
    assert interp.quick.a is not interp.quick.a


def test_own_attributes_are_not_segments(interp):
    code = interp.quick.ns
    assert code.cmd == ["ns"]
    assert code.tcl is interp.quick.tcl
    assert code.__class__ is Quick_Code and interp.quick.__class__ is Quick
    assert getattr(interp.quick, "a b").cmd == ["a b"]  # no character check


def test_history_gets_word_list_before_call():
    seen = []

    class Recorder:
        def append(self, item):
            seen.append((item, list(item)))

    class FakeTk:
        def call(self, *words):
            seen.append(words)
            return "ok"

    class Fake:
        history = Recorder()
        tk = FakeTk()

        def cast_any(self, value):
            return ("cast", value)

    fake = Fake()
    assert Quick_Code("p", "q", tcl=fake)("a b", k=1) == ("cast", "ok")
    (item, words), call = seen
    assert type(item) is list and words == ["p::q", "a b", "-k", "1"]
    assert call == ("p::q", "a b", "-k", "1")


def test_failed_call_recorded_and_translated(interp):
    with pytest.raises(TclError) as info:
        interp.quick.error("boom")
    exc = info.value
    assert str(exc).startswith('boom\n    while executing\n"error boom"')
    assert str(exc) == interp.tk.getvar("::errorInfo")
    assert exc.__cause__ is None and exc.__suppress_context__ is True
    assert isinstance(exc.__context__, TclError)
    assert interp.history.filter(count=1)[0].api == "error boom"


def test_unknown_command(interp):
    with pytest.raises(TclError, match='invalid command name "no_such_cmd"'):
        interp.quick.no_such_cmd(1)


class _FailingTk:
    def call(self, *words):
        raise TclError("failed")


@pytest.mark.parametrize(
    "vars_, exc, text",
    [({"::errorInfo": "the trace"}, TclError, "the trace"), ({}, KeyError, "::errorInfo")],
)
def test_errorinfo_read_through_vars(vars_, exc, text):
    class Fake:
        history = History()
        tk = _FailingTk()
        vars = vars_

    with pytest.raises(exc, match=text) as info:
        Quick_Code("x", tcl=Fake())()
    assert isinstance(info.value.__context__, TclError)


def test_conversion_failure_sends_and_records_nothing(interp):
    loop = []
    loop.append(loop)
    before = len(interp.history.__history__)
    with pytest.raises(RecursionError):
        interp.quick.set("v", loop)
    with pytest.raises(ZeroDivisionError):
        interp.quick.set("v", 1, opt=type("Bad", (), {"__wordform__": lambda self: 1 / 0})())
    assert len(interp.history.__history__) == before
    assert "v" not in interp.tk.call("info", "vars", "v")


@pytest.mark.parametrize(
    "text",
    ["a\x00b c", "\U0001f600 {x", "é\\n", "x" * 1_000_000, "{", '"quoted"', "$a [b]"],
)
def test_hostile_values_round_trip(interp, text):
    assert interp.quick.set("v", text, cast_=False) == text
    assert interp.tk.getvar("v") == text


def test_lone_surrogate_like_tkinter(interp):
    text = "a\ud800b"
    with pytest.raises(UnicodeEncodeError):
        interp.tk.call("set", "w", text)
    with pytest.raises(UnicodeEncodeError):
        interp.quick.set("v", text)
    assert interp.history.filter(count=1)[0].api == "set v a\ud800b"  # recorded before the call


def test_list_result_without_cast_is_its_tcl_text(interp):
    # tkinter hands a list-typed result back as a tuple; uncast, the result is Tcl's text of it.
    assert isinstance(interp.tk.call("list", "a b", "c"), tuple)
    assert interp.quick.list("a b", "c", cast_=False) == "{a b} c"


def test_dead_interpreter_gives_reference_error():
    class Target:
        pass

    target = Target()
    code = Quick_Code("set", tcl=weakref.proxy(target))
    del target
    gc.collect()
    with pytest.raises(ReferenceError):
        code("a", "1")


@pytest.mark.parametrize(
    "make, exc",
    [
        (lambda: Quick_Code("a"), TypeError),
        (lambda: Quick_Code("a", tcl=None, other=1), TypeError),
        (lambda: Quick(), TypeError),
        (lambda: Quick(tcl=1), TypeError),  # an int cannot be weakly referenced
        (lambda: Quick_Code("set", tcl=object())("a"), AttributeError),
        (lambda: Quick_Code(1, tcl=None)(), TypeError),  # segments must be strings
    ],
)
def test_bad_construction_and_use(make, exc):
    with pytest.raises(exc):
        make()


def test_code_constructor_keeps_tcl_unchanged(interp):
    code = Quick_Code("a", "b", tcl=interp)
    assert code.tcl is interp and code.cmd == ["a", "b"]
    assert code.c.cmd == ["a", "b", "c"]
    assert Quick_Code(tcl=interp).cmd == []


def test_subclass_and_getattr_methods(interp):
    class Mine(Quick_Code):
        pass

    m = Mine("set", tcl=interp)
    assert m.x is m and m.cmd == ["set", "x"]
    assert Quick.__getattr__(interp.quick, "tcl").cmd == ["tcl"]  # explicit call: always a segment
    code = interp.quick.a
    assert Quick_Code.__getattr__(code, "cmd") is code and code.cmd == ["a", "cmd"]


words = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=12)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(
    args=st.lists(words, max_size=5),
    kwargs=st.dictionaries(st.from_regex(r"[a-z_]\w{0,6}", fullmatch=True), words, max_size=3),
)
def test_words_reach_tcl_intact(echo, args, kwargs):
    kwargs.pop("cast_", None)
    assert echo.quick.echo(*args, **kwargs, cast_=False) == str(len(args) + 2 * len(kwargs))
    expected = list(args)
    for key, value in kwargs.items():
        expected += ["-" + key, value]
    assert got(echo) == expected


def test_repeated_calls_do_not_leak(interp):
    interp.history = History(10)
    interp.history.start_marker("m")
    interp.tk.eval("namespace eval ::ns {proc put {name value} {set ::$name $value}}")

    def work():
        for _ in range(1500):
            interp.quick.set("v", "12")
            interp.quick.ns.put("v", ["x y"], cast_=False)
            with pytest.raises(TclError):
                interp.quick.set("v", "x", opt=1)
            interp.history.filter(marker="m", count=3, regex="set")
            str(interp.history.__history__[-1])

    work()
    gc.collect()
    tracemalloc.start()
    try:
        work()
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        work()
        gc.collect()
        growth = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert growth < 50_000


# Names that tools probe for are not name segments: copy, pickle and
# IPython's display hooks ask for them on any object.
PROBES = [
    "__deepcopy__",
    "__copy__",
    "__setstate__",
    "__reduce_ex__x__",
    "__len__",
    "__iter__",
    "__html__",
    "_ipython_canary_method_should_not_exist_",
    "_ipython_display_",
    "_repr_html_",
    "_repr_mimebundle_",
]


@pytest.mark.parametrize("name", PROBES)
@pytest.mark.parametrize("start", [(), ("ns_a", "ns_b")], ids=["root", "code"])
def test_probe_names_raise_attribute_error_and_change_nothing(echo, start, name):
    obj = echo.quick
    for segment in start:
        obj = getattr(obj, segment)
    before = list(obj.cmd) if start else None
    with pytest.raises(AttributeError, match=name):
        getattr(obj, name)
    with pytest.raises(AttributeError):
        obj.__getattr__(name)
    assert not hasattr(obj, name)
    if start:
        assert obj.cmd == before
        assert obj.procname("x") == "got x"  # the next call names the right command


@pytest.mark.parametrize("name", ["_", "__", "___", "____", "_private", "_repr", "__init", "ipython_x"])
def test_other_underscore_names_stay_segments(interp, name):
    assert getattr(interp.quick, name).cmd == [name]
    assert getattr(interp.quick.a, name).cmd == ["a", name]


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy, pickle.dumps])
@pytest.mark.parametrize("make", [lambda i: i.quick, lambda i: i.quick.a.b], ids=["root", "code"])
def test_copying_runs_no_tcl(interp, copier, make):
    obj = make(interp)

    def cmdcount():
        return interp.tk.call("info", "cmdcount")

    first, second = cmdcount(), cmdcount()
    with pytest.raises(TypeError):
        copier(obj)
    assert cmdcount() - second == second - first  # only the count's own command ran
