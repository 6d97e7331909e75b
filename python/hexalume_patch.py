"""JSON Patch (RFC 6902) for JSON documents held as Python objects.

``make_patch(old, new)`` writes the operations that turn ``old`` into a document equal to
``new``, types included; ``apply_patch(doc, patch)`` applies a patch, all or nothing. A JSON
document is made of dicts with str keys, lists (tuples read as lists), str, int of any size,
finite float, bool and None.
"""

from __future__ import annotations

import re
from typing import Any, NoReturn

import _hexalume_patch as _native  # type: ignore[import-not-found]

__all__ = ["apply_patch", "make_patch"]

_OPERATIONS = ("add", "remove", "replace", "move", "copy", "test")
# A reference token of RFC 6901: "~" only as the escapes "~0" and "~1".
_TOKEN = re.compile(r"(?:[^~]|~[01])*")


def make_patch(old: Any, new: Any, *, test: bool = False) -> list[dict[str, Any]]:
    """The JSON Patch operations (add, remove, replace) that turn ``old`` into ``new``.

    Applying them to ``old`` gives a document equal to ``new`` with every type kept: ``1``,
    ``1.0`` and ``True`` differ. Lists are aligned, so an item inserted or removed is one
    operation. With ``test=True`` each remove and replace is preceded by a ``test`` of the old
    value. Neither input is changed; every value in the patch is a fresh copy. Raises
    TypeError (ValueError for NaN and infinities) naming the position of anything that is not
    JSON.
    """
    patch: list[dict[str, Any]] = _native.make_patch(old, new, test=bool(test))
    return patch


def apply_patch(doc: Any, patch: list[dict[str, Any]], *, in_place: bool = False) -> Any:
    """Applies the RFC 6902 operations of ``patch`` to ``doc`` and returns the result.

    Without ``in_place`` the result is a new document sharing no list or dict with ``doc``,
    which is left untouched. With ``in_place=True`` the lists and dicts of ``doc`` are changed
    and ``doc`` is returned (unless an operation replaces the whole document with one of
    another type, whose value is then returned). All or nothing: when an operation fails,
    ValueError names its index and path, and ``doc`` is exactly as it was.
    """
    if not isinstance(patch, (list, tuple)):
        raise TypeError(f"a patch is a list of operations, not {type(patch).__name__!r}")
    saved: dict[int, tuple[Any, Any]] | None = {} if in_place else None
    result = doc if in_place else _native.copy_document(doc, "doc")
    try:
        for index, operation in enumerate(patch):
            result = _Operation(index, operation, saved).apply(result)
    except BaseException:
        if saved:
            for container, contents in saved.values():
                _restore(container, contents)
        raise
    return result


def _restore(container: Any, contents: Any) -> None:
    if isinstance(container, dict):
        container.clear()
        container.update(contents)
    else:
        container[:] = contents


