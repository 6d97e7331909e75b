"""The hexalume command: reading documents, options, output, colour, exit status and errors."""

from __future__ import annotations

import json
import os
import subprocess
import sys
import sysconfig
from importlib import metadata
from pathlib import Path
from typing import NamedTuple

import pytest

import hexalume

REPO = Path(__file__).resolve().parents[1]
EXAMPLES = REPO / "examples"
INSTALLED = os.environ.get("HEXALUME_INSTALLED") == "1"

try:
    import hexalume_cli
except ModuleNotFoundError:
    # Testing a build directory through PYTHONPATH instead of an installed wheel.
    if INSTALLED:
        raise
    sys.path.insert(0, str(REPO / "python"))
    import hexalume_cli


def _subprocess_env(**extra: str) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "PYTHONMALLOC")}
    module_dirs = {str(Path(m.__file__).parent) for m in (hexalume, hexalume_cli)}
    env["PYTHONPATH"] = os.pathsep.join([*sorted(module_dirs), env.get("PYTHONPATH", "")])
    env.update(extra)
    return env


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
        env=_subprocess_env(**env),
        timeout=120,
    )
    return Result(proc.returncode, proc.stdout.decode(), proc.stderr.decode())


def write(tmp_path: Path, name: str, text: str) -> str:
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    return str(path)


PACKAGE_TREE = """\
dependencies
├── aiohttp
│   - '3.8.5'
│   + '3.9.1'
├── ...
╰── ujson
    - '5.7.0'
engines
╰── python
    - '>=3.9'
    + '>=3.10'
keywords
╰── [3]
    + 'typed'
...
maintainers
╰── [1]
    + {'email': 'grace@example.org', 'name': 'Grace Hopper'}
...
settings
├── timeout
│   - 30
│   + 30.0
├── tls
│   + True
╰── workers
    - (int) 4
    + (str) 'auto'
version
│   - '1.4.2'
│   + '2.0.0'
"""

CONFIG_TREE = """\
database
╰── pool_size
    - 10
    + 20
release
╰── date
    - '2024-03-01'
    + '2024-04-15'
server
├── allowed_origins
│   ╰── [1]
│       + 'https://admin.example.org'
├── ...
╰── port
    - 8080
    + 8443
"""

DEPLOY_TREE = """\
env
├── LOG_LEVEL
│   - 'info'
│   + 'debug'
╰── CACHE
    - 'redis'
image
│   - 'registry.example.org/web:1.7'
│   + 'registry.example.org/web:1.8'
...
ports
├── [0]
│   - 80
│   + 443
╰── [1]
    - 443
    + 80
replicas
│   - 2
│   + 3
"""


@pytest.mark.parametrize(
    ("old", "new", "tree"),
    [
        ("package-old.json", "package-new.json", PACKAGE_TREE),
        ("config-old.toml", "config-new.toml", CONFIG_TREE),
        ("deploy-old.yaml", "deploy-new.yaml", DEPLOY_TREE),
    ],
    ids=["json", "toml", "yaml"],
)
def test_bundled_examples_print_the_tree_and_exit_1(cli, old, new, tree):
    assert cli(f"examples/{old}", f"examples/{new}") == (1, tree, "")


@pytest.mark.parametrize("name", ["package-new.json", "config-old.toml", "deploy-new.yaml"])
def test_equal_documents_print_nothing_and_exit_0(cli, name):
    assert cli(f"examples/{name}", f"examples/{name}") == (0, "", "")
    assert cli(f"examples/{name}", f"examples/{name}", "--json") == (0, "{}\n", "")


