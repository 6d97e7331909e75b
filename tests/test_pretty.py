"""Vesperon.pretty(): the exact text of the tree and of the flat listing, colours, and arguments."""

from __future__ import annotations

import inspect
import json
import re
from pathlib import Path
from typing import Any, NamedTuple

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import hexalume
from hexalume import Vesperon

# The shared example documents sit beside the repository.
DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "npm-metadata"

V = "\u2502   "  # vertical guide
T = "\u251c\u2500\u2500 "  # branch connector
L = "\u2570\u2500\u2500 "  # last connector
B = "    "  # blank guide
RED = "\x1b[31m"
GREEN = "\x1b[32m"
RESET = "\x1b[0m"


def text(*lines: str) -> str:
    return "\n".join(lines)


def plain(t1: Any, t2: Any, options: dict | None = None, **pretty: Any) -> str:
    return Vesperon(t1, t2, **(options or {})).pretty(no_color=True, **pretty)


class Err(NamedTuple):
    type: type[BaseException]
    message: str
    prefix_only: bool = False  # the message only has to start with `message`


WORKED_T1 = {"cfg": {"a": {"b": 1}}, "items": [1, 2, 3, 4, 5], "name": "x"}
WORKED_T2 = {"cfg": {"a": {"b": 2}}, "items": [1, 2, 30, 4, 5], "name": "y"}
TEN = list(range(10))


def replaced(items: list, changes: dict[int, Any]) -> list:
    return [changes.get(at, item) for at, item in enumerate(items)]


