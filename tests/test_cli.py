"""The hexalume command: reading documents, options, output, colour, exit status and errors. The
bundled examples' trees are checked where the guide shows them (tests/test_guide.py)."""

from __future__ import annotations

import json
import os
import subprocess
import sys
import sysconfig
from importlib import metadata
from pathlib import Path
from typing import NamedTuple

import _hexalume_json  # the command's JSON reader, installed beside hexalume
import pytest

import hexalume
from helpers import INSTALLED, REPO, cli_module, command_env, typed

hexalume_cli = cli_module()


class Result(NamedTuple):
    status: int
    out: str
    err: str


@pytest.fixture
def cli(capsys, monkeypatch):
    """Runs the command in this process, as if from the repository root."""
    monkeypatch.chdir(REPO)
    monkeypatch.delenv("NO_COLOR", raising=False)

    def run(*args: str) -> Result:
        status = hexalume_cli.main(list(args))
        captured = capsys.readouterr()
        return Result(status, captured.out, captured.err)

    return run


def run_process(*args: str, stdin: bytes | None = None, **env: str) -> Result:
    proc = subprocess.run(
        [sys.executable, "-m", "hexalume_cli", *args],
        input=stdin,
        capture_output=True,
        cwd=REPO,
        env=command_env(**env),
        timeout=120,
    )
    return Result(proc.returncode, proc.stdout.decode(), proc.stderr.decode())


def write(tmp_path: Path, name: str, text: str) -> str:
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    return str(path)


def json_pair(tmp_path: Path, old: object, new: object) -> list[str]:
    """The paths of a.json and b.json, holding `old` and `new`."""
    return [
        write(tmp_path, name, json.dumps(doc)) for name, doc in (("a.json", old), ("b.json", new))
    ]


def test_json_output_and_exit_status(cli, tmp_path):
    old = write(tmp_path, "a.json", '{"städte": ["Köln"], "n": 30}')
    new = write(tmp_path, "b.json", '{"städte": ["Köln", "Zürich"], "n": 30.0}')
    # Non-ASCII text stays as it is, and 30.0 stays a float (the layout: the guide's examples).
    status, out, err = cli(old, new, "--json")
    assert (status, err) == (1, "")
    assert '"root[\'städte\'][1]": "Zürich"' in out and '"new_value": 30.0,' in out


CHANGED_A = {"values_changed": {"root['a']": {"new_value": 2, "old_value": 1}}}
W1 = {"cfg": {"a": {"b": 1}}, "items": [1, 2, 3, 4, 5], "name": "x"}
W2 = {"cfg": {"a": {"b": 2}}, "items": [1, 2, 30, 4, 5], "name": "y"}


# Each comparison option reaches the constructor keyword of the same name (--ignore-order,
# --include, --exclude and --verbose-level: the guide's examples).
@pytest.mark.parametrize(
    ("args", "old", "new"),
    [
        ("--ignore-numeric-type-changes", {"x": 1}, {"x": 1.0}),
        ("--significant-digits 3", 3.14159, 3.14201),
        ("--atol 0.5", 1.0, 1.4),
        ("--rtol 0.1", 100, 109),
        ("--math-epsilon 0.5", 1.0, 1.4),
    ],
)
def test_comparison_options(cli, tmp_path, args, old, new):
    assert cli(*json_pair(tmp_path, old, new), "--json", *args.split()) == (0, "{}\n", "")


# fmt: off
TREE_OPTIONS = [
    ("--path-header", "cfg.a.b\n│   - 1\n│   + 2\nitems[2]\n│   - 3\n│   + 30\nname\n│   - 'x'\n│   + 'y'\n"),
    ("--max-depth 0", "cfg\n╰── ...\nitems\n╰── ...\nname\n│   - 'x'\n│   + 'y'\n"),
    ("--context 1 --exclude root['cfg'] --exclude root['name']", "items\n├── [1]\n│   = 2\n├── [2]\n│   - 3\n│   + 30\n╰── [3]\n    = 4\n"),
]
# fmt: on


@pytest.mark.parametrize(
    ("args", "tree"), TREE_OPTIONS, ids=["path-header", "max-depth", "context"]
)
def test_tree_options(cli, tmp_path, args, tree):
    assert cli(*json_pair(tmp_path, W1, W2), *args.split()) == (1, tree, "")


def test_dates_in_toml_and_yaml_compare_as_iso_text(cli, tmp_path):
    old = write(
        tmp_path, "a.toml", "when = 2024-01-02T03:04:05Z\nday = 2024-01-02\nat = 07:30:00\n"
    )
    new = write(tmp_path, "b.yaml", "when: 2024-01-02T03:04:05Z\nday: 2024-01-03\nat: '07:30:00'\n")
    assert json.loads(cli(old, new, "--json").out) == {
        "values_changed": {"root['day']": {"new_value": "2024-01-03", "old_value": "2024-01-02"}}
    }


