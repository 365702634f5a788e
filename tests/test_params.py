"""Native functions bind their arguments as a Python def of the signature they
show would: the same parameters for inspect.signature, the same errors."""

import importlib
import inspect

import pytest

from oskra.tcl.history import History
from oskra.tcl.interpreter import Interpreter
from oskra.tcl.namespace import TclVariable
from oskra.tcl.nestmap import NestMap

wordform_module = importlib.import_module("oskra.tcl.wordform")  # the package rebinds the name


# Python twins: same qualified names, same signatures.
class twin:
    class History:
        def filter(self, marker=None, count=20, regex=None): ...

        def start_marker(self, marker): ...

    class Interpreter:
        def eval(self, code, typecast=False, record=True): ...

        def create_callback(self, callback, cmd_name=None, force=False): ...

        def cast_list(value, item_cast=None): ...


def _Tcl_ConvertElement(src, flags): ...


twin.History.filter.__qualname__ = "History.filter"
twin.History.start_marker.__qualname__ = "History.start_marker"
twin.Interpreter.eval.__qualname__ = "Interpreter.eval"
twin.Interpreter.create_callback.__qualname__ = "Interpreter.create_callback"
twin.Interpreter.cast_list.__qualname__ = "Interpreter.cast_list"


def _shown(fn):
    """Parameters as (name, default) pairs, kinds left aside."""
    return [(p.name, p.default) for p in inspect.signature(fn).parameters.values()]


PAIRS = [
    (History.filter, twin.History.filter),
    (History.start_marker, twin.History.start_marker),
    (Interpreter.eval, twin.Interpreter.eval),
    (Interpreter.create_callback, twin.Interpreter.create_callback),
    (Interpreter.cast_list, twin.Interpreter.cast_list),
    (wordform_module._Tcl_ConvertElement, _Tcl_ConvertElement),
]


@pytest.mark.parametrize("native, python", PAIRS, ids=lambda f: getattr(f, "__qualname__", ""))
def test_signature_matches_the_python_twin(native, python):
    assert _shown(native) == _shown(python)


def _error(fn, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    return str(info.value)


BAD_CALLS = [
    ((1, 2, 3, 4), {}),
    ((1,), {"marker": 2}),
    ((1,), {"nope": 2}),
    ((1, 2), {"count": 3, "nope": 4}),
]


@pytest.mark.parametrize("args, kwargs", BAD_CALLS)
def test_history_filter_errors_are_pythons(args, kwargs):
    assert _error(History.filter, History(), *args, **kwargs) == _error(
        twin.History.filter, None, *args, **kwargs
    )


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((1, 2, 3), {}),
        # unknown keywords: near a parameter (3.13 names it), by case only, far from all
        ((), {"src": 1, "flag": 2}),
        ((1,), {"FLAGS": 2}),
        ((1,), {"sr": 2}),
        ((1,), {"zzzzzz": 2}),
    ],
)
def test_function_errors_are_pythons(args, kwargs):
    native = wordform_module._Tcl_ConvertElement
    assert _error(native, *args, **kwargs) == _error(_Tcl_ConvertElement, *args, **kwargs)


@pytest.mark.parametrize(
    "method, args",
    [("__getitem__", ("a",)), ("__contains__", ("a",)), ("all_keys", ()), ("__init__", ())],
)
def test_nestmap_methods_refuse_a_foreign_self(method, args):
    fn = NestMap.__dict__[method]
    with pytest.raises(TypeError, match="requires a NestMap"):
        fn({}, *args)
    with pytest.raises(TypeError, match="needs self"):
        fn()


def test_namespace_method_keyword_errors(interp):
    var = TclVariable("::oskra_params_probe", tcl=interp)
    with pytest.raises(TypeError, match="unexpected keyword argument 'nope'"):
        var.set(1, nope=2)
    with pytest.raises(TypeError, match="multiple values for argument 'value'"):
        var.set(1, value=2)
