"""tcllib as a real client: every namespace a broad set of packages creates, walked through the
views and the introspection of TclCommand, and real APIs called through quick calls and TclCommand,
with Tcl itself (and Python's json, csv, base64, hashlib) as the oracle."""

import base64
import csv
import hashlib
import io
import json

import pytest

from oskra.tcl.array import Array
from oskra.tcl.namespace import TclCommand, TclNamespace

PACKAGES = [
    "json", "json::write", "csv", "base64", "base32", "md5", "sha1", "sha256", "crc32", "uuid",
    "struct::list", "struct::set", "struct::tree", "struct::graph", "struct::stack", "struct::queue",
    "struct::matrix", "textutil", "textutil::split", "textutil::string", "cmdline", "uri", "ncgi",
    "html", "snit", "logger", "log", "fileutil", "math", "math::statistics", "report", "tie",
    "inifile", "mime", "control", "lambda", "term::ansi::code", "yaml", "markdown", "cron",
]  # fmt: skip


@pytest.fixture(scope="module")
def client(tcllib_interp):
    tk = tcllib_interp.tk
    loaded = [p for p in PACKAGES if tk.eval("catch {package require %s}" % p) == "0"]
    assert len(loaded) >= 30, loaded
    return tcllib_interp


# Tcl rewrites these with every error a caught command leaves behind.
VOLATILE = {"::errorInfo", "::errorCode"}


def all_namespaces(tk, root="::"):
    out = [root]
    for child in tk.splitlist(tk.eval("namespace children %s" % root)):
        out.extend(all_namespaces(tk, child))
    return out


def own(tk, what, ns):
    """The tails of what `info <what>` lists directly in ns (variables: only those that exist)."""
    pattern = ns.rstrip(":") + "::*"
    names = tk.splitlist(tk.call("info", what, pattern))
    if what == "vars":
        names = [n for n in names if tk.call("info", "exists", n)]
    return {tk.call("namespace", "tail", n) for n in names}


def test_every_namespace_reads_as_tcl_lists_it(client):
    tk = client.tk
    mismatches = []
    for name in all_namespaces(tk):
        ns = TclNamespace(name, tcl=client)
        for view, what in ((ns.vars, "vars"), (ns.cmds, "commands"), (ns.procs, "procs")):
            keys = list(view)
            if set(keys) != own(tk, what, name) or not all(type(k) is str and k in view for k in keys):
                mismatches.append((name, what))
        values, typed = dict(ns.vars), dict(ns.objs)
        for key, value in values.items():
            full = name.rstrip(":") + "::" + key
            if full in VOLATILE:
                continue
            if tk.call("array", "exists", full):
                if not isinstance(typed[key], Array) or client.cast_array(value) != typed[key]:
                    mismatches.append((full, "array"))
            elif value != tk.eval("set {%s}" % full.replace("}", "\\}")) if "\0" not in value else False:
                mismatches.append((full, "value"))
        if list(ns.children()) != list(tk.splitlist(tk.call("namespace", "children", name))):
            mismatches.append((name, "children"))
    assert mismatches == []


def test_every_procedure_introspects_as_info_says(client):
    tk = client.tk
    mismatches = []
    for name in all_namespaces(tk):
        for proc in TclNamespace(name, tcl=client).procs:
            full = name.rstrip(":") + "::" + proc
            cmd = TclCommand((full,), tcl=client)
            args = cmd.proc_args()
            if args != tuple(tk.splitlist(tk.eval("info args {%s}" % full))):
                mismatches.append((full, "args"))
            for arg in args:
                has = tk.eval("info default {%s} {%s} ::__d" % (full, arg)) == "1"
                if cmd.proc_arg_default(arg) != (tk.eval("set ::__d") if has else None):
                    mismatches.append((full, arg))
    assert mismatches == []


def test_walking_creates_no_namespace(client):
    before = all_namespaces(client.tk)
    for name in before:
        ns = TclNamespace(name + "::typo", tcl=client)
        assert ns.children() == () and list(ns.vars) == [] and len(ns.cmds) == 0 and ns.export() == ()
    assert all_namespaces(client.tk) == before


