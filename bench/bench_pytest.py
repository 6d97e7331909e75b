"""Time the explanation of a failed `assert left == right` by the hexalume pytest plugin against
pytest's own explanation of the same failure, in the same run.

Run: python3 bench/bench_pytest.py [--records N] [--repeat R] [--pytest-vv]

The two documents are {"records": [...]} with N records of 8 fields (default 100,000), the second
a copy with one score changed in the middle. Both explanations are the lines that pytest's
assertion-explanation hook returns, at the default verbosity and at -vv (where nothing is cut);
the time is the best of R repeats and includes pytest's cutting of the explanation to its usual
size, as a failing test would show it. `left != right` is printed as a measure of the machine's
speed in this run.
"""

from __future__ import annotations

import argparse
import copy
import time

import hexalume_pytest
from _pytest.assertion import truncate, util
from _pytest.config import _prepareconfig


def records(count: int) -> dict:
    return {
        "records": [
            {
                "id": i,
                "name": f"user{i}",
                "email": f"user{i}@example.com",
                "score": (i * 37 % 1000) / 10,
                "active": i % 3 != 0,
                "tags": ["a", "b"] if i % 2 else ["c"],
                "address": {"city": f"city{i % 100}", "zip": f"{i % 100000:05d}"},
                "parent": None,
            }
            for i in range(count)
        ]
    }


class _Item:
    """What pytest's truncation reads of a test item."""

    def __init__(self, config) -> None:
        self.config = config


def best(call, repeat: int) -> tuple[float, list[str]]:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        lines = call()
        times.append(time.perf_counter() - start)
    return min(times), lines


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--pytest-vv", action="store_true", help="also time pytest's own at -vv")
    args = parser.parse_args()
    left = records(args.records)
    right = copy.deepcopy(left)
    right["records"][args.records // 2]["score"] += 1
    print(f"{args.records} records, one score changed")
    for flags in ([], ["-vv"]):
        config = _prepareconfig(["-p", "no:cacheprovider", *flags])
        config._do_configure()
        item = _Item(config)
        try:
            ours, our_lines = best(
                lambda c=config, i=item: truncate.truncate_if_required(
                    hexalume_pytest.pytest_assertrepr_compare(c, "==", left, right), i
                ),
                args.repeat,
            )
            # pytest's own explanation at -vv diffs the whole pretty-printed documents: minutes
            # at the default size, so it is timed only on request, and once.
            theirs, their_lines = (
                best(
                    lambda c=config, i=item: truncate.truncate_if_required(
                        util.assertrepr_compare(c, "==", left, right), i
                    ),
                    args.repeat if not flags else 1,
                )
                if not flags or args.pytest_vv
                else (float("nan"), [])
            )
        finally:
            config._ensure_unconfigure()
        start = time.perf_counter()
        assert left != right
        baseline = time.perf_counter() - start
        shows_change = any("+ " in line for line in our_lines)
        print(
            f"{' '.join(flags) or 'default':8} hexalume {ours * 1000:9.3f} ms "
            f"({len(our_lines)} lines, change shown: {shows_change})   "
            f"pytest {theirs * 1000:9.3f} ms ({len(their_lines)} lines)   "
            f"ratio {ours / theirs:6.3f}x   (left != right {baseline * 1000:.3f} ms)"
        )


if __name__ == "__main__":
    main()
