"""Pure-Python TclNamespace name algebra and variable views, written out
plainly from their algorithms, as a Python developer would. Like the module
itself they use the package's own wordform/tclobj, so the comparison
measures the namespace code alone."""

import weakref
from collections.abc import MutableMapping
from tkinter import TclError

import baseline_varcmd

from oskra.tcl.wordform import tclobj, wordform


class TclVariable(baseline_varcmd.TclVariable):
    """The variable reads the views use, in plain Python."""

    def get_str(self, array_index=None):
        name = self.var_name
        if array_index is not None:
            name = name + "(" + wordform(array_index) + ")"
        return self.tcl.tk.eval(wordform(("set", name)))

    def exists(self, array_index=None):
        name = self.var_name
        if array_index is not None:
            name = name + "(" + wordform(array_index) + ")"
        return self.tcl.cast_boolean(self.tcl.tk.call(("::info", "exists", name)))


class TclNamespace(object):
    def __init__(self, ns, tcl=None):
        self.ns = wordform(ns)
        if not tcl:
            import oskra.tcl

            tcl = oskra.tcl
        if type(tcl) not in weakref.ProxyTypes:
            tcl = weakref.proxy(tcl)
        self.tcl = tcl
        self.vars = TclNamespace.VariablesView(self)
        self.objs = TclNamespace.ObjectsView(self)

    def call(self, tclcmd, *args):
        if args:
            tclcmd = (tclcmd,) + args
        if self.ns:
            tclcmd = ("namespace", "eval", self.ns, tclcmd)
        return self.tcl.tk.call(tclobj(tclcmd))

    def __str__(self):
        return self.ns

    @staticmethod
    def split(string):
        string = wordform(string)
        absolute = string.startswith("::")
        parts = [p for p in string.split("::") if p]
        for p in parts:
            if ":" in p:
                raise ValueError("Invalid Tcl namespace '%s'" % string)
        if absolute:
            parts.insert(0, "")
        return parts

    @staticmethod
    def normalize(string):
        return "::".join(TclNamespace.split(string))

    @staticmethod
    def join(string, *args):
        string = wordform(string)
        for arg in args:
            arg = wordform(arg)
            if not string or arg.startswith("::"):
                string = arg
            elif arg:
                string = string + "::" + arg
        return TclNamespace.normalize(string)

    class VariablesView(MutableMapping):
        def __init__(self, ns):
            assert isinstance(ns, TclNamespace)
            super(TclNamespace.VariablesView, self).__init__()
            self.ns = ns

        def byref(self, var_name, *args, **kwargs):
            var_type = kwargs.pop("var_type", TclVariable)
            return var_type(TclNamespace.join(self.ns, var_name), *args, tcl=self.ns.tcl, **kwargs)

        def get(self, var_name):
            return self.byref(var_name).get_str()

        def set(self, var_name, value, array_index=None):
            return self.byref(var_name).set(value, array_index=array_index)

        def unset(self, var_name, array_index=None, nocomplain=False):
            self.byref(var_name).unset(array_index=array_index, nocomplain=nocomplain)

        def exists(self, var_name, array_index=None):
            return self.byref(var_name).exists(array_index=array_index)

        def __getitem__(self, name):
            try:
                return self.get(name)
            except (TclError, ValueError) as exc:
                raise KeyError(exc) from exc

        def __contains__(self, name):
            return self.exists(name)

        def __setitem__(self, name, value):
            self.set(name, value)

        def __delitem__(self, name):
            try:
                self.unset(name)
            except TclError as exc:
                raise KeyError(exc) from exc

        def __len__(self):
            return len(list(iter(self)))

        def __iter__(self):
            result = self.ns.call(("::info", "vars"))
            result = self.ns.tcl.cast_list(result)
            for name in result:
                yield name

    class ObjectsView(VariablesView):
        def get(self, var_name, array_index=None):
            return self.byref(var_name).get_obj(array_index=array_index)
