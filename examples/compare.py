"""Compare two releases of the semver package's registry metadata and print what changed.

Run: python3 examples/compare.py [OLD.json NEW.json]
"""

from __future__ import annotations

import json
import pprint
import sys
from pathlib import Path

from hexalume import Vesperon

HERE = Path(__file__).resolve().parent


def load(path: Path):
    with path.open(encoding="utf-8") as document:
        return json.load(document)


def main(argv: list[str]) -> int:
    if len(argv) not in (0, 2):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    old_path, new_path = (
        (Path(argv[0]), Path(argv[1]))
        if argv
        else (HERE / "semver-6.3.1.json", HERE / "semver-7.5.4.json")
    )
    comparison = Vesperon(load(old_path), load(new_path))
    print(f"{old_path.name} -> {new_path.name}: {len(comparison)} kinds of change")
    pprint.pprint(comparison.to_dict(), width=100, sort_dicts=False)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
