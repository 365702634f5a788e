"""NestMap: dotted key paths, merging, and keyed lists read from and written
to TclX (the oracle)."""

import collections.abc
import os
import sys
import tkinter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import oskra.tcl.nestmap as nestmap_module
from oskra.datastructures import AttrDict
from oskra.tcl.internal import GetListFromAny
from oskra.tcl.nestmap import NestMap
from oskra.tcl.wordform import tclobj, wordform

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "benchmarks"))
import baseline_lists  # noqa: E402


def _cast_list(value):
    try:
        return GetListFromAny(value)
    except tkinter.TclError as exc:
        raise ValueError(exc) from exc


Reference = baseline_lists.make_nestmap(_cast_list)


def plain(obj):
    """A NestMap (ours or the reference) as nested plain dicts."""
    if isinstance(obj, (NestMap, Reference)):
        return {"<nm>": [(k, plain(v)) for k, v in dict.items(obj)]}
    return obj


def outcome(fn, *args):
    try:
        return plain(fn(*args))
    except Exception as exc:  # compared by type and text
        return ("raised", type(exc).__name__, str(exc))


def target_msg(key):
    return 'target key "%s" is a value, cannot update value against another keyed list' % key


class TestShape:
    def test_module_names_in_order(self):
        names = [n for n in vars(nestmap_module) if not n.startswith("__")]
        assert names == ["AttrDict", "MutableMapping", "Tcl_Obj", "tclobj", "NestMap"]
        assert nestmap_module.tclobj is tclobj

    def test_class_body_in_order(self):
        members = [
            n
            for n in vars(NestMap)
            if n
            not in ("__module__", "__doc__", "__dict__", "__weakref__", "__abstractmethods__", "_abc_impl")
        ]
        assert members == [
            "__init__",
            "from_tcl",
            "__getitem__",
            "__setitem__",
            "__contains__",
            "__delitem__",
            "get",
            "pop",
            "setdefault",
            "update",
            "all_keys",
            "all_items",
            "has_key",
            "__tclobj__",
        ]
        assert NestMap.__bases__ == (AttrDict, collections.abc.MutableMapping)
        assert isinstance(vars(NestMap)["from_tcl"], staticmethod)
        assert NestMap.has_key is NestMap.__contains__
        for name in ("get", "pop", "setdefault"):
            assert vars(NestMap)[name] is getattr(collections.abc.MutableMapping, name)

    @pytest.mark.parametrize(
        "name, args",
        [
            ("__getitem__", ("a",)),
            ("__setitem__", ("a", 1)),
            ("__contains__", ("a",)),
            ("__delitem__", ("a",)),
            ("update", ()),
            ("all_keys", ()),
            ("all_items", ()),
            ("__tclobj__", ()),
            ("__init__", ()),
        ],
    )
    @pytest.mark.parametrize("self_", [5, None, {"a": 1}])
    def test_methods_refuse_foreign_self(self, name, args, self_):
        with pytest.raises(TypeError):
            getattr(NestMap, name)(self_, *args)

    def test_attribute_access(self):
        nm = NestMap({"name.first": "x"})
        assert nm.name.first == "x"
        with pytest.raises(AttributeError):
            nm.missing


