"""Keyword options of the constructor: accepted values and the field each one reaches, exact
errors, keyword order, and the reading of type groups with and without numpy. What each setting
does to a comparison is pinned by the C++ walk tests."""

from __future__ import annotations

import decimal
import numbers

import pytest

from helpers import Err, index, needs_numpy, np, outcome, report, run_python

SAME = {}
OUT_OF_RANGE = Err(OverflowError, "out of range integral type conversion attempted")
NOT_A_LIST = Err(TypeError, "Expected a list, tuple, or set of strings")


def not_bool(type_name):
    return Err(TypeError, f"'{type_name}' object cannot be converted to 'PyBool'")


def not_a_string(type_name):
    return Err(TypeError, f"'{type_name}' object cannot be converted to 'PyString'")


def not_an_integer(type_name):
    return Err(TypeError, f"'{type_name}' object cannot be interpreted as an integer")


def numpy_like_bool(name="bool_", **namespace):
    """An instance of a type whose qualified name is numpy.<name>."""
    return type(name, (), {"__module__": "numpy", **namespace})()


def raising_bool(self):
    raise ValueError("bool failed")


shadowed = numpy_like_bool("bool", __bool__=lambda self: False)
shadowed.__bool__ = lambda: True  # an instance attribute is not the special method
SWAPPED = {"values_changed": {"root[0]": {"new_value": 2, "old_value": 1}}}
SWAPPED["values_changed"]["root[1]"] = {"new_value": 1, "old_value": 2}


@pytest.mark.parametrize(
    "value, expected",
    [
        (True, {}),
        (1, not_bool("int")),
        (numpy_like_bool(__bool__=lambda self: True), {}),
        (numpy_like_bool("bool", __bool__=lambda self: True), {}),  # numpy 2 names the type bool
        (numpy_like_bool("bool8", __bool__=lambda self: True), not_bool("bool8")),
        (numpy_like_bool(), Err(TypeError, "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion")),
        (numpy_like_bool(__bool__=lambda self: 1), not_bool("int")),
        (numpy_like_bool(__bool__=raising_bool), Err(ValueError, "bool failed")),
        (shadowed, SWAPPED),
        pytest.param(np and np.bool_(False), SWAPPED, marks=needs_numpy),
    ],
)  # fmt: skip
def test_ignore_order_values(value, expected):
    outcome(lambda: report([1, 2], [2, 1], ignore_order=value), expected)


@pytest.mark.parametrize("keyword", ["ignore_numeric_type_changes", "ignore_string_type_changes"])
def test_other_bool_keywords(keyword):
    assert report(1, 1, **{keyword: False}) == {}
    not_bool("int").check(lambda: report(1, 1, **{keyword: 1}))


CHANGED_1_2 = {"values_changed": {"root": {"new_value": 2, "old_value": 1}}}
VALUES_LIST = {"values_changed": ["root"]}


@pytest.mark.parametrize(
    "value, expected",
    [
        (0, VALUES_LIST),
        (255, CHANGED_1_2),
        (index(0), VALUES_LIST),
        (256, OUT_OF_RANGE),
        (2**70, Err(OverflowError)),
        (2.0, not_an_integer("float")),
    ],
)
def test_verbose_level(value, expected):
    outcome(lambda: report(1, 2, verbose_level=value), expected)


PI_CHANGED = {"values_changed": {"root": {"new_value": 3.14201, "old_value": 3.14159}}}


@pytest.mark.parametrize(
    "value, expected",
    [
        (3, SAME),  # 3.14159 and 3.14201 both round to 3.14
        (2**32 - 1, PI_CHANGED),
        (2**32, OUT_OF_RANGE),
        (3.0, not_an_integer("float")),
    ],
)
def test_significant_digits(value, expected):
    outcome(lambda: report(3.14159, 3.14201, significant_digits=value), expected)


NEAR = {"values_changed": {"root": {"new_value": 1.4, "old_value": 1.0}}}


