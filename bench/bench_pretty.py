"""Times Vesperon.pretty() on reports with many changes, and on deep chains.

Run from the repository root: python3 bench/bench_pretty.py (with hexalume importable, e.g.
PYTHONPATH=build/<dir>). Two parts:

- Wide reports of 100,000 changes (one list, one dict, 10,000 records of 10 fields, and
  ignore_order on 50,000 records), and the report of bench_compare's one-million-node document
  against its copy with 1% of the leaves changed (about 10,000 changes), in every layout mode: the median time of pretty(...) over a few
  runs, the changes drawn per second, and the ratio to to_dict() on the same report.
- A chain of nested dicts with a change at every level, at three depths: time and peak memory of
  pretty() with the default depth limit, with compact=True and with path_header=True, the size of
  the text, and the growth factor per doubling of the depth. The default and compact texts do not
  grow with the depth: only the first levels are drawn, and the tree of changed positions costs
  one node per position, so the cost grows linearly. The path_header text grows fourfold per
  doubling (every header names its whole path), and so may its cost, no more.

The ratios and growth factors are what to compare between changes; nothing is asserted.
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from collections.abc import Callable
from typing import Any

from peak_memory import PeakMemory

from hexalume import Vesperon

CHANGES = 100_000
CHAIN_DEPTHS = (2_500, 5_000, 9_990)


def median_time(call: Callable[[], Any], repeats: int) -> float:
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


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
            rows.append(
                {"id": row, "fields": {f"f{field}": row * field + shift for field in range(10)}}
            )
            rows.append({"id": -row, "fields": {}})
        return rows

    return Vesperon({"rows": records(0)}, {"rows": records(1)})


def unordered_records() -> Vesperon:
    # Under ignore_order a changed record is one removal and one addition at the same position.
    before = [{"n": at, "v": "a"} for at in range(CHANGES // 2)]
    after = [{"n": at, "v": "b"} for at in range(CHANGES // 2)]
    return Vesperon(before, after, ignore_order=True)


def large_one_percent() -> Vesperon:
    from bench_compare import build

    return Vesperon(build(1_000_000)[0], build(1_000_000, change_rate=0.01)[0])


CASES: dict[str, Callable[[], Vesperon]] = {
    "one list, 100k items": one_wide_list,
    "one dict, 100k keys": one_wide_dict,
    "10k records x 10 fields": nested_records,
    "ignore_order, 50k x 2": unordered_records,
    "large 1% (bench_compare)": large_one_percent,
}

VARIANTS: dict[str, dict[str, Any]] = {
    "default": {},
    "context=2": {"context": 2},
    "compact": {"compact": True},
    "path_header": {"path_header": True},
}


def chain(depth: int, leaf: int) -> dict:
    """{"v": leaf, "k": {"v": leaf, "k": ...}} with `depth` levels."""
    node: dict = {"v": leaf}
    for _ in range(depth - 1):
        node = {"k": node, "v": leaf}
    return node


def wide_reports(repeats: int) -> None:
    print(
        f"{'case':<26} {'pretty(...)':<12} {'pretty s':>9} {'changes/s':>11} {'to_dict s':>10} "
        f"{'ratio':>6}"
    )
    for name, build in CASES.items():
        comparison = build()
        changes = sum(len(section) for section in comparison.to_dict().values())
        baseline = median_time(comparison.to_dict, repeats)
        for variant, options in VARIANTS.items():
            elapsed = median_time(lambda: comparison.pretty(**options), repeats)
            print(
                f"{name:<26} {variant:<12} {elapsed:>9.4f} {changes / elapsed:>11,.0f} "
                f"{baseline:>10.4f} {elapsed / baseline:>6.2f}",
                flush=True,
            )


def deep_chains(repeats: int) -> None:
    print(
        f"\n{'chain levels':<13} {'pretty(...)':<12} {'pretty s':>9} {'growth':>7} "
        f"{'peak MiB':>9} {'text bytes':>12} {'growth':>7}"
    )
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(max(limit, 4 * max(CHAIN_DEPTHS)))
    try:
        comparisons = {depth: Vesperon(chain(depth, 0), chain(depth, 1)) for depth in CHAIN_DEPTHS}
    finally:
        sys.setrecursionlimit(limit)
    for variant, options in {
        "default": {},
        "compact": {"compact": True},
        "path_header": {"path_header": True},
    }.items():
        previous: tuple[float, int] | None = None
        for depth, comparison in comparisons.items():
            with PeakMemory() as memory:
                size = len(comparison.pretty(**options).encode())
            elapsed = median_time(lambda: comparison.pretty(**options), repeats)
            growth = f"{elapsed / previous[0]:>7.2f}" if previous else f"{'':>7}"
            text_growth = f"{size / previous[1]:>7.2f}" if previous else f"{'':>7}"
            print(
                f"{depth:<13,} {variant:<12} {elapsed:>9.4f} {growth} {memory.mib:>9.1f} "
                f"{size:>12,} {text_growth}",
                flush=True,
            )
            previous = (elapsed, size)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeats", type=int, default=5, help="runs per measurement (median)")
    parser.add_argument("--part", choices=["wide", "chains", "all"], default="all")
    args = parser.parse_args()
    if args.part in ("wide", "all"):
        wide_reports(args.repeats)
    if args.part in ("chains", "all"):
        deep_chains(args.repeats)


if __name__ == "__main__":
    main()