# (t1, t2, constructor options, pretty options besides no_color, expected text)
TREE_CASES = {
    "end_to_end": (
        {"a": 1, "b": [1, 2]},
        {"a": 2, "b": [1, 2, 3], "c": None},
        {},
        {},
        text("a", V + "- 1", V + "+ 2", "b", L + "[2]", B + "+ 3", "c", V + "+ None"),
    ),
    "members": (
        {"a": 1, "b": 2},
        {"a": 1, "b": 3, "c": 4},
        {},
        {},
        text("b", V + "- 2", V + "+ 3", "c", V + "+ 4"),
    ),
    "worked_example": (
        WORKED_T1,
        WORKED_T2,
        {},
        {},
        text(
            "cfg", L + "a", B + L + "b", B + B + "- 1", B + B + "+ 2",
            "items", L + "[2]", B + "- 3", B + "+ 30",
            "name", V + "- 'x'", V + "+ 'y'",
        ),
    ),
    "context_one": (
        WORKED_T1,
        WORKED_T2,
        {},
        {"context": 1},
        text(
            "cfg", L + "a", B + L + "b", B + B + "- 1", B + B + "+ 2",
            "items", T + "[1]", V + "= 2", T + "[2]", V + "- 3", V + "+ 30", L + "[3]", B + "= 4",
            "name", V + "- 'x'", V + "+ 'y'",
        ),
    ),
    "compact": (
        WORKED_T1,
        WORKED_T2,
        {},
        {"compact": True},
        text("cfg.a.b", V + "- 1", V + "+ 2", "items[2]", V + "- 3", V + "+ 30",
             "name", V + "- 'x'", V + "+ 'y'"),
    ),
    "compact_chain_has_no_context": (
        WORKED_T1,
        WORKED_T2,
        {},
        {"compact": True, "context": 1},
        text("cfg.a.b", V + "- 1", V + "+ 2", "items[2]", V + "- 3", V + "+ 30",
             "name", V + "- 'x'", V + "+ 'y'"),
    ),
    "max_depth_one": (
        WORKED_T1,
        WORKED_T2,
        {},
        {"max_depth": 1},
        text("cfg", L + "a", B + L + "...", "items", L + "[2]", B + "- 3", B + "+ 30",
             "name", V + "- 'x'", V + "+ 'y'"),
    ),
    "max_depth_zero": (
        WORKED_T1,
        WORKED_T2,
        {},
        {"max_depth": 0},
        text("cfg", L + "...", "items", L + "...", "name", V + "- 'x'", V + "+ 'y'"),
    ),
    "gap_between_members": (
        {"a": 1, "b": 2, "c": 3},
        {"a": 9, "b": 2, "c": 9},
        {},
        {},
        text("a", V + "- 1", V + "+ 9", "...", "c", V + "- 3", V + "+ 9"),
    ),
    "no_gap_before_first_or_after_last": (
        {"a": 1, "b": 2, "c": 3},
        {"a": 1, "b": 9, "c": 3},
        {},
        {},
        text("b", V + "- 2", V + "+ 9"),
    ),
    "removed_members_after_new_ones": (
        {"a": 1, "z": 2},
        {"b": 1},
        {},
        {},
        text("b", V + "+ 1", "a", V + "- 1", "z", V + "- 2"),
    ),
    "nested_member": (
        {"x": {"y": 1}},
        {"x": {"y": 2}},
        {},
        {},
        text("x", L + "y", B + "- 1", B + "+ 2"),
    ),
    "guides_of_deeper_levels": (
        {"a": {"x": {"p": 1}, "y": 2}},
        {"a": {"x": {"p": 9}, "y": 9}},
        {},
        {},
        text("a", T + "x", V + L + "p", V + B + "- 1", V + B + "+ 9", L + "y", B + "- 2", B + "+ 9"),
    ),
    "list_gap": (
        TEN,
        replaced(TEN, {2: 20, 6: 60}),
        {},
        {},
        text("[2]", V + "- 2", V + "+ 20", "...", "[6]", V + "- 6", V + "+ 60"),
    ),
    "adjacent_list_items": (
        TEN,
        replaced(TEN, {2: 20, 3: 30}),
        {},
        {},
        text("[2]", V + "- 2", V + "+ 20", "[3]", V + "- 3", V + "+ 30"),
    ),
    "context_two_at_start": (
        TEN,
        replaced(TEN, {0: 5}),
        {},
        {"context": 2},
        text("[0]", V + "- 0", V + "+ 5", "[1]", V + "= 1", "[2]", V + "= 2"),
    ),
    "context_two_both_ends": (
        TEN,
        replaced(TEN, {1: 10, 8: 80}),
        {},
        {"context": 2},
        text(
            "[0]", V + "= 0", "[1]", V + "- 1", V + "+ 10", "[2]", V + "= 2", "[3]", V + "= 3",
            "...",
            "[6]", V + "= 6", "[7]", V + "= 7", "[8]", V + "- 8", V + "+ 80", "[9]", V + "= 9",
        ),
    ),
    "context_from_longer_old_list": (
        {"l": [0, 1, 2, "old", 4]},
        {"l": [0, 1, 2]},
        {},
        {"context": 1},
        text("l", T + "[2]", V + "= 2", T + "[3]", V + "- 'old'", L + "[4]", B + "- 4"),
    ),
    "root_change": (1, 2, {}, {}, text("root", V + "- 1", V + "+ 2")),
    "root_type_change": (
        2.5,
        None,
        {},
        {},
        text("root", V + "- (float) 2.5", V + "+ (null) None"),
    ),
    "type_change": (
        {"x": 1},
        {"x": "1"},
        {},
        {},
        text("x", V + "- (int) 1", V + "+ (str) '1'"),
    ),
    "path_list_report": (
        {"a": 1, "b": [1.5]},
        {"a": 2, "b": [2.5]},
        {"verbose_level": 0},
        {},
        text("a", V + "- 1", V + "+ 2", "b", L + "[0]", B + "- 1.5", B + "+ 2.5"),
    ),
    "string_escaping": (
        {"k": "a'b\t\n"},
        {"k": 'say "hi"\x0c\\\r'},
        {},
        {},
        text("k", V + "- 'a\\'b\\t\\n'", V + "+ 'say \"hi\"\x0c\\\\\\r'"),
    ),
    "nested_values": (
        {"v": None},
        {"v": [1, "x", {"k": None, "B": (True, 1e16)}]},
        {},
        {},
        text("v", V + "- (null) None", V + "+ (list) [1, 'x', {'B': [True, 1e+16], 'k': None}]"),
    ),
    "keys_printed_verbatim": (
        {},
        {"it's\tx": 1, "é": 2, "a\\b": 3},
        {},
        {},
        text("a\\b", V + "+ 3", "it's\tx", V + "+ 1", "é", V + "+ 2"),
    ),
    "compact_keys": (
        {"my key": [{"it's": 1}], "é": {"ok_1": 1}},
        {"my key": [{"it's": 2}], "é": {"ok_1": 2}},
        {},
        {"compact": True},
        text("['my key'][0]['it's']", V + "- 1", V + "+ 2", "['é'].ok_1", V + "- 1", V + "+ 2"),
    ),
    "compact_stops_at_two_children": (
        {"a": {"x": 1, "y": 1}},
        {"a": {"x": 2, "y": 2}},
        {},
        {"compact": True},
        text("a", T + "x", V + "- 1", V + "+ 2", L + "y", B + "- 1", B + "+ 2"),
    ),
    # Every change at one path is kept, in the order the report sections are read: added items
    # come before removed ones.
    "same_path_added_and_removed": (
        [{"a": 1}],
        [{"a": 2}],
        {"ignore_order": True},
        {},
        text("[0]", V + "+ {'a': 2}", V + "- {'a': 1}"),
    ),
    "same_path_in_compact_chain": (
        {"r": [[1]]},
        {"r": [[2]]},
        {"ignore_order": True},
        {"compact": True},
        text("r[0]", V + "+ [2]", V + "- [1]"),
    ),
    # A key holding "']['" names the same path as a nested key: the level under p resolves to a
    # number, so its children are ordered by their labels' bytes.
    "fallback_order": (
        {},
        {"p": 5, "p']['a": 1, "p']['B": 2, "p'][10]x": 3, "p'][2]x": 4},
        {},
        {},
        text(
            "p", V + "+ 5",
            T + "B", V + "+ <added>", T + "[10]", V + "+ <added>", T + "[2]", V + "+ <added>",
            L + "a", B + "+ <added>",
        ),
    ),
    "equal_inputs": ({"a": [1]}, {"a": [1]}, {}, {}, ""),
}


