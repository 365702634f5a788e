"""Start-up through real Tcl-Init entry points, made on the fly.

Each case writes a small distribution (a ``*.dist-info`` folder with
METADATA and entry_points.txt, plus its module) into a temporary folder and
starts Python on it in a subprocess, so the entry-point discovery and the
import caches of the test process are left alone.
"""

import os
import subprocess
import sys
import textwrap

import pytest

MODULE = textwrap.dedent("""
    import sys
    x = "x"
    def init(interp):
        print("ran init", interp.tk.eval("set ::argc"), flush=True)
        interp.tk.eval("set ::from_init 1")
    def second(interp):
        print("ran second", flush=True)
    def first_only(interp):
        print("ran first_only", flush=True)
""")


def run(tmp_path, entries, script):
    dist = tmp_path / "fake_tcl_init-1.0.dist-info"
    dist.mkdir()
    (dist / "METADATA").write_text("Metadata-Version: 2.1\nName: fake-tcl-init\nVersion: 1.0\n")
    lines = ["[oskra.tcl]"] + ["%s = %s" % e for e in entries]
    (dist / "entry_points.txt").write_text("\n".join(lines) + "\n")
    (tmp_path / "fake_tcl_init_mod.py").write_text(MODULE)
    env = dict(os.environ, PYTHONPATH=str(tmp_path))
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(script)],
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
        cwd=str(tmp_path),
    )


@pytest.mark.parametrize("name", ["init", "tcl_init", "tcl", ""])
def test_accepted_entry_points_run(tmp_path, name):
    proc = run(
        tmp_path,
        [(name, "fake_tcl_init_mod:init")],
        """
        import logging
        logging.basicConfig(level=logging.DEBUG, format="%(name)s|%(message)s")
        from oskra.tcl.interpreter import _global_interpreter as gi, Interpreter
        print("global", gi.tk.eval("set ::from_init"))
        print("fresh", Interpreter().tk.eval("set ::from_init"))
        """,
    )
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.count("ran init 0") == 2  # the global one and the fresh one
    assert "global 1" in proc.stdout and "fresh 1" in proc.stdout
    assert "oskra.tcl.interpreter|Loading Tcl-Init from fake_tcl_init_mod" in proc.stderr


def test_rejected_entry_point_stops_the_loop(tmp_path):
    proc = run(
        tmp_path,
        [
            ("init", "fake_tcl_init_mod:first_only"),
            ("tcl_init_extra", "fake_tcl_init_mod:second"),
            ("tcl", "fake_tcl_init_mod:second"),
        ],
        """
        from oskra.utils.import_utils import get_entry_points
        print([ep.name for ep in get_entry_points("oskra.tcl")])
        try:
            import oskra.tcl.interpreter
        except ValueError as exc:
            print("ValueError:", exc)
        """,
    )
    assert proc.returncode == 0, proc.stderr
    assert "ValueError: Unknown Tcl entrypoint: tcl_init_extra from fake_tcl_init_mod" in proc.stdout
    assert "ran first_only" in proc.stdout
    assert "ran second" not in proc.stdout


def test_entry_point_that_is_not_callable(tmp_path):
    proc = run(
        tmp_path,
        [("tcl_init", "fake_tcl_init_mod:x")],
        """
        try:
            import oskra.tcl.interpreter
        except TypeError as exc:
            print("TypeError:", exc)
        """,
    )
    assert proc.returncode == 0, proc.stderr
    assert "TypeError: Tcl-Init must be callable, got: 'x'" in proc.stdout


def test_no_entry_points_at_all(monkeypatch):
    import oskra.tcl.interpreter as module

    calls = []
    monkeypatch.setattr(module, "get_entry_points", lambda group: calls.append(group) or [])
    interp = module.Interpreter()
    assert calls == ["oskra.tcl"]
    assert interp.tk.eval("namespace exists ::pivotlib") == "0"
    assert interp.tk.eval("package present Tclx")
    assert interp.tk.eval("set ::argc") == "0"


def test_load_entrypoint_failures_propagate(monkeypatch, interp):
    import oskra.tcl.interpreter as module

    class EP:
        name, module = "init", "somewhere"

        def load(self):
            raise ImportError("cannot load")

    monkeypatch.setattr(module, "get_entry_points", lambda group: [EP()])
    with pytest.raises(ImportError, match="cannot load"):
        interp._load_entrypoint()
    EP.name = 3
    with pytest.raises(TypeError):
        interp._load_entrypoint()
