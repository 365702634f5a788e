from typing import Final

from oskra.tcl.interpreter import Interpreter

TCL_LIBRARY_DIR: Final[str]

def tcl_init(interp: Interpreter) -> None: ...
