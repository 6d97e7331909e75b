"""Vesperon.pretty(): the exact text of the tree and of the flat listing, colours, and arguments."""

from __future__ import annotations

import re
from typing import Any

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import Err, index, np
from hexalume import Vesperon

V, T, L, B = "\u2502   ", "\u251c\u2500\u2500 ", "\u2570\u2500\u2500 ", "    "  # guides, connectors
RED, GREEN, RESET = "\x1b[31m", "\x1b[32m", "\x1b[0m"
PRETTY_KEYWORDS = {"compact", "max_depth", "context", "path_header"}
CELLS = {"\u2502": V, "\u251c": T, "\u2570": L, "\u00b7": B}


def text(*lines: str) -> str:
    return "\n".join(lines)


def draw(picture: str) -> str:
    """The text a picture stands for: lines are separated by "/", and each │ ├ ╰ or · that
    starts a line stands for the four columns drawn for it (· is the blank guide)."""
    lines = []
    for line in picture.split("/") if picture else []:
        label = line.lstrip("".join(CELLS))
        lines.append("".join(CELLS[cell] for cell in line[: len(line) - len(label)]) + label)
    return text(*lines)


def plain(t1: Any, t2: Any, **keywords: Any) -> str:
    """Uncoloured pretty() of comparing t1 with t2; each keyword goes to the call that takes it."""
    pretty = {name: value for name, value in keywords.items() if name in PRETTY_KEYWORDS}
    options = {name: value for name, value in keywords.items() if name not in PRETTY_KEYWORDS}
    return Vesperon(t1, t2, **options).pretty(no_color=True, **pretty)


def case(name: str, t1: Any, t2: Any, expected: str, **keywords: Any) -> Any:
    return pytest.param(t1, t2, keywords, expected, id=name)


def drawn(name: str, t1: Any, t2: Any, picture: str, **keywords: Any) -> Any:
    return case(name, t1, t2, draw(picture), **keywords)


W1 = {"cfg": {"a": {"b": 1}}, "items": [1, 2, 3, 4, 5], "name": "x"}
W2 = {"cfg": {"a": {"b": 2}}, "items": [1, 2, 30, 4, 5], "name": "y"}
NAME = "name/│- 'x'/│+ 'y'"
W_COMPACT = f"cfg.a.b/│- 1/│+ 2/items[2]/│- 3/│+ 30/{NAME}"
TEN = list(range(10))


def replaced(items: list, changes: dict[int, Any]) -> list:
    return [changes.get(at, item) for at, item in enumerate(items)]


