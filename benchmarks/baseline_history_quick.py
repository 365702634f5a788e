"""Pure-Python call history and quick calls, straight from their algorithms.

The reference point for the benchmark: what a Python developer would write.
"""

import logging
import re
from collections import deque
from tkinter import TclError

from oskra.tcl.wordform import wordform
from oskra.utils.utils import get_time

log = logging.getLogger("oskra.tcl")


class Entry(object):
    def __init__(self, api):
        if not isinstance(api, str):
            api = " ".join("{%s}" % a if " " in a else a for a in api)
        self.timestamp = get_time()
        self.api = api

    def __str__(self):
        return self.timestamp.strftime("%Y-%m-%dT%H:%M:%S.%f") + ": " + str(self.api)

    def __repr__(self):
        return "<Entry '" + str(self) + "' at " + hex(id(self)) + ">"


class History(object):
    __MAX_HISTORY__ = 9999

    def __init__(self, max_history=__MAX_HISTORY__):
        self.__history__ = deque(maxlen=max_history)
        self.__markers__ = {}
        self.__activeMarkers__ = []
        self.enable()

    def enable(self):
        self.enabled = True
        log.debug("TclHistory is enabled.")

    def disable(self):
        self.enabled = False
        log.debug("TclHistory is disabled.")

    def append(self, item):
        log.debug("%% %s", item)
        if not self.enabled:
            return
        entry = Entry(item)
        self.__history__.append(entry)
        for marker in self.__activeMarkers__:
            self.__markers__[marker].append(entry)

    def clear(self, marker=None, clear_all=False):
        if clear_all:
            for deq in self.__markers__.values():
                deq.clear()
            self.__history__.clear()
        elif marker is not None:
            self.__markers__[marker].clear()
        else:
            self.__history__.clear()

    def start_marker(self, marker):
        if marker not in self.__markers__:
            self.__markers__[marker] = deque(maxlen=self.__history__.maxlen)
        self.__activeMarkers__.append(marker)

    def end_marker(self, marker):
        self.__activeMarkers__.remove(marker)

    def filter(self, marker=None, count=20, regex=None):
        if marker is None:
            source = self.__history__
        else:
            try:
                source = self.__markers__[marker]
            except KeyError:
                raise Exception("No such marker: %s" % marker)  # noqa: B904 (as transcribed)
        entries = list(source)[-count:]
        if regex:
            pattern = re.compile(regex)
            entries = [e for e in entries if pattern.search(e.api)]
        return entries

    def __str__(self):
        return str(self.__history__)

    __repr__ = __str__


class Quick_Code(object):
    def __init__(self, *cmd, tcl):
        self.tcl = tcl
        self.cmd = list(cmd)

    def __call__(self, *args, **kwargs):
        cast = kwargs.pop("cast_", True)
        words = ["::".join(self.cmd)]
        for arg in args:
            words.append(wordform(arg))
        for key, value in kwargs.items():
            words.append("-" + key)
            words.append(wordform(value))
        self.tcl.history.append(words)
        try:
            result = self.tcl.tk.call(*words)
        except TclError:
            raise TclError(self.tcl.vars["::errorInfo"]) from None
        if cast:
            return self.tcl.cast_any(result)
        return str(result)

    def __getattr__(self, name):
        self.cmd.append(name)
        return self
