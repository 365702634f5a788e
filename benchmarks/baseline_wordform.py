"""Pure-Python word formation: the list-quoting and conversion rules written
out plainly, as the reference the C++ version is measured against."""

import sys
from _tkinter import Tcl_Obj as _tkTcl_Obj
from collections.abc import Mapping, Sequence, Set

_sysmaxsize = sys.maxsize


def _Tcl_ScanElement(string):
    nestingLevel = 0
    flags = set()
    string = wordform(string)
    length = len(string)
    p = 0
    if length == 0 or string[0] == "{" or string[0] == '"':
        flags.add("USE_BRACES")
    while p < length:
        ch = string[p]
        if ch == "{":
            nestingLevel += 1
        elif ch == "}":
            nestingLevel -= 1
            if nestingLevel < 0:
                flags.update(("TCL_DONT_USE_BRACES", "BRACES_UNMATCHED"))
        elif ch in "[$; \f\n\r\t\v":
            flags.add("USE_BRACES")
        elif ch == "\\":
            if p + 1 == length or string[p + 1] == "\n":
                flags = set(("TCL_DONT_USE_BRACES", "BRACES_UNMATCHED"))
            else:
                flags.add("USE_BRACES")
        p += 1
    if nestingLevel != 0:
        flags = set(("TCL_DONT_USE_BRACES", "BRACES_UNMATCHED"))
    return 2 * p + 2, flags


_ESCAPES = {"\f": "\\f", "\n": "\\n", "\r": "\\r", "\t": "\\t", "\v": "\\v"}


def _Tcl_ConvertElement(src, flags):
    src = wordform(src)
    length = len(src)
    if length == 0:
        return "{}"
    if "USE_BRACES" in flags and "TCL_DONT_USE_BRACES" not in flags:
        return "{" + src + "}"
    dst = ""
    srcidx = 0
    if src[0] == "{":
        dst = "\\{"
        srcidx = 1
        flags.add("BRACES_UNMATCHED")
    while srcidx < length:
        ch = src[srcidx]
        if ch in '][$; \\"':
            dst += "\\" + ch
        elif ch in "{}":
            if "BRACES_UNMATCHED" in flags:
                dst += "\\"
            dst += ch
        elif ch in _ESCAPES:
            dst += _ESCAPES[ch]
        else:
            dst += ch
        srcidx += 1
    return dst


def _tcl_UpdateStringOfList(listObj):
    listObj = [wordform(e) for e in listObj]
    listFlags = [_Tcl_ScanElement(s)[1] for s in listObj]
    return " ".join(_Tcl_ConvertElement(listObj[i], listFlags[i]) for i in range(len(listObj)))


_wordform_from_sequence = _tcl_UpdateStringOfList


def _wordform_from_mapping(obj):
    lst = []
    for key in obj:
        lst.extend((key, obj[key]))
    return _wordform_from_sequence(lst)


def wordform(obj):
    method = getattr(obj, "__wordform__", None)
    if method:
        return method()
    method = getattr(obj, "__tclobj__", None)
    if method:
        return wordform(method())
    if obj is None:
        return ""
    if isinstance(obj, str):
        return str(obj)
    if isinstance(obj, bool):
        return "true" if obj else "false"
    if isinstance(obj, (Sequence, Set)):
        return _wordform_from_sequence(obj)
    if isinstance(obj, Mapping):
        return _wordform_from_mapping(obj)
    return str(obj)


def _tclobj_from_sequence(obj):
    return tuple([tclobj(e) for e in obj])


def _tclobj_from_mapping(obj):
    lst = []
    for key in obj:
        lst.extend((key, obj[key]))
    return _tclobj_from_sequence(lst)


def tclobj(obj):
    method = getattr(obj, "__tclobj__", None)
    if method:
        return method()
    if obj is None:
        return ""
    if isinstance(obj, (bytes, bool, float, str, _tkTcl_Obj)):
        return obj
    if type(obj) is int and -_sysmaxsize - 1 <= obj <= _sysmaxsize:
        return obj
    if isinstance(obj, (Sequence, Set)):
        return _tclobj_from_sequence(obj)
    if isinstance(obj, Mapping):
        return _tclobj_from_mapping(obj)
    return wordform(obj)