@pytest.mark.parametrize(
    "options, expected",
    [
        ({"atol": index(1)}, SAME),
        ({"atol": None}, NEAR),
        ({"atol": "0.5"}, Err(TypeError, "must be real number, not str")),
        ({"atol": 2**2000}, Err(OverflowError)),
        ({"math_absilon": 0.5}, SAME),
        ({"math_epsilon": 0.1, "math_absilon": 0.5}, SAME),  # the later keyword wins
        ({"math_absilon": 0.5, "math_epsilon": 0.1}, NEAR),
        ({"math_epsilon": 0.5, "math_absilon": None}, NEAR),
        ({"rtol": 0.3}, SAME),
    ],
)
def test_tolerances(options, expected):
    outcome(lambda: report(1.0, 1.4, **options), expected)


ONLY_B = {"values_changed": {"root['b']": {"new_value": 2, "old_value": 1}}}
BOTH = {"values_changed": {f"root['{key}']": {"new_value": 2, "old_value": 1} for key in "ab"}}


class Paths(list):
    pass


@pytest.mark.parametrize(
    "keyword, value, expected",
    [
        ("exclude_paths", ["root['a']"], ONLY_B),
        ("exclude_paths", {"root['a']"}, ONLY_B),
        ("exclude_paths", Paths(["root['a']", "root['a']"]), ONLY_B),
        ("exclude_paths", ["root"], SAME),
        ("include_paths", ["root['b']"], ONLY_B),
        ("include_paths", [], BOTH),
        ("include_paths", "root['b']", NOT_A_LIST),
        ("include_paths", ["root['b']", 1], not_a_string("int")),
        ("include_paths", ["\ud800"], Err(UnicodeEncodeError)),
    ],
)
def test_path_filters(keyword, value, expected):
    outcome(lambda: report({"a": 1, "b": 1}, {"a": 2, "b": 2}, **{keyword: value}), expected)


@pytest.mark.parametrize(
    "options, expected",
    [
        ({"Ignore_Order": True}, Err(ValueError, "Unsupported option: Ignore_Order")),
        ({"ignore_order": 1, "foo": 1}, not_bool("int")),  # only the first bad keyword counts
        ({"foo": 1, "ignore_order": 1}, Err(ValueError, "Unsupported option: foo")),
        ({"verbose_level": -1, "atol": "x"}, OUT_OF_RANGE),
        ({"\ud800": 1}, Err(UnicodeEncodeError)),  # a keyword that is not valid text
    ],
)
def test_first_bad_keyword_in_caller_order(options, expected):
    outcome(lambda: report(1, 2, **options), expected)


# Type groups. A value of each kind, and the Python type that stands for another kind.
SAMPLES = {"Number": 1, "String": "s", "Bool": True, "Null": None, "List": [], "Dict": {}}


def kind_of(item):
    """The value kind a group item stands for, seen through which kind pairs it joins."""
    found = []
    for kind, sample in SAMPLES.items():
        other, other_type = ({}, dict) if kind != "Dict" else (None, type(None))
        if "values_changed" in report(sample, other, ignore_type_in_groups=[(item, other_type)]):
            found.append(kind)
    assert len(found) == 1, found
    return found[0]


def mark_of(item):
    """'int' or 'float' when the item counts as an integer or float type for the numeric flag."""
    joins_float = report(1, 1.0, ignore_type_in_groups=[(item, float)]) == {}
    joins_int = report(1, 1.0, ignore_type_in_groups=[(item, int)]) == {}
    assert not (joins_float and joins_int)
    return "int" if joins_float else "float" if joins_int else None


class MyInt(int):
    pass


class Registered:
    pass


numbers.Number.register(Registered)


def numpy_named(name, module="numpy.fake"):
    return type(name, (), {"__module__": module})


