"""Pure-Python interpreter evaluation and casts, straight from their algorithms.

The reference point for the benchmark: what a Python developer would write.
"""

import tkinter
from _tkinter import Tcl_Obj
from tkinter import TclError, Tk

import baseline_history_quick as base_history
from baseline_lists import make_nestmap

from oskra.tcl.array import Array
from oskra.tcl.internal import TclDLL

_splitter = tkinter.Tcl()


def GetListFromAny(value):
    if isinstance(value, (tuple, list)):
        return tuple(value)
    return _splitter.splitlist(value)


def cast_list(value, item_cast=None):
    try:
        result = GetListFromAny(value)
    except TclError as exc:
        raise ValueError(exc) from exc
    if item_cast is not None:
        result = tuple(map(item_cast, result))
    return result


# The keyed-list class of the reference transcription, over this cast_list.
NestMap = make_nestmap(cast_list)


class Interpreter(Tk):
    __MAX_HISTORY__ = 9999

    def __init__(self):
        Tk.__init__(self, useTk=0)
        self.history = base_history.History()
        self.tk.eval("package require Tclx")

    def eval(self, code, typecast=False, record=True):
        if record:
            self.history.append(code)
        try:
            result = self.tk.eval(code)
        except TclError:
            raise TclError(self.tk.call("set", "::errorInfo")) from None
        if typecast:
            result = self.cast_any(result)
        return result

    @staticmethod
    def cast_list(value, item_cast=None):
        return cast_list(value, item_cast)

    def cast_int(self, value):
        try:
            return self.getint(value)
        except TypeError:
            return self.getint(str(value))

    def cast_double(self, value):
        try:
            return self.getdouble(value)
        except TypeError:
            return self.getdouble(str(value))

    def cast_boolean(self, value):
        TclDLL.Tcl_ResetResult(self)
        try:
            try:
                return bool(self.tk.getboolean(value))
            except TypeError:
                return bool(self.tk.getboolean(str(value)))
        except TclError as exc:
            try:
                return self.cast_int(value) != 0
            except ValueError:
                pass
            try:
                return self.cast_double(value) != 0.0
            except ValueError:
                pass
            raise ValueError(exc) from exc

    @staticmethod
    def cast_array(value, item_cast=None):
        result = Array.from_tcl(value)
        if item_cast is not None:
            for key, item in result.items():
                result[key] = item_cast(item)
        return result

    @staticmethod
    def cast_keyed_list(value, item_cast=None):
        result = NestMap.from_tcl(value)
        if item_cast is not None:
            for key, item in result.all_items():
                result[key] = item_cast(item)
        return result

    def cast_any(self, value):
        value_type = type(value)
        if value_type is tuple:
            return self.cast_list(value, item_cast=str)
        if value_type in (int, float, bool):
            return value
        if value_type is Tcl_Obj and value.typename == "keyedList":
            return Interpreter.cast_keyed_list(value)
        value = str(value)
        for cast in (self.cast_int, self.cast_double, self.cast_boolean):
            try:
                return cast(value)
            except (TypeError, ValueError):
                pass
        if value:
            try:
                return Interpreter.cast_keyed_list(value)
            except (TypeError, ValueError):
                pass
        return value
