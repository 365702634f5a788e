"""Temporary variables, arrays, commands and namespaces."""

import gc
from tkinter import TclError

import pytest

from oskra.tcl.namespace import (
    TclNamespace,
    TempTclArrayVariable,
    TempTclCommand,
    TempTclNamespace,
    TempTclVariable,
)


class Boom(Exception):
    pass


def tcl_exists(interp, kind, name):
    return interp.tk.eval("%s exists {%s}" % (kind, name)) == "1"


@pytest.mark.parametrize(
    "cls, attr",
    [
        (TempTclVariable, "var_name"),
        (TempTclArrayVariable, "var_name"),
        (TempTclCommand, "cmd_name"),
        (TempTclNamespace, "ns"),
    ],
)
def test_default_names_are_unique_and_filled(interp, cls, attr):
    a, b = cls(tcl=interp), cls(tcl=interp)
    assert getattr(a, attr) == "::__oskra__%s_%d_tmp" % (cls.__name__, id(a))
    assert getattr(a, attr) != getattr(b, attr)


def test_subclass_shows_its_own_name(interp):
    class Mine(TempTclVariable):
        pass

    m = Mine(tcl=interp)
    assert m.var_name == "::__oskra__Mine_%d_tmp" % id(m)


@pytest.mark.parametrize(
    "template, expected",
    [
        ("::my_tmp", "::my_tmp"),
        ("::t_{{x}}", "::t_{x}"),
        (12, "12"),
        ("::{cls}", "::TempTclVariable"),
    ],
)
def test_templates(interp, template, expected):
    assert TempTclVariable(template, tcl=interp).var_name == expected


def test_template_with_unknown_field_and_array_index(interp):
    with pytest.raises(KeyError):
        TempTclVariable("::{other}", tcl=interp)
    with pytest.raises(TypeError):
        TempTclArrayVariable(array_index="k", tcl=interp)
    assert TempTclVariable("::arr", array_index="k", tcl=interp).var_name == "::arr(k)"


@pytest.mark.parametrize("raise_in_block", [False, True])
def test_variable_removed_after_block(interp, raise_in_block):
    v = TempTclVariable(tcl=interp)
    with pytest.raises(Boom) if raise_in_block else _nothing():
        with v as bound:
            assert bound is v
            v.set("x y")
            assert tcl_exists(interp, "info", v.var_name)
            if raise_in_block:
                raise Boom
    assert not tcl_exists(interp, "info", v.var_name)
    with v:  # entered again, never set: exit does not complain
        pass
    assert v.__exit__(None, None, None) is False


class _nothing:
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False


def test_array_variable_removed(interp):
    with TempTclArrayVariable(tcl=interp) as a:
        a["k"] = 1
        a.update(j=2)
        assert dict(a) == {"k": 1, "j": 2}
        name = a.var_name
    assert not tcl_exists(interp, "array", name)
    assert not tcl_exists(interp, "info", name)


def test_element_variable_unsets_only_its_element(interp):
    interp.tk.eval("array set ::keep {a 1 b 2}")
    with TempTclVariable("::keep", array_index="a", tcl=interp):
        pass
    assert interp.tk.eval("array names ::keep") == "b"


def test_command_with_callable(interp):
    calls = []

    def handler(*args):
        """Handler doc."""
        calls.append(args)
        return "handled"

    handler.extra = "attr"

    with TempTclCommand(handler, tcl=interp) as c:
        assert c("a", "b c") == "handled" and calls == [("a", "b c")]
        assert interp.tk.eval("%s x" % c.cmd_name) == "handled"
        assert c.__name__ == "handler" and c.__doc__ == "Handler doc."
        assert c.__wrapped__ is handler and c.extra == "attr"
        assert c.__qualname__ == handler.__qualname__
        name = c.cmd_name
        assert c.exists()
    assert interp.tk.eval("info commands %s" % name) == ""
    del c
    gc.collect()  # __del__ deletes again: the TclError is dropped