class _Operation:
    """One operation of a patch, checked as it is read; its errors name its index and path."""

    def __init__(self, index: int, operation: Any, saved: dict[int, tuple[Any, Any]] | None):
        self.saved = saved
        self.context = f"operation {index}"
        if not isinstance(operation, dict):
            self.fail(f"an operation is a dict, not {type(operation).__name__!r}")
        if "op" not in operation:
            self.fail('missing "op"')
        self.name = operation["op"]
        if not isinstance(self.name, str) or self.name not in _OPERATIONS:
            self.fail(f"unknown op {self.name!r}")
        self.context = f"operation {index} ({self.name})"
        self.path = self.pointer(operation, "path")
        self.context = f'operation {index} ({self.name} "{self.path}")'
        self.tokens = self.parse(self.path)
        if self.name in ("add", "replace", "test"):
            if "value" not in operation:
                self.fail('missing "value"')
            self.value = operation["value"]
        if self.name in ("move", "copy"):
            self.source = self.pointer(operation, "from")
            self.source_tokens = self.parse(self.source)

    def fail(self, reason: str) -> NoReturn:
        raise ValueError(f"{self.context}: {reason}")

    def pointer(self, operation: dict[str, Any], field: str) -> str:
        if field not in operation:
            self.fail(f'missing "{field}"')
        text = operation[field]
        if not isinstance(text, str):
            self.fail(f'"{field}" must be a str, not {type(text).__name__!r}')
        return text

    def parse(self, pointer: str) -> list[str]:
        if pointer == "":
            return []
        if not pointer.startswith("/"):
            self.fail(f'"{pointer}" is not a JSON Pointer: it must be empty or start with "/"')
        tokens = pointer[1:].split("/")
        for token in tokens:
            if not _TOKEN.fullmatch(token):
                self.fail(f'"{pointer}" is not a JSON Pointer: "~" must be followed by 0 or 1')
        return [token.replace("~1", "/").replace("~0", "~") for token in tokens]

    # --- reading the document ----------------------------------------------------------------

    def index(self, token: str, items: Any, where: str, *, end: bool = False) -> int:
        if token == "-" and end:
            return len(items)
        if not (token.isascii() and token.isdigit()) or (len(token) > 1 and token[0] == "0"):
            self.fail(f'"{token}" is not an index of the list at "{where}"')
        position = int(token) if len(token) < 20 else len(items) + 1
        if position > len(items) or (position == len(items) and not end):
            self.fail(
                f'index {token} is out of range: the list at "{where}" has {len(items)} items'
            )
        return position

    def child(self, node: Any, token: str, where: str) -> Any:
        if isinstance(node, dict):
            if token not in node:
                self.fail(f'"{where}" has no member "{token}"')
            return node[token]
        if isinstance(node, (list, tuple)):
            return node[self.index(token, node, where)]
        return self.fail(f'"{where}" is a {type(node).__name__}, which has no members')

    def parent(self, doc: Any, tokens: list[str]) -> tuple[Any, str]:
        """The container holding the last token's position, and its pointer."""
        node = doc
        where = ""
        for token in tokens[:-1]:
            node = self.child(node, token, where)
            where += "/" + token.replace("~", "~0").replace("/", "~1")
        if not isinstance(node, (dict, list, tuple)):
            self.fail(f'"{where}" is a {type(node).__name__}, which has no members')
        return node, where

    def changeable(self, doc: Any, tokens: list[str]) -> tuple[Any, str]:
        """As parent(), for a container about to change (a tuple of a document changed in place
        cannot)."""
        node, where = self.parent(doc, tokens)
        if isinstance(node, tuple):
            self.fail(f'"{where}" is a tuple, which cannot be changed in place')
        return node, where

    def get(self, doc: Any, tokens: list[str]) -> Any:
        if not tokens:
            return doc
        node, where = self.parent(doc, tokens)
        return self.child(node, tokens[-1], where)

    # --- changing it (each container is saved before its first change when in place) ---------

    def save(self, container: Any) -> None:
        if self.saved is not None and id(container) not in self.saved:
            contents = list(container.items()) if isinstance(container, dict) else list(container)
            self.saved[id(container)] = (container, contents)

    def add(self, doc: Any, tokens: list[str], value: Any) -> Any:
        if not tokens:
            return self.replace_document(doc, value)
        node, where = self.changeable(doc, tokens)
        if isinstance(node, dict):
            self.save(node)
            node[tokens[-1]] = value
        else:
            position = self.index(tokens[-1], node, where, end=True)
            self.save(node)
            node.insert(position, value)
        return doc

    def remove(self, doc: Any, tokens: list[str]) -> Any:
        if not tokens:
            self.fail("the whole document cannot be removed")
        node, key = self.existing(doc, tokens)
        del node[key]
        return doc

    def replace(self, doc: Any, tokens: list[str], value: Any) -> Any:
        if not tokens:
            return self.replace_document(doc, value)
        node, key = self.existing(doc, tokens)
        node[key] = value
        return doc

    def existing(self, doc: Any, tokens: list[str]) -> tuple[Any, Any]:
        """The container holding the member or item `tokens` names, saved before its change,
        and the key or index of that member or item, which must exist."""
        node, where = self.changeable(doc, tokens)
        key: Any = tokens[-1]
        if isinstance(node, dict):
            if key not in node:
                self.fail(f'"{where}" has no member "{key}"')
        else:
            key = self.index(key, node, where)
        self.save(node)
        return node, key

    def replace_document(self, doc: Any, value: Any) -> Any:
        # In place, a document keeps its identity when the new one is a container of its type.
        if self.saved is not None and type(doc) is type(value) and isinstance(doc, (dict, list)):
            self.save(doc)
            _restore(doc, list(value.items()) if isinstance(value, dict) else value)
            return doc
        return value

    def apply(self, doc: Any) -> Any:
        if self.name == "test":
            target = self.get(doc, self.tokens)
            label = f"{self.context} value"
            if not _native.equal_documents(target, self.value, f"{self.context} target", label):
                self.fail("the value differs")
            return doc
        if self.name == "remove":
            return self.remove(doc, self.tokens)
        if self.name in ("add", "replace"):
            value = _native.copy_document(self.value, f"{self.context} value")
            return getattr(self, self.name)(doc, self.tokens, value)
        value = self.get(doc, self.source_tokens)
        if self.name == "copy":
            copied = _native.copy_document(value, f'{self.context} from "{self.source}"')
            return self.add(doc, self.tokens, copied)
        if self.path == self.source:
            return doc
        if self.path.startswith(self.source + "/"):
            self.fail(f'"{self.source}" cannot be moved into its own child')
        return self.add(self.remove(doc, self.source_tokens), self.tokens, value)