# fmt: off
TREE_CASES = [
    drawn("worked_example", W1, W2, f"cfg/╰a/·╰b/··- 1/··+ 2/items/╰[2]/·- 3/·+ 30/{NAME}"),
    # A compact chain shows no list neighbours and its label reaches below the depth limit.
    drawn("compact_without_context_or_depth_limit", W1, W2, W_COMPACT, compact=True, context=1, max_depth=0),
    drawn("compact_chain_then_tree", {"p": {"q": {"x": 1, "y": 1}}}, {"p": {"q": {"x": 2, "y": 2}}}, "p.q/├x/│- 1/│+ 2/╰y/·- 1/·+ 2", compact=True),
    drawn("max_depth_one", W1, W2, f"cfg/╰a/·╰.../items/╰[2]/·- 3/·+ 30/{NAME}", max_depth=1),
    drawn("gap_between_members", {"a": 1, "b": 2, "c": 3}, {"a": 9, "b": 2, "c": 9}, "a/│- 1/│+ 9/.../c/│- 3/│+ 9"),
    drawn("no_gap_before_first_or_after_last", {"a": 1, "b": 2, "c": 3}, {"a": 1, "b": 9, "c": 3}, "b/│- 2/│+ 9"),
    drawn("removed_members_after_new_ones", {"a": 1, "z": 2}, {"b": 1}, "b/│+ 1/a/│- 1/z/│- 2"),
    drawn("guides_of_deeper_levels", {"a": {"x": {"p": 1}, "y": 2}}, {"a": {"x": {"p": 9}, "y": 9}}, "a/├x/│╰p/│·- 1/│·+ 9/╰y/·- 2/·+ 9"),
    drawn("list_items_adjacent_and_apart", TEN, replaced(TEN, {2: 20, 3: 30, 6: 60}), "[2]/│- 2/│+ 20/[3]/│- 3/│+ 30/.../[6]/│- 6/│+ 60"),
    drawn("context_two_both_ends", TEN, replaced(TEN, {1: 10, 8: 80}), "[0]/│= 0/[1]/│- 1/│+ 10/[2]/│= 2/[3]/│= 3/.../[6]/│= 6/[7]/│= 7/[8]/│- 8/│+ 80/[9]/│= 9", context=2),
    drawn("context_from_longer_old_list", {"l": [0, 1, 2, "old", 4]}, {"l": [0, 1, 2]}, "l/├[2]/│= 2/├[3]/│- 'old'/╰[4]/·- 4", context=1),
    drawn("root_type_change", 2.5, None, "root/│- (float) 2.5/│+ (null) None"),
    drawn("path_list_report", {"a": 1, "b": [1.5]}, {"a": 2, "b": [2.5]}, "a/│- 1/│+ 2/b/╰[0]/·- 1.5/·+ 2.5", verbose_level=0),
    drawn("string_escaping", {"k": "a'b\t\n"}, {"k": 'say "hi"\x0c\\\r'}, "k/│- 'a\\'b\\t\\n'/│+ 'say \"hi\"\\x0c\\\\\\r'"),
    drawn("nested_values", {"v": None}, {"v": [1, "x", {"k": None, "B": (True, 1e16)}]}, "v/│- (null) None/│+ (list) [1, 'x', {'B': [True, 1e+16], 'k': None}]"),
    drawn("keys_printed_verbatim", {}, {"it's\tx": 1, "é": 2, "a\\b": 3}, "a\\b/│+ 3/it's\\x09x/│+ 1/é/│+ 2"),
    drawn("compact_keys", {"my key": [{"it's": 1}], "é": {"ok_1": 1}}, {"my key": [{"it's": 2}], "é": {"ok_1": 2}}, "['my key'][0]['it's']/│- 1/│+ 2/['é'].ok_1/│- 1/│+ 2", compact=True),
    # Every change at one path is kept, in the order the report sections are read: added items
    # come before removed ones.
    drawn("same_path_added_and_removed", [{"a": 1}], [{"a": 2}], "[0]/│+ {'a': 2}/│- {'a': 1}", ignore_order=True),
    drawn("same_path_in_compact_chain", {"r": [[1]]}, {"r": [[2]]}, "r[0]/│+ [2]/│- [1]", ignore_order=True, compact=True),
]
# fmt: on

# The flat listing: one header per entry, sorted by its bytes; the layout options do not apply.
# fmt: off
FLAT_CASES = [
    drawn("byte_order", {"a": 1, "B": 1, "l": [0] * 11}, {"a": 2, "B": 2, "l": replaced([0] * 11, {2: 1, 10: 1})}, "B/│- 1/│+ 2/a/│- 1/│+ 2/l[10]/│- 0/│+ 1/l[2]/│- 0/│+ 1"),
    drawn("layout_options_ignored", W1, W2, W_COMPACT, compact=True, max_depth=0, context=3),
    drawn("same_path_twice", [{"a": 1}], [{"a": 2}], "[0]/│+ {'a': 2}/[0]/│- {'a': 1}", ignore_order=True),
]
# fmt: on


@pytest.mark.parametrize(("t1", "t2", "keywords", "expected"), TREE_CASES)
def test_tree(t1: Any, t2: Any, keywords: dict, expected: str) -> None:
    assert plain(t1, t2, **keywords) == expected


@pytest.mark.parametrize(("t1", "t2", "keywords", "expected"), FLAT_CASES)
def test_path_header(t1: Any, t2: Any, keywords: dict, expected: str) -> None:
    assert plain(t1, t2, path_header=True, **keywords) == expected