class TestPaths:
    def test_nested_set_creates_levels(self):
        nm = NestMap()
        nm["a.b.c"] = 1
        assert type(nm["a"]) is NestMap and type(nm["a.b"]) is NestMap
        assert nm.all_keys() == ["a.b.c"] and nm.all_items() == [("a.b.c", 1)]
        assert nm["a.b.c"] == 1 and nm.a.b.c == 1

    def test_leaf_blocks_path(self):
        nm = NestMap(a="x")
        with pytest.raises(KeyError) as info:
            nm["a.b"] = 1
        assert info.value.args == (target_msg("a"),)
        assert nm == {"a": "x"}
        nm["a"] = 2
        assert nm == {"a": 2}

    def test_nestmap_onto_leaf_refused(self):
        nm = NestMap(a="x")
        with pytest.raises(KeyError) as info:
            nm["a"] = NestMap(z=1)
        assert info.value.args == (target_msg("a"),)

    def test_replace_versus_merge(self):
        nm = NestMap({"a.y": 2})
        nm["a"] = NestMap(z=1)
        assert nm.all_items() == [("a.z", 1)]
        nm = NestMap({"a.y": 2})
        nm.update(a=NestMap(z=1))
        assert nm.all_items() == [("a.y", 2), ("a.z", 1)]

    def test_delete_prunes_empty_levels(self):
        nm = NestMap({"a.b.c": 1})
        del nm["a.b.c"]
        assert nm == {}
        nm = NestMap({"a.b.c": 1, "a.d": 2})
        del nm["a.b.c"]
        assert nm.all_items() == [("a.d", 2)]

    @pytest.mark.parametrize(
        "key, expected",
        [
            ("a.b", False),
            ("s.bc", True),
            ("s.zz", False),
            ("n.x", True),
            ("n.q", False),
            ("n", True),
            ("q", False),
        ],
    )
    def test_membership(self, key, expected):
        nm = NestMap({"s": "abcd", "n.x": 1})
        assert (key in nm) is expected
        assert bool(nm.has_key(key)) is expected

    def test_get_pop_setdefault(self):
        nm = NestMap({"a.b": 1, "a.c": 2})
        assert nm.get("a.missing") is None and nm.get("a.b") == 1
        assert nm.pop("a.b") == 1 and nm.pop("a.c") == 2
        assert nm == {}
        assert nm.pop("x", 5) == 5
        assert nm.setdefault("p.q", 3) == 3 and nm["p"] == {"q": 3}

    def test_path_through_string_leaf(self):
        nm = NestMap(s="abc")
        with pytest.raises(TypeError):
            nm["s.x"]
        with pytest.raises(TypeError):
            del nm["s.x"]

    @pytest.mark.parametrize("op", ["get", "set", "contains", "del"])
    def test_non_string_key(self, op):
        nm = NestMap()
        with pytest.raises(TypeError):
            {
                "get": lambda: nm[1],
                "set": lambda: nm.__setitem__(1, 2),
                "contains": lambda: 1 in nm,
                "del": lambda: nm.__delitem__(1),
            }[op]()

    def test_missing_key(self):
        with pytest.raises(KeyError):
            NestMap()["a.b"]
        with pytest.raises(KeyError):
            del NestMap(a=NestMap())["a.b"]


class TestConstruction:
    @pytest.mark.parametrize(
        "value, nested",
        [
            ("", True),
            ([], True),
            ({"x": 1}, True),
            ([("x", 1)], True),
            ("x", False),
            (5, False),
            ("ab cd", False),
            (None, False),
        ],
    )
    def test_values_that_dict_accepts_nest(self, value, nested):
        nm = NestMap(k=value)
        assert (type(nm["k"]) is NestMap) is nested

    def test_dotted_keys_nest(self):
        nm = NestMap({"name.first": "x"}, **{"name.last": "y"})
        assert list(nm) == ["name"] and nm.all_keys() == ["name.first", "name.last"]
        assert wordform(nm) == "{name {{first x} {last y}}}"

    @pytest.mark.parametrize("args", [(1, 2), (1, 2, 3)])
    def test_update_positional_limit(self, args):
        with pytest.raises(TypeError) as info:
            NestMap().update(*args)
        assert str(info.value) == "update() takes at most 1 positional arguments (%d given)" % len(args)

    def test_update_with_nestmap_copies_leaves_only(self):
        nm = NestMap()
        nm.update(NestMap({"a": NestMap(), "b.c": 1}))
        assert nm == {"b": {"c": 1}}

    def test_update_sources(self):
        class KeysOnly:
            def keys(self):
                return ["p.q"]

            def __getitem__(self, key):
                return key.upper()

        nm = NestMap()
        nm.update([("x.y", 1)])
        nm.update(KeysOnly())
        assert nm.all_items() == [("x.y", 1), ("p.q", "P.Q")]

    def test_self_referencing_input(self):
        d = {}
        d["d"] = d
        with pytest.raises(RecursionError):
            NestMap(d)

    def test_plain_dict_stored_as_is_on_assignment(self):
        nm = NestMap()
        nm["a"] = {"b": 1}
        assert type(nm["a"]) is dict


