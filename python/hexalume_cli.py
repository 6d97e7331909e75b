"""The ``hexalume`` command: compare two JSON, TOML or YAML documents and print what changed.

    hexalume OLD NEW [options]

The exit status is 0 when the documents are equal, 1 when they differ and 2 on any error.
Every error is one line on standard error; nothing here prints a traceback. A reader that stops
early (`hexalume a b | head -1`) ends the command quietly.
"""

from __future__ import annotations

# Only what every run needs is imported here: the command starts in a few milliseconds, and the
# modules for YAML, TOML, --version and the JSON module's error messages load when used.
import argparse
import contextlib
import importlib
import math
import os
import sys

import hexalume

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Iterator, Sequence
    from types import ModuleType
    from typing import IO, Any, NoReturn

PROG = "hexalume"
EXIT_EQUAL = 0
EXIT_DIFFERENT = 1
EXIT_ERROR = 2

_UINT8_MAX = 2**8 - 1
_UINT32_MAX = 2**32 - 1
_UINT64_MAX = 2**64 - 1
_FORMATS = ("json", "yaml", "toml")
_COLOR_CHOICES = ("auto", "always", "never")
_MAX_INDENT = 16
# File extensions, compared in lower case; any other file, and standard input, is read as JSON
# unless --format says otherwise.
_EXTENSIONS = {".json": "json", ".yaml": "yaml", ".yml": "yaml", ".toml": "toml"}
# A YAML document may use aliases to repeat a part of itself. Reading one whose aliases expand it
# past this many nodes, and past _ALIAS_GROWTH times the nodes written in the file, is refused:
# a few hundred bytes of nested aliases can otherwise stand for billions of nodes.
_ALIAS_BUDGET = 1_000_000
_ALIAS_GROWTH = 100
_YAML_MERGE_TAG = "tag:yaml.org,2002:merge"


class CliError(Exception):
    """A failure the user can act on: printed as one line, exit status 2."""


class _ReaderGone(Exception):
    """Standard output's reader closed the pipe; the command ends quietly with `status`."""

    def __init__(self, status: int) -> None:
        super().__init__(status)
        self.status = status


class _ArgumentParser(argparse.ArgumentParser):
    # argparse prints the whole usage block before its message; one line is easier to read
    # in a script's log, and --help is one flag away.
    def error(self, message: str) -> NoReturn:
        raise CliError(f"{message} (see '{self.prog} --help')")

    # argparse ignores a failure to write --help or --version; here it is an error like any other.
    def _print_message(self, message: str, file: Any = None) -> None:
        if message:
            try:
                _write(file, message)
            except BrokenPipeError:
                raise _ReaderGone(EXIT_EQUAL) from None


class _HelpFormatter(argparse.HelpFormatter):
    """argparse's formatter, which it also makes for every option it adds, without the import of
    shutil (and of the compression modules behind it) that reads the terminal's width: a tenth
    of the command's start-up."""

    def __init__(self, prog: str) -> None:
        try:
            columns = int(os.environ.get("COLUMNS", ""))
        except ValueError:
            columns = 0
        if columns <= 0:
            columns = 80
            if sys.__stdout__ is not None:
                with contextlib.suppress(ValueError, OSError):
                    columns = os.get_terminal_size(sys.__stdout__.fileno()).columns
        super().__init__(prog, width=max(columns, 40) - 2)


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


def _path_filter(text: str) -> str:
    """An argparse type for --include and --exclude: a path as the report writes it."""
    if text == "root" or text.startswith("root["):
        return text
    bare_key = text and "[" not in text and "'" not in text
    example = f"root['{text}']" if bare_key else "root['version']"
    raise argparse.ArgumentTypeError(
        f"expected a path that starts with root, such as {example}, got '{text}'"
    )


def _version() -> str:
    from importlib import metadata

    try:
        return metadata.version("hexalume")
    except metadata.PackageNotFoundError:
        return "(not installed)"


class _VersionAction(argparse.Action):
    """--version: the package metadata is read only when asked for (it takes longer to load
    than the rest of the command)."""

    def __init__(self, option_strings: list[str], dest: str, **kwargs: Any) -> None:
        super().__init__(option_strings, dest, nargs=0, help="print the version and exit")

    def __call__(self, parser: argparse.ArgumentParser, *args: Any) -> NoReturn:
        parser._print_message(f"{parser.prog} {_version()}\n", sys.stdout)
        parser.exit()


