"""Pure-Python TclVariable and TclCommand: the hot paths (reading and
writing a variable, calling a command with keyword options) written out
plainly from their algorithms, as a Python developer would. They use the
package's own wordform/tclobj, as the module written in Python would, so
the comparison measures the glue alone."""

import weakref

from oskra.tcl.wordform import tclobj, wordform


def _interp_ref(tcl):
    if not tcl:
        import oskra.tcl

        tcl = oskra.tcl
    if type(tcl) not in weakref.ProxyTypes:
        tcl = weakref.proxy(tcl)
    return tcl


class TclVariable(object):
    __marker = object()

    def __init__(self, var_name, array_index=None, tcl=None, cast=None):
        self.tcl = _interp_ref(tcl)
        self.cast = cast
        if array_index is None:
            self.var_name = wordform(var_name)
        else:
            self.var_name = wordform(var_name) + "(" + wordform(array_index) + ")"

    def get_obj(self, array_index=None, cast=__marker):
        if array_index is None:
            result = self.tcl.tk.getvar(self.var_name)
        else:
            result = self.tcl.tk.getvar(self.var_name, wordform(array_index))
        if cast is self.__marker:
            cast = self.cast
        if cast:
            result = cast(result)
        return result

    get = get_obj

    def set(self, value, array_index=None):
        if array_index is None:
            self.tcl.tk.setvar(self.var_name, tclobj(value))
        else:
            self.tcl.tk.setvar(self.var_name, wordform(array_index), tclobj(value))


class TclCommand(object):
    def __init__(self, cmd, args=None, keywords=None, tcl=None, cast=None, logger=None):
        import oskra.tcl

        self.tcl = _interp_ref(tcl)
        if args is None:
            if isinstance(cmd, TclCommand):
                cmd = cmd.build_tclcmd()
            elif type(cmd) is not tuple:
                cmd = oskra.tcl.cast_list(cmd)
            args = cmd[1:]
            cmd = cmd[0]
        else:
            args = oskra.tcl.cast_list(args)
            if isinstance(cmd, TclCommand):
                cmd = cmd.build_tclcmd(*args)
                args = cmd[1:]
                cmd = cmd[0]
        self.cmd_name = wordform(cmd)
        self.args = tclobj(args)
        self.keywords = {}
        if keywords:
            for key, value in keywords.items():
                self.keywords[key] = tclobj(value)
        self.cast = cast
        self.logger = logger

    def build_tclcmd(self, *args, **kwargs):
        tclcmd = (self.cmd_name,) + self.args + tclobj(args)
        if kwargs:
            keywords = self.keywords.copy()
            for key, value in kwargs.items():
                keywords[key] = tclobj(value)
        else:
            keywords = self.keywords
        tclcmd += self.kwargs_to_dashed_args(**keywords)
        return tclcmd

    @staticmethod
    def kwargs_to_dashed_args(**kwargs):
        dashed_args = ()
        for key, value in kwargs.items():
            dashed_args += ("-" + key, value)
        return dashed_args

    def call(self, *args, **kwargs):
        tclcmd = self.build_tclcmd(*args, **kwargs)
        if self.logger:
            self.logger.info("Calling: {}".format(wordform(tclcmd)))
        result = self.tcl.tk.call(tclcmd)
        if self.cast:
            result = self.cast(result)
        return result

    def __call__(self, *args, **kwargs):
        return self.call(*args, **kwargs)