def test_json_output_is_the_report(cli):
    result = cli("examples/package-old.json", "examples/package-new.json", "--json")
    assert result.status == 1 and result.err == ""
    assert json.loads(result.out) == {
        "dictionary_item_added": ["root['settings']['tls']"],
        "dictionary_item_removed": ["root['dependencies']['ujson']"],
        "iterable_item_added": {
            "root['keywords'][3]": "typed",
            "root['maintainers'][1]": {"email": "grace@example.org", "name": "Grace Hopper"},
        },
        "type_changes": {
            "root['settings']['workers']": {
                "new_type": "str",
                "new_value": "auto",
                "old_type": "int",
                "old_value": 4,
            }
        },
        "values_changed": {
            "root['dependencies']['aiohttp']": {"new_value": "3.9.1", "old_value": "3.8.5"},
            "root['engines']['python']": {"new_value": ">=3.10", "old_value": ">=3.9"},
            "root['settings']['timeout']": {"new_value": 30.0, "old_value": 30},
            "root['version']": {"new_value": "2.0.0", "old_value": "1.4.2"},
        },
    }
    # 30 and 30.0 differ: the JSON text keeps the float a float.
    assert '"new_value": 30.0,' in result.out


def test_json_output_keeps_non_ascii_text(cli, tmp_path):
    old = write(tmp_path, "a.json", '{"städte": ["Köln"]}')
    new = write(tmp_path, "b.json", '{"städte": ["Köln", "Zürich"]}')
    assert cli(old, new, "--json") == (
        1,
        '{\n  "iterable_item_added": {\n    "root[\'städte\'][1]": "Zürich"\n  }\n}\n',
        "",
    )


# Each comparison option maps onto the constructor keyword of the same name.
OPTION_CASES = [
    ([], [3, 1, 2], [1, 2, 3], {"values_changed": {
        "root[0]": {"new_value": 1, "old_value": 3},
        "root[1]": {"new_value": 2, "old_value": 1},
        "root[2]": {"new_value": 3, "old_value": 2}}}),
    (["--ignore-order"], [3, 1, 2], [1, 2, 3], {}),
    (["--ignore-order"], [1, 1], [1], {"iterable_item_removed": {"root[1]": 1}}),
    ([], {"x": 1}, {"x": 1.0}, {"values_changed": {"root['x']": {"new_value": 1.0, "old_value": 1}}}),
    (["--ignore-numeric-type-changes"], {"x": 1}, {"x": 1.0}, {}),
    (["--significant-digits", "3"], 3.14159, 3.14201, {}),
    (["--significant-digits", "5"], 3.14159, 3.14201,
     {"values_changed": {"root": {"new_value": 3.14201, "old_value": 3.14159}}}),
    (["--atol", "0.5"], 1.0, 1.4, {}),
    (["--atol", "0.3"], 1.0, 1.4, {"values_changed": {"root": {"new_value": 1.4, "old_value": 1.0}}}),
    (["--rtol", "0.1"], 100, 109, {}),
    (["--rtol", "0.1"], 100, 112, {"values_changed": {"root": {"new_value": 112, "old_value": 100}}}),
    (["--math-epsilon", "0.5"], 1.0, 1.4, {}),
    (["--atol", "0.1", "--math-epsilon", "0.5"], 1.0, 1.4,
     {"values_changed": {"root": {"new_value": 1.4, "old_value": 1.0}}}),
    (["--exclude", "root['a']"], {"a": 1, "b": 1}, {"a": 2, "b": 2},
     {"values_changed": {"root['b']": {"new_value": 2, "old_value": 1}}}),
    (["--exclude", "root['a']", "--exclude", "root['b']"], {"a": 1, "b": 1}, {"a": 2, "b": 2}, {}),
    (["--include", "root['a']"], {"a": {"x": 1}, "b": 1}, {"a": {"x": 2}, "b": 2, "c": 3},
     {"dictionary_item_added": ["root['c']"],
      "values_changed": {"root['a']['x']": {"new_value": 2, "old_value": 1}}}),
    (["--include", "root['a']", "--include", "root['b']"], {"a": 1, "b": 1, "c": 1},
     {"a": 2, "b": 2, "c": 2},
     {"values_changed": {"root['a']": {"new_value": 2, "old_value": 1},
                         "root['b']": {"new_value": 2, "old_value": 1}}}),
    (["--verbose-level", "0"], {"a": 1, "b": 1}, {"a": 2, "b": 2},
     {"values_changed": ["root['a']", "root['b']"]}),
    (["--verbose-level", "2"], {"a": 1}, {"a": 2},
     {"values_changed": {"root['a']": {"new_value": 2, "old_value": 1}}}),
]