# A few of the errors, one per line as "ARGUMENTS | MESSAGE": each is one line on standard error,
# with exit status 2. (Invalid JSON, a missing file and a bare --include path: the guide's examples.)
ERRORS = """
nan.json b.json | nan.json: invalid JSON: NaN is not a JSON value
latin1.json b.json | latin1.json: not valid UTF-8 text (invalid continuation byte at byte 10)
deep.json b.json | deep.json: nested too deeply to read
inf.toml b.json | inf.toml: holds the number inf, which cannot be compared
broken.yaml b.json | broken.yaml: invalid YAML: while parsing a flow sequence; did not find expected ',' or ']' at line 2, column 1
- - | only one of OLD and NEW can be '-' (standard input)
b.json b.json --comp | unrecognized arguments: --comp (see 'hexalume --help')
b.json b.json --max-depth two | argument --max-depth: expected a whole number, got 'two' (see 'hexalume --help')
b.json b.json --json --context 2 | --context shapes the tree and cannot be used with --json
bomb.yaml b.json | bomb.yaml: its aliases expand it to more than 1,000,000 values (from 25 written in the file); refusing to read it
loop.yaml b.json | loop.yaml: an alias refers to a node that contains it
twice.json b.json --strict | twice.json: duplicate key root['a']
huge.json b.json | huge.json: the number 1e400 is too large to compare
b.json b.json -q --json | --json shapes the output and cannot be used with --brief
b.json b.json --indent 2 | --indent shapes the JSON report and needs --json
b.json b.json --json --indent 17 | argument --indent: expected a number from 0 to 16, got 17 (see 'hexalume --help')
"""
ERROR_ROWS = [row.split(" | ") for row in ERRORS.strip().splitlines()]

# 8 levels of 8 aliases each: 304 bytes that stand for more than 16 million strings.
BOMB = "a: &a [x, x, x, x, x, x, x, x]\n" + "".join(
    f"{new}: &{new} [{', '.join([f'*{old}'] * 8)}]\n"
    for old, new in zip("abcdefg", "bcdefgh", strict=True)
)


@pytest.mark.parametrize(("args", "message"), ERROR_ROWS, ids=[m[:40] for _, m in ERROR_ROWS])
def test_errors_are_one_line_with_status_2(cli, tmp_path, monkeypatch, args, message):
    documents = {
        "b.json": '{"a": 2}',
        "notes.txt": "{}",
        "nan.json": '{"a": NaN}',
        "twice.json": '{"a": 1, "a": 2}',
        "huge.json": '{"a": [1e400]}',
        "deep.json": "[" * 100000 + "]" * 100000,
        "inf.toml": "limit = inf\n",
        "broken.yaml": "key: [1, 2: 3\n",
        "bomb.yaml": BOMB,
        "loop.yaml": "a: &a [1, *a]\n",
    }
    for name, text in documents.items():
        write(tmp_path, name, text)
    (tmp_path / "latin1.json").write_bytes('{"a": "caf\u00e9!"}'.encode("latin-1"))
    monkeypatch.chdir(tmp_path)
    assert cli(*args.split()) == (2, "", f"hexalume: error: {message}\n")


@pytest.mark.parametrize(
    ("blocked", "old", "message"),
    [
        (["yaml"], "examples/deploy-old.yaml", "reading YAML needs PyYAML: pip install pyyaml"),
        (["tomllib", "tomli"], "examples/config-old.toml", "reading TOML needs Python 3.11 or newer, or the tomli package: pip install tomli"),
    ],
    ids=["yaml", "toml"],
)  # fmt: skip
def test_a_missing_parser_says_how_to_get_it(cli, monkeypatch, blocked, old, message):
    for module_name in blocked:
        monkeypatch.setitem(sys.modules, module_name, None)  # makes the import fail
    assert cli(old, "examples/package-new.json") == (2, "", f"hexalume: error: {old}: {message}\n")


def test_help(cli):
    result = cli("--help")
    assert result.status == 0 and result.out.startswith("usage: hexalume ")


