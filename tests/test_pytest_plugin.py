"""The pytest plugin, through pytest runs of generated test files: it is active through its entry
point wherever hexalume is installed."""

from __future__ import annotations

import pytest

pytest_plugins = ["pytester"]

PRELUDE = """\
import pytest

DEEP = []
for _ in range(20_000):
    DEEP = [DEEP]


class Key:
    def __str__(self):
        raise KeyboardInterrupt


def test_control():
    assert {"a": 1} == {"a": 2}

"""
CONTROL = ["hexalume: 1 change (- left, + right)", "a", "│   - 1", "│   + 2"]
CONTROL += ["paths in the report:", "  root['a']"]


@pytest.fixture
def run(pytester, monkeypatch):
    # pytest never cuts explanations on CI; these runs must behave as on a terminal.
    monkeypatch.delenv("CI", raising=False)
    monkeypatch.delenv("BUILD_NUMBER", raising=False)

    def run(assertion: str, *args: str, ini: str = "") -> tuple[pytest.RunResult, list[list[str]]]:
        pytester.makepyfile(PRELUDE + f"def test_case():\n    {assertion}\n")
        if ini:
            pytester.makeini(f"[pytest]\n{ini}\n")
        result = pytester.runpytest("-p", "no:cacheprovider", *args, no_reraise_ctrlc=True)
        return result, explanations(result.outlines)

    return run


def explanations(lines: list[str]) -> list[list[str]]:
    """The lines after the assertion line of each failure, without pytest's "E" margin."""
    found: list[list[str]] = []
    for line in lines:
        if line.startswith("E       "):
            if not line.startswith("E         "):
                found.append([])
            else:
                found[-1].append(line.removeprefix("E         "))
    return found


@pytest.mark.parametrize(
    ("assertion", "expected"),
    [
        (
            # 1 == 1.0: not why the assertion failed, so not shown.
            'assert {"a": {"b": [1, 2, 3]}, "c": 1} == {"a": {"b": [1, 5, 3, 4]}, "c": 1.0, "d": 0}',
            """hexalume: 3 changes (- left, + right)
a
╰── b
    ├── [0]
    │   = 1
    ├── [1]
    │   - 2
    │   + 5
    ├── [2]
    │   = 3
    ╰── [3]
        + 4
...
d
│   + 0
paths in the report:
  root['a']['b'][1]
  root['a']['b'][3]
  root['d']""",
        ),
        (
            "assert {1, 2, 3} == {2, 3, 4}",
            """hexalume: 2 changes (- left, + right); lists compared without regard to order
[0]
│   - 1
...
[2]
│   + 4
paths in the report:
  root[0]
  root[2]""",
        ),
    ],
    ids=["nested", "set"],
)
def test_explains_the_changes(run, assertion, expected):
    result, found = run(assertion, "-vv", "--color=no")
    assert found == [CONTROL, expected.split("\n")]


@pytest.mark.parametrize(
    "assertion",
    [
        "assert [1, 2] == (1, 2)",  # equal once converted: only pytest can say why
        'assert {"a": pytest.approx(1.0)} == {"a": 1.1}',  # unsupported value
        'assert [float("nan")] == [float("nan")]',
        "assert [DEEP, 1] == [DEEP, 2]",  # nesting limit
    ],
)
def test_leaves_pytest_explanation_when_it_cannot_help(run, assertion):
    result, found = run(assertion, "--color=no")
    result.assert_outcomes(failed=2)
    assert found[0] == CONTROL and len(found) == 2  # the assertion error is reported
    assert "hexalume" not in "\n".join(found[1])


def test_keyboard_interrupt_stops_the_run(run):
    result, _ = run("assert {Key(): 1} == {Key(): 2}")
    assert result.ret == pytest.ExitCode.INTERRUPTED
    result.stdout.fnmatch_lines(["*KeyboardInterrupt*"])


def test_disabled_with_p_no_hexalume(run):
    result, found = run('assert {"a": [1, 2]} == {"a": [1, 3]}', "-p", "no:hexalume")
    assert found[0][:2] == ["", "Differing items:"]
    assert "hexalume" not in str(found)


@pytest.mark.parametrize(
    ("color", "line"),
    [("yes", "│   \x1b[31m- 0\x1b[0m"), ("no", "│   - 0"), ("auto", "│   - 0")],
)
def test_colour_follows_pytest(run, color, line):
    result, _ = run("assert [0] == [1]", f"--color={color}")
    text = result.stdout.str()
    assert line in text
    assert ("\x1b[" in text) == (color == "yes")


@pytest.mark.parametrize("verbosity", ["-v", "-vv"])
def test_explanation_cut_unless_vv(run, verbosity):
    _, found = run("assert list(range(20)) == list(range(1, 21))", verbosity, "--color=no")
    if verbosity == "-vv":
        assert len(found[1]) == 1 + 20 * 3 + 1 + 20
        assert found[1][-20:] == [f"  root[{i}]" for i in range(20)]
    else:
        assert "\n".join(found[1]) == (
            "hexalume: 20 changes (- left, + right)\n[0]\n│   - 0\n│   + 1\n[1]\n│   - 1\n"
            "│   + 2...\n\n...Full output truncated (75 lines hidden), use '-vv' to show"
        )


@pytest.mark.parametrize(
    ("ini", "expected"),
    [
        ("hexalume_max_depth = 1", "a\n╰── b\n    ╰── ..."),
        ("hexalume_context = 0", "a\n╰── b\n    ├── [0]\n    │   - 1\n    │   + 3\n    ├── [1]\n    │   - 2\n    │   + 1\n    ╰── [2]\n        - 3\n        + 5"),
        ("hexalume_ignore_order = true", "a\n╰── b\n    ├── [1]\n    │   - 2\n    ╰── [2]\n        + 5"),
    ],
)  # fmt: skip
def test_ini_options(run, ini, expected):
    _, found = run('assert {"a": {"b": [1, 2, 3]}} == {"a": {"b": [3, 1, 5]}}', "-vv", ini=ini)
    assert found[1][1 : found[1].index("paths in the report:")] == expected.split("\n")


@pytest.mark.parametrize(
    ("ini", "message"),
    [
        ("hexalume_max_depth = -1", "hexalume_max_depth must be a non-negative integer, not '-1'"),
        ("hexalume_context = two", "hexalume_context must be a non-negative integer, not 'two'"),
        ("hexalume_ignore_order = maybe", "hexalume_ignore_order: invalid truth value 'maybe'"),
    ],
)
def test_bad_ini_values_are_usage_errors(run, ini, message):
    result, _ = run("assert True", ini=ini)
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    result.stderr.fnmatch_lines([f"ERROR: {message}"])
