"""Exactness: integers of any size keep their value, `ignore_order` matches equal values only,
and two positions never silently share one report entry."""

from __future__ import annotations

import decimal
import math
import random
import sys

import pytest

from helpers import Err, converted, outcome, report
from hexalume import Vesperon

BIG = 2**70


def changed(old, new, path="root"):
    return {"values_changed": {path: {"new_value": new, "old_value": old}}}


def moved(added, removed):
    return {"iterable_item_added": added, "iterable_item_removed": removed}


@pytest.mark.parametrize(
    ("t1", "t2", "options", "expected"),
    [
        (BIG, BIG + 12345, {}, changed(BIG, BIG + 12345)),
        (-(2**63) - 1, -(2**63) - 2, {}, changed(-(2**63) - 1, -(2**63) - 2)),
        ({"a": 10**400}, {"a": 10**400 + 1}, {}, changed(10**400, 10**400 + 1, "root['a']")),
        ([2**128 + 1, -(10**30)], [2**128 + 1, -(10**30)], {}, {}),
        (10**30, float(10**30), {}, changed(10**30, 1e30)),  # an int never equals a float
        # the numeric rules see true values (each rule's edges: tests/cpp/engine_walk_test.cpp)
        (2**60, 2**60 + 1, {"atol": 0.5}, changed(2**60, 2**60 + 1)),
        (10**400, 10**400 + 1, {"atol": 1e308}, {}),
        # one object met three times, against an equal int that is another object
        ([BIG**2] * 3, [BIG**2, BIG**2 + 1, BIG**2], {}, changed(BIG**2, BIG**2 + 1, "root[1]")),
    ],
)
def test_integers_keep_their_value(t1, t2, options, expected):
    assert report(t1, t2, **options) == expected


class LyingInt(int):
    """An int whose methods lie about its value: only the value itself may be read."""

    def to_bytes(self, *args, **kwargs):
        return b"\x01"

    def bit_length(self):
        return 1

    def __neg__(self):
        return 1

    def __abs__(self):
        return 1


@pytest.mark.parametrize(
    "value",
    [2**64, -(10**5000) - 7, 2**20000 + 1, LyingInt(-(2**100) - 3)],
    ids=["2**64", "-(10**5000)-7", "2**20000+1", "subclass"],
)
def test_integers_come_back_exactly(value):
    outcome(lambda: converted(value), int(value))


@pytest.mark.skipif(not hasattr(sys, "set_int_max_str_digits"), reason="no int/str digit limit")
@pytest.mark.parametrize("value", [10**1000 + 1, -(3**60000) - 1], ids=["1001 digits", "28628"])
def test_the_interpreter_digit_limit_does_not_apply(value):
    limit = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(0)
    text = str(value)
    sys.set_int_max_str_digits(640)
    try:
        assert converted(value) == value
        diff = Vesperon([value], [value + 1]).to_dict()
        assert diff == changed(value, value + 1, "root[0]")
        # repr() writes the digits itself, as pretty() does, rather than failing on the limit.
        assert repr(Vesperon([value], [])) == (
            "Vesperon({'iterable_item_removed': {'root[0]': " + text + "}})"
        )
        assert pretty_text_ends(Vesperon([value + 1], [value]), text)
    finally:
        sys.set_int_max_str_digits(limit)


@pytest.mark.parametrize("digits", range(1, 26))
def test_significant_digits_round_exact_values(digits):
    """Each value is rounded half up on its exact decimal value, at every digit count: pairs of
    neighbouring doubles, values near a rounding half and values a few units apart."""
    rounding = decimal.Context(prec=digits, rounding=decimal.ROUND_HALF_UP)
    exact = decimal.Context(prec=2000)
    epsilon = decimal.Decimal(2.0**-52)
    generator = random.Random(digits)
    for _ in range(60):
        a = generator.uniform(-10, 10) * 10.0 ** generator.randint(-25, 25)
        unit = decimal.Decimal(1).scaleb(rounding.plus(decimal.Decimal(a)).adjusted() - digits + 1)
        half = exact.add(rounding.plus(decimal.Decimal(a)), unit / 2)
        for b in (
            math.nextafter(a, math.inf),
            float(half),
            math.nextafter(float(half), -math.inf),
            a * (1 + generator.uniform(-3, 3) * 10.0**-digits),
        ):
            difference = exact.subtract(
                rounding.plus(decimal.Decimal(a)), rounding.plus(decimal.Decimal(b))
            )
            expected = {} if abs(difference) <= epsilon else changed(a, b)
            assert Vesperon(a, b, significant_digits=digits).to_dict() == expected, (a, b)


