"""Two shortcuts must never show: equal inputs are recognised before conversion, and the new
input is converted against the old one's tree, taking over its nodes wherever the two agree.
Whatever either decides, a comparison must give exactly what converting both inputs on their
own gives: the same report, text and errors.

That plain path is reached by handing over the new input's root as an instance of a subclass of
its own type (`cold`). Conversion treats a dict, list, str, int or float subclass exactly like
the type itself, so the trees are the same; the walk over Python objects follows only exact
built-in types, so it stops at once, and conversion reads the new input against the old tree
only through exact built-in containers, so nothing below the root is taken over."""

from __future__ import annotations

import copy
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from test_properties import documents, similar_documents

from helpers import Err, nested, typed
from hexalume import Vesperon

COLD = {kind: type(f"Cold{kind.__name__}", (kind,), {}) for kind in (dict, list, str, int, float)}
COLD[tuple] = COLD[list]


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
    return (
        typed(comparison.to_dict()),
        comparison.pretty(no_color=True),
        comparison.pretty(no_color=True, context=2),
        repr(comparison),
        bool(comparison),
        len(comparison),
    )


def agree(old, new, **options):
    walked = result_of(lambda: Vesperon(old, new, **options))
    converted = result_of(lambda: Vesperon(old, cold(new), **options))
    assert walked == converted
    return walked


EMPTY = (typed({}), "", "", "Vesperon({})", False, 0)
OPTIONS = [{}, {"ignore_order": True}, {"verbose_level": 2}, {"significant_digits": 2}]
OPTION_SETS = st.sampled_from([*OPTIONS, {"exclude_paths": ["root['a']"]}])

# Scalars that conversion refuses or treats specially, next to ordinary ones.
AWKWARD = [None, True, False, 0, 1, -1, 1.0, -0.0, 0.0, 2**63, 2**64 - 1, 2**64, -(2**63) - 1]
AWKWARD += [10**400, float("nan"), float("inf"), "", "a", "\u00e9", "\ud800", (), frozenset([1])]
AWKWARD.append(b"a")
awkward_scalars = st.sampled_from(AWKWARD)
awkward_documents = st.recursive(
    awkward_scalars,
    lambda children: (
        st.lists(children, max_size=4)
        | st.tuples(children, children)
        | st.dictionaries(
            st.sampled_from(["a", "b", "\ud800", 1, None, (1, 2)]), children, max_size=4
        )
    ),
    max_leaves=20,
)


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


def edited(document, edits, rng):
    """A deep copy of `document` with `edits` random changes at random depths: a leaf replaced,
    a member removed or added, a list cut short or extended, a list turned into a tuple."""
    document = copy.deepcopy(document)
    for _ in range(edits):
        document = edit_once(document, rng)
    return document


def edit_once(node, rng):
    if type(node) is dict and node and rng.random() < 0.7:
        key = rng.choice(list(node))
        choice = rng.random()
        if choice < 0.5:
            node[key] = edit_once(node[key], rng)
        elif choice < 0.75:
            del node[key]
        else:
            node[key + "x"] = fresh_leaf(rng)
        return node
    if type(node) is list and node and rng.random() < 0.7:
        choice = rng.random()
        if choice < 0.5:
            index = rng.randrange(len(node))
            node[index] = edit_once(node[index], rng)
        elif choice < 0.65:
            del node[rng.randrange(len(node)) :]
        elif choice < 0.8:
            node.append(fresh_leaf(rng))
        else:
            return tuple(node)
        return node
    return fresh_leaf(rng)


def fresh_leaf(rng):
    return copy.deepcopy(rng.choice(SMALL_LEAVES))


SMALL_LEAVES = [None, True, 0, 1, 1.0, -0.0, 2**64, 2**64 + 1, "", "a", "b", [], {}, [1], {"a": 1}]


@settings(max_examples=300)
@given(
    similar_documents,
    st.integers(min_value=1, max_value=4),
    st.randoms(use_true_random=False),
    OPTION_SETS,
)
def test_a_document_against_its_edited_copy_agrees_with_conversion(document, edits, rng, options):
    agree(document, edited(document, edits, rng), **options)