@pytest.mark.parametrize(
    ("t1", "t2", "options", "pretty", "expected"),
    TREE_CASES.values(),
    ids=TREE_CASES.keys(),
)
def test_tree(t1: Any, t2: Any, options: dict, pretty: dict, expected: str) -> None:
    assert plain(t1, t2, options, **pretty) == expected


FLAT_CASES = {
    "top_level": (
        {"a": 1, "b": 2},
        {"a": 1, "b": 3, "c": 4},
        {},
        {},
        text("b", V + "- 2", V + "+ 3", "c", V + "+ 4"),
    ),
    "nested": ({"x": {"y": 1}}, {"x": {"y": 2}}, {}, {}, text("x.y", V + "- 1", V + "+ 2")),
    "root": (1, 2, {}, {}, text("root", V + "- 1", V + "+ 2")),
    "byte_order": (
        {"a": 1, "B": 1, "l": [0] * 11},
        {"a": 2, "B": 2, "l": replaced([0] * 11, {2: 1, 10: 1})},
        {},
        {},
        text("B", V + "- 1", V + "+ 2", "a", V + "- 1", V + "+ 2",
             "l[10]", V + "- 0", V + "+ 1", "l[2]", V + "- 0", V + "+ 1"),
    ),
    "index_headers": (
        [0] * 11,
        replaced([0] * 11, {2: 1, 10: 1}),
        {},
        {},
        text("[10]", V + "- 0", V + "+ 1", "[2]", V + "- 0", V + "+ 1"),
    ),
    "layout_options_ignored": (
        WORKED_T1,
        WORKED_T2,
        {},
        {"compact": True, "max_depth": 0, "context": 3},
        text("cfg.a.b", V + "- 1", V + "+ 2", "items[2]", V + "- 3", V + "+ 30",
             "name", V + "- 'x'", V + "+ 'y'"),
    ),
    "same_path_twice": (
        [{"a": 1}],
        [{"a": 2}],
        {"ignore_order": True},
        {},
        text("[0]", V + "+ {'a': 2}", "[0]", V + "- {'a': 1}"),
    ),
    "quoted_headers": (
        {},
        {"my key": [1], "it's": 2},
        {},
        {},
        text("['it's']", V + "+ 2", "['my key']", V + "+ [1]"),
    ),
}


@pytest.mark.parametrize(
    ("t1", "t2", "options", "pretty", "expected"), FLAT_CASES.values(), ids=FLAT_CASES.keys()
)
def test_path_header(t1: Any, t2: Any, options: dict, pretty: dict, expected: str) -> None:
    assert plain(t1, t2, options, path_header=True, **pretty) == expected


