"""Runs every example of docs/guide.md and compares its output with the output the guide shows.

- A ```python block runs in a fresh namespace. Its printed output must equal the ```output block
  that follows it; a block without one must print exactly the text of its `# -> ...` comments,
  one line each (and nothing when it has none).
- A ```text block that follows a python block defining pytest tests is what pytest prints for
  them: its lines must appear in pytest's report of that block, in order.
- A ```console block holds `$ command` lines, each followed by the output it must print
  (standard output and standard error together). Commands run in bash from the repository root,
  with `hexalume` on the PATH.
"""

from __future__ import annotations

import contextlib
import io
import os
import re
import subprocess
import sys
import sysconfig
from dataclasses import dataclass
from pathlib import Path

import pytest

from helpers import INSTALLED, REPO, command_env

GUIDE = REPO / "docs" / "guide.md"

FENCE = re.compile(r"^```([\w-]*)[ \t]*\n(.*?)^```[ \t]*$", re.MULTILINE | re.DOTALL)
HEADING = re.compile(r"^#+ (.*)$", re.MULTILINE)
ARROW = re.compile(r"#\s*->\s?(.*)$")


@dataclass
class Example:
    language: str
    code: str
    expected: str
    line: int
    section: str

    @property
    def id(self) -> str:
        slug = re.sub(r"[^a-z0-9]+", "-", self.section.lower()).strip("-")
        return f"{slug}-line{self.line}"


def read_examples() -> list[Example]:
    text = GUIDE.read_text(encoding="utf-8")
    fences = list(FENCE.finditer(text))
    examples = []
    for index, fence in enumerate(fences):
        language, body = fence.group(1), fence.group(2)
        line = text.count("\n", 0, fence.start()) + 1
        headings = HEADING.findall(text, 0, fence.start())
        section = headings[-1] if headings else "top"
        if language == "python":
            following = fences[index + 1] if index + 1 < len(fences) else None
            if (
                following is not None
                and following.group(1) == "output"
                and text[fence.end() : following.start()].strip() == ""
            ):
                expected = following.group(2)
            else:
                expected = "".join(
                    m.group(1) + "\n" for m in map(ARROW.search, body.splitlines()) if m
                )
            examples.append(Example("python", body, expected, line, section))
        elif language == "text":
            previous = fences[index - 1] if index > 0 else None
            if (
                previous is None
                or previous.group(1) != "python"
                or "def test_" not in previous.group(2)
            ):
                raise AssertionError(f"guide line {line}: a text block must follow pytest tests")
            examples.append(Example("pytest", previous.group(2), body, line, section))
        elif language == "console":
            examples.append(Example("console", body, "", line, section))
    return examples


EXAMPLES = read_examples()
PYTHON = [e for e in EXAMPLES if e.language == "python"]
CONSOLE = [e for e in EXAMPLES if e.language == "console"]
PYTEST = [e for e in EXAMPLES if e.language == "pytest"]


SECTIONS = (
    "Quick start|Keys added and removed|List items added and removed|Type changes|Changed values|"
    "`ignore_order`|`verbose_level`|Drawing the report: `pretty()`|What can be compared|Nesting|"
    'What "..." means in `pretty()`|Dictionary keys that are not strings|'
    "Rounding and very small numbers|In your tests|Performance and memory|"
    "The command-line tool|Command options|Exit status and errors"
)


def test_the_guide_has_examples_of_every_part():
    assert {e.section for e in EXAMPLES} >= set(SECTIONS.split("|"))


@pytest.mark.parametrize("example", PYTHON, ids=[e.id for e in PYTHON])
def test_python_example(example):
    out = io.StringIO()
    namespace = {"__name__": "__guide__"}
    with contextlib.redirect_stdout(out):
        exec(compile(example.code, f"{GUIDE}:{example.line}", "exec"), namespace)
    assert out.getvalue() == example.expected


@pytest.mark.parametrize("example", PYTEST, ids=[e.id for e in PYTEST])
def test_pytest_report(example, tmp_path):
    (tmp_path / "test_guide_example.py").write_text(example.code, encoding="utf-8")
    proc = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "test_guide_example.py"],
        capture_output=True,
        cwd=tmp_path,
        env=command_env(),
        timeout=120,
    )
    report = proc.stdout.decode().splitlines()
    expected = example.expected.splitlines()
    assert proc.returncode == 1, report  # the example's test fails
    start = report.index(expected[0])
    assert _pytest_own(report[start : start + len(expected)]) == _pytest_own(expected)


def _pytest_own(lines: list[str]) -> list[str]:
    """The lines with pytest's own comparison line cut to its start: pytest abridges the two
    operands there differently from one version to the next."""
    prefix = "E       AssertionError: assert "
    return [prefix if line.startswith(prefix) else line for line in lines]


def _command_path(tmp_path: Path) -> str:
    """A PATH on which `hexalume` is the installed console script, or a stand-in for it."""
    scripts = Path(sysconfig.get_path("scripts"))
    if (scripts / "hexalume").exists():
        folder = scripts
    else:
        if INSTALLED:
            pytest.fail(f"the console script is missing from {scripts}")
        folder = tmp_path / "bin"
        folder.mkdir()
        shim = folder / "hexalume"
        shim.write_text(f'#!/bin/sh\nexec "{sys.executable}" -m hexalume_cli "$@"\n')
        shim.chmod(0o755)
    return os.pathsep.join([str(folder), os.environ.get("PATH", "")])


def _split_session(session: str) -> list[tuple[str, str]]:
    steps: list[tuple[str, str]] = []
    for line in session.splitlines(keepends=True):
        if line.startswith("$ "):
            steps.append((line[2:].rstrip("\n"), ""))
        else:
            assert steps, f"output before the first command: {line!r}"
            command, output = steps[-1]
            steps[-1] = (command, output + line)
    return steps


@pytest.mark.parametrize("example", CONSOLE, ids=[e.id for e in CONSOLE])
def test_console_example(example, tmp_path):
    env = command_env(PATH=_command_path(tmp_path))
    for command, expected in _split_session(example.code):
        proc = subprocess.run(
            ["bash", "-c", command],
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            cwd=REPO,
            env=env,
            timeout=120,
        )
        assert proc.stdout.decode() == expected, command


def test_readme_main_job_runs(tmp_path):
    """The README's set-up command makes a virtual environment and ends with `hexalume OLD NEW`
    on bundled documents."""
    readme = (REPO / "README.md").read_text(encoding="utf-8")
    match = re.search(
        r"^python3 -m venv \.venv && \. \.venv/bin/activate && "
        r"bash scripts/setup\.sh && pip install \. && (hexalume .*)$",
        readme,
        re.M,
    )
    assert match, "the README lost its main-job command"
    env = command_env(PATH=_command_path(tmp_path))
    proc = subprocess.run(
        ["bash", "-c", match.group(1)], capture_output=True, cwd=REPO, env=env, timeout=120
    )
    assert (proc.returncode, proc.stderr) == (1, b"")
    assert proc.stdout.decode().startswith("_id\n│   - 'semver@6.3.1'\n│   + 'semver@7.5.4'\n")
