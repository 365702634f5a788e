"""Every public module, class, function and method says what it does."""

import importlib
import inspect

import pytest

MODULES = [
    "oskra.tcl.interpreter",
    "oskra.tcl.history",
    "oskra.tcl.wordform",
    "oskra.tcl.nestmap",
    "oskra.tcl.namespace",
    "oskra.tcl.quick",
    "oskra.tcl.array",
    "oskra.tcl.startup",
    "oskra.tcl.internal",
    "oskra.tcl.console",
    "oskra.tcl.pytest_plugin",
]
# Docstrings that only come from the bases count as missing.
BOILERPLATE = {
    getattr(getattr(base, name, None), "__doc__", None) for base in (object, dict) for name in dir(base)
}


def public_objects(module):
    """(qualified name, object) of the module, its classes (nested ones
    too) and their methods, for the names without a leading underscore."""
    names = getattr(module, "__all__", None) or [
        n for n, v in vars(module).items() if getattr(v, "__module__", None) == module.__name__
    ]
    found = []
    classes = []
    for name in names:
        if name.startswith("_"):
            continue
        obj = getattr(module, name)
        found.append((name, obj))
        if isinstance(obj, type):
            classes.append(obj)
    while classes:
        cls = classes.pop()
        for name, attr in vars(cls).items():
            if name.startswith("_"):
                continue
            if isinstance(attr, (staticmethod, classmethod)):
                attr = attr.__func__
            if isinstance(attr, type):
                classes.append(attr)
            if callable(attr) or isinstance(attr, property):
                found.append(("%s.%s" % (cls.__qualname__, name), attr))
    return found


@pytest.mark.parametrize("module_name", MODULES)
def test_every_public_name_has_a_docstring(module_name):
    module = importlib.import_module(module_name)
    assert (module.__doc__ or "").strip(), module_name
    missing = [
        name
        for name, obj in public_objects(module)
        if not (inspect.getdoc(obj) or "").strip() or obj.__doc__ in BOILERPLATE
    ]
    assert missing == []
