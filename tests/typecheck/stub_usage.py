"""Checked by mypy --strict (make typecheck), never run: each assert_type
pins what the stubs promise, each ignore pins a call they must refuse."""

from collections.abc import MutableMapping
from typing import Any, assert_type

import oskra.tcl
from oskra.tcl import tclobj, wordform
from oskra.tcl.array import Array
from oskra.tcl.history import Entry, History
from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import (
    TclArrayVariable,
    TclCommand,
    TclNamespace,
    TclVariable,
    TempTclCommand,
    TempTclNamespace,
    TempTclVariable,
)
from oskra.tcl.nestmap import NestMap
from oskra.tcl.quick import Quick_Code


def check(interp: Interpreter) -> None:
    # eval and quick calls: the result type follows the cast switch.
    assert_type(interp.eval("set a 1"), str)
    assert_type(interp.eval("set a 1", typecast=False), str)
    assert_type(interp.eval("set a 1", True), Any)
    assert_type(interp.quick.set("a", 1, cast_=False), str)
    assert_type(interp.quick.ns.proc(1, opt=2), Any)
    assert_type(interp.quick.ns, Quick_Code)
    assert_type(oskra.tcl.eval("set a 1"), str)

    # casts: item_cast picks the element type.
    assert_type(Interpreter.cast_list("1 2"), tuple[Any, ...])
    assert_type(Interpreter.cast_list("1 2", item_cast=int), tuple[int, ...])
    assert_type(oskra.tcl.cast_list("1 2", int), tuple[int, ...])
    assert_type(interp.cast_int("1"), int)
    assert_type(interp.cast_boolean("yes"), bool)
    assert_type(interp.cast_keyed_list("{a 1}"), NestMap)
    assert_type(interp.get_array("arr"), Array)

    # the mappings
    keyed: MutableMapping[str, Any] = NestMap({"a.b": 1})
    assert_type(NestMap.from_tcl("{a 1}").all_keys(), list[str])
    assert_type(keyed, MutableMapping[str, Any])
    views: list[MutableMapping[str, Any]] = [interp.vars, interp.objs, interp.global_ns.vars]
    commands: MutableMapping[str, TclCommand] = interp.global_ns.cmds
    assert_type(interp.vars["::a"], Any)
    assert_type(commands["set"], TclCommand)
    assert_type(interp.global_ns.vars.byref("x", var_type=TclArrayVariable), TclArrayVariable)
    assert_type(interp.global_ns.vars.byref("x"), TclVariable)
    assert_type(views, list[MutableMapping[str, Any]])

    # words and values
    assert_type(wordform([1, "a b"]), str)
    assert_type(wordform.from_sequence([1]), str)
    assert_type(tclobj.from_mapping({"a": 1}), tuple[Any, ...])

    # history and temporaries
    assert_type(interp.history, History)
    assert_type(interp.history.filter(count=3), list[Entry])
    with TempTclVariable(tcl=interp) as var, TempTclNamespace(tcl=interp) as ns:
        assert_type(var, TempTclVariable)
        assert_type(ns, TempTclNamespace)
    with TempTclCommand(str.upper, tcl=interp) as cmd:
        assert_type(cmd, TempTclCommand)
    assert_type(TclNamespace.split("::a::b"), list[str])
    with Interpreter() as fresh:
        assert_type(fresh, Interpreter)
    fresh.close()

    # refused
    interp.eval(42)  # type: ignore[call-overload]
    interp.history.filter(count="3")  # type: ignore[arg-type]
    Interpreter(1)  # type: ignore[call-arg]
    interp.create_callback("not callable")  # type: ignore[arg-type]
