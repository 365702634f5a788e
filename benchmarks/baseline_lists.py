"""Pure-Python versions of the list splitter and of NestMap.

Written as a Python developer would, straight from the algorithms: a
character loop for Tcl's list syntax, and the keyed-list class as plain
methods over ``dict``. The benchmarks measure the package against them and
the property tests use ``make_nestmap`` as the reference for
``NestMap.from_tcl``.
"""

from collections.abc import MutableMapping
from tkinter import TclError

from oskra.datastructures import AttrDict

_SPACE = " \t\n\v\f\r"
_SIMPLE = {"a": "\a", "b": "\b", "f": "\f", "n": "\n", "r": "\r", "t": "\t", "v": "\v"}
_HEX = "0123456789abcdefABCDEF"


def _backslash(s, i, end):
    """The value and length of the backslash sequence at s[i]."""
    if i + 1 >= end:
        return "\\", 1
    c = s[i + 1]
    if c in _SIMPLE:
        return _SIMPLE[c], 2
    if c in "xuU":
        limit = {"x": 2, "u": 4, "U": 8}[c]
        j = i + 2
        value = 0
        while j < end and j - i - 2 < limit and s[j] in _HEX and value <= 0x10FFF:
            value = value * 16 + int(s[j], 16)
            j += 1
        if j == i + 2:
            return c, 2
        if value > 0xFFFF:
            value = 0xFFFD
        return chr(value), j - i
    if c == "\n":
        j = i + 2
        while j < end and s[j] in " \t":
            j += 1
        return " ", j - i
    if "0" <= c <= "7":
        value = int(c)
        j = i + 2
        if j < end and "0" <= s[j] <= "7":
            value = value * 8 + int(s[j])
            j += 1
            if j < end and "0" <= s[j] <= "7" and value < 0x20:
                value = (value * 8 + int(s[j])) & 0xFF
                j += 1
        return chr(value), j - i
    return c, 2


def _collapse(s, start, end):
    out = []
    i = start
    while i < end:
        if s[i] == "\\":
            value, n = _backslash(s, i, end)
            out.append(value)
            i += n
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def split_list(s):
    """The elements of the Tcl list s, as a tuple."""
    if isinstance(s, tuple):
        return s
    if not isinstance(s, str):
        if hasattr(s, "typename"):
            s = str(s)
        else:
            return tuple(s)
    result = []
    n = len(s)
    i = 0
    while True:
        while i < n and s[i] in _SPACE:
            i += 1
        if i >= n:
            break
        c = s[i]
        if c == "{":
            depth = 1
            j = i + 1
            while j < n:
                if s[j] == "\\":
                    j += 2
                    continue
                if s[j] == "{":
                    depth += 1
                elif s[j] == "}":
                    depth -= 1
                    if depth == 0:
                        break
                j += 1
            if j >= n:
                raise TclError("unmatched open brace in list")
            if j + 1 < n and s[j + 1] not in _SPACE:
                raise TclError(
                    'list element in braces followed by "%s" instead of space' % s[j + 1 : j + 21].split()[0]
                )
            result.append(s[i + 1 : j])
            i = j + 1
        elif c == '"':
            j = i + 1
            while j < n and s[j] != '"':
                j += _backslash(s, j, n)[1] if s[j] == "\\" else 1
            if j >= n:
                raise TclError("unmatched open quote in list")
            if j + 1 < n and s[j + 1] not in _SPACE:
                raise TclError(
                    'list element in quotes followed by "%s" instead of space' % s[j + 1 : j + 21].split()[0]
                )
            result.append(_collapse(s, i + 1, j))
            i = j + 1
        else:
            j = i
            while j < n and s[j] not in _SPACE:
                j += _backslash(s, j, n)[1] if s[j] == "\\" else 1
            result.append(_collapse(s, i, j))
            i = j
    return tuple(result)


def tk_cast_list(tk):
    """cast_list over tkinter's own splitter: what a Python module would use."""

    def cast_list(value):
        try:
            return tk.splitlist(value)
        except TclError as exc:
            raise ValueError(exc) from exc

    return cast_list


