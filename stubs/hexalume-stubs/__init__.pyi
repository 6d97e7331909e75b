# Type information for the hexalume extension module, shipped as a stub-only package because
# a single-file extension module has no package directory to hold a py.typed marker.

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
    ) -> Vesperon: ...
    def to_dict(self) -> _Report: ...
    def pretty(
        self,
        *,
        compact: bool = False,
        max_depth: int = 5,
        context: int = 0,
        no_color: bool = False,
        path_header: bool = False,
    ) -> str: ...
    def __bool__(self) -> bool: ...
    def __len__(self) -> int: ...