DOCS = ['{"a": [1, 2.5, "x y"], "b": {"c": null, "d": true}}', '"0150"', "[]", '{"k": "{braced}"}']


@pytest.mark.parametrize("doc", DOCS)
def test_json_round_trip(client, doc):
    q = client.quick
    text = q.json.json2dict(doc, cast_=False)
    assert text == client.tk.call("json::json2dict", doc) or text == client.tk.eval(
        "json::json2dict {%s}" % doc
    )
    assert json.loads(q.json.write.string("x \"y\" \u00e9")) == 'x "y" \u00e9'
    assert q.json.json2dict('"0150"') == "0150"  # not octal 104


@pytest.mark.parametrize("row", [["a", "b c", 'd"e', ""], ["1,2", " x ", "{y}"]])
def test_csv_against_python(client, row):
    buf = io.StringIO()
    csv.writer(buf, lineterminator="").writerow(row)
    joined = client.quick.csv.join(row, cast_=False)
    assert list(csv.reader([joined]))[0] == row
    assert client.cast_list(client.quick.csv.split(buf.getvalue(), cast_=False)) == tuple(row)


@pytest.mark.parametrize("data", ["plain", "", "\u00e9\u00ff", "x" * 100])
def test_base64_and_digests_against_python(client, data):
    q = client.quick
    raw = data.encode("latin-1")
    assert q.base64.encode("-maxlen", 0, data, cast_=False) == base64.b64encode(raw).decode()
    assert q.base64.decode(base64.b64encode(raw).decode(), cast_=False) == data
    assert q.md5.md5("-hex", data, cast_=False).lower() == hashlib.md5(raw).hexdigest()
    assert q.sha1.sha1("-hex", data, cast_=False) == hashlib.sha1(raw).hexdigest()
    assert TclCommand("::base64::encode", tcl=client).call(data) == client.tk.call("base64::encode", data)


def test_struct_and_text_apis(client):
    q, tk = client.quick, client.tk
    assert q.struct.list("reverse", ["a", "b c"]) == ("b c", "a")
    assert q.struct.list("flatten", ["a", ["b", "c d"]], cast_=False) == "a b {c d}"
    assert q.struct.set("contains", "a {b c}", "b c") == 1
    tree = tk.call("struct::tree")
    tk.call(tree, "insert", "root", "end", "n1")
    tk.call(tree, "set", "n1", "k", "v w")
    serial = q.eval(tree + " serialize", cast_=False)
    assert serial == tk.eval(tree + " serialize")  # no Python repr of a dict or tuple in it
    assert TclCommand(tree, tcl=client).call("serialize") == tk.call(tree, "serialize")
    tk.call(tree, "destroy")
    assert q.textutil.string.uncap("Hello", cast_=False) == "hello"
    parts = client.cast_array(q.uri.split("http://user@example.com:8080/p/a?q=1#f", cast_=False))
    assert (parts["host"], parts["port"], parts["path"]) == ("example.com", "8080", "p/a")
    tk.eval("set ::argvx {-v -n 07 rest}")
    assert q.cmdline.getoptions("::argvx", [["v"], ["n.arg", "5", "n"]], cast_=False) == "n 07 v 1"
    assert client.get_list("::argvx") == ("rest",)


def test_snit_and_logger(client):
    tk = client.tk
    tk.eval('snit::type ::rwdog {option -name rex; method bark {} {return "$options(-name) woof"}}')
    assert client.quick.rwdog("create", "::d1", name="fido") == "::d1"
    assert client.quick.d1("bark") == "fido woof"
    assert TclCommand("::d1", tcl=client).call("cget", "-name") == "fido"
    log = client.quick.logger.init("rwtest")
    assert TclCommand((log + "::info",), tcl=client).exists()
    assert "info" in TclNamespace(log, tcl=client).cmds