@pytest.mark.parametrize(
    "item, kind, mark",
    [
        (int, "Number", "int"),
        (float, "Number", "float"),
        (bool, "Bool", None),
        (str, "String", None),
        (bytes, "String", None),
        (type(None), "Null", None),
        (list, "List", None),
        (tuple, "List", None),
        (dict, "Dict", None),
        (MyInt, "Number", "float"),  # not int by identity: a numbers.Number subclass
        (Registered, "Number", "float"),
        (numpy_named("UINT16"), "Number", "int"),  # names are read in lower case
        (numpy_named("Thing", module="numpyro.dist"), "Number", "float"),
        pytest.param(np and np.ndarray, "List", None, marks=needs_numpy),
        pytest.param(np and np.array, "List", None, marks=needs_numpy),
        pytest.param(np and np.float64, "Number", "float", marks=needs_numpy),
        pytest.param(np and np.int32, "Number", "int", marks=needs_numpy),
        pytest.param(np and np.number, "Number", "int", marks=needs_numpy),
        pytest.param(np and np.bool_, "Bool", None, marks=needs_numpy),
        pytest.param(np and np.str_, "Number", "float", marks=needs_numpy),
        pytest.param(np and np.matrix, "List", None, marks=needs_numpy),  # an ndarray subclass
    ],
)
def test_type_group_items(item, kind, mark):
    assert (kind_of(item), mark_of(item)) == (kind, mark)


class BadModule:
    pass


BadModule.__module__ = 5
UNSUPPORTED_TYPE = Err(TypeError, "Unsupported type in ignore_type_in_groups")
NOT_GROUPS = Err(TypeError, "Expected a list or tuple of type groups")
NOT_A_GROUP = Err(TypeError, "Each ignore_type_in_groups entry must be a list or tuple of types")
NULL_TO_INT = {"new_type": "int", "new_value": 0, "old_type": "null", "old_value": None}
TYPE_CHANGE = {"type_changes": {"root": NULL_TO_INT}}
VALUE_CHANGE = {"values_changed": {"root": {"new_value": 0, "old_value": None}}}


@pytest.mark.parametrize(
    "groups, expected",
    [
        ([(type(None), int)], VALUE_CHANGE),
        ([[int], [type(None)]], TYPE_CHANGE),  # the kinds must share one group
        ([(set,), 5], UNSUPPORTED_TYPE),  # the first error ends the reading
        ([(int,), "ab"], NOT_A_GROUP),
        ({(int,)}, NOT_GROUPS),
        ([(BadModule,)], not_a_string("int")),
    ],
)
def test_type_groups(groups, expected):
    outcome(lambda: report(None, 0, ignore_type_in_groups=groups), expected)


@pytest.mark.parametrize(
    "options, expected",
    [
        ({"ignore_type_in_groups": [(int, float)]}, SAME),
        ({"ignore_type_in_groups": [(int, float)], "ignore_numeric_type_changes": False}, {"values_changed": {"root": {"new_value": 1.0, "old_value": 1}}}),
        ({"ignore_numeric_type_changes": False, "ignore_type_in_groups": [(int, float)]}, SAME),
        ({"ignore_numeric_type_changes": True, "ignore_type_in_groups": [(int, str)]}, SAME),
        ({"ignore_type_in_groups": [(int,), (float,)]}, {"values_changed": {"root": {"new_value": 1.0, "old_value": 1}}}),
        ({"ignore_type_in_groups": [(decimal.Decimal, int)]}, SAME),
    ],
)  # fmt: skip
def test_groups_switch_numeric_flag_in_keyword_order(options, expected):
    assert report(1, 1.0, **options) == expected


def test_type_groups_without_numpy():
    result = run_python(
        "import sys\n"
        "sys.modules['numpy'] = None  # import numpy now fails\n"
        "from hexalume import Vesperon\n"
        "print(Vesperon(1, 1.0, ignore_type_in_groups=[(int, float)]).to_dict())\n"
        "print(Vesperon([1], {}, ignore_type_in_groups=[[list, tuple, dict]]).to_dict())\n"
        "named = type('ndarray', (), {'__module__': 'numpy'})\n"
        "print(Vesperon([1], {}, ignore_type_in_groups=[(named, dict)]).to_dict())\n"
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "{}",
        "{'values_changed': {'root': {'new_value': {}, 'old_value': [1]}}}",
        "{'values_changed': {'root': {'new_value': {}, 'old_value': [1]}}}",
    ]
