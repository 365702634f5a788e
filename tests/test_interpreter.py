"""The Interpreter class: construction, attribute fallback, eval, errorInfo."""

import gc
import inspect
import tkinter
import weakref

import pytest

import oskra.tcl.interpreter as module
from oskra.tcl.interpreter import Interpreter

MODULE_NAMES = [
    "logging",
    "Tk",
    "TclError",
    "Tcl_Obj",
    "NestMap",
    "Array",
    "History",
    "tclobj",
    "GetListFromAny",
    "TclDLL",
    "TclNamespace",
    "TclCommand",
    "wordform",
    "Quick",
    "get_entry_points",
    "TCL_INIT_ENTRYPOINT",
    "TCL_ALLOWED_ENTRYPOINT_KEYS",
    "logger",
    "Interpreter",
    "_global_interpreter",
]
CLASS_BODY = [
    "__MAX_HISTORY__",
    "__init__",
    "_load_entrypoint",
    "__getattr__",
    "generate_callback_cmd_name",
    "create_callback",
    "remove_callback",
    "eval",
    "get_errorInfo",
    "get_array",
    "get_list",
    "get_keyed_list",
    "get_int",
    "get_boolean",
    "get_double",
    "get_var",
    "set_array",
    "set_keyed_list",
    "set_var",
    "set_int",
    "set_double",
    "set_boolean",
    "set_list",
    "cast_list",
    "cast_int",
    "cast_double",
    "cast_boolean",
    "cast_array",
    "cast_keyed_list",
    "cast_any",
]


def test_module_names_in_order():
    names = [n for n in vars(module) if n in MODULE_NAMES]
    assert names == MODULE_NAMES
    assert module.TCL_INIT_ENTRYPOINT == "oskra.tcl"
    assert module.TCL_ALLOWED_ENTRYPOINT_KEYS == "tcl_init"
    assert module.logger.name == "oskra.tcl.interpreter"
    assert module.Tk is tkinter.Tk and module.TclError is tkinter.TclError


def test_class_body_order_and_kinds():
    body = [n for n in Interpreter.__dict__ if n in CLASS_BODY]
    assert body == CLASS_BODY
    assert Interpreter.__MAX_HISTORY__ == 9999
    assert issubclass(Interpreter, tkinter.Tk)
    for name in ("generate_callback_cmd_name", "cast_list", "cast_array", "cast_keyed_list"):
        assert isinstance(Interpreter.__dict__[name], staticmethod)
    assert Interpreter.__qualname__ == "Interpreter"
    assert Interpreter.__module__ == "oskra.tcl.interpreter"
    assert list(inspect.signature(Interpreter.eval).parameters) == ["self", "code", "typecast", "record"]
    for name in ("eval", "cast_list", "generate_callback_cmd_name", "cast_any"):
        assert getattr(Interpreter, name).__qualname__ == "Interpreter." + name
    assert list(inspect.signature(Interpreter.cast_list).parameters) == ["value", "item_cast"]


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: Interpreter(1), r"^Interpreter.__init__\(\) takes 1 positional argument but 2 were given$"),
        (
            lambda: Interpreter(useTk=0),
            r"^Interpreter.__init__\(\) got an unexpected keyword argument 'useTk'$",
        ),
        (
            lambda: Interpreter.cast_list(),
            r"^Interpreter.cast_list\(\) missing 1 required positional argument: 'value'$",
        ),
        (
            lambda: module._global_interpreter.set_var(),
            r"^Interpreter.set_var\(\) missing 2 required positional arguments: 'name' and 'value'$",
        ),
        (
            lambda: module._global_interpreter.eval("x", code="y"),
            r"^Interpreter.eval\(\) got multiple values for argument 'code'$",
        ),
        (
            lambda: Interpreter.cast_list("a", None, 1),
            r"^Interpreter.cast_list\(\) takes from 1 to 2 positional arguments but 3 were given$",
        ),
    ],
)
def test_argument_errors_read_like_pythons(call, message):
    with pytest.raises(TypeError, match=message):
        call()


def test_global_interpreter_all():
    gi = module._global_interpreter
    public = [n for n in CLASS_BODY if not n.startswith("_")]
    assert gi.__all__[: len(public)] == public
    rest = gi.__all__[len(public) :]
    assert "tk" in rest
    assert rest[-7:] == ["history", "Quick", "quick", "global_ns", "local_ns", "vars", "objs"]
    assert not any(n.startswith("_") for n in gi.__all__)


