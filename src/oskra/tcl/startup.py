"""The package's own Tcl-Init entry point."""

import os

TCL_LIBRARY_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tcl")


def tcl_init(interp):
    """Put the bundled Tcl folder on ``auto_path`` and load pivotlib."""
    interp.tk.call("lappend", "::auto_path", TCL_LIBRARY_DIR)
    interp.tk.call("package", "require", "pivotlib")
