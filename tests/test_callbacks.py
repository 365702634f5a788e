"""Python callables registered as Tcl commands."""

import functools

import pytest

from oskra.tcl.interpreter import Interpreter, TclCommand


def hello(*words):
    return "hello " + "|".join(words)


def handler(*words):
    return "handled"


class Greeter:
    def meth(self, *words):
        return "meth:" + " ".join(words)


def test_create_registers_under_function_name(interp):
    cmd = interp.create_callback(hello)
    assert isinstance(cmd, TclCommand) and str(cmd) == "::hello"
    assert interp.eval("hello a {b c}") == "hello a|b c"
    assert interp.__dict__["__callbacks__"] == {"::hello": hello}
    interp.remove_callback(hello)
    assert interp.tk.eval("info commands ::hello") == ""
    assert interp.__dict__["__callbacks__"] == {}


def test_generated_names():
    obj = Greeter()
    bound = obj.meth
    assert Interpreter.generate_callback_cmd_name(bound) == "meth"
    assert Interpreter.generate_callback_cmd_name(bound, mangle_cmd_name=True) == "%d_meth" % id(bound)
    assert Interpreter.generate_callback_cmd_name(hello, True) == "%d_hello" % id(hello)
    part = functools.partial(hello, "x")
    assert Interpreter.generate_callback_cmd_name(part) == "%d_" % id(part)
    assert Interpreter.generate_callback_cmd_name(callback=len) == "len"


class NamedOdd:
    """A callable whose __name__ is not a string."""

    __name__ = 5

    def __call__(self):
        return ""


def test_generated_name_of_odd_objects():
    odd = NamedOdd()
    assert Interpreter.generate_callback_cmd_name(odd) == 5
    with pytest.raises(TypeError):
        Interpreter.generate_callback_cmd_name(odd, True)
    assert Interpreter.generate_callback_cmd_name(None) == "%d_" % id(None)


def test_bound_method_and_partial(interp):
    obj = Greeter()
    interp.create_callback(obj.meth)
    assert interp.eval("meth x y") == "meth:x y"
    part = functools.partial(hello, "p")
    cmd = interp.create_callback(part)
    assert str(cmd) == "::%d_" % id(part)
    assert interp.eval("%s q" % cmd) == "hello p|q"
    interp.remove_callback(cmd)
    interp.remove_callback("meth")
    assert interp.__dict__["__callbacks__"] == {}


def test_existing_command_and_forced_replacement(interp):
    interp.eval("proc greet {} {return proc-greet}")
    g = lambda *a: "python-greet"
    with pytest.raises(ValueError) as info:
        interp.create_callback(g, "greet")
    assert str(info.value) == "Cannot create command '::greet': command already exists"
    assert interp.eval("greet") == "proc-greet"
    interp.create_callback(g, "greet", force=True)
    assert interp.eval("greet") == "python-greet"
    assert interp.eval("::pivotlib::_cbBkup::greet") == "proc-greet"
    interp.remove_callback("greet")
    assert interp.eval("greet") == "proc-greet"
    assert interp.tk.eval("info commands ::pivotlib::_cbBkup::greet") == ""


@pytest.mark.parametrize("name", ["two words", "br{ace", "\r{*}", "semi;colon"])
def test_forced_replacement_of_names_that_are_not_list_words(interp, name):
    # The backup command is named, not parsed as a command line: a name with
    # a space or a brace is restored as it was.
    interp.tk.call("proc", "::" + name, "", "return original")
    cmd = interp.create_callback(lambda: "python", name, force=True)
    assert interp.tk.call("::" + name) == "python"
    interp.remove_callback(name)
    assert interp.tk.call("::" + name) == "original"
    assert not interp.tk.call("info", "commands", "::pivotlib::_cbBkup::*")
    interp.tk.call("rename", "::" + name, "")
    assert cmd.cmd_name == "::" + name


def test_nested_names_back_up_under_their_path(interp):
    interp.eval("namespace eval ::a {proc b {} {return orig}}")
    interp.eval("namespace eval ::pivotlib::_cbBkup::a {}")
    cmd = interp.create_callback(lambda: "new", "::a::b", force=True)
    assert str(cmd) == "::a::b" and interp.eval("a::b") == "new"
    assert interp.eval("::pivotlib::_cbBkup::a::b") == "orig"
    interp.remove_callback(cmd)
    assert interp.eval("a::b") == "orig"


def test_remove_by_callable_looks_up_its_own_name(interp):
    interp.eval("namespace eval ::ns {}")
    cmd = interp.create_callback(handler, "::ns::cb")
    with pytest.raises(ValueError) as info:
        interp.remove_callback(handler)
    assert str(info.value) == "No callback in this interpreter named '::handler'"
    assert interp.eval("ns::cb") == "handled"
    interp.remove_callback("::ns::cb")
    with pytest.raises(ValueError):
        interp.remove_callback(cmd)


def test_two_forced_registrations_then_one_removal(interp):
    first, second = (lambda: "first"), (lambda: "second")
    interp.create_callback(first, "twice", force=True)
    interp.create_callback(second, "twice", force=True)
    assert interp.eval("twice") == "second"
    interp.remove_callback("twice")
    assert interp.eval("twice") == "first"  # the first one came back from the backup
    with pytest.raises(ValueError, match="^No callback in this interpreter named '::twice'$"):
        interp.remove_callback("twice")


def test_callbacks_belong_to_their_interpreter(interp):
    other = Interpreter()
    interp.create_callback(hello)
    with pytest.raises(ValueError):
        other.remove_callback(hello)
    assert interp.eval("hello") == "hello "


def test_table_keeps_the_callable_alive(interp):
    import gc
    import weakref

    class Callable:
        def __call__(self, *a):
            return "alive"

    obj = Callable()
    ref = weakref.ref(obj)
    interp.create_callback(obj, "keep")
    del obj
    gc.collect()
    assert ref() is not None and interp.eval("keep") == "alive"
    interp.remove_callback("keep")
    gc.collect()
    assert interp.tk.eval("info commands ::keep") == ""


@pytest.mark.parametrize("bad", [None, 5, "", "::", "a b", "\ud800", "x\x00y"])
def test_remove_hostile_names(interp, bad):
    with pytest.raises((ValueError, TypeError, KeyError)):
        interp.remove_callback(bad)


def test_create_with_empty_name_generates_one(interp):
    cmd = interp.create_callback(hello, "")
    assert str(cmd) == "::hello"
    cmd = interp.create_callback(hello, None, force=True)
    assert interp.eval("hello x") == "hello x"


@pytest.mark.parametrize("name", ["g*", "g?", "g[x]", "g\\x"])
def test_registration_checks_the_exact_name(interp, name):
    # A procedure whose name the new one matches as a pattern is no clash,
    # and a forced registration backs up only a command of that very name.
    interp.tk.call("proc", "::g*", "", "return star")
    interp.tk.call("proc", "::gx", "", "return gx")
    clash = name == "g*"
    if clash:
        with pytest.raises(ValueError, match="already exists"):
            interp.create_callback(lambda: "new", name)
    interp.create_callback(lambda: "new", name, force=clash)
    assert interp.tk.call("::" + name) == "new"
    interp.remove_callback(name)
    assert interp.tk.call("::g*") == "star" and interp.tk.call("::gx") == "gx"
    assert not interp.tk.call("info", "commands", "::pivotlib::_cbBkup::*")
    assert (name in interp.global_ns.cmds) is clash