# A key holding "']" is written into its path verbatim, so its path text can also name another
# position; each change is still drawn as the one member it is, with its own values.
# fmt: off
OWN_VALUE_CASES = [
    drawn("nested_lookalike_at_level_0_flat", {"x']['y": 5, "x": {"y": 1}}, {"x']['y": 6, "x": {"y": 1}}, "['x']['y']/│- 5/│+ 6", verbose_level=0, path_header=True),
    drawn("closing_quote_in_key_compact", {"a']": {"t": 1}, "a": 5}, {"a']": {"t": "1"}, "a": 5}, "['a']'].t/│- (int) 1/│+ (str) '1'", compact=True),
    drawn("items_under_lookalike", {"l']": [1, 2], "l": [7, 8, 9]}, {"l']": [1, 3, 4], "l": [7, 8, 9]}, "l']/├[1]/│- 2/│+ 3/╰[2]/·+ 4"),
    drawn("removed_item_under_lookalike", {"l']": [1, 2], "l": ["a", "b"]}, {"l']": [1], "l": ["a", "b"]}, "l']/╰[1]/·- 2", ignore_order=True),
    # Two positions with one path text: the member b of a, and the key "a']['b".
    drawn("two_positions_one_path", {"a": {"b": 1}}, {"a": {}, "a']['b": 2}, "a/╰b/·- 1/a']['b/│+ 2"),
    drawn("two_positions_one_path_flat", {"a": {"b": 1}}, {"a": {}, "a']['b": 2}, "['a']['b']/│+ 2/a.b/│- 1", path_header=True),
    drawn("keys_in_data_order", {}, {"p": 5, "p']['a": 1, "p']['B": 2, "p'][10]x": 3, "']['": 4}, "']['/│+ 4/p/│+ 5/p']['B/│+ 2/p']['a/│+ 1/p'][10]x/│+ 3"),
]
# fmt: on

# Control characters of the data are escaped in every label and value line (in compact labels,
# flat headers, context lines and values inside values too: the rendering property below): \xNN for
# U+0000-U+001F and U+007F-U+009F (values keep \t, \n, \r), \uNNNN (\UNNNNNNNN past U+FFFF) for
# Unicode's format characters and line and paragraph separators. Everything else, quotes and
# backslashes of labels included, stays as it is. Headers of the flat listing are sorted as they
# are printed.
# fmt: off
CONTROL_CASES = [
    drawn("clear_screen_and_title", {"\x1b[2J": "\x1b]0;title\x07"}, {"\x1b[2J": "a\nb"}, "\\x1b[2J/│- '\\x1b]0;title\\x07'/│+ 'a\\nb'"),
    drawn("forged_tree_line", {}, {"a\n\u2502   + fake\r": 1}, "a\\x0a\u2502   + fake\\x0d/│+ 1"),
    drawn("c1_del_and_bidi", {"k": "\x85\x9b\x7f"}, {"k": "x\u202ey\u2066\u200f"}, "k/│- '\\x85\\x9b\\x7f'/│+ 'x\\u202ey\\u2066\\u200f'"),
    drawn("invisible_characters_and_text_around_them", {"k": "\xa0\u200d\u2028\u2502\u00e9\u061b"}, {"k": "\u061c\u2029\u200b\ufeff\u00ad\U000e0041\U0001f600"}, "k/│- '\xa0\\u200d\\u2028\u2502\u00e9\u061b'/│+ '\\u061c\\u2029\\u200b\\ufeff\\u00ad\\U000e0041\U0001f600'"),
    drawn("bidi_key_and_tab_in_label", {"\u202e\t'\\\u2028": 1}, {"\u202e\t'\\\u2028": 2}, "\\u202e\\x09'\\\\u2028/│- 1/│+ 2"),
]
# fmt: on


@pytest.mark.parametrize(("t1", "t2", "keywords", "expected"), OWN_VALUE_CASES + CONTROL_CASES)
def test_own_values_and_escapes(t1: Any, t2: Any, keywords: dict, expected: str) -> None:
    assert plain(t1, t2, **keywords) == expected


def chain(levels: int, value: int) -> dict:
    """{"k": {"k": ... {"v": value}, "v": value}, "v": value} of `levels` levels."""
    node: dict = {"v": value}
    for _ in range(levels - 1):
        node = {"k": node, "v": value}
    return node


CHANGE = (V + "- 0", V + "+ 1")


