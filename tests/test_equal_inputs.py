"""Equal inputs are recognised before conversion. Whatever that walk decides, a comparison must
give exactly what converting both inputs gives: the same report, text and errors.

The converting path is reached by handing over the new input's root as an instance of a
subclass of its own type (`cold`). Conversion treats a dict, list, str, int or float subclass
exactly like the type itself, so the trees are the same; the walk over Python objects follows
only exact built-in types, so it stops at once and both inputs are converted."""

from __future__ import annotations

import copy
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from hexalume import Vesperon
from helpers import Err, outcome, typed
from test_properties import documents, similar_documents

UNSUPPORTED = Err(TypeError, "Unsupported Python type for Vesperon")
BAD_KEY = Err(TypeError, "Unsupported dict key type for Vesperon")
NOT_FINITE = Err(ValueError, "Float value is not finite")


class ColdDict(dict):
    pass


class ColdList(list):
    pass


class ColdStr(str):
    pass


class ColdInt(int):
    pass


class ColdFloat(float):
    pass


COLD = {dict: ColdDict, list: ColdList, tuple: ColdList, str: ColdStr, int: ColdInt,
        float: ColdFloat}


def cold(document):
    """The same document with its root as a subclass instance; None and bools stay as they are
    (bool cannot be subclassed, and neither has anything to convert)."""
    kind = COLD.get(type(document))
    return document if kind is None else kind(document)


def restyled(document, flip=False):
    """An equal document of different shape in Python: dict entries in reverse insertion order,
    every other sequence a tuple, fresh container objects throughout, shared leaves."""
    if type(document) is dict:
        return {key: restyled(document[key], not flip) for key in reversed(list(document))}
    if type(document) in (list, tuple):
        items = [restyled(item, not flip) for item in document]
        return tuple(items) if flip else items
    return document


def result_of(call):
    """Everything a user can see of a construction: the report, the text, repr, truth, length,
    or the exception."""
    try:
        comparison = call()
    except BaseException as error:  # noqa: BLE001 - the exception is the outcome
        return ("raised", type(error), str(error))
    return (typed(comparison.to_dict()), comparison.pretty(no_color=True), repr(comparison),
            bool(comparison), len(comparison))


def agree(old, new, **options):
    walked = result_of(lambda: Vesperon(old, new, **options))
    converted = result_of(lambda: Vesperon(old, cold(new), **options))
    assert walked == converted
    return walked


EMPTY = (typed({}), "", "Vesperon({})", False, 0)
OPTION_SETS = st.sampled_from([{}, {"ignore_order": True}, {"verbose_level": 2},
                               {"significant_digits": 2}, {"exclude_paths": ["root['a']"]}])

# Scalars that conversion refuses or treats specially, next to ordinary ones.
awkward_scalars = st.sampled_from([
    None, True, False, 0, 1, -1, 1.0, -0.0, 0.0, 2**63, 2**64 - 1, 2**64, -2**63 - 1, 10**400,
    float("nan"), float("inf"), "", "a", "\u00e9", "\ud800", (), frozenset([1]), b"a"])
awkward_documents = st.recursive(
    awkward_scalars,
    lambda children: st.lists(children, max_size=4) | st.tuples(children, children)
    | st.dictionaries(st.sampled_from(["a", "b", "\ud800", 1, None, (1, 2)]), children,
                      max_size=4),
    max_leaves=20)


@given(similar_documents, similar_documents, OPTION_SETS)
def test_walk_agrees_with_conversion_on_any_pair(old, new, options):
    agree(old, new, **options)


@given(documents, OPTION_SETS)
def test_equal_documents_of_any_shape_give_the_empty_report(document, options):
    assert agree(document, restyled(document), **options) == EMPTY
    assert agree(document, copy.deepcopy(document), **options) == EMPTY
    assert agree(document, document, **options) == EMPTY


@settings(max_examples=300)
@given(awkward_documents, awkward_documents)
def test_walk_agrees_with_conversion_on_awkward_inputs(old, new):
    agree(old, new)
    agree(old, restyled(old))
    agree(old, old)