@pytest.mark.parametrize(("args", "old", "new", "report"), OPTION_CASES)
def test_comparison_options(cli, tmp_path, args, old, new, report):
    old_path = write(tmp_path, "old.json", json.dumps(old))
    new_path = write(tmp_path, "new.json", json.dumps(new))
    result = cli(old_path, new_path, "--json", *args)
    assert (result.status, json.loads(result.out), result.err) == (1 if report else 0, report, "")


NESTED_OLD = {"cfg": {"a": {"b": 1}}, "items": [1, 2, 3, 4, 5], "name": "x"}
NESTED_NEW = {"cfg": {"a": {"b": 2}}, "items": [1, 2, 30, 4, 5], "name": "y"}


@pytest.mark.parametrize(
    ("args", "tree"),
    [
        (["--compact"], "cfg.a.b\n│   - 1\n│   + 2\nitems[2]\n│   - 3\n│   + 30\n"
                        "name\n│   - 'x'\n│   + 'y'\n"),
        (["--path-header"], "cfg.a.b\n│   - 1\n│   + 2\nitems[2]\n│   - 3\n│   + 30\n"
                            "name\n│   - 'x'\n│   + 'y'\n"),
        (["--max-depth", "0"], "cfg\n╰── ...\nitems\n╰── ...\nname\n│   - 'x'\n│   + 'y'\n"),
        (["--max-depth", "1"], "cfg\n╰── a\n    ╰── ...\nitems\n╰── [2]\n    - 3\n    + 30\n"
                               "name\n│   - 'x'\n│   + 'y'\n"),
        (["--context", "1", "--exclude", "root['cfg']", "--exclude", "root['name']"],
         "items\n├── [1]\n│   = 2\n├── [2]\n│   - 3\n│   + 30\n╰── [3]\n    = 4\n"),
    ],
    ids=["compact", "path-header", "max-depth-0", "max-depth-1", "context"],
)
def test_tree_options(cli, tmp_path, args, tree):
    old_path = write(tmp_path, "old.json", json.dumps(NESTED_OLD))
    new_path = write(tmp_path, "new.json", json.dumps(NESTED_NEW))
    assert cli(old_path, new_path, *args) == (1, tree, "")


def test_dates_in_toml_and_yaml_compare_as_iso_text(cli, tmp_path):
    old = write(tmp_path, "a.toml", "when = 2024-01-02T03:04:05Z\nday = 2024-01-02\nat = 07:30:00\n")
    new = write(tmp_path, "b.yaml", "when: 2024-01-02T03:04:05Z\nday: 2024-01-03\nat: '07:30:00'\n")
    assert cli(old, new, "--json") == (
        1,
        '{\n  "values_changed": {\n    "root[\'day\']": {\n'
        '      "new_value": "2024-01-03",\n      "old_value": "2024-01-02"\n    }\n  }\n}\n',
        "",
    )


