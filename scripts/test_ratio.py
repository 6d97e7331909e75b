"""Prints the test/code ratio: non-blank lines of tests/ (Python and C++, data files excluded)
against non-blank lines of src/, python/ and stubs/. Counts tracked files only.
With --max R, exits 1 when the ratio exceeds R."""

import argparse
import subprocess
import sys
from pathlib import Path

SOURCE_SUFFIXES = {".py", ".pyi", ".cpp", ".hpp", ".h", ".c"}


def non_blank_lines(root: Path, folders: list[str]) -> int:
    listed = subprocess.run(
        ["git", "ls-files", "-z", "--", *folders], cwd=root, check=True, capture_output=True
    ).stdout.decode()
    total = 0
    for name in filter(None, listed.split("\0")):
        path = root / name
        if path.suffix in SOURCE_SUFFIXES and path.is_file():
            total += sum(1 for line in path.read_text().splitlines() if line.strip())
    return total


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--max", type=float, help="fail when the ratio is above this")
    limit = parser.parse_args().max
    root = Path(__file__).resolve().parent.parent
    tests = non_blank_lines(root, ["tests"])
    product = non_blank_lines(root, ["src", "python", "stubs"])
    ratio = tests / product
    print(f"tests {tests} / product {product} = {ratio:.3f}")
    return 1 if limit is not None and ratio > limit else 0


if __name__ == "__main__":
    sys.exit(main())
