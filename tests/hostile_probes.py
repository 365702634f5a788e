"""Hostile behaviour probes, run in a child interpreter by test_hostile_behaviour.

Each probe calls one public method with an argument (or a field) whose
protocol method -- the one the C++ calls while it works -- changes the
receiver: it assigns every field a fresh object (so that the old one is
freed unless the caller owns it), clears the container being read, or
replaces the cast and the logger. A probe passes when the call returns or
raises an ordinary exception; a crash ends the child and fails the rest.

Run as a script, it runs the probes named on the command line and prints
"ok <name>" after each.
"""

import sys

# --------------------------------------------------------------------------
# Values whose protocol methods run an action first


class Tclobj:
    """__tclobj__ runs the action, then gives a plain word."""

    def __init__(self, action, value="x"):
        self.action, self.value = action, value

    def __tclobj__(self):
        self.action()
        return self.value


class Wordform:
    """__wordform__ runs the action, then gives a plain word (or `value`)."""

    def __init__(self, action, value="x"):
        self.action, self.value = action, value

    def __wordform__(self):
        self.action()
        return self.value


class Word(str):
    """A str whose str(), containment test, comparison and hash run the action."""

    action = staticmethod(lambda: None)

    def __new__(cls, text, action):
        self = super().__new__(cls, text)
        self.action = action
        return self

    def __str__(self):
        self.action()
        return str.__str__(self)

    def __contains__(self, item):
        self.action()
        return str.__contains__(self, item)

    def __eq__(self, other):
        self.action()
        return str.__eq__(self, other)

    def __hash__(self):
        self.action()
        return str.__hash__(self)


class SameHash(str):
    """A key that collides with `name` in a dict: a lookup of `name` compares
    with it, and that comparison runs the action (once)."""

    def __new__(cls, name, action):
        self = super().__new__(cls, fresh(name))
        self.target, self.action = name, action
        return self

    def __hash__(self):
        return hash(self.target)

    def __eq__(self, other):
        action, self.action = self.action, lambda: None
        action()
        return str.__eq__(self, other)


def replace_instance_dict(obj, name):
    """Puts a key colliding with `name` in obj.__dict__ that, when a lookup
    compares with it, gives obj a fresh copy of its dict (without that key)
    and so frees the dict being searched."""

    def action():
        obj.__dict__ = {k: v for k, v in obj.__dict__.items() if type(k) is str}

    # The key goes in first, so that a lookup of `name` meets it first.
    old = obj.__dict__
    absent = object()
    value = old.pop(name, absent)
    key = SameHash(name, lambda: None)
    old[key] = None
    if value is not absent:
        old[name] = value
    key.action = action  # armed once in place
    del old


class Truthy:
    """A cast and a logger whose truth test runs the action."""

    def __init__(self, action):
        self.action = action

    def __bool__(self):
        self.action()
        return True

    def __call__(self, value):
        return value

    def info(self, msg):
        pass


def fresh(text):
    """A str object that only its new holder references."""
    return "".join([text, ""]) + str(len(text))


# --------------------------------------------------------------------------
# What the actions change: every field of the receiver


def replace_command_fields(cmd):
    def action():
        cmd.cmd_name = fresh("::rec")
        cmd.args = (fresh("a"),)
        cmd.keywords.clear()
        cmd.keywords = {fresh("k"): fresh("v")}
        cmd.cast = None
        cmd.logger = None

    return action


def replace_variable_fields(var):
    def action():
        var.var_name = fresh("::other")
        var.cast = None

    return action


def replace_history_fields(hist):
    def action():
        for name in ("__history__", "__markers__", "__activeMarkers__"):
            old = getattr(hist, name)
            old.clear()
        hist.__history__ = type(hist.__history__)(maxlen=3)
        hist.__markers__ = {fresh("m"): type(hist.__history__)()}
        hist.__activeMarkers__ = [fresh("m")]
        hist.enabled = fresh("on")

    return action


# --------------------------------------------------------------------------
# The probes: class x method x the protocol method that mutates


def setup():
    from oskra.tcl.interpreter import Interpreter

    interp = Interpreter()
    interp.eval("proc ::rec {args} {return $args}")
    interp.eval("proc ::dflt {{a 1}} {return $a}")
    interp.eval("array set ::arr {k 1 l 2}")
    return interp


def command(interp, name="::rec"):
    from oskra.tcl.namespace import TclCommand

    cmd = TclCommand(fresh(name), (fresh("a"),), {fresh("o"): fresh("v")}, tcl=interp)
    return cmd


def variable(interp, name="::arr"):
    from oskra.tcl.namespace import TclVariable

    return TclVariable(fresh(name)[:-1], tcl=interp, cast=Truthy(lambda: None))