class TestFromTcl:
    @pytest.mark.parametrize(
        "text, expected",
        [
            ("{a 1} {b 2}", {"a": "1", "b": "2"}),
            ("", {}),
            ("{k {}}", {"k": {}}),
            ("{k {x y}}", {"k": "x y"}),
            ("{k {{x 1} {y 2}}}", {"k": {"x": "1", "y": "2"}}),
            ("{k {{x 1} y}}", {"k": "{x 1} y"}),
            ("{a.b 1}", {"a": {"b": "1"}}),
            ("{a 1} {a 2}", {"a": "2"}),
            ("{k \\{}", {"k": "{"}),
            ("a\\ b \"c\\x20{{x 1}}\"", {"a": "b", "c": {"x": "1"}}),
        ],
    )
    def test_examples(self, text, expected):
        assert NestMap.from_tcl(text) == expected

    @pytest.mark.parametrize("text", ["{a", "{a}b {c d}", "{a 1} {b", '{k "x}', "{a b c} {{x}y z}"])
    def test_malformed_list_is_valueerror_from_tclerror(self, text):
        with pytest.raises(ValueError) as info:
            NestMap.from_tcl(text)
        exc = info.value
        assert isinstance(exc.args[0], tkinter.TclError)
        assert exc.__cause__ is exc.args[0] and exc.__suppress_context__

    @pytest.mark.parametrize(
        "text, index, length", [("a", 0, 1), ("{a 1} {b 2 3}", 1, 3), ("{a 1} {}", 1, 0)]
    )
    def test_odd_pairs(self, text, index, length):
        with pytest.raises(
            ValueError,
            match="^dictionary update sequence element #%d has length %d; 2 is required$" % (index, length),
        ):
            NestMap.from_tcl(text)

    def test_conflicting_keys_raise_target_error(self):
        with pytest.raises(KeyError) as info:
            NestMap.from_tcl("{a x} {a.b 1}")
        assert info.value.args == (target_msg("a"),)

    @pytest.mark.parametrize("value", [None, 5, 1.5, object()])
    def test_wrong_types(self, value):
        with pytest.raises(TypeError):
            NestMap.from_tcl(value)

    def test_hostile_text(self):
        assert NestMap.from_tcl("{a\x00 b\x00c}") == {"a\x00": "b\x00c"}
        n = 50_000
        big = NestMap.from_tcl(" ".join("{k%d v%d}" % (i, i) for i in range(n)))
        assert len(big) == n and big["k123"] == "v123"
        deep = "{k " * 5000 + "v" + "}" * 5000
        try:
            NestMap.from_tcl(deep)
        except RecursionError:
            pass

    def test_tcl_obj_value_becomes_nestmap(self, tcl):
        tcl.eval("keylset kl a.b 1 c 2")
        obj = tcl.call("set", "kl")
        assert obj.typename == "keyedList"
        nm = NestMap()
        nm["x"] = obj
        assert nm.all_items() == [("x.a.b", "1"), ("x.c", "2")]
        assert NestMap.from_tcl(obj) == {"a": {"b": "1"}, "c": "2"}


KEY = st.text(alphabet="abcxyz_019", min_size=1, max_size=4)
WORD = st.text(alphabet="abcdefXYZ0123456789-_+=:,!", min_size=1, max_size=6)
TREE = st.recursive(WORD, lambda sub: st.dictionaries(KEY, sub, min_size=1, max_size=4), max_leaves=20)


def leaves(tree, prefix=""):
    for k, v in tree.items():
        if isinstance(v, dict):
            yield from leaves(v, prefix + k + ".")
        else:
            yield prefix + k, v


def tclx_leaves(tcl, var, prefix=""):
    """(path, value) of every leaf, walking the keyed list with keylkeys."""
    out = []
    keys = tcl.call("keylkeys", var, *([prefix[:-1]] if prefix else []))
    for k in tcl.splitlist(keys) if isinstance(keys, str) else keys:
        path = prefix + str(k)
        try:
            tcl.call("keylkeys", var, path)
        except tkinter.TclError:  # a word is not a keyed list: a leaf
            out.append((path, tcl.eval("keylget %s %s" % (var, path))))
        else:
            out.extend(tclx_leaves(tcl, var, path + "."))
    return out


@settings(max_examples=200, deadline=None)
@given(st.dictionaries(KEY, TREE, min_size=1, max_size=5))
def test_keylset_lists_read_back(tcl, tree):
    tcl.eval("unset -nocomplain kl")
    for path, value in leaves(tree):
        tcl.call("keylset", "kl", path, value)
    expected = tclx_leaves(tcl, "kl")
    for source in (tcl.call("set", "kl"), tcl.eval("set kl")):
        nm = NestMap.from_tcl(source)
        assert sorted(nm.all_items()) == sorted(expected)


# Values as TclX stores them: blank text, braces, nested pairs.
BLANKISH = st.one_of(
    st.text(alphabet=" \t\nab", max_size=5),
    st.sampled_from(["", " ", "{}", "{ }", "\\ ", "a b", "{a 1}", "{a 1} {b { }}", "{a {}} {b {{}}}"]),
)


@settings(max_examples=300, deadline=None)
@given(st.dictionaries(KEY, BLANKISH, min_size=1, max_size=5))
def test_values_read_as_keylget_sees_them(tcl, values):
    tcl.eval("unset -nocomplain kl")
    for key, value in values.items():
        tcl.call("keylset", "kl", key, value)
    for source in (tcl.eval("set kl"), tcl.call("set", "kl")):
        nm = NestMap.from_tcl(source)
        for path, leaf in nm.all_items():
            assert leaf == tcl.call("eval", "format %%s [keylget kl %s]" % path)
        for key, value in values.items():
            if value == "":  # TclX cannot tell an empty value from an empty keyed list
                assert nm[key] == NestMap()
        tcl.call("set", "back", wordform(nm))
        for path, leaf in nm.all_items():
            assert leaf == tcl.call("eval", "format %%s [keylget back %s]" % path)


