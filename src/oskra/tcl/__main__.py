"""python -m oskra.tcl: the Tcl console (see oskra.tcl.console)."""

import sys

from oskra.tcl.console import main

if __name__ == "__main__":
    sys.exit(main())