def run_on_terminal(*args: str, **env: str) -> tuple[int, str]:
    """Runs the command with standard output on a pseudo-terminal."""
    controller, terminal = os.openpty()
    try:
        proc = subprocess.Popen(
            [sys.executable, "-m", "hexalume_cli", *args],
            stdout=terminal,
            cwd=REPO,
            env=command_env(**env),
        )
    finally:
        os.close(terminal)
    chunks = []
    while True:
        try:
            chunk = os.read(controller, 65536)
        except OSError:  # EIO: the command closed its end of the terminal
            break
        if not chunk:
            break
        chunks.append(chunk)
    os.close(controller)
    return proc.wait(timeout=120), b"".join(chunks).decode().replace("\r\n", "\n")


COLORED = "a\n│   \x1b[31m- 1\x1b[0m\n│   \x1b[32m+ 2\x1b[0m\n"
PLAIN = "a\n│   - 1\n│   + 2\n"


@pytest.mark.parametrize(
    ("args", "env", "terminal", "pipe"),
    [
        ([], {}, COLORED, PLAIN),
        (["--no-color"], {}, PLAIN, PLAIN),
        ([], {"NO_COLOR": "1"}, PLAIN, PLAIN),
        ([], {"NO_COLOR": ""}, COLORED, PLAIN),  # empty does not count
        (["--color", "always"], {"NO_COLOR": "1"}, COLORED, COLORED),
        (["--color", "always", "--color", "never"], {}, PLAIN, PLAIN),  # the last one holds
    ],
    ids=["auto", "no-color-flag", "NO_COLOR", "empty-NO_COLOR", "always", "never"],
)
def test_colour_on_a_terminal_unless_told_otherwise(tmp_path, args, env, terminal, pipe):
    paths = json_pair(tmp_path, {"a": 1}, {"a": 2})
    assert run_on_terminal(*paths, *args, **env) == (1, terminal)
    assert run_process(*paths, *args, **env) == (1, pipe, "")


# --brief prints nothing, in colour or not (--json --indent 0: the guide's examples).
@pytest.mark.parametrize("args", [["-q"], ["--brief", "--color", "always"]])
def test_brief(cli, tmp_path, args):
    old, new = json_pair(tmp_path, {"a": 1}, {"a": 2})
    assert cli(old, new, *args) == (1, "", "")
    assert cli(old, old, *args) == (0, "", "")


def test_a_closed_pipe_ends_quietly(tmp_path):
    # Enough output to fill the pipe, so the write fails once the reader is gone.
    paths = json_pair(tmp_path, list(range(20000)), list(range(1, 20001)))
    proc = subprocess.Popen(
        [sys.executable, "-m", "hexalume_cli", *paths],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env=command_env(),
    )
    assert proc.stdout.readline() == b"[0]\n"
    proc.stdout.close()
    assert proc.stderr.read() == b""
    assert proc.wait(timeout=120) == 1


def test_version_comes_from_the_package_metadata():
    try:
        version = metadata.version("hexalume")
    except metadata.PackageNotFoundError:
        version = "(not installed)"
    assert run_process("--version") == (0, f"hexalume {version}\n", "")


@pytest.mark.skipif(not INSTALLED, reason="only meaningful against an installed wheel")
def test_the_installed_package_is_the_one_under_test():
    site_packages = Path(sysconfig.get_path("platlib")).resolve()
    for module in (hexalume, hexalume_cli):
        assert Path(module.__file__).resolve().parent == site_packages
    assert sys.prefix != sys.base_prefix  # a virtual environment, not the system Python


# --- writing: a failure to write is an error, a reader that leaves early is not ----------------


def run_shell(command: str, tmp_path: Path) -> Result:
    """Runs `command` in bash from tmp_path, with `hexalume` meaning this checkout's command."""
    env = command_env(HEXALUME=f"{sys.executable} -m hexalume_cli")
    proc = subprocess.run(
        ["bash", "-c", command], capture_output=True, cwd=tmp_path, env=env, timeout=120
    )
    return Result(proc.returncode, proc.stdout.decode(), proc.stderr.decode())


FULL = "hexalume: error: cannot write the result: No space left on device\n"
CLOSED = "hexalume: error: cannot write the result: standard output is closed\n"


@pytest.mark.parametrize(
    ("command", "result"),
    [
        ("$HEXALUME --help > /dev/full", (2, "", FULL)),
        ("$HEXALUME a.json b.json >&-", (2, "", CLOSED)),
        # Nothing to write, so nothing fails.
        ("$HEXALUME a.json a.json >&-", (0, "", "")),
    ],
    ids=["full-help", "closed-tree", "closed-equal"],
)
def test_a_failure_to_write_is_a_one_line_error(tmp_path, command, result):
    json_pair(tmp_path, {"a": 1}, {"a": 2})
    assert run_shell(command, tmp_path) == result