def test_a_deep_chain_draws_only_what_fits() -> None:
    # Five levels deep, then "...", by default; every level has two members, so compact labels
    # join nothing. (Chains far deeper: tests/cpp/pretty_render_test.cpp and test_interrupts.py.)
    lines = ["k", *(V * (depth - 1) + T + "k" for depth in range(1, 6)), V * 5 + L + "..."]
    for depth in range(5, 0, -1):
        lines += [
            V * (depth - 1) + L + "v",
            V * (depth - 1) + B + "- 0",
            V * (depth - 1) + B + "+ 1",
        ]
    comparison = Vesperon(chain(20, 0), chain(20, 1))
    assert comparison.pretty(no_color=True) == text(*lines, "v", *CHANGE)
    assert comparison.pretty(no_color=True, compact=True) == text(*lines, "v", *CHANGE)
    assert comparison.pretty(no_color=True, max_depth=0) == text("k", L + "...", "v", *CHANGE)


def test_defaults_colour_and_repeated_calls() -> None:
    comparison = Vesperon({"l": [1, 2]}, {"l": [1], "n": None})
    report = comparison.to_dict()
    explicit = comparison.pretty(
        compact=False, max_depth=5, context=0, no_color=False, path_header=False
    )
    assert comparison.pretty() == explicit
    # Changes are coloured after their guides; context lines never are.
    expected = f"l/├[0]/│= 1/╰[1]/·{RED}- 2{RESET}/n/│{GREEN}+ None{RESET}"
    assert comparison.pretty(context=1) == draw(expected)
    assert comparison.to_dict() == report


def bad_argument(keyword: str, message: str) -> Err:
    return Err(TypeError, f"argument '{keyword}': {message}")


@pytest.mark.parametrize(
    ("args", "kwargs", "error"),
    [
        ((True,), {}, Err(TypeError, "Vesperon.pretty() takes 0 positional arguments but 1 was given")),
        # Binding comes before conversion, and conversion follows the declaration order.
        ((), {"compact": 1, "colour": True}, Err(TypeError, "Vesperon.pretty() got an unexpected keyword argument 'colour'")),
        ((), {"path_header": 0, "no_color": 0, "compact": 0}, bad_argument("compact", "'int' object cannot be converted to 'PyBool'")),
        ((), {"max_depth": None}, bad_argument("max_depth", "'NoneType' object cannot be interpreted as an integer")),
        ((), {"context": index(TypeError("no index here"))}, bad_argument("context", "no index here")),
        ((), {"max_depth": -1}, Err(OverflowError)),
    ],
)  # fmt: skip
def test_argument_errors(args: tuple, kwargs: dict, error: Err) -> None:
    raised = error.check(lambda: Vesperon({"a": 1}, {"a": 2}).pretty(*args, **kwargs))
    if error.type is OverflowError:
        assert not str(raised).startswith("argument")


def test_wrapped_error_takes_the_cause_of_the_original() -> None:
    comparison = Vesperon(1, 2)
    error = TypeError("inner")
    error.__cause__ = KeyError("root cause")
    raised = bad_argument("max_depth", "inner").check(
        lambda: comparison.pretty(max_depth=index(error))
    )
    assert isinstance(raised.__cause__, KeyError) and raised.__cause__.args == ("root cause",)
    raised = bad_argument("max_depth", "bare").check(
        lambda: comparison.pretty(max_depth=index(TypeError("bare")))
    )
    assert raised.__cause__ is None


class Boom(TypeError):
    pass


@pytest.mark.parametrize("error", [Boom("subclass"), ValueError("value")])
def test_other_errors_pass_unchanged(error: BaseException) -> None:
    with pytest.raises(type(error)) as raised:
        Vesperon(1, 2).pretty(context=index(error))
    assert raised.value is error


def test_accepted_argument_types() -> None:
    comparison = Vesperon(W1, W2)
    if np is not None:
        assert comparison.pretty(
            compact=np.bool_(True), no_color=np.bool_(True), path_header=np.bool_(False)
        ) == comparison.pretty(compact=True, no_color=True)
        assert comparison.pretty(no_color=True, max_depth=np.int64(1)) == plain(W1, W2, max_depth=1)
    assert comparison.pretty(no_color=True, context=index(1)) == plain(W1, W2, context=1)
    assert comparison.pretty(no_color=True, max_depth=True) == plain(W1, W2, max_depth=1)
    huge = comparison.pretty(no_color=True, max_depth=2**64 - 1, context=2**64 - 1)
    assert "= 5" in huge and "= 1" in huge