# Changes of every kind between small documents are generated above, awkward values included;
# these are the inputs they rarely draw.
@pytest.mark.parametrize(
    "old, new",
    [
        pytest.param([{"a": "x"}] * 40 + [{"a": "y"}], [{"b": "z"}] * 40 + [{"a": "y"}], id="many different items, then equal ones"),
        pytest.param(list(range(100)), list(range(99, -1, -1)), id="reversed"),
        # Same size, keys in another order, one of them not a str: conversion decides.
        pytest.param({"a": 1, "b": 2}, {"b": 2, 1: 1}, id="reordered, int key"),
        pytest.param({"a": 1, "\ud800": 1}, {"\ud800": 1, "a": 1}, id="reordered, bad key"),
        pytest.param({"a": "x", "1": "y"}, {"1": "x", 1: "y", "a": "x"}, id="int key wins"),
        # Small dicts are built from the keys their pairing noted, larger ones read again.
        pytest.param({f"k{i}": i for i in range(16)}, {f"k{i}": i + (i == 15) for i in range(16)}, id="16 members, last differs"),
        pytest.param({f"k{i}": i for i in range(17)}, {f"k{i}": i + (i == 16) for i in range(17)}, id="17 members, last differs"),
    ],
)  # fmt: skip
def test_taking_over_the_old_tree_changes_nothing(old, new):
    for options in ({}, {"ignore_order": True}, {"verbose_level": 2}):
        agree(old, new, **options)


def by_address_descending(items):
    return sorted(items, key=id, reverse=True)


def large_pairs():
    """Inputs long enough for the paths that only long lists and wide dicts take: member search
    instead of a scan, lists read by address, counting by address under ignore_order."""
    keys = [f"key{i:05d}" for i in range(3000)]
    old_dict = {key: [i, str(i)] for i, key in enumerate(keys)}
    new_dict = {key: [i, str(i)] for i, key in reversed(list(enumerate(keys)))}
    new_dict["key00007"] = [7, "changed"]
    del new_dict["key02999"]
    new_dict["extra"] = None
    records = by_address_descending([{"id": i, "tags": [str(i)]} for i in range(3000)])
    same_order = [{"id": r["id"], "tags": list(r["tags"])} for r in records]
    return [
        pytest.param(old_dict, new_dict, id="wide dicts"),
        pytest.param(list(range(5000)) + [0], list(range(5000)) + [1], id="long list, last"),
        pytest.param(
            {"list": same_order, "x": 1},
            {"list": records, "x": 2},
            id="scattered, equal to the old list",
        ),
        pytest.param(same_order[:-1] + [{"id": -1}], records, id="scattered, last differs"),
        pytest.param(records, same_order, id="scattered old list"),
    ]


@pytest.mark.parametrize("old, new", large_pairs())
def test_large_inputs_agree_with_conversion(old, new):
    for options in ({}, {"ignore_order": True}):
        agree(old, new, **options)


class Shuffler:
    """An export method that reorders and extends a list after it was converted."""

    def __init__(self, target):
        self.target = target

    def dict(self):
        self.target.reverse()
        self.target.append("late")
        return {"shuffled": True}


def test_the_old_tree_is_what_was_read_even_when_its_objects_change_later():
    items = [1, [2, 3], "x"]
    old = {"items": items, "z": None}
    new = {"items": [1, [2, 3], "x"], "y": Shuffler(items), "z": None}
    expected = {"dictionary_item_added": ["root['y']"]}
    assert Vesperon(old, new).to_dict() == expected
    assert items == ["x", [2, 3], 1, "late"]
    # The list, now changed, against a copy of itself as it was: the changes show.
    assert Vesperon(items, [1, [2, 3], "x"]).to_dict() == {
        "iterable_item_removed": {"root[3]": "late"},
        "type_changes": {
            "root[0]": {"new_type": "int", "new_value": 1, "old_type": "str", "old_value": "x"},
            "root[2]": {"new_type": "str", "new_value": "x", "old_type": "int", "old_value": 1},
        },
    }


def test_a_list_that_holds_itself_is_still_converted():
    # Values that conversion refuses, compared with themselves: the awkward inputs above.
    shared = []
    shared.append(shared)
    agree(shared, shared)


def test_options_are_still_read_for_equal_inputs():
    Err(ValueError, "Unsupported option: colour").check(
        lambda: Vesperon({"a": 1}, {"a": 1}, colour=True)
    )
    comparison = Vesperon({"a": [1, 2]}, {"a": (1, 2)}, ignore_order=True, verbose_level=2)
    assert result_of(lambda: comparison) == EMPTY


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


@pytest.mark.parametrize("depth", [256, 257, 20000])
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