def test_instance_attributes(interp):
    assert interp.Quick is interp.quick
    assert interp.__dict__["__callbacks__"] == {}
    assert "_Interpreter__callbacks__" not in interp.__dict__
    assert interp.vars is interp.local_ns.vars and interp.objs is interp.local_ns.objs
    assert isinstance(interp.global_ns, module.TclNamespace) and isinstance(
        interp.local_ns, module.TclNamespace
    )
    assert isinstance(interp.history, module.History)
    keys = [
        k
        for k in interp.__dict__
        if k in ("history", "Quick", "quick", "__callbacks__", "global_ns", "local_ns", "vars", "objs")
    ]
    assert keys == ["history", "Quick", "quick", "__callbacks__", "global_ns", "local_ns", "vars", "objs"]


def test_startup_globals_and_packages(interp):
    assert interp.tk.eval("set ::argc") == "0"
    assert interp.tk.eval("set ::argv") == ""
    assert interp.tk.eval("set ::argv0") == ""
    assert interp.tk.eval("set ::tcl_interactive") == "0"
    assert interp.tk.eval("package present Tclx")
    assert interp.tk.eval("namespace exists ::pivotlib::_cbBkup") == "1"
    assert len(interp.history.__history__) == 0  # start-up records nothing


@pytest.mark.parametrize("args,kwargs", [((1,), {}), ((), {"useTk": 1}), ((None, None), {})])
def test_constructor_takes_no_arguments(args, kwargs):
    with pytest.raises(TypeError):
        Interpreter(*args, **kwargs)


def test_getattr_fallback(interp):
    assert interp.call("set", "a", "1") == "1"
    assert interp.splitlist("a {b c}") == ("a", "b c")
    with pytest.raises(AttributeError) as info:
        interp.no_such_thing
    assert str(info.value) == "'Interpreter' object has no attribute 'no_such_thing'"
    with pytest.raises(TypeError, match="^hasattr\\(\\): attribute name must be string$"):
        interp.__getattr__(5)
    with pytest.raises(TypeError):
        interp.__getattr__(None)
    assert getattr(interp, "no_such_thing", 7) == 7


def test_getattr_before_tk_exists():
    half = Interpreter.__new__(Interpreter)
    with pytest.raises(AttributeError, match="no attribute 'call'"):
        half.call


def test_eval_results_and_typecast(interp):
    assert interp.eval("set a 1") == "1"
    assert interp.eval("set a 1", typecast=True) == 1
    assert interp.eval("expr {1.5}", True) == 1.5
    assert interp.eval(code="set b {x y}", typecast=False, record=True) == "x y"
    assert interp.eval("list a {b c}", True) == "a {b c}"  # a string list is not a tuple
    assert interp.eval("set t yes", True) is True


def test_eval_records_history_first(interp):
    history = interp.history.__history__
    interp.eval("set a 1")
    assert [e.api for e in history] == ["set a 1"]
    interp.eval("set a 2", record=False)
    interp.eval("set a 3", record=0)
    assert len(history) == 1
    with pytest.raises(tkinter.TclError):
        interp.eval("error boom")
    assert [e.api for e in history] == ["set a 1", "error boom"]
    interp.history.disable()
    assert interp.eval("set a 4") == "4"
    assert len(history) == 2


def test_eval_error_carries_errorinfo(interp):
    with pytest.raises(tkinter.TclError) as info:
        interp.eval("proc f {} {error boom}; f")
    exc = info.value
    text = str(exc)
    assert text.startswith("boom\n")
    assert 'invoked from within\n"f"' in text
    assert exc.args == (text,)
    assert exc.__cause__ is None and exc.__suppress_context__
    assert isinstance(exc.__context__, tkinter.TclError) and str(exc.__context__) == "boom"
    assert interp.get_errorInfo() == text
    assert interp.vars["::errorInfo"] == text


def test_eval_other_failures(interp):
    with pytest.raises(TypeError):
        interp.eval()
    with pytest.raises(TypeError):
        interp.eval("set a 1", False, True, 4)
    with pytest.raises(TypeError):
        interp.eval("set a 1", typecast=False, nope=1)
    with pytest.raises(TypeError):
        interp.eval("set a 1", code="x")
    with pytest.raises(TypeError):
        interp.eval(None)


@pytest.mark.parametrize(
    "code", ["set a \ud800", "set a \U0001f600", "set a a\x00b", "set a " + "x" * 1000000, "set a {", "\\"]
)
def test_eval_hostile_code_never_crashes(interp, code):
    try:
        interp.eval(code, typecast=True)
    except (tkinter.TclError, ValueError):
        pass