def command_probes():
    """TclCommand: every method that converts a value, and its fields' own checks."""
    calls = {
        "call": lambda c, v: c.call(v),
        "call_kw": lambda c, v: c.call(o=v),
        "eval": lambda c, v: c.eval(v),
        "build_tclcmd": lambda c, v: c.build_tclcmd(v, z=v),
        "rename": lambda c, v: c.rename(v),
        "proc_arg_default": lambda c, v: c.proc_arg_default(v),
        "str": lambda c, v: (c.__init__(c.cmd_name, (v,), tcl=c.tcl), str(c)),
        "init_keywords": lambda c, v: c.__init__("::rec", keywords={"a": v, "b": v}, tcl=c.tcl),
        "init_args": lambda c, v: c.__init__("::rec", [v, v], tcl=c.tcl),
    }
    probes = {}
    for method, run in calls.items():
        for kind in ("tclobj", "wordform"):

            def probe(run=run, kind=kind, method=method):
                interp = setup()
                cmd = command(interp, "::dflt" if method == "proc_arg_default" else "::rec")
                act = replace_command_fields(cmd)
                run(cmd, Tclobj(act) if kind == "tclobj" else Wordform(act, fresh("a")[:1]))

            probes[f"TclCommand.{method}[{kind}]"] = probe

    def option_key_eq():
        interp = setup()
        cmd = command(interp)
        cmd.keywords = {Word(fresh("o")[:-1], replace_command_fields(cmd)): "v", fresh("p"): "w"}
        cmd.call(o=1)

    def truth(field):
        def probe():
            interp = setup()
            cmd = command(interp)
            setattr(cmd, field, Truthy(replace_command_fields(cmd)))
            cmd.call("x")
            setattr(cmd, field, Truthy(replace_command_fields(cmd)))
            cmd.eval("x")
            setattr(cmd, field, Truthy(replace_command_fields(cmd)))
            repr(cmd)

        return probe

    def instance_dict(name, run):
        def probe():
            interp = setup()
            cmd = command(interp)
            replace_instance_dict(cmd, name)
            run(cmd)

        return probe

    probes["TclCommand.call[option key __eq__]"] = option_key_eq
    probes["TclCommand.__call__[cmd.__dict__ key __eq__]"] = instance_dict("call", lambda c: c("x"))
    probes["TclCommand.call[cmd.__dict__ key __eq__]"] = instance_dict("build_tclcmd", lambda c: c.call("x"))
    probes["TclCommand.call[cast __bool__]"] = truth("cast")
    probes["TclCommand.call[logger __bool__]"] = truth("logger")
    return probes


def variable_probes():
    """TclVariable and TclArrayVariable: every method that converts a value."""
    calls = {
        "set": lambda v, x: v.set(x),
        "set_index": lambda v, x: v.set("1", array_index=x),
        "get_index": lambda v, x: v.get(array_index=x),
        "get_str_index": lambda v, x: v.get_str(x),
        "exists_index": lambda v, x: v.exists(x),
        "unset_index": lambda v, x: v.unset(x, nocomplain=True),
        "array_set": lambda v, x: v.array_set(x),
        "array_get": lambda v, x: v.array_get(x),
        "array_get_str": lambda v, x: v.array_get_str(x),
        "array_names": lambda v, x: v.array_names(x),
        "array_unset": lambda v, x: v.array_unset(x),
        "array_item_byref": lambda v, x: v.array_item_byref(x).get(),
        "init_index": lambda v, x: v.__init__("::arr", x, tcl=v.tcl),
        "mapping_setitem": lambda v, x: v.tcl.arrays["::arr"].__setitem__(x, x),
    }
    probes = {}
    for method, run in calls.items():
        for kind in ("tclobj", "wordform"):

            def probe(run=run, kind=kind):
                interp = setup()
                var = variable(interp)
                act = replace_variable_fields(var)
                value = ("k", "v") if method == "array_set" else "k"
                run(var, Tclobj(act, value) if kind == "tclobj" else Wordform(act, "k"))

            probes[f"TclVariable.{method}[{kind}]"] = probe

    def cast_truth():
        interp = setup()
        var = variable(interp)
        var.cast = Truthy(replace_variable_fields(var))
        var.get("k")

    probes["TclVariable.get[cast __bool__]"] = cast_truth
    return probes


