"""The report as users get it from to_dict(): exact dictionaries for small cases, and real package
documents checked against a plain Python model of the comparison."""

from __future__ import annotations

import ast
import json
from pathlib import Path

import pytest

from helpers import PAIRS, load, run_python, sorted_keys, typed
from hexalume import Vesperon


def model_report(t1, t2, verbose_level=1):
    """The report of an order-sensitive comparison without options, written plainly in Python
    for JSON-like data (None, bool, int, float, str, list, dict with str keys)."""
    names = "values_changed iterable_item_added iterable_item_removed type_changes"
    sections = {name: {} for name in names.split()}
    added, removed = [], []

    def kind(value):
        if value is None:
            return "null"
        if isinstance(value, bool):
            return "bool"
        if isinstance(value, (int, float)):
            return "number"
        return {str: "string", list: "list", dict: "object"}[type(value)]

    def type_name(value):
        names = {"null": "null", "bool": "bool", "string": "str", "list": "list", "object": "dict"}
        return names.get(kind(value)) or type(value).__name__

    def same(a, b):
        if kind(a) != kind(b):
            return False
        if kind(a) == "number":
            return type(a) is type(b) and a == b
        if kind(a) == "list":
            return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b, strict=True))
        if kind(a) == "object":
            return a.keys() == b.keys() and all(same(a[key], b[key]) for key in a)
        return a == b

    def walk(a, b, path):
        if kind(a) != kind(b):
            change = {"new_type": type_name(b), "new_value": b, "old_type": type_name(a)}
            sections["type_changes"][path] = {**change, "old_value": a}
        elif same(a, b):
            pass
        elif kind(a) == "object":
            for key in sorted(a, key=str.encode):
                if key in b:
                    walk(a[key], b[key], f"{path}['{key}']")
                else:
                    removed.append(f"{path}['{key}']")
            added.extend(f"{path}['{key}']" for key in sorted(b, key=str.encode) if key not in a)
        elif kind(a) == "list":
            for index in range(min(len(a), len(b))):
                walk(a[index], b[index], f"{path}[{index}]")
            for index in range(len(b), len(a)):
                sections["iterable_item_removed"][f"{path}[{index}]"] = a[index]
            for index in range(len(a), len(b)):
                sections["iterable_item_added"][f"{path}[{index}]"] = b[index]
        else:
            sections["values_changed"][path] = {"new_value": b, "old_value": a}

    walk(t1, t2, "root")
    result = {"dictionary_item_added": added, "dictionary_item_removed": removed}
    result = {name: sorted(paths, key=str.encode) for name, paths in result.items()}
    for name, entries in sections.items():
        result[name] = {path: entries[path] for path in sorted(entries, key=str.encode)}
    if verbose_level == 0:
        result["values_changed"] = list(result["values_changed"])
    return {name: result[name] for name in sorted(result) if result[name]}


@pytest.mark.parametrize("old_name, new_name", PAIRS)
@pytest.mark.parametrize("verbose_level", [1, 0])
def test_real_documents_match_the_model(old_name, new_name, verbose_level):
    old, new = load(old_name), load(new_name)
    got = Vesperon(old, new, verbose_level=verbose_level).to_dict()
    assert got  # the releases differ
    assert typed(got) == typed(sorted_keys(model_report(old, new, verbose_level)))
    assert Vesperon(new, old).to_dict().keys() >= {
        "dictionary_item_added",
        "dictionary_item_removed",
    }


def test_example_script_prints_the_report():
    examples = Path(__file__).resolve().parents[1] / "examples"
    script = str(examples / "compare.py")
    result = run_python(
        f"import runpy, sys; sys.argv = [{script!r}]; "
        f"runpy.run_path({script!r}, run_name='__main__')"
    )
    assert result.returncode == 0, result.stderr
    heading, _, printed = result.stdout.partition("\n")
    expected = Vesperon(
        *(
            json.loads((examples / name).read_text(encoding="utf-8"))
            for name in ("semver-6.3.1.json", "semver-7.5.4.json")
        )
    ).to_dict()
    assert heading == f"semver-6.3.1.json -> semver-7.5.4.json: {len(expected)} kinds of change"
    assert ast.literal_eval(printed) == expected