def make_nestmap(cast_list, keyed_list_typename="keyedList"):
    """The keyed-list class over the given cast_list (GetListFromAny-like)."""

    class NestMap(AttrDict, MutableMapping):
        def __init__(self, *args, **kwargs):
            super().__init__()
            dsc = dict(*args, **kwargs)
            for key, value in dsc.items():
                # blank text is a value of its own; only "" is an empty keyed list
                blank = isinstance(value, str) and value and not value.strip(" \t\n\v\f\r")
                if not isinstance(value, NestMap) and not blank:
                    try:
                        dsc[key] = NestMap(value)
                    except (ValueError, TypeError):
                        pass
            self.update(dsc)

        @staticmethod
        def from_tcl(string):
            pairs = [cast_list(e) for e in cast_list(string)]
            dsc = dict(pairs)
            for key, value in dsc.items():
                # blank text is a value of its own; only "" is an empty keyed list
                blank = isinstance(value, str) and value and not value.strip(" \t\n\v\f\r")
                if not isinstance(value, NestMap) and not blank:
                    try:
                        dsc[key] = NestMap.from_tcl(value)
                    except ValueError:
                        pass
            klist = NestMap()
            klist.update(dsc)
            return klist

        def __getitem__(self, key):
            if "." in key:
                head, rest = key.split(".", 1)
                return super().__getitem__(head)[rest]
            return super().__getitem__(key)

        def __setitem__(self, key, value):
            if getattr(value, "typename", None) == keyed_list_typename:
                value = NestMap.from_tcl(value)
            if "." in key:
                head, rest = key.split(".", 1)
                try:
                    sub = self[head]
                except KeyError:
                    sub = NestMap()
                    super().__setitem__(head, sub)
                else:
                    if not isinstance(sub, NestMap):
                        raise KeyError(_target(head))
                sub[rest] = value
            elif isinstance(value, NestMap):
                try:
                    existing = self[key]
                except KeyError:
                    pass
                else:
                    if not isinstance(existing, NestMap):
                        raise KeyError(_target(key))
                super().__setitem__(key, value)
            else:
                super().__setitem__(key, value)

        def __contains__(self, key):
            if "." in key:
                head, rest = key.split(".", 1)
                if not super().__contains__(head):
                    return False
                return super().__getitem__(head).__contains__(rest)
            return super().__contains__(key)

        def __delitem__(self, key):
            if "." in key:
                head, rest = key.split(".", 1)
                sub = super().__getitem__(head)
                del sub[rest]
                if not sub:
                    super().__delitem__(head)
            else:
                super().__delitem__(key)

        get = MutableMapping.get
        pop = MutableMapping.pop
        setdefault = MutableMapping.setdefault

        def update(self, *args, **kwargs):
            if len(args) > 1:
                raise TypeError("update() takes at most 1 positional arguments ({} given)".format(len(args)))
            if args:
                other = args[0]
                if isinstance(other, NestMap):
                    for path, value in other.all_items():
                        self[path] = value
                else:
                    MutableMapping.update(self, other)
            for key, value in kwargs.items():
                if isinstance(value, NestMap):
                    try:
                        sub = self[key]
                    except KeyError:
                        sub = NestMap()
                        self[key] = sub
                    else:
                        if not isinstance(sub, NestMap):
                            raise KeyError(_target(key))
                    sub.update(value)
                else:
                    self[key] = value

        def all_keys(self):
            ret = []
            for key, value in dict.items(self):
                if isinstance(value, NestMap):
                    ret.extend(key + "." + sub for sub in value.all_keys())
                else:
                    ret.append(key)
            return ret

        def all_items(self):
            ret = []
            for key, value in dict.items(self):
                if isinstance(value, NestMap):
                    ret.extend((key + "." + sub, v) for sub, v in value.all_items())
                else:
                    ret.append((key, value))
            return ret

        has_key = __contains__

    return NestMap


def _target(key):
    return 'target key "%s" is a value, cannot update value against another keyed list' % (key,)
