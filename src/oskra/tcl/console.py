"""A Tcl console and script runner on an Interpreter: ``python -m oskra.tcl``.

    python -m oskra.tcl                   interactive console
    python -m oskra.tcl SCRIPT.tcl [ARG]  run a script (argv0, argv, argc set)
    python -m oskra.tcl -c CODE [ARG]     evaluate CODE, print its result

The console reads until Tcl's ``info complete`` says a command is whole
(so braces and brackets may span lines), prints each result, prints the
full Tcl trace of an error, and ends on ``exit`` or end of input. Line
editing and history come from ``readline`` where Python has it. A script
or ``-c`` code that fails prints its trace on stderr and exits with 1.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Callable, Sequence
from tkinter import TclError
from typing import TextIO

from oskra.tcl.interpreter import Interpreter
from oskra.tcl.wordform import wordform

USAGE = "usage: python -m oskra.tcl [-c CODE | SCRIPT.tcl] [ARG ...]"
PROMPT = "% "
CONTINUATION_PROMPT = "> "


def start(argv0: str, args: Sequence[str], interactive: bool = False) -> Interpreter:
    """A new Interpreter with argv0, argv, argc and tcl_interactive set, and
    an ``exit ?returnCode?`` command (the Tcl layer removes Tcl's own)."""
    interp = Interpreter()
    interp.set_var("::argv0", argv0)
    interp.set_var("::argv", tuple(args))
    interp.set_var("::argc", len(args))
    interp.set_var("::tcl_interactive", int(interactive))

    def exit_command(code: str = "0") -> None:
        status = interp.getint(code)
        flush(interp)
        # Ends the process at once, as Tcl's exit does, wherever it is called
        # from (a catch in Tcl code cannot stop it).
        os._exit(status)

    interp.tk.createcommand("::exit", exit_command)
    return interp


def flush(interp: Interpreter) -> None:
    """Write out what Tcl's and Python's standard channels still buffer."""
    for stream in (sys.stdout, sys.stderr):
        stream.flush()
    interp.tk.eval("flush stdout; flush stderr")


def report_error(error: TclError, stream: TextIO) -> None:
    """Print an error as the interpreter reported it: Tcl's full trace."""
    stream.write(str(error).rstrip("\n") + "\n")
    stream.flush()


def run_code(interp: Interpreter, code: str, show_result: bool) -> int:
    """Evaluate code; 0 on success (the result printed when asked), else the
    trace on stderr and 1."""
    try:
        result = interp.eval(code)
    except TclError as error:
        flush(interp)
        report_error(error, sys.stderr)
        return 1
    flush(interp)
    if show_result and result != "":
        print(result, flush=True)
    return 0


def run_script(path: str, args: Sequence[str]) -> int:
    """Source the script file with argv0 = path and argv = args."""
    interp = start(path, args)
    return run_code(interp, wordform(("source", path)), show_result=False)


class Console:
    """The interactive loop: read a complete command, evaluate it, print."""

    def __init__(self, interp: Interpreter, read: Callable[[str], str] = input, prompts: bool = True) -> None:
        self.interp = interp
        self.read = read
        self.prompts = prompts

    def is_complete(self, text: str) -> bool:
        """Whether text is a whole Tcl command (Tcl's ``info complete``)."""
        return bool(self.interp.getboolean(self.interp.tk.call("info", "complete", text)))

    def read_command(self) -> str:
        """Lines up to a complete Tcl command; EOFError at end of input."""
        lines = [self.read(PROMPT if self.prompts else "")]
        while not self.is_complete("\n".join(lines)):
            lines.append(self.read(CONTINUATION_PROMPT if self.prompts else ""))
        return "\n".join(lines)

    def run(self) -> int:
        """Read, evaluate and print until end of input; the exit status."""
        while True:
            try:
                command = self.read_command()
            except EOFError:
                if self.prompts:
                    print()
                return 0
            except KeyboardInterrupt:
                print("\nKeyboardInterrupt")
                continue
            if command.strip():
                try:
                    run_code(self.interp, command, show_result=True)
                except KeyboardInterrupt:
                    print("\nKeyboardInterrupt")


def banner(interp: Interpreter) -> str:
    """The console's greeting, with the Tcl and TclX versions."""
    versions = interp.tk.eval("list [info patchlevel] [package present Tclx]").split()
    return "oskra.tcl console: Tcl %s with TclX %s. Type exit or end the input (Ctrl-D) to leave." % (
        versions[0],
        versions[1],
    )


def enable_line_editing(interp: Interpreter) -> None:
    """readline editing and history, with Tab completing Tcl command names."""
    try:
        import readline
    except ImportError:
        return

    def complete(text: str, state: int) -> str | None:
        names = sorted(interp.cast_list(interp.tk.call("info", "commands", text + "*")))
        return names[state] if state < len(names) else None

    readline.set_completer(complete)
    readline.set_completer_delims(" \t\n;[]{}\"$")
    readline.parse_and_bind("tab: complete")


def interactive() -> int:
    """The console on standard input: prompts, banner and line editing when
    it is a terminal, plain command after command otherwise."""
    tty = sys.stdin.isatty()
    interp = start(sys.argv[0] if sys.argv else "", [], interactive=tty)
    if tty:
        enable_line_editing(interp)
        print(banner(interp))
    status = Console(interp, prompts=tty).run()
    flush(interp)
    return status


def main(argv: Sequence[str] | None = None) -> int:
    """Entry point of ``python -m oskra.tcl``; returns the exit status."""
    args = list(sys.argv[1:] if argv is None else argv)
    if not args:
        return interactive()
    if args[0] in ("-h", "--help"):
        print(USAGE)
        return 0
    if args[0] == "-c":
        if len(args) < 2:
            print(USAGE, file=sys.stderr)
            return 2
        interp = start("-c", args[2:])
        return run_code(interp, args[1], show_result=True)
    if args[0].startswith("-"):
        print("unknown option: %s\n%s" % (args[0], USAGE), file=sys.stderr)
        return 2
    return run_script(args[0], args[1:])
