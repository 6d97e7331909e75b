"""The type stubs: checked against the built module by stubtest, found by mypy the way users'
projects find them, and in agreement with the keywords the module accepts at run time."""

from __future__ import annotations

import ast
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import hexalume
from helpers import INSTALLED, REPO, cli_module

TYPING = REPO / "tests" / "typing"
STUB_SOURCE = REPO / "stubs" / "hexalume-stubs" / "__init__.pyi"

try:
    # Only its presence is checked here; it runs in subprocesses.
    import mypy  # noqa: F401
except ModuleNotFoundError:
    if INSTALLED:
        raise
    pytest.skip("mypy is not installed", allow_module_level=True)


def _installed_stubs() -> Path | None:
    for key in ("platlib", "purelib"):
        candidate = Path(sysconfig.get_path(key)) / "hexalume-stubs" / "__init__.pyi"
        if candidate.exists():
            return candidate
    return None


@pytest.fixture(scope="module")
def mypy_env(tmp_path_factory):
    """Environment for mypy. Against an installed wheel the stubs must be found on their own;
    against a build directory they are handed over through MYPYPATH."""
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONMALLOC", "MYPYPATH")}
    env["PYTHONPATH"] = os.pathsep.join(
        [str(Path(hexalume.__file__).parent), env.get("PYTHONPATH", "")]
    )
    if _installed_stubs() is None:
        if INSTALLED:
            pytest.fail("the hexalume-stubs package is not installed next to the module")
        stub_dir = tmp_path_factory.mktemp("stubs")
        shutil.copy(STUB_SOURCE, stub_dir / "hexalume.pyi")
        shutil.copy(
            REPO / "stubs" / "hexalume_patch-stubs" / "__init__.pyi",
            stub_dir / "hexalume_patch.pyi",
        )
        env["MYPYPATH"] = str(stub_dir)
    return env


def test_installed_stubs_are_the_source_stubs():
    installed = _installed_stubs()
    if installed is None:
        pytest.skip("hexalume-stubs is not installed in this environment")
    assert installed.read_bytes() == STUB_SOURCE.read_bytes()


def test_stubtest_agrees_with_the_module(mypy_env):
    proc = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "hexalume"],
        capture_output=True,
        text=True,
        env=mypy_env,
        cwd=TYPING,
        timeout=600,
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr


ERROR_LINE = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$")
MARKER = re.compile(r"#\s*E:\s*([a-z-]+)\s*$")


def test_mypy_strict_uses_the_stubs(mypy_env, tmp_path):
    usage = TYPING / "usage.py"
    misuse = TYPING / "misuse.py"
    # A copy, so that mypy does not take the site-packages folder of an installed CLI module for
    # a source folder.
    cli = tmp_path / "hexalume_cli.py"
    shutil.copy(cli_module().__file__, cli)
    options = "--strict --show-error-codes --no-error-summary --no-pretty --cache-dir".split()
    files = [str(path) for path in (tmp_path / "cache", usage, misuse, cli)]
    proc = subprocess.run(
        [sys.executable, "-m", "mypy", *options, *files],
        capture_output=True,
        text=True,
        env=mypy_env,
        cwd=tmp_path,
        timeout=600,
    )
    assert proc.stderr == ""
    errors: dict[str, set[tuple[int, str]]] = {}
    for line in proc.stdout.splitlines():
        if ": note: " in line:
            continue
        match = ERROR_LINE.match(line)
        assert match, f"unexpected mypy output: {line}"
        errors.setdefault(Path(match["file"]).name, set()).add((int(match["line"]), match["code"]))
    expected = {
        (number, match.group(1))
        for number, text in enumerate(misuse.read_text().splitlines(), start=1)
        if (match := MARKER.search(text))
    }
    assert len(expected) >= 10
    assert errors.pop("misuse.py", set()) == expected
    assert errors == {}, "usage.py and the command-line module must type-check cleanly"


def _keyword_names(method: str) -> list[str]:
    tree = ast.parse(STUB_SOURCE.read_text())
    stub = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Vesperon")
    function = next(n for n in stub.body if isinstance(n, ast.FunctionDef) and n.name == method)
    return [arg.arg for arg in function.args.kwonlyargs]


# A value of the stubbed type for every keyword, as a user would pass it.
SAMPLE_OPTIONS = {
    "ignore_order": True,
    "ignore_numeric_type_changes": True,
    "ignore_string_type_changes": True,
    "ignore_type_in_groups": [(int, float)],
    "significant_digits": 3,
    "math_epsilon": 0.5,
    "math_absilon": 0.5,
    "atol": 0.5,
    "rtol": 0.5,
    "include_paths": frozenset({"root"}),
    "exclude_paths": ("root['x']",),
    "verbose_level": 0,
}


# stubtest sees pretty()'s signature, but the constructor takes **kwargs at run time.
def test_stubbed_keywords_are_the_accepted_keywords():
    names = _keyword_names("__new__")
    assert sorted(names) == sorted(SAMPLE_OPTIONS)
    for name in names:
        assert not hexalume.Vesperon(1, 1, **{name: SAMPLE_OPTIONS[name]})