def history_probes():
    """History and Entry: words, markers and the switch."""
    from oskra.tcl.history import Entry, History

    def words(make):
        lst = []
        lst.extend([Word(fresh("a b"), lst.clear), Word(fresh("c"), lst.clear), fresh("d")])
        make(lst)

    def marker(method):
        def probe():
            hist = History()
            hist.start_marker(fresh("m"))
            key = Word(fresh("m")[:-1], replace_history_fields(hist))
            try:
                method(hist, key)
            except (KeyError, ValueError, Exception):
                pass
            hist.append("x")

        return probe

    def switch():
        hist = History()
        hist.enabled = Truthy(replace_history_fields(hist))
        hist.append(["a", "b"])
        str(hist), repr(hist), hist.filter()

    def entry_api():
        e = Entry("x")
        e.api = Word(fresh("api"), lambda: setattr(e, "api", fresh("new")))
        str(e), repr(e)

    def setstate():
        hist = History()
        state = hist.__getstate__()
        state["extra"] = Tclobj(lambda: None)
        hist.__setstate__(state)

    def logger_dict():
        # The history's logger state reads the logger's dict twice; on the
        # second read a key's comparison logs through another logger, which
        # drops the state's hold on the first one's (replaced) dict.
        import logging

        from oskra.tcl import history as module

        hist, saved = History(), module.log
        logger = logging.Logger(fresh("probe"))
        compares = []

        def action():
            compares.append(1)
            if compares == [1, 1]:
                logger.__dict__ = {k: v for k, v in logger.__dict__.items() if type(k) is str}
                module.log = logging.Logger(fresh("other"))
                spare = [{} for _ in range(200)]
                del spare  # Python's free list of dicts is full: the dict is freed for good
                hist.append("nested")

        class EveryTime(SameHash):
            __hash__ = SameHash.__hash__

            def __eq__(self, other):
                action()
                return str.__eq__(self, other)

        old = logger.__dict__
        cache = old.pop("_cache")
        cache[logging.DEBUG] = False  # answered from the cache, without isEnabledFor
        key = EveryTime("_cache", None)
        compares.append(-1)  # the insertion below compares once
        old[key] = None
        old["_cache"] = cache
        compares.clear()
        del old, key
        module.log = logger
        try:
            hist.append("x")
        finally:
            module.log = saved

    return {
        "Entry.__init__[word __contains__]": lambda: words(Entry),
        "History.append[word __contains__]": lambda: words(History().append),
        "History.start_marker[key __eq__]": marker(History.start_marker),
        "History.clear[key __eq__]": marker(lambda h, k: h.clear(marker=k)),
        "History.filter[key __eq__]": marker(lambda h, k: h.filter(marker=k)),
        "History.end_marker[key __eq__]": marker(History.end_marker),
        "History.append[enabled __bool__]": switch,
        "Entry.__str__[api __str__]": entry_api,
        "History.__setstate__[state]": setstate,
        "History.append[logger __dict__ key __eq__]": logger_dict,
    }


def quick_probes():
    """Quick calls: the words the history holds, the name and the interpreter."""
    from oskra.tcl.history import History

    class Keeping(History):
        def append(self, item):
            self.words = item
            return super().append(item)

    def clear_words(interp):
        return lambda: getattr(interp.history, "words", []).clear()

    def held_words(kind):
        def probe():
            interp = setup()
            interp.history = Keeping()
            act = clear_words(interp)
            word = Word(fresh("a b"), act)
            arg = Wordform(lambda: None, word) if kind == "wordform" else word
            interp.quick.rec(arg, arg, opt=arg)
            interp.history.disable()
            interp.quick.rec(arg, arg, opt=arg)

        return probe

    def code_fields():
        interp = setup()
        code = interp.quick.rec

        def act():
            code.cmd = [fresh("rec")]
            code.tcl = interp

        code(Wordform(act), x=Tclobj(act))

    def tuple_word():
        interp = setup()
        arg = Wordform(lambda: None, ("a b", "c"))
        recorded = interp.quick.rec(arg, cast_=False)
        interp.history.disable()
        assert interp.quick.rec(arg, cast_=False) == recorded

    def instance_dict(name):
        def probe():
            interp = setup()
            replace_instance_dict(interp, name)
            interp.quick.rec("a", opt="b")

        return probe

    def quick_repr():
        from oskra.tcl.quick import Quick

        class Target:
            def __repr__(self):
                quick.tcl = None
                return fresh("target")

        target = Target()
        quick = Quick(tcl=target)
        repr(quick)
        quick.tcl = target
        repr(quick)

    return {
        "Quick.__repr__[interpreter __repr__]": quick_repr,
        "Quick_Code.__call__[interp.__dict__ key __eq__, history]": instance_dict("history"),
        "Quick_Code.__call__[interp.__dict__ key __eq__, tk]": instance_dict("tk"),
        "Quick_Code.__call__[word __str__]": held_words("str"),
        "Quick_Code.__call__[__wordform__ returns such a word]": held_words("wordform"),
        "Quick_Code.__call__[fields]": code_fields,
        "Quick_Code.__call__[__wordform__ returns a tuple]": tuple_word,
    }


def interpreter_probes():
    """Interpreter methods that read the instance dict directly."""

    def close(name):
        def probe():
            interp = setup()
            interp.create_callback(lambda: None, "::cb")
            interp.global_ns.cmds["cmd"] = len
            replace_instance_dict(interp, name)
            interp.close()

        return probe

    return {
        f"Interpreter.close[interp.__dict__ key __eq__, {name}]": close(name)
        for name in ("tk", "__callbacks__", "__commands__")
    }


def all_probes():
    probes = {}
    for group in (command_probes, variable_probes, history_probes, quick_probes, interpreter_probes):
        probes.update(group())
    return probes


def main(names):
    probes = all_probes()
    for name in names:
        try:
            probes[name]()
        except Exception as exc:  # an ordinary error is a pass: no crash
            print(f"raised {name}: {type(exc).__name__}", flush=True)
        print(f"ok {name}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])
