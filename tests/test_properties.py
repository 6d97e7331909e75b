"""Laws that hold for every input, checked on generated JSON-like data."""

from __future__ import annotations

import copy
import random

from hypothesis import example, given, settings
from hypothesis import strategies as st
from test_report import model_report

from helpers import converted, sorted_keys, typed
from hexalume import Vesperon

scalars = (
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**63), max_value=2**64 - 1)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(max_size=8)
)
documents = st.recursive(
    scalars,
    lambda children: (
        st.lists(children, max_size=5) | st.dictionaries(st.text(max_size=5), children, max_size=5)
    ),
    max_leaves=40,
)

# Few distinct keys and leaves, so that two drawn documents share structure and differ in places.
small_scalars = st.sampled_from([None, True, False, 0, 1, -1, 1.0, 2.5, "", "a", "b"])
similar_documents = st.recursive(
    small_scalars,
    lambda children: (
        st.lists(children, max_size=4)
        | st.dictionaries(st.sampled_from(["a", "b", "c", "\u00e9"]), children, max_size=4)
    ),
    max_leaves=25,
)


@given(documents)
@example(["it's", 'say "hi"', "both ' and \"", "back\\slash", "\x00\x7f\u2028\U0001f600", 1.5e-300])
def test_conversion_keeps_json_like_values(document):
    assert typed(converted(document)) == typed(sorted_keys(document))
    # repr() is written from the report tree; it must stay the interpreter's repr of to_dict().
    comparison = Vesperon([document], [])
    assert repr(comparison) == f"Vesperon({comparison.to_dict()!r})"


@given(similar_documents, similar_documents)
def test_report_matches_the_plain_model(old, new):
    assert typed(Vesperon(old, new).to_dict()) == typed(sorted_keys(model_report(old, new)))


@settings(max_examples=50)
@given(st.lists(similar_documents, max_size=8), st.randoms(use_true_random=False))
def test_order_is_ignored_on_request(items, rng: random.Random):
    shuffled = items[:]
    rng.shuffle(shuffled)
    assert Vesperon(items, shuffled, ignore_order=True).to_dict() == {}
    assert Vesperon({"x": items}, {"x": shuffled, "y": 1}, ignore_order=True).to_dict() == {
        "dictionary_item_added": ["root['y']"]
    }


# Every comparison keyword, each present or not, with values that are valid but not all useful.
filter_paths = st.lists(
    st.sampled_from(["root", "root['a']", "root[0]", "root['b'][1]", "root[1]['c']"]), max_size=2
)
option_sets = st.fixed_dictionaries(
    {},
    optional={
        "ignore_order": st.booleans(),
        "ignore_numeric_type_changes": st.booleans(),
        "ignore_string_type_changes": st.booleans(),
        "ignore_type_in_groups": st.sampled_from(
            [[(int, float)], [[type(None), str]], [(int, float), [type(None), str]]]
        ),
        "significant_digits": st.none() | st.integers(min_value=0, max_value=6),
        "math_epsilon": st.none() | st.floats(min_value=0, max_value=2),
        "atol": st.none() | st.floats(min_value=0, max_value=2),
        "rtol": st.none() | st.floats(min_value=0, max_value=1),
        "include_paths": filter_paths,
        "exclude_paths": filter_paths,
    },
)
pretty_options = st.fixed_dictionaries(
    {},
    optional={
        "compact": st.booleans(),
        "max_depth": st.integers(min_value=0, max_value=6),
        "context": st.integers(min_value=0, max_value=3),
        "no_color": st.booleans(),
        "path_header": st.booleans(),
    },
)


@given(similar_documents, similar_documents, option_sets, pretty_options)
def test_option_sets_agree_across_verbosity_and_views(old, new, options, layout):
    assert Vesperon(old, copy.deepcopy(old), **options).to_dict() == {}
    full = Vesperon(old, new, **options)
    # A report may be built only when first read: truth value, length and drawing asked first
    # must agree with what follows.
    shape, drawn = (bool(full), len(full)), Vesperon(old, new, **options).pretty(**layout)
    result = full.to_dict()
    # Verbosity 0 lists the changed paths that verbosity 1 details; nothing else differs.
    brief_comparison = Vesperon(old, new, verbose_level=0, **options)
    brief = brief_comparison.to_dict()
    assert (len(brief_comparison), repr(brief_comparison)) == (len(brief), f"Vesperon({brief!r})")
    if "values_changed" in result:
        assert brief.pop("values_changed") == list(result["values_changed"])
    assert typed(brief) == typed({k: v for k, v in result.items() if k != "values_changed"})
    assert (bool(full), len(full), repr(full)) == (
        bool(result),
        len(result),
        f"Vesperon({result!r})",
    )
    assert shape == (bool(result), len(result))
    assert full.pretty(**layout) == drawn
    assert (drawn == "") == (not result)