def test_help_to_a_reader_that_is_gone_ends_quietly():
    # The help text is written at the end, by the last flush, not by the writer of results.
    reader, writer = os.pipe()
    os.close(reader)  # every write now fails with a broken pipe
    try:
        proc = subprocess.run(
            [sys.executable, "-m", "hexalume_cli", "--help"],
            stdout=writer,
            stderr=subprocess.PIPE,
            env=command_env(),
            timeout=120,
        )
    finally:
        os.close(writer)
    assert (proc.returncode, proc.stderr) == (0, b"")


# --- reading ----------------------------------------------------------------------------------

BIG = "7" * 5000  # past the interpreter's 4300-digit limit on integer text


def test_integers_of_any_length_compare_exactly(cli, tmp_path):
    old = write(tmp_path, "old.json", f'{{"n": {BIG}}}')
    new = write(tmp_path, "new.yaml", f"n: {BIG[:-1]}8\n")
    limit = sys.get_int_max_str_digits()
    assert cli(old, old) == (0, "", "")
    changed = f'"new_value": {BIG[:-1]}8,\n      "old_value": {BIG}'
    expected = (
        f'{{\n  "values_changed": {{\n    "root[\'n\']": {{\n      {changed}\n    }}\n  }}\n}}\n'
    )
    assert cli(old, new, "--json") == (1, expected, "")
    assert sys.get_int_max_str_digits() == limit  # the command's lifting of the limit is undone


# In JSON: the guide's examples.
# fmt: off
WRITTEN_TWICE = [
    ("a.yaml", "a: 1\nb:\n  - {c: 1, c: 2}\na: 4\n", {"a": 4, "b": [{"c": 2}]}, ["root['a']", "root['b'][0]['c']"]),
    # 1 and '1' are two keys in YAML, but one key, '1', to the comparison.
    ("a.yaml", "m: {1: x, '1': y}\n", {"m": {"1": "y"}}, ["root['m']['1']"]),
    # A merged key may be overridden; a mapping repeated through aliases warns once.
    ("a.yaml", "d: &d {x: 1, x: 2}\ne: {<<: *d, x: 3}\nf: [*d, *d]\n", {"d": {"x": 2}, "e": {"x": 3}, "f": [{"x": 2}, {"x": 2}]}, ["root['d']['x']"]),
]
# fmt: on


@pytest.mark.parametrize(
    ("name", "text", "compared", "warnings"),
    WRITTEN_TWICE,
    ids=["yaml", "yaml-key-text", "yaml-aliases"],
)
def test_a_key_written_twice_keeps_its_last_value_with_a_warning(
    tmp_path, name, text, compared, warnings
):
    path = write(tmp_path, name, text)
    reference = write(tmp_path, "reference.json", json.dumps(compared))
    expected = "".join(
        f"hexalume: warning: {path}: duplicate key {key}; its last value is compared\n"
        for key in warnings
    )
    assert run_process(path, reference, "--json") == (0, "{}\n", expected)
    strict = run_process(path, reference, "--strict")
    assert strict == (2, "", f"hexalume: error: {path}: duplicate key {warnings[0]}\n")


# Both documents hold a = 1 and a = 2, written in the format given in the row.
@pytest.mark.parametrize(
    ("old", "new", "written", "args"),
    [
        ("notes", "data.txt", "json", []),  # no known extension: JSON
        ("notes.YML", "data.yaml", "yaml", []),
        ("notes.Toml", "data.toml", "toml", []),
        ("notes.json", "data.yaml", "toml", ["--format", "toml"]),  # the option beats the names
    ],
)
def test_the_format_comes_from_the_option_the_extension_or_json(tmp_path, old, new, written, args):
    text = {"json": '{"a": %d}', "yaml": "a: %d\n", "toml": "a = %d\n"}[written]
    old_path, new_path = write(tmp_path, old, text % 1), write(tmp_path, new, text % 2)
    result = run_process(old_path, new_path, "--json", *args)
    assert (result.status, json.loads(result.out), result.err) == (1, CHANGED_A, "")


DEPLOYMENT = {
    "deployment": {"template": {"pod": {"containers": [{"ports": [{"containerPort": 80}]}]}}}
}


def test_the_command_draws_every_level_unless_told_otherwise(cli, tmp_path):
    changed = json.loads(json.dumps(DEPLOYMENT))
    changed["deployment"]["template"]["pod"]["containers"][0]["ports"][0]["containerPort"] = 8080
    old, new = json_pair(tmp_path, DEPLOYMENT, changed)
    labels = ["template", "pod", "containers", "[0]", "ports", "[0]", "containerPort"]
    tree = ["deployment", *(" " * 4 * level + "╰── " + label for level, label in enumerate(labels))]
    tree += [" " * 28 + "- 80", " " * 28 + "+ 8080"]
    assert cli(old, new) == (1, "\n".join(tree) + "\n", "")


