"""Time comparisons of huge integers against the interpreter's own linear work on the same ints.

Run: python3 bench/bench_big_integers.py [--digits N] [--repeat R]

For integers of N and N/10 decimal digits (default N = 1,000,000) it times:
  construct   Vesperon(a, b) for two different N-digit ints
  to_dict     to_dict() of that comparison (both ints come back as Python ints)
  repr        repr() of the comparison (all digits written in decimal)
  pretty      pretty(no_color=True) of the comparison
  [a]*3       Vesperon([a] * 3, [b] * 3): one object met three times on each side
The baseline is `a.to_bytes(...)` plus `int.from_bytes(...)` of the same int, a linear copy.
Each line prints the time, the ratio to that baseline, and the growth from N/10 to N digits:
about 10 for linear cost, 100 for quadratic. Times are the best of R repeats.
"""

from __future__ import annotations

import argparse
import sys
import time

from hexalume import Vesperon


def best(repeat: int, work) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def cases(digits: int) -> dict[str, object]:
    a = 10 ** (digits - 1) + 12345
    b = a + 1
    diff = Vesperon(a, b)
    length = (a.bit_length() + 7) // 8
    return {
        "baseline": lambda: int.from_bytes(a.to_bytes(length, "little"), "little"),
        "construct": lambda: Vesperon(a, b),
        "to_dict": diff.to_dict,
        "repr": lambda: repr(diff),
        "pretty": lambda: diff.pretty(no_color=True),
        "[a]*3": lambda: Vesperon([a] * 3, [b] * 3),
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--digits", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    options = parser.parse_args()
    small_digits = max(options.digits // 10, 1)
    small = {name: best(options.repeat, work) for name, work in cases(small_digits).items()}
    large = {name: best(options.repeat, work) for name, work in cases(options.digits).items()}
    print(f"{options.digits:,} digits (growth from {small_digits:,} digits)")
    for name, seconds in large.items():
        ratio = seconds / large["baseline"]
        growth = seconds / small[name] if small[name] else float("inf")
        print(
            f"  {name:10} {seconds * 1e3:10.1f} ms  x{ratio:10.1f} baseline  growth x{growth:6.1f}"
        )
    sys.stdout.flush()


if __name__ == "__main__":
    main()
