"""The package on its platform: the Tcl library it binds to, the recursion
bound on every supported Python, and the build pins."""

import os
import re
import shutil
import subprocess
import sys
import tomllib
from importlib import import_module

import pytest

from oskra.tcl.namespace import TclVariable
from oskra.tcl.nestmap import NestMap
from oskra.tcl.wordform import tclobj, wordform

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODULES = ["internal", "history", "wordform", "nestmap", "quick", "interpreter", "namespace"]


@pytest.mark.skipif(shutil.which("readelf") is None, reason="readelf is not installed")
@pytest.mark.parametrize("name", MODULES)
def test_modules_do_not_link_a_tcl_library(name):
    """Direct Tcl calls go through the stub table of _tkinter's own Tcl, so a
    module never loads a second Tcl library into the process."""
    path = import_module(f"oskra.tcl.{name}").__file__
    dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic)
    assert needed, f"no NEEDED entries read from {path}"
    assert not [lib for lib in needed if lib.startswith("libtcl")]


def nested_list(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


def nested_map(depth):
    nm = NestMap()
    nm[".".join(["k"] * depth)] = 1
    return nm


@pytest.mark.parametrize(
    "first_read, expected",
    [
        ("len(TclNamespace('::g', tcl=i).cmds)", 2),
        ("sorted(TclNamespace('::g', tcl=i).procs)", ["a", "b"]),
        ("i.quick.list('a', 'b c', cast_=False)", "a {b c}"),
        ("i.get_var('::v')", "0x10"),
        ("TclVariable('::v', tcl=i).get_str()", "0x10"),
    ],
)
def test_first_read_of_a_result_in_a_fresh_process(first_read, expected):
    """Each module binds to the Tcl library at its first direct use, which
    runs a package require in the interpreter: the result the read is about
    to take must survive it."""
    script = (
        "from oskra.tcl.interpreter import Interpreter\n"
        "from oskra.tcl.namespace import TclNamespace, TclVariable\n"
        "i = Interpreter()\n"
        "i.tk.eval('namespace eval ::g {proc a {} {}; proc b {} {}}; set ::v 0x10')\n"
        f"print(repr({first_read}))\n"
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == repr(expected)


@pytest.mark.parametrize(
    "convert, build",
    [
        (wordform, nested_list),
        (tclobj, nested_list),
        (wordform, nested_map),
        (NestMap.all_items, nested_map),
    ],
)
def test_recursion_bound_follows_the_recursion_limit(convert, build):
    """The C++ recursion stops at sys.getrecursionlimit() on every Python
    (3.13 alone would let it run to its much larger C limit)."""
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(old + 300)
    try:
        convert(build(150))  # well below the limit: fine
        with pytest.raises(RecursionError):
            convert(build(old + 400))
    finally:
        sys.setrecursionlimit(old)


class WordformReturnsItself:
    def __wordform__(self):
        return self

    def __str__(self):
        return "itself"


@pytest.mark.parametrize(
    "call",
    [
        lambda var, index: var.set("value", array_index=index),
        lambda var, index: var.get_str(index),
        lambda var, index: var.get(index),
    ],
)
def test_element_index_with_non_str_word_form(interp, call):
    """An index whose __wordform__ returns no str names no element: a
    TypeError from every method (reading it once crashed)."""
    interp.eval("set arr(itself) value")
    with pytest.raises(TypeError):
        call(TclVariable("arr", tcl=interp), WordformReturnsItself())


def requirement_pins():
    pins = {}
    with open(os.path.join(ROOT, "scripts", "dev-requirements.txt")) as f:
        for line in f:
            line = line.split("#")[0].strip()
            if line:
                name, spec = re.match(r"([A-Za-z0-9_.-]+)(.*)", line).groups()
                pins[name.lower()] = spec.replace(" ", "")
    return pins


@pytest.mark.skipif(not os.path.exists(os.path.join(ROOT, "pyproject.toml")), reason="no source tree")
def test_build_pins_agree():
    """The set-up installs the same build tools the package declares."""
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        project = tomllib.load(f)
    pins = requirement_pins()
    declared = dict(
        re.match(r"([A-Za-z0-9_.-]+)(.*)", r).groups() for r in project["build-system"]["requires"]
    )
    assert {name: pins[name] for name in declared} == declared
    skbuild = project["tool"]["scikit-build"]
    assert skbuild["cmake"]["version"] == pins["cmake"]
    assert skbuild["ninja"]["version"] == pins["ninja"]
    for req in project["project"]["optional-dependencies"]["test"]:
        name, spec = re.match(r"([A-Za-z0-9_.-]+)(.*)", req).groups()
        assert pins[name] == spec
