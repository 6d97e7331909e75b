"""pytest plugin: a failed ``assert left == right`` on nested data is explained by the tree of
what changed, drawn by ``Vesperon(left, right).pretty()``.

Installed with hexalume and registered under pytest's ``pytest11`` entry points as ``hexalume``;
``pytest -p no:hexalume`` turns it off. Whenever it cannot explain a failure exactly, it returns
nothing and pytest's own explanation stands.

Settings (ini file): ``hexalume_max_depth`` (levels drawn; default: all), ``hexalume_context``
(unchanged list neighbours shown around a change; default 1) and ``hexalume_ignore_order``
(compare lists as collections; default false).
"""

from __future__ import annotations

import re
import sys
from typing import Any, NamedTuple

import pytest

_UNLIMITED_DEPTH = 2**64 - 1


class _Settings(NamedTuple):
    max_depth: int
    context: int
    ignore_order: bool


_SETTINGS = pytest.StashKey[_Settings]()


def pytest_addoption(parser: pytest.Parser) -> None:
    parser.addini(
        "hexalume_max_depth",
        "hexalume: levels of the change tree drawn in assertion explanations (default: all)",
        default="",
    )
    parser.addini(
        "hexalume_context",
        "hexalume: unchanged list items shown on each side of a change (default: 1)",
        default="1",
    )
    parser.addini(
        "hexalume_ignore_order",
        "hexalume: compare lists without regard to order in assertion explanations",
        type="bool",
        default=False,
    )


def _count_setting(config: pytest.Config, name: str) -> int | None:
    text = str(config.getini(name)).strip()
    if not text:
        return None
    if not text.isdigit() or int(text) > _UNLIMITED_DEPTH:
        raise pytest.UsageError(f"{name} must be a non-negative integer, not {text!r}")
    return int(text)


def pytest_configure(config: pytest.Config) -> None:
    # Read once at start-up, so that a bad value is a usage error rather than an explanation
    # that silently falls back to pytest's own.
    try:
        ignore_order = bool(config.getini("hexalume_ignore_order"))
    except ValueError as error:
        raise pytest.UsageError(f"hexalume_ignore_order: {error}") from None
    max_depth = _count_setting(config, "hexalume_max_depth")
    context = _count_setting(config, "hexalume_context")
    config.stash[_SETTINGS] = _Settings(
        _UNLIMITED_DEPTH if max_depth is None else max_depth,
        1 if context is None else context,
        ignore_order,
    )


def _is_container(value: object) -> bool:
    if isinstance(value, (dict, list, tuple, set, frozenset)):
        return True
    # Library objects are recognised only when their library is already loaded: nothing is
    # imported here.
    numpy = sys.modules.get("numpy")
    if numpy is not None and isinstance(value, numpy.ndarray):
        return value.ndim > 0
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(value, (pandas.DataFrame, pandas.Series, pandas.Index)):
        return True
    pydantic = sys.modules.get("pydantic")
    return pydantic is not None and isinstance(value, pydantic.BaseModel)


def _natural(path: str) -> list[str | int]:
    """Orders list positions by number: root[2] before root[10]."""
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", path)]


# Children that differ are narrowed in turn while there are at most this many of them; beyond,
# they are handed to Vesperon whole, which is faster than narrowing them here.
_NARROWED_CHILDREN = 16
_SLICE = 256


def _differing(left: list[Any], right: list[Any], differ: bool) -> list[int]:
    """Positions below the shorter length whose items == finds different; `differ` says that the
    two lists differ under ==. Long lists are compared in full slices by the lists' own == (in
    C), and item by item only within slices that differ."""
    if differ and len(left) == len(right) == 1:
        return [0]
    found = []
    common = min(len(left), len(right))
    for start in range(0, common, _SLICE):
        stop = min(start + _SLICE, common)
        if stop - start == _SLICE and left[start:stop] == right[start:stop]:
            continue
        for index in range(start, stop):
            # With the identity shortcut of the lists' own ==.
            if left[index] is not right[index] and not left[index] == right[index]:
                found.append(index)
    return found


