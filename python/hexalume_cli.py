"""The ``hexalume`` command: compare two JSON, TOML or YAML documents and print what changed.

    hexalume OLD NEW [options]

The exit status is 0 when the documents are equal, 1 when they differ and 2 on any error.
Every error is one line on standard error; nothing here prints a traceback.
"""

from __future__ import annotations

import argparse
import datetime
import importlib
import json
import math
import os
import sys
from collections.abc import Callable, Sequence
from pathlib import Path
from types import ModuleType
from typing import IO, Any, NoReturn

import hexalume

PROG = "hexalume"
EXIT_EQUAL = 0
EXIT_DIFFERENT = 1
EXIT_ERROR = 2

_UINT8_MAX = 2**8 - 1
_UINT32_MAX = 2**32 - 1
_UINT64_MAX = 2**64 - 1
_SUFFIXES = ".json, .toml, .yaml or .yml"


class CliError(Exception):
    """A failure the user can act on: printed as one line, exit status 2."""


class _ArgumentParser(argparse.ArgumentParser):
    # argparse prints the whole usage block before its message; one line is easier to read
    # in a script's log, and --help is one flag away.
    def error(self, message: str) -> NoReturn:
        raise CliError(f"{message} (see '{self.prog} --help')")


def _count(limit: int) -> Callable[[str], int]:
    """An argparse type for a whole number from 0 to `limit`."""

    def parse(text: str) -> int:
        try:
            number = int(text, 10)
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected a whole number, got '{text}'") from None
        if not 0 <= number <= limit:
            raise argparse.ArgumentTypeError(f"expected a number from 0 to {limit}, got {text}")
        return number

    return parse