def test_eval_typecast_failure_keeps_history(interp, monkeypatch):
    class Sub(Interpreter):
        def cast_any(self, value):
            raise RuntimeError("cast failed")

    sub = Sub()
    with pytest.raises(RuntimeError):
        sub.eval("set a 1", typecast=True)
    assert [e.api for e in sub.history.__history__] == ["set a 1"]


def test_subclass_overrides_are_honoured():
    class Sub(Interpreter):
        def getint(self, s):
            return 99

    sub = Sub()
    assert sub.cast_int("12") == 99
    assert sub.cast_any("12") == 99
    assert sub.eval("set a 5", typecast=True) == 99


def test_dead_interpreter_behind_proxy():
    dead = Interpreter()
    proxy = weakref.proxy(dead)
    assert proxy.eval("set a 1") == "1"
    del dead
    gc.collect()
    for call in (
        lambda: proxy.eval("set a 1"),
        lambda: proxy.cast_any("1"),
        lambda: proxy.quick,
        lambda: proxy.cast_boolean("x"),
        lambda: proxy.get_var("a"),
        lambda: proxy.tk,
    ):
        with pytest.raises(ReferenceError):
            call()
    # The methods are descriptors of the class: a foreign object is refused.
    with pytest.raises(TypeError, match="doesn't apply to a 'weakref.ProxyType' object"):
        Interpreter.eval(proxy, "set a 1")


@pytest.mark.parametrize(
    "name",
    [
        "eval",
        "get_errorInfo",
        "cast_any",
        "cast_int",
        "cast_boolean",
        "get_var",
        "set_var",
        "create_callback",
        "remove_callback",
    ],
)
@pytest.mark.parametrize("bad_self", [None, 5, "text", object()])
def test_methods_on_foreign_self(name, bad_self):
    fn = getattr(Interpreter, name)
    nargs = len(inspect.signature(fn).parameters) - 1
    with pytest.raises((AttributeError, TypeError, ValueError)):
        fn(bad_self, *(["x"] * max(nargs, 1))[: max(nargs, 1)])


def test_package_top_level_stands_in_for_the_shared_interpreter():
    import oskra
    import oskra.tcl
    import oskra.tcl.wordform  # the submodule must not replace the function
    from oskra.tcl import wordform

    assert callable(wordform) and wordform(("a b",)) == "{a b}"
    top = weakref.proxy(oskra.tcl)
    assert top.tk is module._global_interpreter.tk
    assert top.cast_list("a {b c}") == ("a", "b c")
    assert top.cast_boolean("yes") is True
    assert dict(top.cast_array("a 1")) == {"a": "1"}
    assert dict(oskra.tcl.cast_keyed_list("{a 1}")) == {"a": "1"}
    with pytest.raises(AttributeError):
        oskra.tcl.no_such_name
    with pytest.raises(AttributeError):
        oskra.tcl._private


def _swallow(fn):
    def run(interp):
        try:
            fn(interp)
        except (tkinter.TclError, ValueError, TypeError, AttributeError):
            pass

    return run


LEAK_OPS = {
    "eval": lambda i: i.eval("set a {b c}"),
    "eval typecast": lambda i: i.eval("set a 1.5", True),
    "eval error": _swallow(lambda i: i.eval("error boom")),
    "cast_any": lambda i: [
        i.cast_any(v)
        for v in ("12", "1.5", "yes", "hello world", "{a 1}", "", "9" * 30, ("a", 1), "\ud800", "a\x00b")
    ],
    "cast_int error": _swallow(lambda i: i.cast_int("1.5")),
    "cast_boolean fallback": lambda i: (i.cast_boolean("0x10"), i.cast_boolean("2.5")),
    "cast_boolean error": _swallow(lambda i: i.cast_boolean("maybe")),
    "cast_list error": _swallow(lambda i: i.cast_list("{a")),
    "variables": lambda i: (
        i.set_var("::v", "x y"),
        i.get_list("::v"),
        i.set_boolean("::b", 1),
        i.get_boolean("::b"),
    ),
    "getattr miss": _swallow(lambda i: i.no_such_attribute),
    "callbacks": lambda i: (i.create_callback(len, "leak_cb"), i.remove_callback("leak_cb")),
}


@pytest.mark.parametrize("op", list(LEAK_OPS), ids=list(LEAK_OPS))
def test_hot_operations_do_not_leak(interp, op):
    import tracemalloc

    fn = LEAK_OPS[op]
    # A small history, cycled during the warm-up: the entries it holds at
    # the end are then not growth.
    interp.history = module.History(16)
    tracemalloc.start()
    try:
        for _ in range(500):
            fn(interp)
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(3000):
            fn(interp)
        gc.collect()
        growth = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert growth < 64 * 1024, "%s grew by %d bytes" % (op, growth)
