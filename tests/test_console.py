"""python -m oskra.tcl: the console under a real pseudo-terminal, scripts and -c."""

import os
import pty
import select
import subprocess
import sys
import time

import pytest

COMMAND = [sys.executable, "-m", "oskra.tcl"]
UP_ARROW = b"\x1b[A"
CTRL_D = b"\x04"


class Terminal:
    """The console on the slave side of a pty; the test types on the master."""

    def __init__(self, *args):
        self.master, slave = pty.openpty()
        env = dict(os.environ, TERM="dumb", PYTHONUNBUFFERED="1")
        self.proc = subprocess.Popen(
            COMMAND + list(args), stdin=slave, stdout=slave, stderr=slave, env=env, close_fds=True
        )
        os.close(slave)
        self.seen = b""

    def expect(self, text, timeout=30):
        """Read until `text` appears; return everything read up to it."""
        want = text.encode() if isinstance(text, str) else text
        deadline = time.monotonic() + timeout
        while want not in self.seen:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                raise AssertionError("%r not seen in %r" % (want, self.seen))
            try:
                chunk = os.read(self.master, 4096)
            except OSError:  # the console ended
                raise AssertionError("%r not seen in %r" % (want, self.seen)) from None
            self.seen += chunk
        head, _, self.seen = self.seen.partition(want)
        return head.decode().replace("\r\n", "\n")

    def type(self, keys):
        os.write(self.master, keys.encode() if isinstance(keys, str) else keys)

    def line(self, text):
        """Type a line and return the output it caused, up to the next prompt."""
        self.type(text + "\n")
        return self.expect("% ")

    def close(self):
        """Wait for the console to end; keep what it wrote until then."""
        try:
            status = self.proc.wait(timeout=30)
            while select.select([self.master], [], [], 1)[0]:
                chunk = os.read(self.master, 4096)
                if not chunk:
                    break
                self.seen += chunk
        except OSError:  # the slave side is closed: all was read
            pass
        finally:
            os.close(self.master)
        return status


@pytest.fixture
def term():
    terminal = Terminal()
    terminal.expect("Ctrl-D) to leave.")
    terminal.expect("% ")
    yield terminal
    if terminal.proc.poll() is None:
        terminal.proc.kill()
        terminal.close()


def test_console_evaluates_prints_and_reports_errors(term):
    assert term.line("set a {1 2}").splitlines()[-1] == "1 2"
    assert term.line("set tcl_interactive").splitlines()[-1] == "1"
    # An incomplete command asks for more with the continuation prompt.
    term.type("proc greet {who} {\n")
    term.expect("> ")
    term.type('    return "hello $who"\n')
    term.expect("> ")
    assert term.line("}").strip() == "}"
    assert term.line("greet [lindex $a 1]").splitlines()[-1] == "hello 2"
    # An error shows Tcl's whole trace, and the console goes on.
    out = term.line("greet")
    assert 'wrong # args: should be "greet who"' in out
    assert "while executing" in out
    assert term.line("keylset k x.y 1; keylget k x.y").splitlines()[-1] == "1"
    # An empty result prints nothing.
    assert term.line("set empty {}").strip() == "set empty {}"


def test_console_history_recalls_with_readline(term):
    pytest.importorskip("readline")
    term.line("set counter 41")
    assert term.line("incr counter").splitlines()[-1] == "42"
    term.type(UP_ARROW + b"\n")  # the last line again, edited by readline
    assert term.expect("% ").splitlines()[-1] == "43"


@pytest.mark.parametrize(
    "leave, status",
    [
        (b"exit\n", 0),
        (b"exit 3\n", 3),
        (CTRL_D, 0),
        (b"puts -nonewline [string toupper unflushed]; exit 4\n", 4),
    ],
    ids=["exit", "exit-code", "end-of-input", "tcl-output-flushed"],
)
def test_console_leaves(term, leave, status):
    term.type(leave)
    assert term.close() == status
    if b"unflushed" in leave:  # Tcl's buffered output is written out first
        assert b"UNFLUSHED" in term.seen


def run(*args, stdin=None):
    return subprocess.run(COMMAND + list(args), input=stdin, capture_output=True, text=True, timeout=60)


def test_script_sees_its_arguments(tmp_path):
    script = tmp_path / "show args.tcl"
    script.write_text('puts "$argv0|$argc|[lindex $argv 1]"\nputs [info script]\n')
    done = run(str(script), "a", "b c")
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["%s|2|b c" % script, str(script)]


@pytest.mark.parametrize(
    "args, status, stdout, stderr",
    [
        (["-c", "expr {6 * 7}"], 0, "42\n", ""),
        (["-c", "set argv", "x y", "z"], 0, "{x y} z\n", ""),
        (["-c", "puts -nonewline hi"], 0, "hi", ""),
        (["-c", "proc f {} {error deep}; f"], 1, "", 'deep\n    while executing\n"error deep"'),
        (["-c", "exit 5"], 5, "", ""),
        (["-c"], 2, "", "usage:"),
        (["--bogus"], 2, "", "unknown option: --bogus"),
    ],
)
def test_code_given_with_c(args, status, stdout, stderr):
    done = run(*args)
    assert done.returncode == status, done.stderr
    assert done.stdout == stdout
    assert stderr in done.stderr


def test_failing_script_exits_non_zero_with_the_trace(tmp_path):
    script = tmp_path / "fail.tcl"
    script.write_text("puts before\nproc check {} {error {device not ready}}\ncheck\nputs after\n")
    done = run(str(script))
    assert done.returncode == 1
    assert done.stdout == "before\n"
    assert done.stderr.startswith("device not ready\n    while executing")
    assert '(file "%s" line 3)' % script in done.stderr


def test_missing_script_is_an_error():
    done = run("/nonexistent/x.tcl")
    assert done.returncode == 1
    assert 'couldn\'t read file "/nonexistent/x.tcl"' in done.stderr


def test_piped_input_runs_without_prompts():
    done = run(stdin="set a 1\nproc p {} {\nreturn [expr {$::a + 1}]\n}\np\nerror oops\nset a\n")
    assert done.returncode == 0
    assert done.stdout == "1\n2\n1\n"
    assert done.stderr.startswith("oops\n")