def test_command_removed_when_collected(interp):
    c = TempTclCommand(lambda: "x", tcl=interp)
    name = c.cmd_name
    assert interp.tk.eval(name) == "x"
    del c
    gc.collect()
    assert interp.tk.eval("info commands %s" % name) == ""


def test_command_without_callable(interp):
    c = TempTclCommand(tcl=interp)
    assert interp.tk.eval("info commands %s" % c.cmd_name) == ""
    assert not hasattr(c, "__wrapped__")
    with c:
        c.createcommand(lambda: "late")
        assert interp.tk.eval(c.cmd_name) == "late"
    assert not c.exists()
    with c:  # nothing to delete: the TclError is dropped
        pass
    late = TempTclCommand(tcl=interp)
    late.createcommand(lambda: "kept")
    name = late.cmd_name
    del late
    gc.collect()  # no callable given to the constructor: kept
    assert interp.tk.eval(name) == "kept"


def test_command_exception_propagates(interp):
    with pytest.raises(Boom):
        with TempTclCommand(lambda: None, tcl=interp) as c:
            name = c.cmd_name
            raise Boom
    assert interp.tk.eval("info commands %s" % name) == ""


def test_namespace_lifecycle(interp):
    t = TempTclNamespace(tcl=interp)
    assert not t.exists()  # nothing in Tcl before the block
    with pytest.raises(Boom):
        with t as bound:
            assert bound is t and t.exists()
            t.vars["x"] = 1
            t.eval("proc inner {} {}")
            TclNamespace(TclNamespace.join(t.ns, "child"), tcl=interp).create()
            raise Boom
    assert not t.exists()
    with t:  # created again
        assert t.exists()
        t.delete()  # already gone at exit: the TclError is dropped
    assert not t.exists()


def test_cleanup_drops_only_tcl_errors(interp):
    class Failing(TempTclCommand):
        def delete(self):
            raise RuntimeError("not a Tcl error")

    f = Failing(tcl=interp)
    with pytest.raises(RuntimeError):
        f.__exit__(None, None, None)

    class TclFailing(TempTclNamespace):
        def delete(self):
            raise TclError("dropped")

    assert TclFailing(tcl=interp).__exit__(None, None, None) is False


def test_after_interpreter_is_gone():
    from oskra.tcl.interpreter import Interpreter

    interp = Interpreter()
    v = TempTclVariable(tcl=interp)
    n = TempTclNamespace(tcl=interp)
    c = TempTclCommand(tcl=interp)
    del interp
    gc.collect()
    for obj in (v, n, c):
        with pytest.raises(ReferenceError):
            obj.__exit__(None, None, None)
    with pytest.raises(ReferenceError):
        n.__enter__()
    assert v.__enter__() is v


def test_hostile_arguments(interp):
    with pytest.raises(TypeError):
        TempTclVariable("a", "b", tcl=interp)
    with pytest.raises(TypeError):
        TempTclNamespace(ns="::a", bogus=1, tcl=interp)
    with pytest.raises(TypeError):
        TempTclVariable.__exit__()
    with pytest.raises(TypeError):
        TempTclCommand.__del__()
    assert TempTclNamespace("::\U0001f600_{id}", tcl=interp).ns.startswith("::\U0001f600_")


def test_command_template_with_space_is_split_into_name_and_arguments(interp):
    c = TempTclCommand(cmd_name="::t_{id} fixed", tcl=interp)
    assert c.cmd_name == "::t_%d" % id(c) and c.args == ("fixed",)


@pytest.mark.parametrize("name", ["::", ":::", "::::::"])
def test_temporary_namespace_never_the_global_one(interp, name):
    t = TempTclNamespace(name, tcl=interp)
    with pytest.raises(ValueError, match="global namespace"):
        with t:
            pass
    assert t.__exit__(None, None, None) is False  # called anyway: deletes nothing
    assert interp.tk.eval("set ::still_alive 1") == "1"
