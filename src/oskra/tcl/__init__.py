"""oskra.tcl: drive a Tcl interpreter from Python.

The package itself stands in for the shared interpreter: its public names
(``tk``, ``eval``, the casts, the variable readers and writers, ...) are
those of ``oskra.tcl.interpreter._global_interpreter``, so the classes that
are given no interpreter can use the package as one (through a weak proxy).

The names are bound on first use, not at import, so that importing one
module of the package (``oskra.tcl.wordform``, say) starts no interpreter.
"""

import importlib

# Imported here so that the names stay the functions: importing the
# submodule of the same name later does not rebind a package attribute.
from oskra.tcl.wordform import tclobj, wordform

__all__ = ["wordform", "tclobj"]

# Submodules are found by the import system, never by the interpreter.
_SUBMODULES = frozenset(
    (
        "array",
        "console",
        "history",
        "internal",
        "interpreter",
        "namespace",
        "nestmap",
        "pytest_plugin",
        "quick",
        "startup",
        "tcl",
    )
)


def _bind_global_interpreter():
    interp = importlib.import_module("oskra.tcl.interpreter")._global_interpreter
    namespace = globals()
    for name in interp.__all__:
        namespace.setdefault(name, getattr(interp, name))
    return interp


def __getattr__(name):
    if not name.startswith("_") and name not in _SUBMODULES:
        interp = _bind_global_interpreter()
        if name in interp.__all__:
            return globals()[name]
    raise AttributeError("module 'oskra.tcl' has no attribute %r" % (name,))
