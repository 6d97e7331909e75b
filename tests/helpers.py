"""Shared test helpers: the Err marker of parametrized tables, optional libraries, and ways to see
what a comparison made of its inputs."""

from __future__ import annotations

import ctypes
import importlib
import json
import os
import subprocess
import sys
from collections.abc import Callable
from pathlib import Path
from typing import Any, NamedTuple

import pytest

import hexalume
from hexalume import Vesperon

DATA = Path(__file__).resolve().parent / "data"
# Real package metadata at two releases each.
PAIRS = [("yargs-16.2.0.json", "yargs-17.7.2.json"), ("vue-2.7.14.json", "vue-3.3.4.json")]


def load(name):
    return json.loads((DATA / name).read_text(encoding="utf-8"))


REPO = DATA.parents[1]
# Set by CI, which runs the suite against the installed wheel: nothing may come from the checkout.
INSTALLED = os.environ.get("HEXALUME_INSTALLED") == "1"
# True when AddressSanitizer's runtime is loaded (scripts/sanitize.sh preloads it).
UNDER_ASAN = hasattr(ctypes.CDLL(None), "__asan_init")


def optional_module(name: str):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


np = optional_module("numpy")
pd = optional_module("pandas")
pydantic = optional_module("pydantic")

needs_numpy = pytest.mark.skipif(np is None, reason="numpy is not installed")
needs_pandas = pytest.mark.skipif(pd is None, reason="pandas is not installed")
needs_pydantic = pytest.mark.skipif(pydantic is None, reason="pydantic is not installed")


class Err(NamedTuple):
    """Expected failure in a table: the exact exception type and, unless None, the exact message."""

    type: type[BaseException]
    message: str | None = None

    def check(self, call: Callable[[], Any]) -> BaseException:
        with pytest.raises(BaseException) as info:
            call()
        assert type(info.value) is self.type, repr(info.value)
        if self.message is not None:
            assert str(info.value) == self.message
        return info.value


def outcome(call: Callable[[], Any], expected: Any) -> None:
    """Checks a table row: `expected` is either an Err or the exact result (types included)."""
    if isinstance(expected, Err):
        expected.check(call)
    else:
        assert typed(call()) == typed(expected)


def typed(value: Any) -> Any:
    """A structure that compares equal only when types agree too (1, 1.0 and True differ) and
    dictionaries iterate their keys in the same order."""
    if isinstance(value, dict):
        return ("dict", [(key, typed(item)) for key, item in value.items()])
    if isinstance(value, list):
        return ("list", [typed(item) for item in value])
    return (type(value).__name__, value)


def with_methods(**methods: Any) -> Any:
    """An instance of a new class with these methods (special methods are looked up on types)."""
    return type("Custom", (), methods)()


def index(value: Any) -> Any:
    """An object whose __index__ returns `value`, or raises it when it is an exception."""

    def method(self: Any) -> Any:
        if isinstance(value, BaseException):
            raise value
        return value

    return with_methods(__index__=method)


def sorted_keys(value: Any) -> Any:
    """`value` with every dictionary's keys in byte order, as the report returns them."""
    if isinstance(value, dict):
        return {key: sorted_keys(value[key]) for key in sorted(value, key=str.encode)}
    if isinstance(value, list):
        return [sorted_keys(item) for item in value]
    return value


def converted(value: Any) -> Any:
    """What the comparison sees of `value`, read back through a report."""
    return Vesperon([value], []).to_dict()["iterable_item_removed"]["root[0]"]


def nested(depth: int, leaf: Any) -> Any:
    """`leaf` inside `depth` one-item lists."""
    for _ in range(depth):
        leaf = [leaf]
    return leaf


def report(t1: Any, t2: Any, **options: Any) -> dict:
    return Vesperon(t1, t2, **options).to_dict()


def internal_error_of(call: Callable[[], Any]) -> BaseException:
    """The internal error raised by `call`; ordinary `except Exception` must not see it."""
    try:
        try:
            call()
        except Exception as error:  # noqa: BLE001 - the point is that this must not catch it
            pytest.fail(f"internal error surfaced as an ordinary exception: {error!r}")
    except BaseException as error:  # noqa: BLE001
        assert type(error).__name__ == "InternalError"
        return error
    pytest.fail("no internal error was raised")


def cli_module() -> Any:
    """The hexalume_cli module: the installed one, or the checkout's when testing a build folder."""
    try:
        import hexalume_cli
    except ModuleNotFoundError:
        if INSTALLED:
            raise
        sys.path.insert(0, str(REPO / "python"))
        import hexalume_cli
    return hexalume_cli


def command_env(**extra: str) -> dict[str, str]:
    """An environment in which subprocesses import this hexalume and hexalume_cli, without the
    caller's NO_COLOR and PYTHONMALLOC."""
    env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "PYTHONMALLOC")}
    folders = sorted({str(Path(module.__file__).parent) for module in (hexalume, cli_module())})
    env["PYTHONPATH"] = os.pathsep.join([*folders, env.get("PYTHONPATH", "")])
    env.update(extra)
    return env


def run_python(code: str, *args: Any) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter that imports this same hexalume; `args` reach its
    sys.argv as JSON."""
    module_dir = str(Path(hexalume.__file__).resolve().parent)
    env = {
        **os.environ,
        "PYTHONPATH": os.pathsep.join([module_dir, os.environ.get("PYTHONPATH", "")]),
    }
    return subprocess.run(
        [sys.executable, "-c", code, *map(json.dumps, args)],
        env=env,
        capture_output=True,
        text=True,
        timeout=600,
    )
