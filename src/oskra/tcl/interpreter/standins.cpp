// TEMPORARY STAND-INS for collaborator modules that have not been built yet.
// Each is used only while the real name is missing from its module (see
// interp_private.h: pick()). Delete this file once every module has landed.
#include "interp_private.h"

namespace oskra::interp {

static const char *STANDIN_SOURCE = R"PY(
import tkinter
from collections import deque
from oskra.datastructures import AttrDict

_splitter = tkinter.Tcl()

def GetListFromAny(value):
    if isinstance(value, (tuple, list)):
        return tuple(value)
    return _splitter.splitlist(value)

class TclDLL:
    @staticmethod
    def Tcl_ResetResult(interp):
        return None

def wordform(obj):
    if isinstance(obj, (tuple, list)):
        return tkinter._join(tuple(wordform(x) for x in obj))
    return tkinter._stringify(obj if isinstance(obj, str) else str(obj))

def tclobj(obj):
    if isinstance(obj, (tuple, list)):
        return tuple(tclobj(x) for x in obj)
    if isinstance(obj, (str, int, float)):
        return obj
    return wordform(obj)

def _from_sequence(seq):
    return tuple(tclobj(x) for x in seq)

tclobj.from_sequence = _from_sequence

class History:
    def __init__(self, maxlen=9999):
        self.enabled = True
        self.entries = deque(maxlen=maxlen)
    def append(self, code):
        if self.enabled:
            self.entries.append(code)
    def __len__(self):
        return len(self.entries)

class NestMap(AttrDict):
    @classmethod
    def from_tcl(cls, value):
        result = cls()
        for item in GetListFromAny(value):
            pair = GetListFromAny(item)
            if len(pair) != 2:
                raise ValueError("not a keyed list")
            key, val = pair
            try:
                inner = cls.from_tcl(val) if len(GetListFromAny(val)) > 0 and all(len(GetListFromAny(x)) == 2 for x in GetListFromAny(val)) else None
            except Exception:
                inner = None
            result[key] = inner if inner else val
        return result
    def all_items(self):
        return list(self.items())

class Quick:
    def __init__(self, tcl=None):
        self._tcl = tcl

class TclCommand:
    def __init__(self, name, tcl=None):
        self.name = name if name.startswith("::") else "::" + name
        self.tcl = tcl
    def __str__(self):
        return self.name
    def exists(self):
        return bool(int(self.tcl.tk.eval("llength [info commands %s]" % tkinter._stringify(self.name))))
    def createcommand(self, func):
        self.tcl.tk.createcommand(self.name, func)
    def delete(self):
        self.tcl.tk.call("rename", self.name, "")
    def rename(self, new_name):
        self.tcl.tk.call("rename", self.name, new_name)
        self.name = new_name

class _Cmds:
    def __init__(self, ns):
        self.ns = ns
    def __getitem__(self, name):
        return TclCommand(self.ns._full(name), tcl=self.ns.tcl)

class _Vars:
    def __init__(self, ns):
        self.ns = ns
    def __getitem__(self, name):
        try:
            return self.ns.tcl.tk.call("set", self.ns._full(name))
        except tkinter.TclError as exc:
            raise KeyError(name) from exc
    def __setitem__(self, name, value):
        self.ns.tcl.tk.call("set", self.ns._full(name), tclobj(value))
    def array_get(self, name):
        from oskra.tcl.array import Array
        return Array.from_tcl(self.ns.tcl.tk.call("array", "get", self.ns._full(name)))
    def array_set(self, name, obj):
        words = []
        for k, v in obj.items():
            words += [k, tclobj(v)]
        self.ns.tcl.tk.call("array", "set", self.ns._full(name), tuple(words))

class TclNamespace:
    def __init__(self, name, tcl=None):
        self.name = name
        self.tcl = tcl
        self.vars = _Vars(self)
        self.objs = self.vars
        self.cmds = _Cmds(self)
    def _full(self, name):
        if self.name == "::" and not name.startswith("::"):
            return "::" + name
        return name
)PY";

nb::dict load_standins() {
    nb::dict ns;
    ns["__builtins__"] = nb::module_::import_("builtins");
    ns["__name__"] = "oskra.tcl.interpreter._standins";
    nb::object code = nb::module_::import_("builtins").attr("compile")(STANDIN_SOURCE, "<standins>", "exec");
    nb::module_::import_("builtins").attr("exec")(code, ns);
    return ns;
}

}  // namespace oskra::interp