def _narrowed(left: object, right: object, context: int) -> tuple[object, object]:
    """For two values that differ under ==: when they are containers of the same built-in type,
    copies of them in which every part that == finds equal on both sides is None on both, keys
    and positions kept, and list items within `context` of a difference kept for the tree to
    show. The comparison then converts and walks only what differs, and finds the same changes
    at the same paths, save differences that == does not see (1 against 1.0): those are not why
    the assertion failed."""
    kind = type(left)
    if kind is not type(right) or kind not in (dict, list, tuple):
        return left, right
    if kind is dict:
        shared = [key for key in left if key in right]
        differing = _differing(
            [left[key] for key in shared],
            [right[key] for key in shared],
            len(shared) == len(left) == len(right),
        )
        pairs = _pairs(left, right, [shared[i] for i in differing], context)
        return (
            {
                key: pairs[key][0] if key in pairs else None if key in right else value
                for key, value in left.items()
            },
            {
                key: pairs[key][1] if key in pairs else None if key in left else value
                for key, value in right.items()
            },
        )
    items = (list(left), list(right))
    indexes = _differing(*items, differ=True)
    pairs = _pairs(left, right, indexes, context)
    shown = set(range(min(map(len, items)), max(map(len, items))))
    for index in [*indexes, *shown]:
        shown.update(range(max(index - context, 0), index + context + 1))
    copies: list[list[Any]] = [[None] * len(left), [None] * len(right)]
    for side in (0, 1):
        for i in shown:
            if i < len(items[side]):
                copies[side][i] = items[side][i]
        for i, pair in pairs.items():
            copies[side][i] = pair[side]
    return kind(copies[0]), kind(copies[1])


def _pairs(left: Any, right: Any, places: list[Any], context: int) -> dict[Any, tuple[Any, Any]]:
    narrow = len(places) <= _NARROWED_CHILDREN
    return {
        place: _narrowed(left[place], right[place], context)
        if narrow
        else (left[place], right[place])
        for place in places
    }


def _explain(config: pytest.Config, left: object, right: object) -> list[str] | None:
    from _pytest._io.saferepr import saferepr

    from hexalume import Vesperon

    settings = config.stash[_SETTINGS]
    # Sets have no order; comparing their sorted items by position would report shifted
    # neighbours instead of the members added and removed. Neighbours by position mean nothing
    # where order does not count.
    unordered = settings.ignore_order or isinstance(left, (set, frozenset))
    context = 0 if unordered else settings.context
    try:
        narrow_left, narrow_right = _narrowed(left, right, context)
    except Exception:  # noqa: BLE001
        # An == that raised or nesting too deep for Python code: compare the operands whole.
        narrow_left, narrow_right = left, right
    diff = Vesperon(narrow_left, narrow_right, ignore_order=unordered)
    if not diff:
        # Equal under hexalume's rules although == was false (a tuple against a list, the key 1
        # against '1'): only pytest's explanation can say why.
        return None
    tree = diff.pretty(
        max_depth=settings.max_depth,
        context=context,
        no_color=not config.get_terminal_writer().hasmarkup,
    )
    # The operands cut to the width pytest gives them at its default verbosity, at -vv as well:
    # the tree says what differs, and the whole repr of large documents would take longer to
    # write than the comparison and bury the tree.
    width = (80 - 15 - len("==") - 2) // 2
    summary = f"{saferepr(left, maxsize=width)} == {saferepr(right, maxsize=width)}"
    # Each report section holds its changes keyed (or listed) by path.
    paths = sorted((path for section in diff.to_dict().values() for path in section), key=_natural)
    count = f"{len(paths)} change{'' if len(paths) == 1 else 's'}"
    order = "; lists compared without regard to order" if unordered else ""
    return [
        summary,
        f"hexalume: {count} (- left, + right){order}",
        *tree.split("\n"),
        "paths in the report:",
        *(f"  {path}" for path in paths),
    ]


def pytest_assertrepr_compare(
    config: pytest.Config, op: str, left: object, right: object
) -> list[str] | None:
    if op != "==" or not (_is_container(left) or _is_container(right)):
        return None
    try:
        return _explain(config, left, right)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException:  # noqa: BLE001
        # Unsupported values, NaN, nesting deeper than the limit, or a fault of ours: the
        # assertion error must reach the user all the same, with pytest's own explanation.
        return None