@pytest.mark.parametrize(
    ("t1", "t2", "pretty", "expected"),
    [
        (
            {"a": {"b": 1}},
            {"a": {"b": 2}},
            {},
            text("a", L + "b", f"{B}{RED}- 1{RESET}", f"{B}{GREEN}+ 2{RESET}"),
        ),
        (
            {"x": 1},
            {"x": "1"},
            {},
            text("x", f"{V}{RED}- (int) 1{RESET}", f"{V}{GREEN}+ (str) '1'{RESET}"),
        ),
        (
            {"l": [1, 2]},
            {"l": [1], "n": None},
            {"context": 1},
            text("l", T + "[0]", V + "= 1", L + "[1]", f"{B}{RED}- 2{RESET}",
                 "n", f"{V}{GREEN}+ None{RESET}"),
        ),
        (
            {"x": {"y": 1}},
            {"x": {"y": 2}},
            {"path_header": True},
            text("x.y", f"{V}{RED}- 1{RESET}", f"{V}{GREEN}+ 2{RESET}"),
        ),
    ],
    ids=["values", "type_change", "context_never_coloured", "flat"],
)
def test_colours(t1: Any, t2: Any, pretty: dict, expected: str) -> None:
    assert Vesperon(t1, t2).pretty(**pretty) == expected
    assert Vesperon(t1, t2).pretty(no_color=True, **pretty) == re.sub(r"\x1b\[\d+m", "", expected)


def test_defaults() -> None:
    deep_t1 = {"a": {"b": {"c": {"d": {"e": {"f": {"g": 1}}}}}}, "l": [1, 2, 3]}
    deep_t2 = {"a": {"b": {"c": {"d": {"e": {"f": {"g": 2}}}}}}, "l": [1, 2, 4]}
    comparison = Vesperon(deep_t1, deep_t2)
    explicit = comparison.pretty(
        compact=False, max_depth=5, context=0, no_color=False, path_header=False
    )
    assert comparison.pretty() == explicit
    assert explicit.splitlines()[:7] == [
        "a", L + "b", B + L + "c", B * 2 + L + "d", B * 3 + L + "e", B * 4 + L + "f",
        B * 5 + L + "...",
    ]
    assert RED in explicit


def test_pretty_leaves_the_comparison_unchanged() -> None:
    comparison = Vesperon(WORKED_T1, WORKED_T2)
    report = comparison.to_dict()
    first = comparison.pretty(context=2)
    assert comparison.pretty(context=2) == first
    assert comparison.to_dict() == report
    assert repr(comparison) == f"Vesperon({report!r})"


def test_deep_nesting() -> None:
    depth = 300

    def nested(leaf: int) -> dict:
        value: Any = leaf
        for _ in range(depth):
            value = {"k": value}
        return value

    comparison = Vesperon(nested(1), nested(2))
    assert comparison.pretty(no_color=True, compact=True) == text(
        ".".join(["k"] * depth), V + "- 1", V + "+ 2"
    )
    full = comparison.pretty(no_color=True, max_depth=2**64 - 1)
    expected = ["k"] + [B * (level - 1) + L + "k" for level in range(1, depth)]
    expected += [B * (depth - 1) + "- 1", B * (depth - 1) + "+ 2"]
    assert full == text(*expected)


def test_wide_list() -> None:
    count = 5000
    t2 = list(range(1, count + 1))
    comparison = Vesperon(list(range(count)), t2)
    lines = []
    for at in range(count):
        lines += [f"[{at}]", f"{V}- {at}", f"{V}+ {at + 1}"]
    assert comparison.pretty(no_color=True) == text(*lines)


class Boom(TypeError):
    pass


class IndexRaising:
    def __init__(self, error: BaseException) -> None:
        self.error = error

    def __index__(self) -> int:
        raise self.error


class Index:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


def chained_type_error() -> TypeError:
    error = TypeError("inner")
    error.__cause__ = KeyError("root cause")
    return error