def build_parser() -> argparse.ArgumentParser:
    parser = _ArgumentParser(
        prog=PROG,
        # A script that says --comp would break the day another option starts with those letters.
        allow_abbrev=False,
        formatter_class=_HelpFormatter,
        description=(
            "Compare two documents and print what changed, as a tree of the changed "
            "positions (or, with --json, as the report dictionary). Files are read by their "
            "extension (.json, .yaml or .yml, .toml, in any case); other files and '-' "
            "(standard input) are read as JSON unless --format is given."
        ),
        epilog="Exit status: 0 if the documents are equal, 1 if they differ, 2 on error.",
    )
    parser.add_argument("old", metavar="OLD", help="the old document (a file, or '-')")
    parser.add_argument("new", metavar="NEW", help="the new document (a file, or '-')")
    parser.add_argument("--version", action=_VersionAction)

    reading = parser.add_argument_group("input")
    reading.add_argument(
        "--format",
        choices=_FORMATS,
        help="read both documents in this format, whatever their names",
    )
    reading.add_argument(
        "--strict",
        action="store_true",
        help="a key written twice in one object is an error instead of a warning",
    )

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
        type=_path_filter,
        dest="include_paths",
        help="compare only this path (such as \"root['a']\"), its parents and its children; "
        "repeatable",
    )
    compare.add_argument(
        "--exclude",
        metavar="PATH",
        action="append",
        type=_path_filter,
        dest="exclude_paths",
        help="skip this path and everything below it; repeatable",
    )
    compare.add_argument(
        "--verbose-level",
        metavar="N",
        type=_count(_UINT8_MAX),
        help="0 lists changed values by path only (shows with --json); default 1",
    )

    patches = parser.add_argument_group("JSON Patch (RFC 6902)")
    patches.add_argument(
        "--patch",
        action="store_true",
        help="print the patch that turns OLD into NEW, as JSON",
    )
    patches.add_argument(
        "--apply",
        action="store_true",
        help="read OLD as a patch, apply it to the document NEW and print the result as JSON",
    )

    output = parser.add_argument_group("output")
    output.add_argument(
        "-q",
        "--brief",
        action="store_true",
        help="print nothing; only the exit status tells whether the documents differ",
    )
    output.add_argument(
        "--json", action="store_true", help="print the report as JSON instead of the tree"
    )
    output.add_argument(
        "--indent",
        metavar="N",
        type=_count(_MAX_INDENT),
        help="indent the JSON report by N spaces (default 2); 0 writes it on one line",
    )
    output.add_argument(
        "--compact", action="store_true", help="collapse single-child chains into one label"
    )
    output.add_argument(
        "--max-depth",
        metavar="N",
        type=_count(_UINT64_MAX),
        help="draw the tree at most N levels deep (default: no limit)",
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
        "--color",
        choices=_COLOR_CHOICES,
        default="auto",
        help="colour the tree's changed values: auto (the default) on a terminal unless the "
        "NO_COLOR environment variable is set and not empty, always, or never",
    )
    output.add_argument(
        "--no-color",
        action="store_const",
        dest="color",
        const="never",
        help="the same as --color never",
    )
    return parser


# --- reading documents ------------------------------------------------------------------------


class Inexact:
    """A number whose text the nearest double does not hold (1.00000000000000000000001 is read
    as 1.0): the first one in document order, and how many numbers of the file are like it."""

    __slots__ = ("path", "value", "text", "count")

    def __init__(self, path: str, value: float, text: str, count: int) -> None:
        self.path, self.value, self.text, self.count = path, value, text, count


class Document:
    """A parsed document, the paths of the keys it writes twice (in document order) and its
    first inexact number, if any."""

    __slots__ = ("data", "duplicate_keys", "inexact")

    def __init__(
        self, data: Any, duplicate_keys: list[str] | None = None, inexact: Inexact | None = None
    ) -> None:
        self.data = data
        self.duplicate_keys = duplicate_keys or []
        self.inexact = inexact


def _reads_back(text: str, number: float) -> bool:
    """Whether `text` is the value of the shortest text that reads back as `number` (1.50 and
    15e-1 are 1.5; 0.10000000000000001 is not 0.1, though both read as the same double)."""
    shortest = repr(number)
    if shortest == text:
        return True
    from decimal import Decimal

    return Decimal(text) == Decimal(shortest)