def _tolerance(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got '{text}'") from None


def _version() -> str:
    from importlib import metadata

    try:
        return metadata.version("hexalume")
    except metadata.PackageNotFoundError:
        return "(not installed)"


def build_parser() -> argparse.ArgumentParser:
    parser = _ArgumentParser(
        prog=PROG,
        # A script that says --comp would break the day another option starts with those letters.
        allow_abbrev=False,
        description=(
            "Compare two documents and print what changed, as a tree of the changed "
            "positions (or, with --json, as the report dictionary). Files are read by their "
            f"extension ({_SUFFIXES}); '-' reads JSON from standard input."
        ),
        epilog="Exit status: 0 if the documents are equal, 1 if they differ, 2 on error.",
    )
    parser.add_argument("old", metavar="OLD", help="the old document (a file, or '-')")
    parser.add_argument("new", metavar="NEW", help="the new document (a file, or '-')")
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")

    compare = parser.add_argument_group("comparison")
    compare.add_argument(
        "--ignore-order", action="store_true", help="compare lists without regard to order"
    )
    compare.add_argument(
        "--ignore-numeric-type-changes",
        action="store_true",
        help="treat an integer and a float of the same value as equal",
    )
    compare.add_argument(
        "--significant-digits",
        metavar="N",
        type=_count(_UINT32_MAX),
        help="compare numbers rounded to N significant digits",
    )
    compare.add_argument(
        "--atol", metavar="X", type=_tolerance, help="absolute tolerance for numbers"
    )
    compare.add_argument(
        "--rtol", metavar="X", type=_tolerance, help="relative tolerance for numbers"
    )
    compare.add_argument(
        "--math-epsilon",
        metavar="X",
        type=_tolerance,
        help="absolute tolerance for numbers, used when --atol is not given",
    )
    compare.add_argument(
        "--include",
        metavar="PATH",
        action="append",
        dest="include_paths",
        help="compare only this path (such as \"root['a']\"), its parents and its children; "
        "repeatable",
    )
    compare.add_argument(
        "--exclude",
        metavar="PATH",
        action="append",
        dest="exclude_paths",
        help="skip this path and everything below it; repeatable",
    )
    compare.add_argument(
        "--verbose-level",
        metavar="N",
        type=_count(_UINT8_MAX),
        help="0 lists changed values by path only (shows with --json); default 1",
    )

    output = parser.add_argument_group("output")
    output.add_argument(
        "--json", action="store_true", help="print the report as JSON instead of the tree"
    )
    output.add_argument(
        "--compact", action="store_true", help="collapse single-child chains into one label"
    )
    output.add_argument(
        "--max-depth",
        metavar="N",
        type=_count(_UINT64_MAX),
        help="draw the tree at most N levels deep (default 5)",
    )
    output.add_argument(
        "--context",
        metavar="N",
        type=_count(_UINT64_MAX),
        help="show N unchanged list items around each changed one (default 0)",
    )
    output.add_argument(
        "--path-header",
        action="store_true",
        help="list each change under its path instead of drawing a tree",
    )
    output.add_argument(
        "--no-color",
        action="store_true",
        help="never colour the output (colour is used only on a terminal, and not when "
        "NO_COLOR is set)",
    )
    return parser


# --- reading documents ------------------------------------------------------------------------


def _json_float(name: str) -> Callable[[str], float]:
    def parse(text: str) -> float:
        number = float(text)
        if not math.isfinite(number):
            raise CliError(f"{name}: the number {text} is too large to compare")
        return number

    return parse


def _reject_constant(name: str) -> Callable[[str], Any]:
    def parse(text: str) -> Any:
        raise CliError(f"{name}: invalid JSON: {text} is not a JSON value")

    return parse


def _parse_json(data: bytes, name: str) -> Any:
    try:
        return json.loads(
            data, parse_float=_json_float(name), parse_constant=_reject_constant(name)
        )
    except json.JSONDecodeError as exc:
        raise CliError(
            f"{name}: invalid JSON: {exc.msg} at line {exc.lineno}, column {exc.colno}"
        ) from None
    except UnicodeDecodeError as exc:
        raise CliError(f"{name}: not valid UTF-8 text ({exc.reason} at byte {exc.start})") from None


def _decode(data: bytes, name: str) -> str:
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as exc:
        raise CliError(f"{name}: not valid UTF-8 text ({exc.reason} at byte {exc.start})") from None


def _toml_module(name: str) -> ModuleType:
    # tomllib is in the standard library from Python 3.11; tomli is the same parser for 3.10.
    for module_name in ("tomllib", "tomli"):
        try:
            return importlib.import_module(module_name)
        except ModuleNotFoundError:
            pass
    raise CliError(
        f"{name}: reading TOML needs Python 3.11 or newer, or the tomli package: "
        "pip install tomli"
    )


def _parse_toml(data: bytes, name: str) -> Any:
    toml = _toml_module(name)
    text = _decode(data, name)
    try:
        return toml.loads(text)
    except toml.TOMLDecodeError as exc:
        raise CliError(f"{name}: invalid TOML: {exc}") from None


def _parse_yaml(data: bytes, name: str) -> Any:
    try:
        yaml = importlib.import_module("yaml")
    except ModuleNotFoundError:
        raise CliError(f"{name}: reading YAML needs PyYAML: pip install pyyaml") from None
    loader = getattr(yaml, "CSafeLoader", yaml.SafeLoader)
    text = _decode(data, name)
    try:
        return yaml.load(text, Loader=loader)
    except yaml.MarkedYAMLError as exc:
        problem = "; ".join(part for part in (exc.context, exc.problem) if part)
        mark = exc.problem_mark or exc.context_mark
        where = f" at line {mark.line + 1}, column {mark.column + 1}" if mark else ""
        raise CliError(f"{name}: invalid YAML: {problem or 'cannot parse'}{where}") from None
    except yaml.YAMLError as exc:
        raise CliError(f"{name}: invalid YAML: {_one_line(str(exc))}") from None


def _plain_data(node: Any, name: str) -> Any:
    """TOML and YAML read dates and times as objects: compare them by their ISO 8601 text.

    Non-finite floats (TOML's nan and inf, YAML's .nan and .inf) cannot be compared and are
    reported here, where the file name is still known.
    """
    if isinstance(node, dict):
        return {key: _plain_data(value, name) for key, value in node.items()}
    if isinstance(node, list):
        return [_plain_data(item, name) for item in node]
    if isinstance(node, (datetime.date, datetime.time)):  # datetime is a date
        return node.isoformat()
    if isinstance(node, float) and not math.isfinite(node):
        raise CliError(f"{name}: holds the number {node}, which cannot be compared")
    return node


_PARSERS: dict[str, Callable[[bytes, str], Any]] = {
    ".json": _parse_json,
    ".toml": _parse_toml,
    ".yaml": _parse_yaml,
    ".yml": _parse_yaml,
}


def load_document(name: str, stdin: IO[bytes] | None) -> Any:
    """Reads and parses one document; `name` is a file path or '-' for JSON on standard input."""
    if name == "-":
        if stdin is None:
            raise CliError("standard input is closed, so '-' cannot be read")
        try:
            data = stdin.read()
        except OSError as exc:
            raise CliError(f"cannot read standard input: {exc.strerror or exc}") from None
        try:
            return _parse_json(data, "<stdin>")
        except RecursionError:
            raise CliError("<stdin>: nested too deeply to read") from None
    path = Path(name)
    suffix = path.suffix.lower()
    parse = _PARSERS.get(suffix)
    if parse is None:
        kind = f"'{suffix}' files" if suffix else "files without an extension"
        raise CliError(f"{name}: cannot read {kind}; use {_SUFFIXES}")
    try:
        data = path.read_bytes()
    except OSError as exc:
        raise CliError(f"cannot read {name}: {exc.strerror or exc}") from None
    try:
        document = parse(data, name)
        return document if parse is _parse_json else _plain_data(document, name)
    except RecursionError:
        raise CliError(f"{name}: nested too deeply to read") from None


# --- running ----------------------------------------------------------------------------------


def _one_line(text: str) -> str:
    return " ".join(text.split())


def _comparison_options(args: argparse.Namespace) -> dict[str, Any]:
    """The constructor keywords the user asked for; the rest keep the library's defaults."""
    options: dict[str, Any] = {}
    for flag in ("ignore_order", "ignore_numeric_type_changes"):
        if getattr(args, flag):
            options[flag] = True
    for name in (
        "significant_digits",
        "atol",
        "rtol",
        "math_epsilon",
        "include_paths",
        "exclude_paths",
        "verbose_level",
    ):
        value = getattr(args, name)
        if value is not None:
            options[name] = value
    return options


def _use_color(args: argparse.Namespace, stdout: IO[str]) -> bool:
    if args.no_color or "NO_COLOR" in os.environ:
        return False
    isatty = getattr(stdout, "isatty", None)
    return bool(isatty is not None and isatty())


def _write(stream: IO[str], text: str) -> None:
    try:
        stream.write(text)
    except UnicodeEncodeError:
        # A terminal or pipe set up for a narrow encoding cannot take the tree's box-drawing
        # characters; UTF-8 bytes are the best that can be done.
        buffer = getattr(stream, "buffer", None)
        if buffer is None:
            raise
        stream.flush()
        buffer.write(text.encode("utf-8"))
    stream.flush()


def run(argv: Sequence[str] | None, stdin: IO[bytes] | None, stdout: IO[str]) -> int:
    """Parses `argv`, compares the two documents and writes the result. Raises CliError."""
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.old == "-" and args.new == "-":
        raise CliError("only one of OLD and NEW can be '-' (standard input)")
    if args.json:
        tree_only = [
            flag
            for flag, given in (
                ("--compact", args.compact),
                ("--max-depth", args.max_depth is not None),
                ("--context", args.context is not None),
                ("--path-header", args.path_header),
            )
            if given
        ]
        if tree_only:
            raise CliError(f"{tree_only[0]} shapes the tree and cannot be used with --json")

    old = load_document(args.old, stdin)
    new = load_document(args.new, stdin)
    try:
        diff = hexalume.Vesperon(old, new, **_comparison_options(args))
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:
        # Includes the library's internal-error class, which does not derive from Exception.
        reason = _one_line(str(exc)) or type(exc).__name__
        raise CliError(f"cannot compare {args.old} with {args.new}: {reason}") from None

    if args.json:
        try:
            text = json.dumps(diff.to_dict(), indent=2, ensure_ascii=False)
        except RecursionError:
            raise CliError("the report is nested too deeply to write as JSON") from None
        _write(stdout, text + "\n")
    elif diff:
        pretty_options: dict[str, Any] = {
            "compact": args.compact,
            "path_header": args.path_header,
            "no_color": not _use_color(args, stdout),
        }
        if args.max_depth is not None:
            pretty_options["max_depth"] = args.max_depth
        if args.context is not None:
            pretty_options["context"] = args.context
        _write(stdout, diff.pretty(**pretty_options) + "\n")
    return EXIT_DIFFERENT if diff else EXIT_EQUAL


def main(argv: Sequence[str] | None = None) -> int:
    """Entry point of the ``hexalume`` console script; returns the exit status."""
    try:
        stdin = getattr(sys.stdin, "buffer", None)  # sys.stdin is None when fd 0 is closed
        return run(argv, stdin, sys.stdout)
    except CliError as exc:
        sys.stdout.flush()
        print(f"{PROG}: error: {exc}", file=sys.stderr)
        return EXIT_ERROR
    except SystemExit as exc:  # --help and --version
        return exc.code if isinstance(exc.code, int) else EXIT_ERROR
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader went away (`hexalume a b | head`). Point stdout at /dev/null so that the
        # interpreter's final flush does not complain, and report the difference as found.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_DIFFERENT


if __name__ == "__main__":
    sys.exit(main())
