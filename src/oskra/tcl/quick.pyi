import weakref as weakref
from tkinter import TclError as TclError
from typing import Any, Literal, NoReturn, overload

from typing_extensions import disjoint_base

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.wordform import wordform as wordform

@disjoint_base
class Quick:
    tcl: Interpreter
    def __init__(self, tcl: Interpreter) -> None: ...
    def __getattr__(self, name: str, /) -> Quick_Code: ...
    def __call__(self, *args: object, **kwargs: object) -> NoReturn: ...

@disjoint_base
class Quick_Code:
    tcl: Interpreter
    @property
    def cmd(self) -> list[str]: ...
    def __init__(self, *cmd: str, tcl: Interpreter) -> None: ...
    @overload
    def __call__(self, *args: object, cast_: Literal[False], **kwargs: object) -> str: ...
    @overload
    def __call__(self, *args: object, cast_: bool = True, **kwargs: object) -> Any: ...
    def __getattr__(self, name: str, /) -> Quick_Code: ...
