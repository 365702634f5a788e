"""The mapping views of a TclNamespace: vars, objs, cmds, procs."""

import os
from tkinter import TclError

import pytest

from oskra.tcl.array import Array
from oskra.tcl.namespace import TclArrayVariable, TclCommand, TclNamespace, TclVariable

T = TclNamespace


@pytest.fixture
def ns(interp):
    interp.tk.eval(
        "namespace eval ::v { variable s {a b}; variable n 42; "
        "variable arr; array set arr {k 1 j 2}; proc p {x {y dflt}} {return $x$y} }"
    )
    return T("::v", tcl=interp)


@pytest.mark.parametrize(
    "nsname, key, tclname",
    [
        ("::v", "s", "::v::s"),
        ("::v", "::g", "::g"),  # an absolute key ignores the namespace
        ("::", "g", "::g"),
        (None, "::g", "::g"),
        (None, "g", "g"),  # relative key kept: global at top level
        ("v", "s", "v::s"),
        ("::v::", "::v::::s::", "::v::s"),
    ],
)
def test_keys_are_joined_onto_the_namespace(interp, ns, nsname, key, tclname):
    interp.tk.eval("set ::g global-value")
    view = T(nsname, tcl=interp).vars
    assert view.byref(key).var_name == tclname
    assert view[key] == interp.tk.eval("set {%s}" % tclname)


def test_errorinfo_through_global_and_empty_namespaces(interp):
    with pytest.raises(TclError):
        interp.tk.eval("error boom")
    assert "boom" in T("::", tcl=interp).vars["errorInfo"]
    assert T(None, tcl=interp).vars["::errorInfo"] == T("::", tcl=interp).vars["errorInfo"]


def test_vars_and_objs_values(ns, interp):
    assert ns.vars["s"] == "a b"
    assert ns.vars["n"] == "42" and ns.objs["n"] == "42"
    interp.tk.call("set", "::v::typed", 7)
    assert ns.objs["typed"] == 7 and ns.vars["typed"] == "7"
    ns.vars["new"] = ("x", "y z")
    assert interp.tk.eval("set ::v::new") == "x {y z}"
    assert ns.objs.get("arr", "k") == "1"
    assert dict(ns.vars.array_get("arr")) == {"k": "1", "j": "2"}
    assert dict(ns.objs.array_get("arr", "k")) == {"k": "1"}
    ns.vars.set("arr", "3", array_index="m")
    assert ns.vars.array_names("arr", "m") == ("m",)
    assert ns.vars.is_array("arr") is True and ns.vars.is_array("s") is False
    assert ns.vars.exists("arr", array_index="k") is True
    ns.vars.array_set("arr2", {"a": 1})
    ns.vars.array_unset("arr2", "a")
    assert ns.vars.array_names("arr2") == ()
    assert ns.vars.unset("s") is None and "s" not in ns.vars
    assert ns.vars.unset("s", nocomplain=True) is None
    with pytest.raises(TclError):
        ns.vars.unset("s")


def test_missing_and_bad_keys(ns):
    with pytest.raises(KeyError) as e:
        ns.vars["missing"]
    assert isinstance(e.value.args[0], TclError) and e.value.__cause__ is e.value.args[0]
    with pytest.raises(TclError):
        ns.vars.get("missing")  # named operations do not translate
    with pytest.raises(KeyError) as e:
        ns.objs["a:b::c"]
    assert isinstance(e.value.__cause__, ValueError)
    for op in (
        lambda: "a:b::c" in ns.vars,
        lambda: ns.vars.__delitem__("a:b::c"),
        lambda: ns.cmds["a:b::c"],
        lambda: ns.vars.get("a:b::c"),
        lambda: "a:b::c" in ns.cmds,
    ):
        with pytest.raises(ValueError, match="Invalid Tcl namespace '::v::a:b::c'"):
            op()
    with pytest.raises(KeyError) as e:
        del ns.vars["missing"]
    assert isinstance(e.value.__cause__, TclError)
    with pytest.raises(KeyError):
        del ns.cmds["no_such_cmd"]
    with pytest.raises(TclError):
        ns.cmds.delete("no_such_cmd")


def test_mapping_defaults_work_through_the_operations(ns):
    assert ns.vars.setdefault("fresh", "v") == "v"
    assert ns.vars.pop("fresh") == "v" and "fresh" not in ns.vars
    assert ns.vars.pop("fresh", "dflt") == "dflt"
    ns.vars.update(u1="1", u2="2")
    assert ns.vars["u1"] == "1"


