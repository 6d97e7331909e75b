"""Typed use of hexalume. Must pass `mypy --strict` against the installed stubs, and runs as is."""

from __future__ import annotations

import decimal
import json

import hexalume
from hexalume import Vesperon


def changed_paths(old: object, new: object) -> list[str]:
    """Every path the report names, whatever the section."""
    report = Vesperon(old, new, verbose_level=0).to_dict()
    paths: list[str] = []
    paths += report.get("dictionary_item_added", [])
    paths += report.get("dictionary_item_removed", [])
    paths += report.get("iterable_item_added", {}).keys()
    paths += report.get("iterable_item_removed", {}).keys()
    paths += report.get("type_changes", {}).keys()
    paths += report.get("values_changed", [])
    return sorted(paths)


def type_changes(old: object, new: object) -> list[tuple[str, str, str]]:
    report = Vesperon(old, new).to_dict()
    return [
        (path, entry["old_type"], entry["new_type"])
        for path, entry in report.get("type_changes", {}).items()
    ]


def new_values(old: object, new: object) -> dict[str, object]:
    changed = Vesperon(old, new).to_dict().get("values_changed", {})
    return {path: entry["new_value"] for path, entry in changed.items()}


def changed_count(old: object, new: object, verbose_level: int) -> int:
    # A level known only at run time: either form.
    changed = Vesperon(old, new, verbose_level=verbose_level).to_dict().get("values_changed", [])
    return len(changed)


def with_every_option(old: object, new: object) -> Vesperon:
    return Vesperon(
        old,
        new,
        ignore_order=True,
        ignore_numeric_type_changes=False,
        ignore_string_type_changes=False,
        ignore_type_in_groups=[(int, float), [type(None), str], (decimal.Decimal,)],
        significant_digits=3,
        math_epsilon=None,
        math_absilon=0.5,
        atol=0.1,
        rtol=None,
        include_paths=("root['a']",),
        exclude_paths={"root['b']"},
        verbose_level=2,
    )


def render(diff: Vesperon) -> str:
    if not diff:
        return ""
    sections: int = len(diff)
    text = diff.pretty(compact=True, max_depth=3, context=1, no_color=True, path_header=False)
    return f"{sections}\n{text}"


def as_json(diff: Vesperon) -> str:
    return json.dumps(diff.to_dict(), sort_keys=True)


EXPORTED: list[str] = hexalume.__all__


def render_paths_only(old: object, new: object) -> str:
    # A bare `Vesperon` annotation accepts a comparison of any verbose_level.
    return render(Vesperon(old, new, verbose_level=0))