@pytest.mark.parametrize("old, new, expected", [
    ({"a": 1, "b": [1, 2]}, {"b": (1, 2), "a": 1}, {}),
    ([1, (2, [3])], ((1, [2, (3,)])), {}),
    (0.0, -0.0, {}),
    ({"x": -0.0}, {"x": 0.0}, {}),
    (1, 1.0, {"values_changed": {"root": {"new_value": 1.0, "old_value": 1}}}),
    (True, 1, {"type_changes": {"root": {"new_type": "int", "new_value": 1, "old_type": "bool",
                                         "old_value": True}}}),
    ([1, [2]], (1, (2.0,)), {"values_changed": {"root[1][0]": {"new_value": 2.0,
                                                               "old_value": 2}}}),
    ({"a": 1, "b": 2}, {"b": 2, "c": 1},
     {"dictionary_item_added": ["root['c']"], "dictionary_item_removed": ["root['a']"]}),
    # Same size, keys in another order, one of them not a str: conversion decides.
    ({"a": 1, "b": 2}, {"b": 2, 1: 1},
     {"dictionary_item_added": ["root['1']"], "dictionary_item_removed": ["root['a']"]}),
    ({1: "a"}, {"1": "a"}, {}),
    ({"k": [1, {"x": None}]}, {"k": [1, {"x": False}]},
     {"type_changes": {"root['k'][1]['x']": {"new_type": "bool", "new_value": False,
                                             "old_type": "null", "old_value": None}}}),
    ("\u00e9t\u00e9", "\u00e9t\u00e9", {}),
    (2**64 - 1, 2**64 - 1, {}),
    ([float("nan")], [float("nan")], NOT_FINITE),
    ({"a": float("inf")}, {"a": float("inf")}, NOT_FINITE),
    ("\ud800", "\ud800", UNSUPPORTED),
    ({"\ud800": 1}, {"\ud800": 1}, BAD_KEY),
    ({"a": 1, "\ud800": 1}, {"\ud800": 1, "a": 1}, BAD_KEY),
    ([{1, 2}], [{1, 2}], {}),
    ([b"x"], [b"x"], UNSUPPORTED),
], ids=lambda value: repr(value)[:30])
def test_walk_results(old, new, expected):
    outcome(lambda: Vesperon(old, new).to_dict(), expected)
    outcome(lambda: Vesperon(old, cold(new)).to_dict(), expected)


@pytest.mark.parametrize("make", [
    pytest.param(lambda: [1, float("nan")], id="nan"),
    pytest.param(lambda: {"a": ["\ud800"]}, id="surrogate"),
    pytest.param(lambda: {"a": [1, object()]}, id="object"),
    pytest.param(lambda: {"a": {1: 2}}, id="int_key"),
    pytest.param(lambda: (lambda items: (items.append(items), items)[1])([]), id="contains_itself"),
])
def test_an_object_compared_with_itself_is_still_converted_when_it_must_be(make):
    shared = make()
    assert result_of(lambda: Vesperon(shared, shared)) == result_of(
        lambda: Vesperon(shared, cold(shared)))


def test_options_are_still_read_for_equal_inputs():
    Err(ValueError, "Unsupported option: colour").check(lambda: Vesperon({"a": 1}, {"a": 1},
                                                                         colour=True))
    comparison = Vesperon({"a": [1, 2]}, {"a": (1, 2)}, ignore_order=True, verbose_level=2)
    assert (comparison.to_dict(), comparison.pretty(), repr(comparison), bool(comparison),
            len(comparison)) == ({}, "", "Vesperon({})", False, 0)


class Key:
    """A key equal in hash to "a" whose __eq__ records that it ran."""

    calls: list = []

    def __hash__(self):
        return hash("a")

    def __eq__(self, other):
        Key.calls.append(other)
        return False

    def __str__(self):
        return "a"


class TextKey(str):
    """A str subclass key with an __eq__ of its own."""

    calls: list = []

    def __eq__(self, other):
        TextKey.calls.append(other)
        return str.__eq__(self, other)

    __hash__ = str.__hash__


@pytest.mark.parametrize("key_type", [Key, TextKey])
def test_looking_keys_up_runs_no_python_code(key_type):
    key_type.calls.clear()
    new_key = key_type() if key_type is Key else key_type("a")
    # Keys in another order: the walk would look "a" up in the new dict, where only the odd key
    # shares its hash.
    assert Vesperon({"a": 1, "b": 2}, {"b": 2, new_key: 1}).to_dict() == {}
    assert key_type.calls == []


def nested(depth, leaf):
    document = leaf
    for _ in range(depth):
        document = [document]
    return document


@pytest.mark.parametrize("depth", [255, 256, 257, 300, 20000])
def test_deep_inputs_end_as_conversion_ends(depth):
    agree(nested(depth, 1), nested(depth, 1))
    assert agree(nested(depth, 1), nested(depth, 2)) != EMPTY


def frame_depth():
    depth = 0
    frame = sys._getframe()
    while frame is not None:
        depth += 1
        frame = frame.f_back
    return depth


def test_deep_inputs_near_the_recursion_limit_end_as_conversion_ends():
    limit = sys.getrecursionlimit()
    results = []

    def at_depth(remaining, call):
        if remaining:
            return at_depth(remaining - 1, call)
        return result_of(call)

    try:
        # 300 frames of headroom below the limit, then inputs 50, 150 and 250 levels deep.
        sys.setrecursionlimit(frame_depth() + 400)
        for depth in (50, 150, 250):
            old, new = nested(depth, "x"), nested(depth, "x")
            walked = at_depth(300, lambda: Vesperon(old, new))
            converted = at_depth(300, lambda: Vesperon(old, cold(new)))
            assert walked == converted
            results.append(walked[:2])
    finally:
        sys.setrecursionlimit(limit)
    assert results[0] == (typed({}), "")
    if sys.version_info < (3, 12):  # later versions count native levels apart from Python frames
        assert results[2][:2] == ("raised", RecursionError)
