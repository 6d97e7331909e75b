"""hexalume_patch: patches that rebuild `new` exactly, the public JSON Patch cases, errors,
atomicity, no sharing, and the --patch and --apply modes of the command."""

from __future__ import annotations

import copy
import json
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

from helpers import DATA, Err, cli_module, outcome

cli = cli_module()  # puts the checkout's python/ on the path when testing a build folder
from hexalume_patch import apply_patch, make_patch  # noqa: E402

CASES = [
    case
    for case in json.loads((DATA / "json-patch-tests" / "tests.json").read_text("utf-8"))
    if "patch" in case and not case.get("disabled")
]


def strict(value):
    """A form of a JSON value that is equal only for equal values of equal types (1, 1.0 and
    True differ); the order of dict keys does not count, as in JSON."""
    if isinstance(value, dict):
        return (
            "dict",
            sorted(((key, strict(item)) for key, item in value.items()), key=lambda kv: kv[0]),
        )
    if isinstance(value, (list, tuple)):
        return ("list", [strict(item) for item in value])
    return (type(value).__name__, value)


def containers(value, found=None):
    """The ids of every list and dict in `value`."""
    found = set() if found is None else found
    if isinstance(value, (list, dict)):
        found.add(id(value))
        for item in value.values() if isinstance(value, dict) else value:
            containers(item, found)
    return found


@pytest.mark.parametrize("in_place", [False, True])
@pytest.mark.parametrize("case", CASES, ids=lambda case: case.get("comment", "")[:40])
def test_public_cases(case, in_place):
    doc = copy.deepcopy(case["doc"])
    inner = containers(doc)
    if "error" in case:
        Err(ValueError).check(lambda: apply_patch(doc, case["patch"], in_place=in_place))
        assert strict(doc) == strict(case["doc"]) and containers(doc) == inner
        return
    result = apply_patch(doc, case["patch"], in_place=in_place)
    assert strict(result) == strict(case["expected"])
    if not in_place:
        assert strict(doc) == strict(case["doc"]) and not containers(result) & inner


keys = st.text(alphabet="a~/0-", max_size=3)
scalars = (
    st.none()
    | st.booleans()
    | st.integers()
    | st.integers(min_value=2**64)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.sampled_from([0, 1, 1.0, True, False, 0.0, "1"])
    | st.text(max_size=3)
)
documents = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=6) | st.dictionaries(keys, inner, max_size=5),
    max_leaves=25,
)


def check_round_trip(old, new):
    before_old, before_new = copy.deepcopy(old), copy.deepcopy(new)
    for test in (False, True):
        patch = make_patch(old, new, test=test)
        assert strict(apply_patch(old, patch)) == strict(new)
        assert not containers(patch) & containers(new)
    assert strict(old) == strict(before_old) and strict(new) == strict(before_new)
    return make_patch(old, new)


@given(documents, documents)
def test_patch_rebuilds_new(old, new):
    check_round_trip(old, new)


@given(st.lists(documents, max_size=30), st.data())
def test_list_edits(old, data):
    """Items inserted, removed or edited in place; k insertions or k removals are k operations."""
    new = list(old)
    inserted = data.draw(st.lists(st.tuples(st.integers(0, 30), documents), max_size=5))
    for position, item in inserted:
        new.insert(min(position, len(new)), item)
    assert len(check_round_trip(old, new)) == len(inserted)
    assert len(check_round_trip(new, old)) == len(inserted)
    if new:
        at = data.draw(st.integers(0, len(new) - 1))
        edited = new[:at] + [{"edited": new[at]}] + new[at + 1 :]
        check_round_trip(old, edited)


# Round trips of every kind are generated above, and the guide shows a replace inside an item
# and the test operations of test=True; this pins the escaping of pointers.
def test_make_patch_escapes_pointers():
    patch = make_patch({"a/b": {"~": 1}}, {"a/b": {"~": 2}})
    assert patch == [{"op": "replace", "path": "/a~1b/~0", "value": 2}]


JSON_TYPES = "a document holds dict, list, tuple, str, int, float, bool and None"


# Refusals of a set, an int key and nan: the guide's examples.
@pytest.mark.parametrize(
    "new, expected",
    [
        ({"x/y": [b"x"]}, Err(TypeError, f"new: 'bytes' object at \"/x~1y/0\" is not JSON ({JSON_TYPES})")),
        (["\ud800"], Err(ValueError, 'new: the str at "/0" holds a lone surrogate, which is not JSON text')),
    ],
)  # fmt: skip
def test_make_patch_refuses(new, expected):
    # The refusal holds even where old has the same object, so nothing differs.
    outcome(
        lambda: make_patch(new, 0), Err(expected.type, expected.message.replace("new:", "old:"))
    )
    outcome(lambda: make_patch(0, new), expected)


DOC = {"a": [1, 2], "b": {"c": 1}}