# --- the JSON reader: what json.loads reads, in one pass, or nothing ------------------------------

READ_AS_JSON_DOES = [
    b'{"a": [1, -0, 2.5, -0.0, 1E5, 1e-5, "x", null, true, false, {}, []], "": {"b": 0}}',
    b'"\\u00e9\\ud83d\\ude00\\n\\"\\\\\\/\\b\\f\\r\\t\\u0000 caf\xc3\xa9 \xf0\x9f\x98\x80"',
    b"[999999999999999999, 1000000000000000000, -9223372036854775809, 123456789012345678901234]",
    b'\xef\xbb\xbf {"k": 1, "k": [2], "j": {"k": 3, "k": 4}} ',
    b"[0.1, 1.00000000000000000000001, 5e-324, 1.7976931348623157e308, -1.5E+3]",
]
# One document per way the reader can give up: bad syntax, numbers it does not take, text that is
# not valid, another encoding, trailing data, a truncated document, nesting past its limit.
LEFT_TO_THE_JSON_MODULE = [
    b"",
    b"[1,]",
    b"01",
    b"[NaN]",
    b"[1e400]",
    b'"\\ud800"',
    b'"\t"',
    b'"\xff"',
    "[1]".encode("utf-16"),
    b"[] []",
    b'"open',
    b"[" * 600 + b"]" * 600,
]


@pytest.mark.parametrize("data", READ_AS_JSON_DOES)
def test_the_reader_reads_what_json_loads_reads(data):
    document = _hexalume_json.read(data, 500)[0]
    assert repr(typed(document)) == repr(typed(json.loads(data)))  # repr tells -0.0 from 0.0


@pytest.mark.parametrize("data", LEFT_TO_THE_JSON_MODULE)
def test_the_reader_leaves_the_rest_to_the_json_module(data):
    assert _hexalume_json.read(data, 500) is None


def test_the_reader_shares_only_equal_values_of_the_earlier_document():
    earlier = json.loads('{"a": {"b": [1, "x"]}, "c": [0.0, 1, 2, true, "y"], "d": {"e": 1}}')
    text = '{"a": {"b": [1, "x"]}, "c": [-0.0, 1.0, true, 2, "y"], "d": {"e": 1, "f": 2}}'
    document = _hexalume_json.read(text.encode(), 500, earlier)[0]
    assert repr(typed(document)) == repr(typed(json.loads(text)))
    assert document["a"] is earlier["a"] and document["c"][4] is earlier["c"][4]
    assert not any(new is old for new, old in zip(document["c"][:4], earlier["c"][:4], strict=True))
    assert document["d"] is not earlier["d"]


DROPPED = "duplicate key root['a']; its last value is compared"


INEXACT = "the number {} at {} is read as the nearest double, {}"
MORE = "; {} in this file {} not exact either"


# The first inexact number of a file, and a count of the others (one number alone: the guide).
@pytest.mark.parametrize(
    ("name", "text", "warnings"),
    [
        ("a.json", '{"a": [1.5, 0.10000000000000001], "b": 1.00000000000000000000001}', [INEXACT.format("0.10000000000000001", "root['a'][1]", "0.1") + MORE.format("1 more number", "is")]),
        # UTF-16 leaves the file to the json module, which warns the same way.
        ("utf-16.json", '{"a": [1.5, 1e-400], "b": 2e-400, "c": 3e-400}', [INEXACT.format("1e-400", "root['a'][1]", "0.0") + MORE.format("2 more numbers", "are")]),
        # The first inexact number was dropped with the key's first value.
        ("a.json", '{"a": 1.00000000000000000000001, "a": 1, "b": {"c": 2.00000000000000000001}}', [DROPPED, INEXACT.format("2.00000000000000000001", "root['b']['c']", "2.0") + MORE.format("1 more number", "is")]),
        ("a.toml", "[t]\nx = 1.5\ny = 1.000_000_000_000_000_000_01\n", [INEXACT.format("1.00000000000000000001", "root['t']['y']", "1.0")]),
    ],
    ids=["json", "json-module", "duplicate-key", "toml"],
)  # fmt: skip
def test_an_inexact_number_warns_once_per_file(cli, tmp_path, name, text, warnings):
    path = tmp_path / name
    path.write_text(text, encoding="utf-16" if name == "utf-16.json" else "utf-8")
    expected = "".join(f"hexalume: warning: {path}: {warning}\n" for warning in warnings)
    assert cli(str(path), str(path)) == (0, "", expected * 2)