def test_listing_includes_arrays(ns, interp):
    names = list(ns.vars)
    assert {"s", "n", "arr"} <= set(names)
    assert all(type(n) is str for n in names)
    assert len(ns.vars) == len(names)
    assert set(ns.vars.keys()) == set(names)
    # an array reads as the text of `array get` through the string view, as an Array when typed
    assert interp.cast_array(dict(ns.vars)["arr"]) == {"k": "1", "j": "2"}
    assert dict(ns.objs)["arr"] == {"k": "1", "j": "2"}
    assert isinstance(dict(ns.objs)["arr"], Array)


def test_listing_is_lazy_and_read_once(ns, interp):
    it = iter(ns.vars)
    interp.tk.eval("set ::v::late 1")  # added before the first advance
    first = list(it)
    assert "late" in first
    it = iter(ns.vars)
    next(it)
    interp.tk.eval("set ::v::later 1")
    assert "later" not in list(it)
    assert list(it) == []


def test_empty_name_listing_is_unwrapped(interp):
    local = T(None, tcl=interp)
    assert "tcl_version" in list(local.vars)
    assert "set" in list(local.cmds)
    assert "set" not in list(local.procs)


def test_factories(ns, interp):
    v = ns.vars.byref("s")
    assert type(v) is TclVariable and v.var_name == "::v::s" and v.tcl is ns.tcl
    assert ns.vars.byref("arr", "k").var_name == "::v::arr(k)"
    assert type(ns.vars.array_byref("arr")) is TclArrayVariable
    assert type(ns.vars.byref("arr", var_type=TclArrayVariable)) is TclArrayVariable
    assert ns.vars.byref("n", cast=int).get() == 42
    with pytest.raises(TypeError):
        ns.vars.byref("s", tcl=interp)
    with pytest.raises(TypeError):
        ns.vars.array_byref("s", var_type=TclVariable)
    with pytest.raises(TypeError):
        ns.cmds.byref("p", tcl=interp)
    c = ns.cmds.byref("p", ("a b",))
    assert type(c) is TclCommand and c.cmd_name == "::v::p" and c.args == ("a b",)
    assert c() == "a bdflt"
    spaced = ns.cmds["name with space"]
    assert spaced.cmd_name == "::v::name with space" and spaced.args == ()


def test_command_views(ns, interp):
    missing = ns.cmds["nothing"]
    assert isinstance(missing, TclCommand) and missing.cmd_name == "::v::nothing"
    assert "nothing" not in ns.cmds
    assert "p" in ns.cmds and "p" in ns.procs
    assert "::set" in ns.cmds and "::set" not in ns.procs
    assert ns.cmds.proc_args("p") == ("x", "y")
    assert ns.cmds.proc_arg_default("p", "y") == "dflt"
    assert ns.cmds.proc_arg_default("p", "x") is None
    assert ns.procs.proc_body("p") == "return $x$y"
    assert ns.cmds.origin("p") == "::v::p"
    seen = []
    ns.cmds["py"] = lambda *a: seen.append(a) or "ok"
    assert interp.tk.eval("::v::py 1 {2 3}") == "ok" and seen == [("1", "2 3")]
    assert "py" in list(ns.cmds) and "py" not in list(ns.procs)
    assert list(ns.procs) == ["p"] and len(ns.procs) == 1
    del ns.cmds["py"]
    assert "py" not in ns.cmds
    assert ns.cmds.get("p").cmd_name == "::v::p"  # Mapping.get
    ns.cmds.rename("p", "q")
    assert "q" in ns.procs and "p" not in ns.procs
    ns.cmds.rename("q", "::moved")
    assert interp.tk.eval("info procs ::moved") == "::moved"
    assert ns.cmds.createcommand("c2", lambda: "c2") is None
    assert ns.cmds.delete("c2") is None


def test_views_follow_make_absolute(interp):
    interp.tk.eval("namespace eval ::rel { variable x inside }")
    n = T("rel", tcl=interp)
    n.make_absolute()
    assert n.ns == "::rel" and n.vars.byref("x").var_name == "::rel::x"
    assert n.vars["x"] == "inside"


def test_view_constructor_and_hostile_keys(ns):
    with pytest.raises(AssertionError):
        T.VariablesView("::v")
    with pytest.raises(AssertionError):
        T.CommandsView(None)
    for bad in ("nul\x00", "lone\udc80"):
        with pytest.raises(ValueError):
            ns.vars[bad] = 1  # the Tcl layer refuses these names
        with pytest.raises(KeyError):
            ns.vars[bad]
    for key in ("\U0001f600", "x" * 100_000, None, 5, ("a", "b")):
        ns.vars[key] = "val"
        assert ns.vars[key] == "val"
        assert key in ns.vars
        del ns.vars[key]
    loop = []
    loop.append(loop)
    with pytest.raises(RecursionError):
        ns.vars[loop]  # not translated: only TclError and ValueError are
    with pytest.raises(TypeError):
        ns.vars.get()
    with pytest.raises(TypeError):
        ns.vars.set("x")


@pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", "") or os.environ.get("PYTHONMALLOC") == "malloc",
    reason="block counts need Python's own allocator; the sanitizer's quarantine inflates the RSS",
)
def test_hot_operations_do_not_leak(ns, interp):
    import gc
    import tracemalloc

    from oskra.tcl.namespace import TempTclVariable

    def missing():
        try:
            ns.vars["missing"]
        except KeyError:
            pass

    def bad_name():
        try:
            T.join("a", "b:c")
        except ValueError:
            pass

    def temporary():
        with TempTclVariable(tcl=interp) as v:
            v.set(1)

    ops = [
        lambda: ns.vars["s"],
        lambda: ns.objs["n"],
        missing,
        bad_name,
        temporary,
        lambda: "s" in ns.vars,
        lambda: list(ns.vars),
        lambda: len(ns.procs),
        lambda: T.join(ns, "a", "::b", "c"),
        lambda: T.split("::a::b"),
        lambda: T.normalize("a::::b::"),
        lambda: ns.cmds["p"],
        lambda: ns.children("x*"),
        lambda: ns.eval("set", "e", "#v"),
        lambda: ns.call(("set", "c", 1)),
    ]

    def run(times):
        for _ in range(times):
            for op in ops:
                op()

    run(200)
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        run(2000)
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    assert grown < 16 * 1024  # one leaked object per call: 30 kB or more


def test_listing_keeps_odd_names_exact(interp):
    odd = ["a b", "{x", "q\"t", "\U0001f600", "tab\there", "br}ace", "#hash", "dollar$"]
    interp.tk.eval("namespace eval ::odd {}")
    for name in odd:
        interp.tk.call("set", "::odd::" + name, 1)
    view = T("::odd", tcl=interp).vars
    assert set(odd) <= set(view)
    assert all(type(k) is str for k in view)
    assert all(view[k] == "1" for k in odd)


@pytest.mark.parametrize("base", ["VariablesView", "ObjectsView"])
def test_item_access_of_a_view_subclass_goes_through_its_methods(interp, base):
    calls = []

    class Logged(getattr(TclNamespace, base)):
        def get(self, var_name, *rest):
            calls.append("get")
            return super().get(var_name, *rest)

        def set(self, var_name, value, array_index=None):
            calls.append("set")
            return super().set(var_name, value, array_index)

        def unset(self, var_name, array_index=None, nocomplain=False):
            calls.append("unset")
            return super().unset(var_name, array_index, nocomplain)

    view = Logged(TclNamespace("::", tcl=interp))
    view["logged"] = "1"
    assert view["logged"] in ("1", 1)
    del view["logged"]
    with pytest.raises(KeyError):
        view["logged"]
    with pytest.raises(KeyError):
        del view["logged"]
    assert calls == ["set", "get", "unset", "get", "unset"]


def test_a_view_class_given_another_getitem_uses_it(interp):
    class Mine(TclNamespace.VariablesView):
        pass

    view = Mine(TclNamespace("::", tcl=interp))
    interp.tk.setvar("::mine", "tcl")
    assert view["mine"] == "tcl"
    Mine.__getitem__ = lambda self, name: "mine:" + name
    assert view["mine"] == "mine:mine"
    assert interp.global_ns.vars["mine"] == "tcl"


GLOB_NAMES = ["a*", "a?", "a[b]", "x\\y", "[", "]", "\\", "*"]


@pytest.mark.parametrize("nsname", ["::globs", "::gl[o]b*"])
def test_command_membership_is_by_name_not_by_pattern(interp, nsname):
    # Every name that a pattern could match is defined, so a membership test
    # that matched by pattern would answer True for the missing ones.
    interp.tk.call("namespace", "eval", nsname, "")
    defined = GLOB_NAMES[::2]
    for name in defined:
        interp.tk.call("proc", nsname + "::" + name, "", "")
    interp.tk.call("interp", "alias", "", nsname + "::alias*", "", "::set")
    ns = T(nsname, tcl=interp)
    for name in GLOB_NAMES + ["ab", "aa", "xy", "alias*", "aliasX"]:
        listed = name in set(ns.cmds)
        assert (name in ns.cmds) is listed, name
        assert (name in ns.procs) is (listed and name != "alias*"), name