class _InexactNumbers:
    """Collects the numbers a parser reads inexactly: how many, and the first few objects (they
    are found in the document by identity, to name a path; a key written twice may have dropped
    the very first)."""

    _KEEP = 16

    def __init__(self) -> None:
        self.count = 0
        self.kept: list[tuple[float, str]] = []

    def note(self, text: str, number: float) -> None:
        if math.isfinite(number) and not _reads_back(text, number):
            self.count += 1
            if len(self.kept) < self._KEEP:
                self.kept.append((number, text))


def _json_float(name: str, inexact: _InexactNumbers) -> Callable[[str], float]:
    def parse(text: str) -> float:
        number = float(text)
        if not math.isfinite(number):
            raise CliError(f"{name}: the number {text} is too large to compare")
        inexact.note(text, number)
        return number

    return parse


def _reject_constant(name: str) -> Callable[[str], Any]:
    def parse(text: str) -> Any:
        raise CliError(f"{name}: invalid JSON: {text} is not a JSON value")

    return parse


def _child_path(path: str, step: str | int) -> str:
    """The report's own notation: a key as its text in quotes, without escaping; an index bare."""
    return f"{path}[{step}]" if isinstance(step, int) else f"{path}['{step}']"


def _locate(
    document: Any, repeated: dict[int, list[str]], numbers: list[tuple[float, str]]
) -> tuple[list[str], tuple[str, float, str] | None]:
    """The paths of the keys listed in `repeated` (by the id of the dict that holds them), and
    the path, value and text of the first of `numbers` (by identity) met in document order."""
    texts = {id(number): text for number, text in numbers}
    found: list[str] = []
    first_number: tuple[str, float, str] | None = None
    stack: list[tuple[Any, str]] = [(document, "root")]
    while stack:
        node, path = stack.pop()
        if isinstance(node, dict):
            found.extend(_child_path(path, key) for key in repeated.get(id(node), ()))
            children = [(value, _child_path(path, str(key))) for key, value in node.items()]
        elif isinstance(node, list):
            children = [(item, _child_path(path, index)) for index, item in enumerate(node)]
        else:
            if first_number is None and id(node) in texts:
                first_number = (path, node, texts[id(node)])
                if not repeated:
                    break
            continue
        stack.extend(reversed(children))  # document order
    return found, first_number


def _document(
    data: Any,
    repeated: dict[int, list[str]],
    numbers: list[tuple[float, str]],
    count: int,
    path_of_first: str | None = None,
) -> Document:
    """A Document whose duplicate keys and first inexact number are found in `data`, unless
    `path_of_first` already names the first of `numbers`."""
    duplicates: list[str] = []
    first: tuple[str, float, str] | None = None
    if numbers and path_of_first is not None and not repeated:
        first = (path_of_first, *numbers[0])
    elif repeated or numbers:
        duplicates, first = _locate(data, repeated, numbers)
    inexact = None if first is None else Inexact(*first, count)
    return Document(data, duplicates, inexact)


def _parse_json(data: bytes, name: str, earlier: Any = None) -> Document:
    """Reads a JSON document. Where it is equal to `earlier` (the other document) at the same
    position, it holds earlier's objects: a copy that changed in a few places costs little memory
    (the comparison's result is the same)."""
    reader = _native_reader()
    if reader is not None:
        # Deeper documents are left to the json module, which decides where nesting ends.
        result = reader.read(data, sys.getrecursionlimit() // 2, earlier)
        if result is not None:
            document, repeated_pairs, count, numbers, first_steps = result
            repeated = {id(obj): keys for obj, keys in repeated_pairs}
            first_path = None
            if first_steps is not None:
                first_path = "root"
                for step in first_steps:
                    first_path = _child_path(first_path, step)
            return _document(document, repeated, numbers, count, first_path)
    # The native reader leaves to the json module what it does not read: invalid documents,
    # whose errors are the module's, and lone surrogates and numbers beyond the double range.
    return _parse_json_module(data, name)


def _native_reader() -> Any:
    try:
        return importlib.import_module("_hexalume_json")
    except ImportError:
        return None


def _parse_json_module(data: bytes, name: str) -> Document:
    import json

    repeated: dict[int, list[str]] = {}
    inexact = _InexactNumbers()

    def make_object(pairs: list[tuple[str, Any]]) -> dict[str, Any]:
        # As JSON readers do, a key written twice keeps its last value; it is noted for a warning.
        obj = dict(pairs)
        if len(obj) != len(pairs):
            seen: set[str] = set()
            twice: list[str] = []
            for key, _ in pairs:
                if key in seen and key not in twice:
                    twice.append(key)
                seen.add(key)
            repeated[id(obj)] = twice
        return obj

    try:
        document = json.loads(
            data,
            object_pairs_hook=make_object,
            parse_float=_json_float(name, inexact),
            parse_constant=_reject_constant(name),
        )
    except json.JSONDecodeError as exc:
        raise CliError(
            f"{name}: invalid JSON: {exc.msg} at line {exc.lineno}, column {exc.colno}"
        ) from None
    except UnicodeDecodeError as exc:
        raise CliError(f"{name}: not valid UTF-8 text ({exc.reason} at byte {exc.start})") from None
    return _document(document, repeated, inexact.kept, inexact.count)


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
        f"{name}: reading TOML needs Python 3.11 or newer, or the tomli package: pip install tomli"
    )