ARGUMENT_CASES = {
    "positional": (
        (True,),
        {},
        Err(TypeError, "Vesperon.pretty() takes 0 positional arguments but 1 was given"),
    ),
    "two_positional": (
        (True, 1),
        {},
        Err(TypeError, "Vesperon.pretty() takes 0 positional arguments but 2 were given"),
    ),
    "unknown_keyword": (
        (),
        {"color": True},
        Err(TypeError, "Vesperon.pretty() got an unexpected keyword argument 'color'"),
    ),
    "binding_before_conversion": (
        (),
        {"compact": 1, "colour": True},
        Err(TypeError, "Vesperon.pretty() got an unexpected keyword argument 'colour'"),
    ),
    "compact_int": (
        (),
        {"compact": 1},
        Err(TypeError, "argument 'compact': 'int' object cannot be converted to 'PyBool'"),
    ),
    "no_color_none": (
        (),
        {"no_color": None},
        Err(TypeError, "argument 'no_color': 'NoneType' object cannot be converted to 'PyBool'"),
    ),
    "path_header_str": (
        (),
        {"path_header": "yes"},
        Err(TypeError, "argument 'path_header': 'str' object cannot be converted to 'PyBool'"),
    ),
    "declaration_order": (
        (),
        {"path_header": 0, "no_color": 0, "compact": 0},
        Err(TypeError, "argument 'compact': 'int' object cannot be converted to 'PyBool'"),
    ),
    "max_depth_float": (
        (),
        {"max_depth": 2.0},
        Err(TypeError, "argument 'max_depth': ", prefix_only=True),
    ),
    "max_depth_none": (
        (),
        {"max_depth": None},
        Err(TypeError, "argument 'max_depth': ", prefix_only=True),
    ),
    "context_str": ((), {"context": "1"}, Err(TypeError, "argument 'context': ", prefix_only=True)),
    "index_type_error": (
        (),
        {"context": IndexRaising(TypeError("no index here"))},
        Err(TypeError, "argument 'context': no index here"),
    ),
}


@pytest.mark.parametrize(("args", "kwargs", "error"), ARGUMENT_CASES.values(),
                         ids=ARGUMENT_CASES.keys())
def test_argument_errors(args: tuple, kwargs: dict, error: Err) -> None:
    comparison = Vesperon({"a": 1}, {"a": 2})
    with pytest.raises(error.type) as raised:
        comparison.pretty(*args, **kwargs)
    assert type(raised.value) is error.type
    if error.prefix_only:
        assert str(raised.value).startswith(error.message)
    else:
        assert str(raised.value) == error.message


@pytest.mark.parametrize(
    "value", [-1, 2**64, Index(-5), Index(2**70)], ids=["negative", "too_large", "index_neg", "index_big"]
)
@pytest.mark.parametrize("keyword", ["max_depth", "context"])
def test_overflow_is_not_prefixed(keyword: str, value: Any) -> None:
    with pytest.raises(OverflowError) as raised:
        Vesperon(1, 2).pretty(**{keyword: value})
    assert not str(raised.value).startswith("argument")


def test_wrapped_error_takes_the_cause_of_the_original() -> None:
    comparison = Vesperon(1, 2)
    with pytest.raises(TypeError) as raised:
        comparison.pretty(max_depth=IndexRaising(chained_type_error()))
    assert str(raised.value) == "argument 'max_depth': inner"
    assert isinstance(raised.value.__cause__, KeyError)
    assert raised.value.__cause__.args == ("root cause",)

    with pytest.raises(TypeError) as raised:
        comparison.pretty(max_depth=IndexRaising(TypeError("bare")))
    assert str(raised.value) == "argument 'max_depth': bare"
    assert raised.value.__cause__ is None


@pytest.mark.parametrize(
    "error", [Boom("subclass"), ValueError("value"), ZeroDivisionError("zero")],
    ids=["typeerror_subclass", "valueerror", "other"],
)
def test_other_errors_pass_unchanged(error: BaseException) -> None:
    with pytest.raises(type(error)) as raised:
        Vesperon(1, 2).pretty(context=IndexRaising(error))
    assert raised.value is error


def test_accepted_argument_types() -> None:
    np = pytest.importorskip("numpy")
    comparison = Vesperon(WORKED_T1, WORKED_T2)
    assert comparison.pretty(
        compact=np.bool_(True), no_color=np.bool_(True), path_header=np.bool_(False)
    ) == comparison.pretty(compact=True, no_color=True)
    assert comparison.pretty(no_color=True, max_depth=np.int64(1), context=Index(1)) == (
        comparison.pretty(no_color=True, max_depth=1, context=1)
    )
    # bool is an int: max_depth=True is 1.
    assert comparison.pretty(no_color=True, max_depth=True) == comparison.pretty(
        no_color=True, max_depth=1
    )
    huge = comparison.pretty(no_color=True, max_depth=2**64 - 1, context=2**64 - 1)
    assert "= 5" in huge and "= 1" in huge


