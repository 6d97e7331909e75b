# Type information for the hexalume extension module, shipped as a stub-only package because
# a single-file extension module has no package directory to hold a py.typed marker. The
# docstrings here are what editors show on hover; the compiled module carries only the
# signatures.

"""Exact structural comparison of nested Python data: ``Vesperon(old, new, **options)``.

The version is ``importlib.metadata.version("hexalume")``; the user guide is docs/guide.md.
"""

from collections.abc import Callable
from typing import Any, TypedDict, final

__all__ = ["Vesperon"]

# A type group names Python types (int, float, str, bytes, None's type, list, tuple, dict,
# numpy scalar types, numbers.Number subclasses) or numpy's array function.
_TypeItem = type | Callable[..., Any]
_TypeGroup = list[_TypeItem] | tuple[_TypeItem, ...]
_PathFilter = list[str] | tuple[str, ...] | set[str] | frozenset[str]

class _ValueChange(TypedDict):
    new_value: Any
    old_value: Any

class _TypeChange(TypedDict):
    new_type: str
    new_value: Any
    old_type: str
    old_value: Any

# Only the categories that hold a change are present; no change gives {}. Keys of the inner
# dictionaries and the list entries are path strings such as "root['a'][0]".
class _Report(TypedDict, total=False):
    dictionary_item_added: list[str]
    dictionary_item_removed: list[str]
    iterable_item_added: dict[str, Any]
    iterable_item_removed: dict[str, Any]
    type_changes: dict[str, _TypeChange]
    # A list of paths when the comparison was made with verbose_level=0.
    values_changed: dict[str, _ValueChange] | list[str]

@final
class Vesperon:
    def __new__(
        cls,
        t1: object,
        t2: object,
        *,
        ignore_order: bool = False,
        ignore_numeric_type_changes: bool = False,
        ignore_string_type_changes: bool = False,
        ignore_type_in_groups: list[_TypeGroup] | tuple[_TypeGroup, ...] = ...,
        significant_digits: int | None = None,
        math_epsilon: float | None = None,
        math_absilon: float | None = None,
        atol: float | None = None,
        rtol: float | None = None,
        include_paths: _PathFilter = ...,
        exclude_paths: _PathFilter = ...,
        verbose_level: int = 1,
    ) -> Vesperon:
        """Compares `t1` (old) with `t2` (new) once, now, and keeps the report.

        Inputs: None, bool, int, float, str, list, tuple, set, dict (keys become their str()),
        objects with __index__ or __float__, numpy arrays and scalars, pandas DataFrame and
        Series, pydantic models. Options, all keyword-only and off by default:
        ignore_order=False (lists as collections), ignore_numeric_type_changes=False,
        ignore_string_type_changes=False, ignore_type_in_groups=[] (groups of types compared
        as one), significant_digits=None, atol/rtol/math_epsilon/math_absilon=None (numeric
        tolerances), include_paths/exclude_paths (path strings such as "root['a'][0]"),
        verbose_level=1 (0 lists changed paths only).

        Raises TypeError for an unsupported input or a badly typed option, ValueError for NaN
        or infinite floats and unknown options, OverflowError for an out-of-range
        verbose_level or significant_digits, RecursionError for nesting deeper than the
        interpreter's recursion limit (and never deeper than 10,000 levels).
        """
    def to_dict(self) -> _Report:
        """The report as a new dict on every call: only the sections that hold a change, each
        keyed by path strings; {} when the inputs are equal."""
    def pretty(
        self,
        *,
        compact: bool = False,
        max_depth: int = 5,
        context: int = 0,
        no_color: bool = False,
        path_header: bool = False,
    ) -> str:
        """The changes drawn as a text tree, one line per key or list position on the way to a
        change, with "- old" and "+ new" lines (red and green unless no_color=True); "" when
        nothing changed. compact joins single-child chains into one label, max_depth limits
        the levels drawn ("..." stands for the rest), context shows that many unchanged list
        neighbours, path_header lists each change under its whole path instead. Raises
        TypeError for a switch that is not a bool and OverflowError for a negative count."""
    def __bool__(self) -> bool:
        """True when the inputs differ."""
    def __len__(self) -> int:
        """The number of report sections that hold a change (not the number of changes)."""