def _parse_toml(data: bytes, name: str) -> Document:
    toml = _toml_module(name)
    text = _decode(data, name)
    inexact = _InexactNumbers()

    def parse_float(written: str) -> float:
        number = float(written)
        inexact.note(written.replace("_", ""), number)
        return number

    try:
        # The TOML grammar itself forbids a key written twice.
        document = _plain_data(toml.loads(text, parse_float=parse_float), name)
    except toml.TOMLDecodeError as exc:
        raise CliError(f"{name}: invalid TOML: {exc}") from None
    return _document(document, {}, inexact.kept, inexact.count)


def _yaml_children(node: Any) -> list[Any]:
    if node.id == "mapping":
        return [part for pair in node.value for part in pair]
    if node.id == "sequence":
        return list(node.value)
    return []


def _check_yaml_expansion(root: Any, name: str) -> list[Any]:
    """Refuses a node graph whose aliases repeat it past the budget, or make it endless, and
    returns its mapping nodes, each once.

    Aliases make the graph share nodes; the document the comparison sees has every shared node
    written out in full. Its size is counted here bottom-up, each distinct node once.
    """
    sizes: dict[int, int] = {}
    open_nodes: set[int] = set()  # the nodes on the way from the root to the current one
    mappings: list[Any] = []
    stack: list[tuple[Any, list[Any] | None]] = [(root, None)]
    while stack:
        node, children = stack.pop()
        key = id(node)
        if children is not None:  # all of the node's children are counted
            open_nodes.discard(key)
            sizes[key] = 1 + sum(sizes[id(child)] for child in children)
            continue
        if key in sizes:
            continue
        if key in open_nodes:
            raise CliError(f"{name}: an alias refers to a node that contains it")
        children = _yaml_children(node)
        if not children:
            sizes[key] = 1
            continue
        if node.id == "mapping":
            mappings.append(node)
        open_nodes.add(key)
        stack.append((node, children))
        stack.extend((child, None) for child in children if id(child) not in sizes)
    written = len(sizes)
    limit = max(_ALIAS_BUDGET, _ALIAS_GROWTH * written)
    if sizes[id(root)] > limit:
        raise CliError(
            f"{name}: its aliases expand it to more than {limit:,} values "
            f"(from {written:,} written in the file); refusing to read it"
        )
    return mappings


def _yaml_duplicate_keys(root: Any, mappings: list[Any], loader: Any) -> list[str]:
    """Paths of the keys written twice in one mapping, or whose texts are equal (1 and '1'),
    as the comparison sees keys by their text. A node shared through aliases counts once, at
    the first place it appears. Keys merged in with '<<' may be overridden and are not counted.
    """
    repeated: dict[int, list[str]] = {}
    for node in mappings:
        seen: set[str] = set()
        twice: list[str] = []
        for key_node, _ in node.value:
            if key_node.tag == _YAML_MERGE_TAG or key_node.id != "scalar":
                continue
            # Built now, the key is cached for the document's construction.
            text = str(loader.construct_object(key_node, deep=True))
            if text in seen and text not in twice:
                twice.append(text)
            seen.add(text)
        if twice:
            repeated[id(node)] = twice
    if not repeated:
        return []
    found: list[str] = []
    visited: set[int] = set()
    stack: list[tuple[Any, str]] = [(root, "root")]
    while stack:
        node, path = stack.pop()
        if id(node) in visited or node.id == "scalar":
            continue
        visited.add(id(node))
        children: list[tuple[Any, str]] = []
        if node.id == "sequence":
            children = [(item, _child_path(path, index)) for index, item in enumerate(node.value)]
        for key_node, value_node in node.value if node.id == "mapping" else ():
            if key_node.tag != _YAML_MERGE_TAG and key_node.id == "scalar":
                key = loader.construct_object(key_node, deep=True)
                children.append((value_node, _child_path(path, str(key))))
        found.extend(_child_path(path, key) for key in repeated.get(id(node), ()))
        stack.extend(reversed(children))
    return found


