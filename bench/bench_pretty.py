"""Times Vesperon.pretty() on reports with 100,000 changes, next to to_dict() on the same report.

Run from the repository root: python3 bench/bench_pretty.py (with hexalume importable, e.g.
PYTHONPATH=build/<dir>). Prints one row per case: the best time of each call over a few runs and
the ratio pretty / to_dict. The ratio is what to compare between changes; nothing is asserted.
"""

from __future__ import annotations

import time
from typing import Any, Callable

from hexalume import Vesperon

CHANGES = 100_000
REPEATS = 5


def best_of(call: Callable[[], Any]) -> float:
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def one_wide_list() -> Vesperon:
    return Vesperon(list(range(CHANGES)), [item + 1 for item in range(CHANGES)])


def one_wide_dict() -> Vesperon:
    return Vesperon(
        {f"key{at}": at for at in range(CHANGES)}, {f"key{at}": -at - 1 for at in range(CHANGES)}
    )


def nested_records() -> Vesperon:
    # 10,000 records of 10 fields, every field changed, interleaved with unchanged records.
    def records(shift: int) -> list[dict]:
        rows = []
        for row in range(CHANGES // 10):
            rows.append({"id": row, "fields": {f"f{field}": row * field + shift for field in range(10)}})
            rows.append({"id": -row, "fields": {}})
        return rows

    return Vesperon({"rows": records(0)}, {"rows": records(1)})


def unordered_records() -> Vesperon:
    # Under ignore_order a changed record is one removal and one addition at the same position.
    before = [{"n": at, "v": "a"} for at in range(CHANGES // 2)]
    after = [{"n": at, "v": "b"} for at in range(CHANGES // 2)]
    return Vesperon(before, after, ignore_order=True)


CASES: dict[str, Callable[[], Vesperon]] = {
    "one list, 100k items": one_wide_list,
    "one dict, 100k keys": one_wide_dict,
    "10k records x 10 fields": nested_records,
    "ignore_order, 50k x 2": unordered_records,
}

VARIANTS: dict[str, dict[str, Any]] = {
    "default": {},
    "context=2": {"context": 2},
    "compact": {"compact": True},
    "path_header": {"path_header": True},
}


def main() -> None:
    print(f"{'case':<26} {'pretty(...)':<14} {'pretty s':>9} {'to_dict s':>10} {'ratio':>7}")
    for name, build in CASES.items():
        comparison = build()
        baseline = best_of(comparison.to_dict)
        for variant, options in VARIANTS.items():
            elapsed = best_of(lambda: comparison.pretty(**options))
            print(
                f"{name:<26} {variant:<14} {elapsed:>9.4f} {baseline:>10.4f} "
                f"{elapsed / baseline:>7.2f}"
            )


if __name__ == "__main__":
    main()