def test_blank_values_stay_text(tcl):
    tcl.eval("unset -nocomplain kl; keylset kl f {} g { } h {\t}")
    nm = NestMap.from_tcl(tcl.eval("set kl"))
    assert nm == {"f": NestMap(), "g": " ", "h": "\t"}
    assert wordform(nm) == "{f {}} {g { }} {h {\t}}"


ANY_TEXT = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=10)
VALUE_TREE = st.recursive(
    ANY_TEXT, lambda sub: st.dictionaries(KEY, sub, min_size=1, max_size=4), max_leaves=20
)


@settings(max_examples=200, deadline=None)
@given(st.dictionaries(KEY, VALUE_TREE, min_size=1, max_size=5))
def test_wordform_read_by_keylget(tcl, tree):
    nm = NestMap(tree)
    for how in ("text", "obj"):
        tcl.call("set", "kl", wordform(nm) if how == "text" else tclobj(nm))
        for path, value in nm.all_items():
            # a fresh string result (eval's own would stop at NUL)
            assert tcl.call("eval", "format %%s [keylget kl %s]" % path) == value


SOUP = st.text(alphabet=list(" {}\\\"ab.x1") + ["\t", "\n"], max_size=30)


def nested_soup():
    pair = st.tuples(st.sampled_from(["a", "b", "a.b", "c.d", "{}", "x y"]), SOUP)
    return st.lists(pair, max_size=5).map(lambda ps: " ".join("{%s %s}" % p for p in ps))


@settings(max_examples=1500, deadline=None)
@given(st.one_of(SOUP, nested_soup()))
def test_from_tcl_equals_reference_algorithm(text):
    assert outcome(NestMap.from_tcl, text) == outcome(Reference.from_tcl, text)


@pytest.mark.parametrize(
    "value",
    [
        (("a", "1"), ("b", "{c 2} {d 3}")),
        [("a.b", "1"), ("a.c", "{x y}")],
        (("a", ("x", "y")),),
        (("a", (("x", "1"),)),),
        (("a", 1),),
        (("a", "1", "2"),),
        ([["k"], "v"],),
        ("{a 1}", "{b 2}"),
    ],
)
def test_sequences_equal_reference(value):
    assert outcome(NestMap.from_tcl, value) == outcome(Reference.from_tcl, value)


OPS = st.lists(
    st.tuples(
        st.sampled_from(["set", "del", "get", "in", "update_kw", "update_nm", "pop"]),
        st.sampled_from(["a", "b", "a.b", "a.c", "a.b.c", "b.x", "c"]),
        st.sampled_from(["v", 1, "", "nm", "nm2"]),
    ),
    max_size=12,
)


@settings(max_examples=500, deadline=None)
@given(OPS)
def test_operations_equal_reference(ops):
    ours, ref = NestMap(), Reference()

    def run(nm, cls, op, key, val):
        if val == "nm":
            val = cls(z=1)
        elif val == "nm2":
            val = cls({"y.w": 2})
        if op == "set":
            nm[key] = val
        elif op == "del":
            del nm[key]
        elif op == "get":
            return nm[key]
        elif op == "in":
            return key in nm
        elif op == "update_kw":
            nm.update(**{key: val})
        elif op == "update_nm":
            nm.update(cls({key: val}))
        elif op == "pop":
            return nm.pop(key, "dflt")
        return None

    for op, key, val in ops:
        assert outcome(run, ours, NestMap, op, key, val) == outcome(run, ref, Reference, op, key, val)
        assert plain(ours) == plain(ref)
        assert [(k, plain(v)) for k, v in ours.all_items()] == [(k, plain(v)) for k, v in ref.all_items()]


def test_hot_operations_do_not_leak():
    import gc
    import tracemalloc

    text = "{a 1} {b {{c 2} {d {x y}}}} {e {}}"

    def work():
        NestMap.from_tcl(text)
        for bad in ("{a", "a b", "{a x} {a.b 1}", 5):
            try:
                NestMap.from_tcl(bad)
            except (ValueError, KeyError, TypeError):
                pass
        nm = NestMap({"p.q": 1}, r="")
        nm["a.b.c"] = "v"
        nm["a.b.c"]
        "a.b.c" in nm and "a.z" in nm
        nm.update(NestMap(k=NestMap(z=1)), k=NestMap(w=2))
        nm.all_items()
        try:
            nm["p.q.r"] = 1
        except KeyError:
            pass
        del nm["a.b.c"]
        GetListFromAny("a {b c} \"d\\te\" \\u00e9")
        try:
            GetListFromAny("{a}b")
        except tkinter.TclError:
            pass

    for _ in range(200):
        work()
    gc.collect()
    tracemalloc.start()
    try:
        start = tracemalloc.get_traced_memory()[0]
        for _ in range(3000):
            work()
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    assert grown < 100_000