def _parse_yaml(data: bytes, name: str) -> Document:
    try:
        yaml = importlib.import_module("yaml")
    except ModuleNotFoundError:
        raise CliError(f"{name}: reading YAML needs PyYAML: pip install pyyaml") from None
    loader_class = getattr(yaml, "CSafeLoader", yaml.SafeLoader)
    loader = loader_class(_decode(data, name))
    try:
        # yaml.load in steps: the node graph is checked before any value is built from it.
        root = loader.get_single_node()
        if root is None:  # an empty file
            return Document(None)
        mappings = _check_yaml_expansion(root, name)
        duplicates = _yaml_duplicate_keys(root, mappings, loader)
        return Document(_plain_data(loader.construct_document(root), name), duplicates)
    except yaml.MarkedYAMLError as exc:
        problem = "; ".join(part for part in (exc.context, exc.problem) if part)
        mark = exc.problem_mark or exc.context_mark
        where = f" at line {mark.line + 1}, column {mark.column + 1}" if mark else ""
        raise CliError(f"{name}: invalid YAML: {problem or 'cannot parse'}{where}") from None
    except yaml.YAMLError as exc:
        raise CliError(f"{name}: invalid YAML: {_one_line(str(exc))}") from None
    finally:
        loader.dispose()


def _plain_data(document: Any, name: str) -> Any:
    """TOML and YAML read dates and times as objects: compare them by their ISO 8601 text.

    Non-finite floats (TOML's nan and inf, YAML's .nan and .inf) cannot be compared and are
    reported here, where the file name is still known.
    """
    import datetime

    times = (datetime.date, datetime.time)  # datetime is a date

    def plain(node: Any) -> Any:
        if isinstance(node, dict):
            return {key: plain(value) for key, value in node.items()}
        if isinstance(node, list):
            return [plain(item) for item in node]
        if isinstance(node, times):
            return node.isoformat()
        if isinstance(node, float) and not math.isfinite(node):
            raise CliError(f"{name}: holds the number {node}, which cannot be compared")
        return node

    return plain(document)


_PARSERS: dict[str, Callable[[bytes, str], Document]] = {
    "json": _parse_json,
    "toml": _parse_toml,
    "yaml": _parse_yaml,
}


def document_format(name: str, chosen: str | None) -> str:
    """The format to read `name` in: `chosen` (from --format), else by extension, else JSON."""
    if chosen is not None:
        return chosen
    if name == "-":
        return "json"
    return _EXTENSIONS.get(os.path.splitext(name)[1].lower(), "json")


def load_document(
    name: str, stdin: IO[bytes] | None, chosen: str | None = None, earlier: Any = None
) -> Document:
    """Reads and parses one document; `name` is a file path or '-' for standard input. A JSON
    document shares the objects of `earlier` where it is equal to it."""
    if name == "-":
        if stdin is None:
            raise CliError("standard input is closed, so '-' cannot be read")
        label = "<stdin>"
        try:
            data = stdin.read()
        except OSError as exc:
            raise CliError(f"cannot read standard input: {exc.strerror or exc}") from None
    else:
        label = name
        try:
            with open(name, "rb") as file:
                data = file.read()
        except OSError as exc:
            raise CliError(f"cannot read {name}: {exc.strerror or exc}") from None
    chosen_format = document_format(name, chosen)
    try:
        if chosen_format == "json":
            return _parse_json(data, label, earlier)
        return _PARSERS[chosen_format](data, label)
    except RecursionError:
        raise CliError(f"{label}: nested too deeply to read") from None


# --- running ----------------------------------------------------------------------------------