def report_entries(report: dict) -> int:
    return sum(len(section) for section in report.values())


# Keys from the characters that matter to paths and labels: quotes, brackets, backslashes,
# control characters and non-ASCII text.
KEYS = st.text(alphabet="ab'[]\\\"\t\n\x00é \x1b\x85\u202e", max_size=4)
SCALARS = (
    st.none()
    | st.booleans()
    | st.integers(-(2**63), 2**64 - 1)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(alphabet="x'\\\t\n\"é\x07\x9b\u2066", max_size=3)
)
VALUES = st.recursive(
    SCALARS,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(KEYS, inner, max_size=4),
    max_leaves=12,
)
# Every control character but the line feed between lines, and the bidirectional controls.
RAW_CONTROL = re.compile("[\x00-\x09\x0b-\x1f\x7f-\x9f\u200e\u200f\u202a-\u202e\u2066-\u2069]")
# A removed or added value: its line after the guides, coloured red or green.
CHANGE_LINE = re.compile("^((?:\u2502   |    )*)([-+]) (.*)$", re.MULTILINE)
OPTIONS = st.fixed_dictionaries(
    {
        "compact": st.booleans(),
        "max_depth": st.integers(0, 4) | st.just(2**64 - 1),
        "context": st.integers(0, 3) | st.just(2**64 - 1),
        "path_header": st.booleans(),
    }
)


def coloured(line: re.Match) -> str:
    guides, sign, rest = line.groups()
    return f"{guides}{RED if sign == '-' else GREEN}{sign} {rest}{RESET}"


@settings(max_examples=300, deadline=None, database=None)
@given(t1=VALUES, t2=VALUES, ignore_order=st.booleans(), options=OPTIONS)
def test_any_report_renders(t1: Any, t2: Any, ignore_order: bool, options: dict) -> None:
    comparison = Vesperon(t1, t2, ignore_order=ignore_order)
    uncoloured = comparison.pretty(no_color=True, **options)
    assert not RAW_CONTROL.search(uncoloured)
    assert comparison.pretty(**options) == CHANGE_LINE.sub(coloured, uncoloured)
    assert not uncoloured.endswith("\n")
    if not comparison:
        assert uncoloured == ""
    report = comparison.to_dict()
    if options["path_header"] and not any(
        "\n" in path for part in report.values() for path in part
    ):
        # The flat listing draws every entry of the report under a header of its own (a key
        # holding a line feed would split its header, and is left out of this count).
        lines = uncoloured.split("\n") if uncoloured else []
        headers = [line for line in lines if not line.startswith(V)]
        assert len(headers) == report_entries(report)


def test_context_items_are_read_again_from_the_inputs_and_must_still_agree() -> None:
    old, new = {"l": [[0], 1, 2]}, {"l": [[0], 5, 2]}
    comparison = Vesperon(old, new)
    old["l"][2] = new["l"][2] = 7  # both sides still hold equal items at [2]
    old["l"][0].append(1)  # they no longer do at [0]
    assert comparison.pretty(no_color=True) == draw("l/╰[1]/·- 1/·+ 5")
    with pytest.raises(RuntimeError, match=r"changed after the comparison"):
        comparison.pretty(context=1)
    old["l"][0].pop()
    assert comparison.pretty(no_color=True, context=1) == draw(
        "l/├[0]/│= [0]/├[1]/│- 1/│+ 5/╰[2]/·= 7"
    )


def test_a_difference_hidden_by_an_option_is_drawn_as_an_unchanged_item() -> None:
    old, new = {"l": [[1.0, "x"], 5]}, {"l": [[1.001, "x"], 6]}
    drawn_text = Vesperon(old, new, significant_digits=2).pretty(no_color=True, context=1)
    assert drawn_text == draw("l/├[0]/│= [1.001, 'x']/╰[1]/·- 5/·+ 6")