NUMERIC_OPTIONS = {
    "ignore_numeric_type_changes": True,
    "ignore_type_in_groups": [(int, type(None))],
    "significant_digits": 1,
    "atol": 10,
}


@pytest.mark.parametrize(
    ("t1", "t2", "options", "expected"),
    [
        # items match only when they are equal values, never through a shared text
        ([{"a": 1, "b": 2}], [{"a:num:1,b": 2}], {}, moved({"root[0]": {"a:num:1,b": 2}}, {"root[0]": {"a": 1, "b": 2}})),
        ([1, True], [1.0, 1], {}, moved({"root[0]": 1.0}, {"root[1]": True})),
        ([BIG, [BIG, {"k": -0.0}]], [[BIG, {"k": 0.0}], BIG], {}, {}),
        ([BIG, BIG, 1], [1, BIG + 1, BIG], {}, moved({"root[1]": BIG + 1}, {"root[1]": BIG})),
        # the numeric rules play no part in matching
        ([1, None], [1.0, 2], NUMERIC_OPTIONS, moved({"root[0]": 1.0, "root[1]": 2}, {"root[0]": 1, "root[1]": None})),
        # the earliest occurrences match; the surplus is reported at its own positions
        ([1, 1, 1], [1], {}, {"iterable_item_removed": {"root[1]": 1, "root[2]": 1}}),
        ([2, 1, 2, 1], [1, 2], {}, {"iterable_item_removed": {"root[2]": 2, "root[3]": 1}}),
        ([1, 2, 3, 2], [3, 4, 1, 4], {}, moved({"root[1]": 4, "root[3]": 4}, {"root[1]": 2, "root[3]": 2})),
        ([1, 1, 2], [1, 2, 2], {}, moved({"root[2]": 2}, {"root[1]": 1})),
        ([[1, 2]], [[2, 1]], {}, moved({"root[0]": [2, 1]}, {"root[0]": [1, 2]})),  # order inside items counts
    ],
)  # fmt: skip
def test_ignore_order_matches_equal_values(t1, t2, options, expected):
    assert report(t1, t2, ignore_order=True, **options) == expected


def test_ignore_order_matches_a_large_permutation():
    items = [{"id": i} for i in range(2000)]
    permuted = [{"id": i * 7919 % 2000} for i in range(2000)]  # 7919 is prime: every id once
    assert report(items, permuted, ignore_order=True) == {}
    added = {"iterable_item_added": {"root[2000]": {"id": 5}}}
    assert report(items, [*permuted, {"id": 5}], ignore_order=True) == added


def collision(path, section):
    return Err(
        ValueError,
        f"Two positions have the same path {path} in {section}: keys "
        'containing "\']" make paths ambiguous',
    )


@pytest.mark.parametrize(
    ("t1", "t2", "options", "expected"),
    [
        ({"a']['b": 1, "a": {"b": 5}}, {"a']['b": 2, "a": {"b": 6}}, {}, collision("root['a']['b']", "values_changed")),
        ({"a']['b": 1, "a": {"b": 5}}, {"a']['b": "x", "a": {"b": None}}, {}, collision("root['a']['b']", "type_changes")),
        ({"a']['b": [1], "a": {"b": [1]}}, {"a']['b": [1, 2], "a": {"b": [1, 3]}}, {}, collision("root['a']['b'][1]", "iterable_item_added")),
        ({"a']['b": [1, 2], "a": {"b": [1, 3]}}, {"a']['b": [2], "a": {"b": [3]}}, {"ignore_order": True}, collision("root['a']['b'][0]", "iterable_item_removed")),
        # one path in two different sections, or twice in a path list, is no collision
        ({"a']['b": 1, "a": {"b": 5}}, {"a']['b": 2, "a": {"b": "x"}}, {}, {"type_changes": {"root['a']['b']": {"new_type": "str", "new_value": "x", "old_type": "int", "old_value": 5}}, "values_changed": {"root['a']['b']": {"new_value": 2, "old_value": 1}}}),
        ({"a": {}}, {"a']['b": 1, "a": {"b": 1}}, {}, {"dictionary_item_added": ["root['a']['b']", "root['a']['b']"]}),
        ({"it's": 1}, {"it's": 2}, {}, changed(1, 2, "root['it's']")),
    ],
)  # fmt: skip
def test_paths_shared_by_two_positions(t1, t2, options, expected):
    outcome(lambda: Vesperon(t1, t2, **options).to_dict(), expected)


def pretty_text_ends(comparison, digits):
    return comparison.pretty(no_color=True).endswith("+ " + digits)
