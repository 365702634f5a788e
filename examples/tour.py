"""A runnable tour of oskra.tcl: every capability, with readable output.

Run with `make demo` (or `python examples/tour.py` in the package's
environment).
"""

import logging
import subprocess
import sys
from tkinter import TclError

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import (
    TclArrayVariable,
    TclCommand,
    TclNamespace,
    TclVariable,
    TempTclArrayVariable,
    TempTclCommand,
    TempTclNamespace,
    TempTclVariable,
)
from oskra.tcl.nestmap import NestMap
from oskra.tcl.wordform import tclobj, wordform


def section(title: str) -> None:
    print()
    print(title)
    print("-" * len(title))


def show(label: str, value: object) -> None:
    print("  %-48s %r" % (label, value))


def main() -> None:
    interp = Interpreter()

    section("1. An interpreter (Tcl with TclX, no Tk window)")
    show('eval("set a {1 2 3}")', interp.eval("set a {1 2 3}"))
    show('eval("expr {6*7}", typecast=True)', interp.eval("expr {6*7}", typecast=True))
    show('eval("info exists ::argv0")', interp.eval("info exists ::argv0"))
    show('eval("package present Tclx") is set', bool(interp.eval("package present Tclx")))
    try:
        interp.eval("error {something broke}")
    except TclError as exc:
        print("  a Tcl error carries the whole Tcl trace (::errorInfo):")
        for line in str(exc).splitlines():
            print("      " + line)
        show("get_errorInfo() gives the same trace", interp.get_errorInfo() == str(exc))
    interp.set_var("::count", 5)
    show('set_var("::count", 5); get_int("::count")', interp.get_int("::count"))
    interp.eval("set ::pair {1 {2 3}}")
    show('get_list("::pair")', interp.get_list("::pair"))

    section("2. Python values as Tcl words: wordform() and tclobj()")
    value = ["a b", 1, 2.5, None, True, ("x", ("y z",)), {"k": "v w"}]
    show("wordform(%r)" % (value[:3],), wordform(value[:3]))
    show("wordform(None), wordform(True)", (wordform(None), wordform(True)))
    show("wordform(nested tuple)", wordform(("x", ("y z",))))
    show("wordform(dict)", wordform({"k": "v w"}))
    show("wordform of awkward text", [wordform(t) for t in ["{", "a\\", "$x [y]", ""]])
    show("tclobj(('a', 1))", tclobj(("a", 1)))

    section("3. Typed reads: casts, keyed lists, arrays")
    show('cast_list("1 2 {3 4}")', interp.cast_list("1 2 {3 4}"))
    show('cast_list("1 2 3", item_cast=int)', interp.cast_list("1 2 3", item_cast=int))
    for text in ["12", "1.5", "true", "hello world", "{a 1} {b 2}"]:
        show("cast_any(%r)" % text, interp.cast_any(text))
    person = NestMap.from_tcl("{name Tom} {addr {{city Oslo} {zip 0150}}}")
    show("NestMap.from_tcl(keyed list)", person)
    show('person["addr.city"]  (dotted keys)', person["addr.city"])
    show("wordform(person)  (back to keyed-list text)", wordform(person))
    built = NestMap()
    built["a.b"] = "1"
    built["a.c"] = "x y"
    show('NestMap(); ["a.b"] = "1"; ["a.c"] = "x y"', built)
    show("wordform of it", wordform(built))
    interp.set_keyed_list("kl", person)
    show('TclX: keylget kl addr.zip', interp.eval("keylget kl addr.zip"))
    show('get_keyed_list("kl")', interp.get_keyed_list("kl"))
    interp.eval("array set arr {a 1 b 2}")
    show('get_array("arr")', interp.get_array("arr"))
    show('get_int("arr(a)")', interp.get_int("arr(a)"))

    section("4. Namespaces, variables and commands as Python objects")
    shop = TclNamespace("::shop", tcl=interp)
    shop.create()
    show("TclNamespace.join('::a', 'b')", TclNamespace.join("::a", "b"))
    show("TclNamespace.split('::a::b')", TclNamespace.split("::a::b"))
    shop.vars["stock"] = "12"
    show('shop.vars["stock"]  (string view)', shop.vars["stock"])
    interp.eval("set ::shop::total [expr {6 * 7}]")
    show('shop.objs["total"]  (typed view)', shop.objs["total"])
    interp.eval('proc ::shop::greet {who} {return "hello $who"}')
    show("list(shop.procs)", list(shop.procs))
    show('shop.cmds["greet"]("you")', shop.cmds["greet"]("you"))
    count = TclVariable("::shop::count", tcl=interp, cast=int)
    count.set(5)
    show("TclVariable('::shop::count', cast=int).get()", count.get())
    prices = TclArrayVariable("::shop::prices", tcl=interp)
    prices.update({"tea": 3}, coffee=4)
    show("TclArrayVariable as a mapping", dict(prices))
    show("TclCommand('puts {hello world}')", TclCommand("puts {hello world}"))
    interp.eval('proc ::shop::price {item args} {return "$item costs 3 ($args)"}')
    price = shop.cmds["price"]
    show('shop.cmds["price"]', price)
    show("  .is_proc(), .proc_args()", (price.is_proc(), price.proc_args()))
    show("  ('tea', size='large')  (options become -size)", price("tea", size="large"))
    stock = shop.vars.byref("stock")
    show('shop.vars.byref("stock")', stock)

    section("5. Temporaries: gone when the with block ends")
    with TempTclVariable(tcl=interp) as tmp:
        tmp.set(1)
        show("inside: temporary variable exists", (str(tmp), tmp.exists()))
    show("after: it exists", TclVariable(str(tmp), tcl=interp).exists())
    with TempTclArrayVariable(tcl=interp) as tmp_array:
        tmp_array["k"] = "v"
        show("inside: temporary array", dict(tmp_array))
    with TempTclNamespace(tcl=interp) as tmp_ns:
        show("inside: namespace exists", interp.eval("namespace exists %s" % tmp_ns))
    show("after: namespace exists", interp.eval("namespace exists %s" % tmp_ns))

    def shout(text: str) -> str:
        """Upper-case the text."""
        return text.upper()

    with TempTclCommand(shout, tcl=interp) as tmp_cmd:
        show("temporary command calling Python", tmp_cmd("quiet please"))
    del tmp_cmd

    section("6. Python callables as Tcl commands")
    command = interp.create_callback(shout)
    show("create_callback(shout)", str(command))
    show('eval("shout {from tcl}")', interp.eval("shout {from tcl}"))
    interp.remove_callback(command)
    show('after remove_callback: info commands shout', interp.eval("info commands shout"))

    def measure(port: str) -> str:
        raise ValueError("device not ready: port %s" % port)

    interp.create_callback(measure)
    try:
        interp.eval("measure 3")
    except TclError as exc:
        print("  a callback that raises: eval('measure 3') raises TclError:")
        for line in str(exc).splitlines()[:4]:
            print("      " + line)
        show("  its __cause__ (the Python exception)", exc.__cause__)
    interp.remove_callback(measure)

    section("7. Quick calls: Tcl commands as Python attributes")
    show('quick.set("greeting", "hello world")', interp.quick.set("greeting", "hello world"))
    show('quick.expr("2**10")  (typecast)', interp.quick.expr("2**10"))
    show('quick.expr("2**10", cast_=False)', interp.quick.expr("2**10", cast_=False))
    show("quick.shop.price('tea', size='large')", interp.quick.shop.price("tea", size="large"))
    show("str(quick.shop.price)", str(interp.quick.shop.price))
    try:
        interp.quick.no_such_proc(1)
    except Exception as exc:
        show("quick.no_such_proc(1) raises", str(exc).splitlines()[0])

    section("8. The call history, with markers")
    history = interp.history
    history.clear()
    interp.eval("set x 1")
    history.start_marker("setup")
    interp.eval("set y 2")
    interp.quick.lappend("items", "a b", "c")
    history.end_marker("setup")
    history.disable()
    interp.eval("set hidden 1")  # not recorded while disabled
    interp.eval("set unrecorded 1", record=False)
    history.enable()
    interp.eval("set z 3")
    print("  all calls:")
    for entry in history.filter():
        print("      " + str(entry))
    show("calls in marker 'setup'", [e.api for e in history.filter(marker="setup")])
    show("last 3 calls matching ^set", [e.api for e in history.filter(count=3, regex="^set")])
    show("capacity", history.__history__.maxlen)
    logging.basicConfig(stream=sys.stdout, format="      log %(name)s: %(message)s")
    logging.getLogger("oskra.tcl").setLevel(logging.DEBUG)
    print("  with DEBUG logging on 'oskra.tcl', every call is logged (recorded or not):")
    interp.eval("set logged 1")
    logging.getLogger("oskra.tcl").setLevel(logging.WARNING)

    section("9. The console: python -m oskra.tcl")
    console(["-c", "keylset k port.3 ready; keylget k port"])
    console(["-c", "proc check {} {error {device not ready}}; check"])
    print("  lines given to the console (a terminal also gets prompts and readline):")
    console([], "set n 6\nproc twice {x} {\n  expr {2 * $x}\n}\ntwice $n\nnosuch\nexit 0\n")


def console(args: list[str], lines: str | None = None) -> None:
    """Run the console in a child process and show what it printed."""
    command = [sys.executable, "-m", "oskra.tcl", *args]
    done = subprocess.run(command, input=lines, capture_output=True, text=True, check=False)
    if args:
        print("  $ python -m oskra.tcl %s" % " ".join(repr(a) if " " in a else a for a in args))
    for line in (done.stdout + done.stderr).splitlines():
        print("      " + line)
    print("      (exit status %d)" % done.returncode)


if __name__ == "__main__":
    main()