# A test that fails and a missing member: the guide's examples.
@pytest.mark.parametrize(
    "patch, expected",
    [
        ([{"op": "move", "from": "/b", "path": "/b/c/d"}], 'operation 0 (move "/b/c/d"): "/b" cannot be moved into its own child'),
        ([{"op": "replace", "path": "/a/-", "value": 0}], 'operation 0 (replace "/a/-"): "-" is not an index of the list at "/a"'),
        ([{"op": "add", "path": "/a/3", "value": 0}], 'operation 0 (add "/a/3"): index 3 is out of range: the list at "/a" has 2 items'),
        ([{"op": "add", "path": "/b/c/d", "value": 0}], 'operation 0 (add "/b/c/d"): "/b/c" is a int, which has no members'),
        ([{"op": "add", "path": "a", "value": 0}], 'operation 0 (add "a"): "a" is not a JSON Pointer: it must be empty or start with "/"'),
        ([{"op": "add", "path": "/~2", "value": 0}], 'operation 0 (add "/~2"): "/~2" is not a JSON Pointer: "~" must be followed by 0 or 1'),
        ([{"op": "copy", "path": "/x"}], 'operation 0 (copy "/x"): missing "from"'),
        ([{"op": "add", "path": "/x"}], 'operation 0 (add "/x"): missing "value"'),
        ([{"op": "add", "value": 1}], 'operation 0 (add): missing "path"'),
        ([{"op": "add", "path": None, "value": 1}], "operation 0 (add): \"path\" must be a str, not 'NoneType'"),
        ([{"path": "/a"}], 'operation 0: missing "op"'),
        ([{"op": "spam", "path": "/a"}], "operation 0: unknown op 'spam'"),
        (["add"], "operation 0: an operation is a dict, not 'str'"),
        ([{"op": "remove", "path": ""}], 'operation 0 (remove ""): the whole document cannot be removed'),
    ],
)  # fmt: skip
def test_apply_patch_errors_leave_the_document(patch, expected):
    for in_place in (False, True):
        doc = copy.deepcopy(DOC)
        inner = [doc["a"], doc["b"]]
        # Operations of every kind succeed before the failing one and are all undone.
        prefix = [
            {"op": "add", "path": "/a/0", "value": [9]},
            {"op": "remove", "path": "/a/0"},
            {"op": "replace", "path": "/b/c", "value": 5},
            {"op": "replace", "path": "/b/c", "value": 1},
            {"op": "copy", "from": "/b", "path": "/z"},
            {"op": "move", "from": "/z", "path": "/a/-"},
            {"op": "remove", "path": "/a/2"},
            {"op": "remove", "path": "/b"},
            {"op": "add", "path": "/b", "value": {"c": 1}},
        ]
        ops = [*prefix, *patch] if in_place else patch
        message = re.sub(r"^operation \d+", f"operation {len(ops) - 1}", expected)
        Err(ValueError, message).check(lambda: apply_patch(doc, ops, in_place=in_place))
        assert strict(doc) == strict(DOC) and [doc["a"], doc["b"]] == inner
        assert doc["a"] is inner[0] and doc["b"] is inner[1]


@pytest.mark.parametrize(
    "doc, patch, expected",
    [
        ({"a": 1}, [{"op": "add", "path": "/b", "value": {1}}], Err(TypeError, f'operation 0 (add "/b") value: \'set\' object at "" is not JSON ({JSON_TYPES})')),
        ({"a": {2}}, [], Err(TypeError, f"doc: 'set' object at \"/a\" is not JSON ({JSON_TYPES})")),
        ({"a": (1, 2)}, [{"op": "add", "path": "/a/-", "value": (3,)}], {"a": [1, 2, [3]]}),
        ([1], {"op": "add"}, Err(TypeError, "a patch is a list of operations, not 'dict'")),
    ],
)  # fmt: skip
def test_apply_patch_values(doc, patch, expected):
    outcome(lambda: apply_patch(doc, patch), expected)


def test_apply_patch_copies_values():
    value = {"x": [1]}
    doc = apply_patch(
        {},
        [
            {"op": "add", "path": "/v", "value": value},
            {"op": "copy", "from": "/v", "path": "/w"},
            {"op": "add", "path": "/v/x/-", "value": 2},
        ],
    )
    assert doc == {"v": {"x": [1, 2]}, "w": {"x": [1]}} and value == {"x": [1]}
    in_place = {"a": [1]}
    assert (
        apply_patch(in_place, [{"op": "add", "path": "/a/-", "value": 2}], in_place=True)
        is in_place
    )
    assert in_place == {"a": [1, 2]}


def test_command(tmp_path, capsys):
    # Output and errors of --patch and --apply: the guide's examples.
    old, new = tmp_path / "old.json", tmp_path / "new.json"
    old.write_text('{"a": [1, 2], "n": 1}')
    new.write_text('{"a": [0, 1, 2], "n": 1.0}')
    assert (cli.main(["--patch", str(old), str(old)]), capsys.readouterr().out) == (0, "[]\n")
    assert cli.main(["--patch", str(old), str(new)]) == 1
    (tmp_path / "patch.json").write_text(capsys.readouterr().out)
    assert cli.main(["--apply", str(tmp_path / "patch.json"), str(old)]) == 0
    assert strict(json.loads(capsys.readouterr().out)) == strict(json.loads(new.read_text()))