@contextlib.contextmanager
def _integers_of_any_length() -> Iterator[None]:
    """Lifts the interpreter's limit on the digits of integer text (4300 by default) while the
    command runs, so that documents are read and written with their numbers exact. The limit
    exists from Python 3.11 (and late 3.10 releases)."""
    get_limit = getattr(sys, "get_int_max_str_digits", None)
    if get_limit is None:
        yield
        return
    previous = get_limit()
    sys.set_int_max_str_digits(0)
    try:
        yield
    finally:
        sys.set_int_max_str_digits(previous)


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
    if args.color != "auto":
        return bool(args.color == "always")
    # NO_COLOR set to an empty text does not count (as https://no-color.org/ defines it).
    if os.environ.get("NO_COLOR"):
        return False
    isatty = getattr(stdout, "isatty", None)
    return bool(isatty is not None and isatty())


def _write(stream: IO[str] | None, text: str) -> None:
    """Writes and flushes `text`. A failure to write is a CliError; BrokenPipeError (the reader
    went away) is left to the caller, which ends quietly."""
    if stream is None:  # the interpreter sets sys.stdout to None when descriptor 1 is closed
        raise CliError("cannot write the result: standard output is closed")
    try:
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
    except BrokenPipeError:
        raise
    except OSError as exc:
        raise CliError(f"cannot write the result: {exc.strerror or exc}") from None


def _warn(stderr: IO[str] | None, message: str) -> None:
    if stderr is None:
        return
    try:
        stderr.write(f"{PROG}: warning: {message}\n")
        stderr.flush()
    except OSError:
        pass  # nowhere left to say it


def run(
    argv: Sequence[str] | None,
    stdin: IO[bytes] | None,
    stdout: IO[str] | None,
    stderr: IO[str] | None = None,
) -> int:
    """Parses `argv`, compares the two documents and writes the result. Raises CliError, and
    _ReaderGone when the reader of standard output has gone."""
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.old == "-" and args.new == "-":
        raise CliError("only one of OLD and NEW can be '-' (standard input)")
    _check_output_options(args)

    documents: list[Any] = []
    for name in (args.old, args.new):
        # A patch is applied to a document in place: the two must not share objects.
        earlier = documents[0] if documents and not (args.patch or args.apply) else None
        document = load_document(name, stdin, args.format, earlier)
        label = "<stdin>" if name == "-" else name
        for path in document.duplicate_keys:
            if args.strict:
                raise CliError(f"{label}: duplicate key {path}")
            _warn(stderr, f"{label}: duplicate key {path}; its last value is compared")
        if document.inexact is not None:
            _warn(stderr, _inexact_warning(label, document.inexact))
        documents.append(document.data)
    old, new = documents
    if args.patch or args.apply:
        return _run_patch(args, old, new, stdout)
    try:
        diff = hexalume.Vesperon(old, new, **_comparison_options(args))
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:
        # Includes the library's internal-error class, which does not derive from Exception.
        reason = _one_line(str(exc)) or type(exc).__name__
        raise CliError(f"cannot compare {args.old} with {args.new}: {reason}") from None
    status = EXIT_DIFFERENT if diff else EXIT_EQUAL
    if args.brief:
        return status

    try:
        _write_result(args, diff, stdout)
    except BrokenPipeError:
        raise _ReaderGone(status) from None
    return status


def _run_patch(args: argparse.Namespace, first: Any, second: Any, stdout: IO[str] | None) -> int:
    """--patch OLD NEW prints the patch from OLD to NEW; --apply PATCH DOC prints DOC patched."""
    import json

    import hexalume_patch

    if args.patch and args.apply:
        raise CliError("--patch and --apply cannot be used together")
    mode = "--patch" if args.patch else "--apply"
    if _comparison_options(args):
        raise CliError(f"{mode} takes no comparison options")
    try:
        if args.patch:
            result = hexalume_patch.make_patch(first, second)
            status = EXIT_DIFFERENT if result else EXIT_EQUAL
        else:
            result = hexalume_patch.apply_patch(second, first)
            status = EXIT_EQUAL
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:
        reason = _one_line(str(exc)) or type(exc).__name__
        action = "make the patch" if args.patch else "apply the patch"
        raise CliError(f"cannot {action}: {reason}") from None
    try:
        text = json.dumps(result, indent=2, ensure_ascii=False)
    except RecursionError:
        raise CliError("the result is nested too deeply to write as JSON") from None
    try:
        _write(stdout, text + "\n")
    except BrokenPipeError:
        raise _ReaderGone(status) from None
    return status


