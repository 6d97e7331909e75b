"""Laws that hold for every input, checked on generated JSON-like data."""

from __future__ import annotations

import copy
import random

from hypothesis import given, settings
from hypothesis import strategies as st

from hexalume import Vesperon
from helpers import converted, typed
from helpers import sorted_keys
from test_report import model_report

scalars = (st.none() | st.booleans() | st.integers(min_value=-2**63, max_value=2**64 - 1)
           | st.floats(allow_nan=False, allow_infinity=False) | st.text(max_size=8))
documents = st.recursive(
    scalars,
    lambda children: st.lists(children, max_size=5)
    | st.dictionaries(st.text(max_size=5), children, max_size=5),
    max_leaves=40)

# Few distinct keys and leaves, so that two drawn documents share structure and differ in places.
small_scalars = st.sampled_from([None, True, False, 0, 1, -1, 1.0, 2.5, "", "a", "b"])
similar_documents = st.recursive(
    small_scalars,
    lambda children: st.lists(children, max_size=4)
    | st.dictionaries(st.sampled_from(["a", "b", "c", "\u00e9"]), children, max_size=4),
    max_leaves=25)


@given(documents)
def test_a_value_equals_itself(document):
    assert Vesperon(document, document).to_dict() == {}
    assert Vesperon(document, copy.deepcopy(document), ignore_order=True).to_dict() == {}


@given(documents)
def test_conversion_keeps_json_like_values(document):
    assert typed(converted(document)) == typed(sorted_keys(document))


@given(similar_documents, similar_documents)
def test_report_matches_the_plain_model(old, new):
    assert typed(Vesperon(old, new).to_dict()) == typed(sorted_keys(model_report(old, new)))


@given(similar_documents, similar_documents, st.sampled_from([{}, {"ignore_order": True},
                                                              {"verbose_level": 0}]))
def test_truth_length_and_repr_follow_the_report(old, new, options):
    comparison = Vesperon(old, new, **options)
    result = comparison.to_dict()
    assert bool(comparison) == bool(result)
    assert len(comparison) == len(result)
    assert repr(comparison) == f"Vesperon({result!r})"


@settings(max_examples=50)
@given(st.lists(similar_documents, max_size=8), st.randoms(use_true_random=False))
def test_order_is_ignored_on_request(items, rng: random.Random):
    shuffled = items[:]
    rng.shuffle(shuffled)
    assert Vesperon(items, shuffled, ignore_order=True).to_dict() == {}
    assert Vesperon({"x": items}, {"x": shuffled, "y": 1}, ignore_order=True).to_dict() == {
        "dictionary_item_added": ["root['y']"]}
