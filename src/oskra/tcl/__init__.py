"""oskra.tcl: drive a Tcl interpreter from Python.

The package itself stands in for the shared interpreter: its public names
(``tk``, ``eval``, the casts, the variable readers and writers, ...) are
those of ``oskra.tcl.interpreter._global_interpreter``, so the classes that
are given no interpreter can use the package as one (through a weak proxy).

The names are bound on first use, not at import, so that importing one
module of the package (``oskra.tcl.wordform``, say) starts no interpreter.
"""

# Importing the submodule binds the package attribute "wordform" to the
# module; rebinding it here makes ``from oskra.tcl import wordform`` the
# function, as scripts expect. (Use importlib.import_module to reach the
# module object itself.)
from oskra.tcl.wordform import wordform, tclobj  # noqa: E402

__all__ = ["wordform", "tclobj"]


def _bind_global_interpreter():
    from oskra.tcl import interpreter

    interp = interpreter._global_interpreter
    namespace = globals()
    for name in interp.__all__:
        namespace.setdefault(name, getattr(interp, name))
    return interp


def __getattr__(name):
    if not name.startswith("_"):
        interp = _bind_global_interpreter()
        if name in interp.__all__:
            return globals()[name]
    raise AttributeError("module 'oskra.tcl' has no attribute %r" % (name,))
