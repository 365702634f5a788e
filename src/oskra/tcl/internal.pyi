from typing import Any

def GetListFromAny(value: object) -> tuple[Any, ...]: ...

class TclDLL:
    @staticmethod
    def Tcl_ResetResult(interp: object) -> None: ...
