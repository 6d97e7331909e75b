"""The module and the Vesperon class: what the module exposes, argument binding, the order of
construction, repr of long texts, a report independent of its inputs, and the module's
initialisation."""

from __future__ import annotations

import pytest

import hexalume
from helpers import Err, outcome, run_python
from hexalume import Vesperon

UNSUPPORTED = Err(TypeError, "Unsupported Python type for Vesperon")


def test_module_exposes_only_the_class():
    assert hexalume.__all__ == ["Vesperon"]
    assert hexalume.__doc__ == ""
    assert [name for name in dir(hexalume) if not name.startswith("__")] == ["Vesperon"]
    assert hexalume.Vesperon is Vesperon


CHANGED = {"values_changed": {"root": {"new_value": 2, "old_value": 1}}}


def binding(message):
    return Err(TypeError, f"Vesperon.__new__() {message}")


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((1, 2), {}, CHANGED),
        ((), {"t2": 2, "t1": 1}, CHANGED),
        ((1,), {"t2": 2, "verbose_level": 0}, {"values_changed": ["root"]}),
        ((), {"t2": 2}, binding("missing 1 required positional argument: 't1'")),
        ((), {"ignore_order": True}, binding("missing 2 required positional arguments: 't1' and 't2'")),
        ((1, 2, 3), {"t1": 1}, binding("takes 2 positional arguments but 3 were given")),
        ((1,), {"t1": 3}, binding("got multiple values for argument 't1'")),
    ],
)  # fmt: skip
def test_argument_binding(args, kwargs, expected):
    outcome(lambda: Vesperon(*args, **kwargs).to_dict(), expected)


class Recorder:
    """Records that conversion looked at it, then turns out unsupported."""

    def __init__(self, log, name):
        self.log, self.name = log, name

    def __float__(self):
        self.log.append(self.name)
        raise ValueError("not a number")


@pytest.mark.parametrize(
    "t1, t2, options, expected, looked_at",
    [
        ("t1", "t2", {"foo": 1}, UNSUPPORTED, ["t1"]),
        (1, "t2", {"foo": 1}, UNSUPPORTED, ["t2"]),
        (float("nan"), "t2", {"foo": 1}, Err(ValueError, "Float value is not finite"), []),
        (1, 2, {"foo": 1, "ignore_order": 1}, Err(ValueError, "Unsupported option: foo"), []),
    ],
)
def test_inputs_convert_before_options(t1, t2, options, expected, looked_at):
    log = []
    t1 = Recorder(log, "t1") if t1 == "t1" else t1
    t2 = Recorder(log, "t2") if t2 == "t2" else t2
    outcome(lambda: Vesperon(t1, t2, **options), expected)
    assert log == looked_at  # t2 is not converted once t1 has failed


# Long texts are written a slice of 1 MiB at a time; the text reads as the interpreter's repr.
@pytest.mark.parametrize(
    "text",
    [
        "'" * (1 << 20) + "é\x00",  # single quotes only: between double quotes
        "x" * ((1 << 20) - 1) + "€\u202e" * 3,  # characters across a slice boundary
    ],
)
def test_repr_of_long_texts(text):
    assert (
        repr(Vesperon([text], []))
        == f"Vesperon({{'iterable_item_removed': {{'root[0]': {text!r}}}}})"
    )


CHANGED_A0 = {"root['a'][0]": {"new_value": 2, "old_value": 1}}


def test_report_is_independent_of_inputs_and_results():
    old, new = {"a": [1, {"deep": [1]}]}, {"a": [2]}
    comparison = Vesperon(old, new)
    old["a"][1]["deep"].append(5)
    new.clear()
    first, second = comparison.to_dict(), comparison.to_dict()
    removed = {"root['a'][1]": {"deep": [1]}}
    assert first == second == {"iterable_item_removed": removed, "values_changed": CHANGED_A0}
    first["iterable_item_removed"]["root['a'][1]"]["deep"].append(3)
    first.clear()
    assert comparison.to_dict() == second


def test_reimport_in_the_same_interpreter_gives_the_same_module():
    result = run_python(
        "import sys, importlib, hexalume\n"
        "first = hexalume\n"
        "del sys.modules['hexalume']\n"
        "import hexalume\n"
        "importlib.reload(hexalume)\n"
        "assert hexalume is first and hexalume.__all__ == ['Vesperon'], hexalume.__all__\n"
        "print(hexalume.Vesperon(1, 2).to_dict())\n"
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "{'values_changed': {'root': {'new_value': 2, 'old_value': 1}}}\n"


def test_second_interpreter_cannot_initialise_the_module():
    result = run_python(
        "import hexalume\n"
        "try:\n"
        "    import _xxsubinterpreters as interpreters\n"
        "except ImportError:\n"
        "    print('no subinterpreters'); raise SystemExit\n"
        "interpreter = interpreters.create()\n"
        "try:\n"
        "    interpreters.run_string(interpreter, 'import hexalume')\n"
        "except Exception as error:\n"
        "    print(error)\n"
    )
    assert result.returncode == 0, result.stderr
    if result.stdout == "no subinterpreters\n":
        pytest.skip("this Python has no subinterpreter module")
    # From 3.12 on, the interpreter itself refuses a single-phase module in an isolated
    # subinterpreter before our initialisation runs; either way the import fails cleanly.
    assert result.stdout.startswith(
        (
            "<class 'ImportError'>: hexalume may be initialized only once",
            "<class 'ImportError'>: module hexalume does not support loading in subinterpreters",
        )
    ), result.stdout
