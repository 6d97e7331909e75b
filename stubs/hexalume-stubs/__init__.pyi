# Type information for the hexalume extension module, shipped as a stub-only package because
# a single-file extension module has no package directory to hold a py.typed marker. The
# docstrings here are what editors show on hover; the compiled module carries only the
# signatures.

"""Exact structural comparison of nested Python data: ``Vesperon(old, new, **options)``.

The version is ``importlib.metadata.version("hexalume")``; the user guide is docs/guide.md.
"""

from collections.abc import Callable
from typing import Any, Generic, Literal, TypeAlias, TypedDict, final, overload

from typing_extensions import ReadOnly, TypeVar

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
class _Sections(TypedDict, total=False):
    dictionary_item_added: list[str]
    dictionary_item_removed: list[str]
    iterable_item_added: dict[str, Any]
    iterable_item_removed: dict[str, Any]
    type_changes: dict[str, _TypeChange]

# The report of a comparison made with a verbose_level other than 0 (the default).
class _Report(_Sections, total=False):
    values_changed: dict[str, _ValueChange]

# The report of a comparison made with verbose_level=0: changed values as a list of paths.
class _PathsReport(_Sections, total=False):
    values_changed: list[str]

# Either report, for a verbose_level known only at run time. Read-only, so that both reports are
# of this type too.
class _AnyReport(_Sections, total=False):
    values_changed: ReadOnly[dict[str, _ValueChange] | list[str]]

_R = TypeVar("_R", covariant=True, bound=_AnyReport, default=_AnyReport)
# fmt: off
_NonZeroLevel: TypeAlias = Literal[
    1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
    26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48,
    49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71,
    72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94,
    95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113,
    114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131,
    132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 148, 149,
    150, 151, 152, 153, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164, 165, 166, 167,
    168, 169, 170, 171, 172, 173, 174, 175, 176, 177, 178, 179, 180, 181, 182, 183, 184, 185,
    186, 187, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 199, 200, 201, 202, 203,
    204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 215, 216, 217, 218, 219, 220, 221,
    222, 223, 224, 225, 226, 227, 228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239,
    240, 241, 242, 243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 254, 255
]
# fmt: on

@final
class Vesperon(Generic[_R]):
    @overload
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
        verbose_level: Literal[0],
    ) -> Vesperon[_PathsReport]: ...
    @overload
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
        verbose_level: _NonZeroLevel = 1,
    ) -> Vesperon[_Report]:
        """Compares `t1` (old) with `t2` (new) once, now, and keeps the report.

        Inputs: None, bool, int, float, str, list, tuple, set, dict (keys become their str()),
        objects with __index__ or __float__, numpy arrays and scalars, pandas DataFrame and
        Series, pydantic models. Options, all keyword-only and off by default:
        ignore_order=False (lists as collections), ignore_numeric_type_changes=False,
        ignore_string_type_changes=False, ignore_type_in_groups=[] (groups of types compared
        as one), significant_digits=None, atol/rtol/math_epsilon/math_absilon=None (numeric
        tolerances), include_paths/exclude_paths (path strings such as "root['a'][0]"),
        verbose_level=1 (0 lists changed paths only: to_dict() then gives "values_changed" as
        a list of paths).

        Raises TypeError for an unsupported input or a badly typed option, ValueError for NaN
        or infinite floats and unknown options, OverflowError for an out-of-range
        verbose_level or significant_digits, RecursionError for nesting deeper than the
        interpreter's recursion limit (and never deeper than 10,000 levels).
        """
    @overload
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
        verbose_level: int,
    ) -> Vesperon[_AnyReport]: ...
    def to_dict(self) -> _R:
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