# Real library objects reach pretty() through their own export methods.
def test_numpy_arrays() -> None:
    np = pytest.importorskip("numpy")
    comparison = Vesperon({"m": np.array([[1, 2], [3, 4]])}, {"m": np.array([[1, 2], [3, 5]])})
    assert comparison.pretty(no_color=True) == text(
        "m", L + "[1]", B + L + "[1]", B + B + "- 4", B + B + "+ 5"
    )
    assert comparison.pretty(no_color=True, compact=True) == text("m[1][1]", V + "- 4", V + "+ 5")


def test_pandas_frames() -> None:
    pd = pytest.importorskip("pandas")
    before = pd.DataFrame({"a": [1, 2], "b": ["x", "y"]})
    after = pd.DataFrame({"a": [1, 2], "b": ["x", "z"], "c": [0.5, 1.5]})
    assert Vesperon(before, after).pretty(no_color=True) == text(
        "b", L + "[1]", B + "- 'y'", B + "+ 'z'", "c", V + "+ [0.5, 1.5]"
    )


def test_pydantic_models() -> None:
    pydantic = pytest.importorskip("pydantic")

    class Item(pydantic.BaseModel):
        name: str
        tags: list[str]

    comparison = Vesperon(Item(name="a", tags=["x"]), Item(name="a", tags=["x", "it's"]))
    assert comparison.pretty(no_color=True, path_header=True) == text(
        "tags[1]", V + "+ 'it\\'s'"
    )


def report_entries(report: dict) -> int:
    return sum(len(section) for section in report.values())


@pytest.mark.skipif(not DATA.is_dir(), reason="the shared example documents are not here")
@pytest.mark.parametrize("name", ["express", "semver", "vue"])
def test_real_documents_list_every_change(name: str) -> None:
    before = json.loads((DATA / f"{name}-a.json").read_text())
    after = json.loads((DATA / f"{name}-b.json").read_text())
    comparison = Vesperon(before, after)
    flat = comparison.pretty(no_color=True, path_header=True).split("\n")
    headers = [line for line in flat if not line.startswith(V)]
    assert len(headers) == report_entries(comparison.to_dict()) > 0
    assert headers == sorted(headers, key=lambda header: header.encode())
    tree = comparison.pretty(no_color=True, max_depth=2**64 - 1)
    change_lines = [line for line in tree.split("\n") if re.match(r"[-+] ", line.lstrip("│ "))]
    assert len(change_lines) == len(flat) - len(headers)


# Keys from the characters that matter to paths and labels: quotes, brackets, backslashes,
# control characters and non-ASCII text.
KEYS = st.text(alphabet="ab'[]\\\"\t\n\x00é ", max_size=4)
SCALARS = st.none() | st.booleans() | st.integers(-(2**63), 2**64 - 1) | st.floats(
    allow_nan=False, allow_infinity=False
) | st.text(alphabet="x'\\\t\n\"é", max_size=3)
VALUES = st.recursive(
    SCALARS,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(KEYS, inner, max_size=4),
    max_leaves=12,
)
OPTIONS = st.fixed_dictionaries(
    {
        "compact": st.booleans(),
        "max_depth": st.integers(0, 4) | st.just(2**64 - 1),
        "context": st.integers(0, 3) | st.just(2**64 - 1),
        "path_header": st.booleans(),
    }
)


@settings(max_examples=300, deadline=None, database=None)
@given(t1=VALUES, t2=VALUES, ignore_order=st.booleans(), options=OPTIONS)
def test_any_report_renders(t1: Any, t2: Any, ignore_order: bool, options: dict) -> None:
    comparison = Vesperon(t1, t2, ignore_order=ignore_order)
    coloured = comparison.pretty(**options)
    uncoloured = comparison.pretty(no_color=True, **options)
    assert "\x1b" not in uncoloured
    assert re.sub(r"\x1b\[(?:31|32|0)m", "", coloured) == uncoloured
    assert not uncoloured.endswith("\n")
    if not comparison:
        assert uncoloured == ""
    report = comparison.to_dict()
    if options["path_header"] and not any("\n" in path for part in report.values() for path in part):
        # The flat listing draws every entry of the report under a header of its own (a key
        # holding a line feed would split its header, and is left out of this count).
        lines = uncoloured.split("\n") if uncoloured else []
        headers = [line for line in lines if not line.startswith(V)]
        assert len(headers) == report_entries(report)


def test_signature() -> None:
    assert str(inspect.signature(hexalume.Vesperon.pretty)) == (
        "(self, /, *, compact=False, max_depth=5, context=0, no_color=False, path_header=False)"
    )