def _check_output_options(args: argparse.Namespace) -> None:
    """Refuses output options that the chosen output cannot honour."""
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
    if args.brief:
        outputs = [("--json", args.json), ("--indent", args.indent is not None)]
        shaping = [flag for flag, given in outputs if given] + tree_only
        if shaping:
            raise CliError(f"{shaping[0]} shapes the output and cannot be used with --brief")
    if args.json and tree_only:
        raise CliError(f"{tree_only[0]} shapes the tree and cannot be used with --json")
    if args.indent is not None and not args.json:
        raise CliError("--indent shapes the JSON report and needs --json")


@contextlib.contextmanager
def _collector_paused() -> Iterator[None]:
    """Pauses the cyclic garbage collector while the command runs: documents hold no cycles, and
    its passes over millions of new containers would cost more than reading them."""
    import gc

    was_enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was_enabled:
            gc.enable()


def _inexact_warning(label: str, inexact: Inexact) -> str:
    written = inexact.text if len(inexact.text) <= 60 else inexact.text[:57] + "..."
    message = (
        f"{label}: the number {written} at {inexact.path} is read as the nearest double, "
        f"{inexact.value!r}"
    )
    more = inexact.count - 1
    if more:
        numbers = (
            "1 more number in this file is"
            if more == 1
            else f"{more:,} more numbers in this file are"
        )
        message += f"; {numbers} not exact either"
    return message


def _write_result(
    args: argparse.Namespace, diff: hexalume.Vesperon, stdout: IO[str] | None
) -> None:
    if args.json:
        import json

        indent = 2 if args.indent is None else args.indent
        # --indent 0 writes one line, without the spaces that only help a human reader.
        layout: dict[str, Any] = {"indent": indent} if indent else {"separators": (",", ":")}
        try:
            text = json.dumps(diff.to_dict(), ensure_ascii=False, **layout)
        except RecursionError:
            raise CliError("the report is nested too deeply to write as JSON") from None
        _write(stdout, text + "\n")
    elif diff:
        pretty_options: dict[str, Any] = {
            "compact": args.compact,
            "path_header": args.path_header,
            "no_color": stdout is None or not _use_color(args, stdout),
            # The library draws 5 levels by default; a command run in a script shows everything.
            "max_depth": _UINT64_MAX if args.max_depth is None else args.max_depth,
        }
        if args.context is not None:
            pretty_options["context"] = args.context
        _write(stdout, diff.pretty(**pretty_options) + "\n")


def _discard_stdout() -> None:
    """Points descriptor 1 at /dev/null, so that the interpreter's last flush of what is still
    buffered neither fails nor prints a complaint."""
    try:
        fileno = sys.stdout.fileno() if sys.stdout is not None else -1
    except (OSError, ValueError):
        return
    if fileno < 0:
        return
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, fileno)
    os.close(devnull)


def _error(message: str) -> int:
    if sys.stderr is not None:
        try:
            print(f"{PROG}: error: {message}", file=sys.stderr)
        except OSError:
            pass
    return EXIT_ERROR


def main(argv: Sequence[str] | None = None) -> int:
    """Entry point of the ``hexalume`` console script; returns the exit status."""
    status = EXIT_ERROR
    try:
        stdin = getattr(sys.stdin, "buffer", None)  # sys.stdin is None when fd 0 is closed
        with _integers_of_any_length(), _collector_paused():
            status = run(argv, stdin, sys.stdout, sys.stderr)
    except CliError as exc:
        try:
            if sys.stdout is not None:
                sys.stdout.flush()
        except OSError:
            _discard_stdout()
        return _error(str(exc))
    except SystemExit as exc:  # --help and --version, whose text argparse has written
        status = exc.code if isinstance(exc.code, int) else EXIT_ERROR
    except KeyboardInterrupt:
        return 130
    except _ReaderGone as exc:  # `hexalume a b | head -1`: end quietly
        _discard_stdout()
        return exc.status
    # Whatever is still buffered (--help and --version) must reach its reader too.
    try:
        if sys.stdout is not None:
            sys.stdout.flush()
    except BrokenPipeError:
        _discard_stdout()
    except OSError as exc:
        _discard_stdout()
        return _error(f"cannot write the result: {exc.strerror or exc}")
    return status


if __name__ == "__main__":
    sys.exit(main())