# Every error is one line on standard error and exit status 2; `{tmp}` stands for the folder of
# the documents.
ERROR_CASES = [
    (["missing.json", "b.json"], "cannot read missing.json: No such file or directory"),
    (["a.json", "."], ".: cannot read files without an extension; use .json, .toml, .yaml or .yml"),
    (["notes.txt", "b.json"], "notes.txt: cannot read '.txt' files; use .json, .toml, .yaml or .yml"),
    (["broken.json", "b.json"], "broken.json: invalid JSON: Expecting ',' delimiter at line 3, column 3"),
    (["empty.json", "b.json"], "empty.json: invalid JSON: Expecting value at line 1, column 1"),
    (["nan.json", "b.json"], "nan.json: invalid JSON: NaN is not a JSON value"),
    (["huge-float.json", "b.json"], "huge-float.json: the number 1e999 is too large to compare"),
    (["latin1.json", "b.json"], "latin1.json: not valid UTF-8 text (invalid continuation byte at byte 10)"),
    (["deep.json", "b.json"], "deep.json: nested too deeply to read"),
    (["huge-int.json", "b.json"],
     "cannot compare huge-int.json with b.json: Unsupported Python type for Vesperon"),
    (["broken.toml", "b.json"],
     "broken.toml: invalid TOML: Expected '=' after a key in a key/value pair (at line 2, column 6)"),
    (["inf.toml", "b.json"], "inf.toml: holds the number inf, which cannot be compared"),
    (["broken.yaml", "b.json"],
     "broken.yaml: invalid YAML: while parsing a flow sequence; did not find expected ',' or "
     "']' at line 2, column 1"),
    (["two.yaml", "b.json"],
     "two.yaml: invalid YAML: expected a single document in the stream; but found another "
     "document at line 2, column 1"),
    (["-", "-"], "only one of OLD and NEW can be '-' (standard input)"),
    (["a.json"], "the following arguments are required: NEW (see 'hexalume --help')"),
    (["a.json", "b.json", "--frobnicate"],
     "unrecognized arguments: --frobnicate (see 'hexalume --help')"),
    (["a.json", "b.json", "--comp"], "unrecognized arguments: --comp (see 'hexalume --help')"),
    (["a.json", "b.json", "--significant-digits", "-1"],
     "argument --significant-digits: expected a number from 0 to 4294967295, got -1 "
     "(see 'hexalume --help')"),
    (["a.json", "b.json", "--verbose-level", "256"],
     "argument --verbose-level: expected a number from 0 to 255, got 256 (see 'hexalume --help')"),
    (["a.json", "b.json", "--max-depth", "two"],
     "argument --max-depth: expected a whole number, got 'two' (see 'hexalume --help')"),
    (["a.json", "b.json", "--atol", "abc"],
     "argument --atol: expected a number, got 'abc' (see 'hexalume --help')"),
    (["a.json", "b.json", "--include"],
     "argument --include: expected one argument (see 'hexalume --help')"),
    (["a.json", "b.json", "--json", "--compact"],
     "--compact shapes the tree and cannot be used with --json"),
    (["a.json", "b.json", "--json", "--context", "2"],
     "--context shapes the tree and cannot be used with --json"),
]

ERROR_DOCUMENTS = {
    "a.json": '{"a": 1}',
    "b.json": '{"a": 2}',
    "notes.txt": "{}",
    "broken.json": '{\n  "a": 1\n  "b": 2\n}',
    "empty.json": "",
    "nan.json": '{"a": NaN}',
    "huge-float.json": "[1e999]",
    "huge-int.json": "[1" + "0" * 400 + "]",
    "deep.json": "[" * 100000 + "]" * 100000,
    "broken.toml": "[server]\nport 8080\n",
    "inf.toml": "limit = inf\n",
    "broken.yaml": "key: [1, 2: 3\n",
    "two.yaml": "a: 1\n---\nb: 2\n",
}


@pytest.mark.parametrize(("args", "message"), ERROR_CASES, ids=[m[:40] for _, m in ERROR_CASES])
def test_errors_are_one_line_with_status_2(cli, tmp_path, monkeypatch, args, message):
    for name, text in ERROR_DOCUMENTS.items():
        write(tmp_path, name, text)
    (tmp_path / "latin1.json").write_bytes('{"a": "caf\u00e9!"}'.encode("latin-1"))
    monkeypatch.chdir(tmp_path)
    assert cli(*args) == (2, "", f"hexalume: error: {message}\n")


def test_a_directory_is_an_error(cli, tmp_path):
    (tmp_path / "dir.json").mkdir()
    result = cli(str(tmp_path / "dir.json"), "examples/package-new.json")
    assert result.status == 2 and result.out == ""
    assert result.err == f"hexalume: error: cannot read {tmp_path / 'dir.json'}: Is a directory\n"


@pytest.mark.parametrize(
    ("blocked", "old", "message"),
    [
        (["yaml"], "examples/deploy-old.yaml",
         "examples/deploy-old.yaml: reading YAML needs PyYAML: pip install pyyaml"),
        (["tomllib", "tomli"], "examples/config-old.toml",
         "examples/config-old.toml: reading TOML needs Python 3.11 or newer, or the tomli "
         "package: pip install tomli"),
    ],
    ids=["yaml", "toml"],
)
def test_a_missing_parser_says_how_to_get_it(cli, monkeypatch, blocked, old, message):
    for module_name in blocked:
        monkeypatch.setitem(sys.modules, module_name, None)  # makes the import fail
    assert cli(old, "examples/package-new.json") == (2, "", f"hexalume: error: {message}\n")


def test_help_lists_every_option(cli):
    result = cli("--help")
    assert result.status == 0 and result.out.startswith("usage: hexalume ")
    for flag in (
        "--ignore-order", "--ignore-numeric-type-changes", "--significant-digits", "--atol",
        "--rtol", "--math-epsilon", "--include", "--exclude", "--verbose-level", "--json",
        "--compact", "--max-depth", "--context", "--path-header", "--no-color", "--version",
    ):
        assert flag in result.out


def test_standard_input_is_read_as_json():
    old = (EXAMPLES / "package-old.json").read_bytes()
    assert run_process("-", "examples/package-new.json", stdin=old) == (1, PACKAGE_TREE, "")
    new = (EXAMPLES / "package-new.json").read_bytes()
    result = run_process("examples/package-new.json", "-", "--json", stdin=new)
    assert result == (0, "{}\n", "")


def test_empty_standard_input_is_invalid_json():
    assert run_process("-", "examples/package-new.json", stdin=b"") == (
        2,
        "",
        "hexalume: error: <stdin>: invalid JSON: Expecting value at line 1, column 1\n",
    )


def run_on_terminal(*args: str, **env: str) -> tuple[int, str]:
    """Runs the command with standard output on a pseudo-terminal."""
    controller, terminal = os.openpty()
    try:
        proc = subprocess.Popen(
            [sys.executable, "-m", "hexalume_cli", *args],
            stdout=terminal,
            cwd=REPO,
            env=_subprocess_env(**env),
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
    status = proc.wait(timeout=120)
    return status, b"".join(chunks).decode().replace("\r\n", "\n")


COLORED = "a\n│   \x1b[31m- 1\x1b[0m\n│   \x1b[32m+ 2\x1b[0m\n"
PLAIN = "a\n│   - 1\n│   + 2\n"


@pytest.mark.parametrize(
    ("args", "env", "output"),
    [
        ([], {}, COLORED),
        (["--no-color"], {}, PLAIN),
        ([], {"NO_COLOR": "1"}, PLAIN),
    ],
    ids=["terminal", "no-color-flag", "NO_COLOR"],
)
def test_colour_only_on_a_terminal_without_no_color(tmp_path, args, env, output):
    old = write(tmp_path, "a.json", '{"a": 1}')
    new = write(tmp_path, "b.json", '{"a": 2}')
    assert run_on_terminal(old, new, *args, **env) == (1, output)
    # A pipe never gets colour.
    assert run_process(old, new, *args, **env) == (1, PLAIN, "")


def test_a_closed_pipe_ends_quietly(tmp_path):
    # Enough output to fill the pipe, so the write fails once the reader is gone.
    old = write(tmp_path, "old.json", json.dumps(list(range(20000))))
    new = write(tmp_path, "new.json", json.dumps(list(range(1, 20001))))
    proc = subprocess.Popen(
        [sys.executable, "-m", "hexalume_cli", old, new],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env=_subprocess_env(),
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


def test_console_script():
    script = Path(sysconfig.get_path("scripts")) / "hexalume"
    if not script.exists():
        if INSTALLED:
            pytest.fail(f"the console script is missing: {script}")
        pytest.skip("hexalume is not installed in this environment")
    proc = subprocess.run(
        [str(script), "examples/package-old.json", "examples/package-new.json"],
        capture_output=True,
        cwd=REPO,
        env=_subprocess_env(),
        timeout=120,
    )
    assert (proc.returncode, proc.stdout.decode(), proc.stderr.decode()) == (1, PACKAGE_TREE, "")


@pytest.mark.skipif(not INSTALLED, reason="only meaningful against an installed wheel")
def test_the_installed_package_is_the_one_under_test():
    site_packages = Path(sysconfig.get_path("platlib")).resolve()
    for module in (hexalume, hexalume_cli):
        assert Path(module.__file__).resolve().parent == site_packages
    assert sys.prefix != sys.base_prefix  # a virtual environment, not the system Python
