"""Time Vesperon(t1, t2) against Python's own `t1 == t2` on fixed, generated documents.

Run: python3 bench/bench_compare.py [--nodes N] [--repeat R] [--records N]
     python3 bench/bench_compare.py --scale CASE [--scale-base N] [--repeat R]

Cases:
  large equal    two equal JSON-like documents of about one million nodes (distinct objects)
  large 1%       the same document against a copy with about 1% of its leaves changed
  small equal    a 30-key dictionary three levels deep, against an equal copy
  records        100,000 records of 10 fields loaded with json.loads (which shares one str object
                 per distinct key, as API responses arrive), against an equal copy
  shuffled       the same 100,000 records against a shuffled copy, with ignore_order=True

Scaling mode (--scale CASE) runs one case at N, 2N, 4N, 8N and 16N (N = --scale-base, in records
for `records` and `shuffled`, in nodes for `equal` and `changed`) and prints, for each size, the
time, the ratio to `==` and the growth factor against size N (next to that of `==` itself): linear
cost reads k at kN. The default N is small enough for a shared machine; the records cases were
specified at N = 100,000.

The baseline of every case is `t1 == copy`: Python's equality of the case's first document with
an equal copy of it, which visits every node once. For the 1% case `t1 == t2` itself stops at
the first difference, so its time is printed for information only. Times are the best of R
repeats. Peak memory is the rise of the process's resident high-water mark (VmHWM in
/proc/self/status, reset through /proc/self/clear_refs before each case) or, where that reset is
not possible, the rise of getrusage's ru_maxrss.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import random
import string
import sys
import time

from peak_memory import PeakMemory

import hexalume

SEED = 20240611
WORDS = [
    "alpha",
    "beta",
    "gamma",
    "delta",
    "version",
    "name",
    "license",
    "url",
    "main",
    "dependencies",
    "scripts",
    "test",
    "build",
    "author",
    "email",
    "keywords",
    "files",
    "engines",
    "node",
    "types",
    "module",
    "exports",
    "default",
    "require",
    "import",
]


class Document:
    """Deterministic JSON-like document: nested dicts and lists of strings, ints, floats, bools
    and None, in proportions close to package metadata. Leaves can be changed with a separate
    random stream, so a changed copy has exactly the same shape."""

    def __init__(self, target_nodes: int, change_rate: float = 0.0):
        self.rng = random.Random(SEED)
        self.change_rng = random.Random(SEED + 1)
        self.change_rate = change_rate
        self.target = target_nodes
        self.nodes = 0
        self.changed = 0

    def build(self):
        root = {}
        index = 0
        while self.nodes < self.target:
            root[f"package-{index:06d}"] = self.container(depth=1)
            self.nodes += 1
            index += 1
        return root

    def container(self, depth: int):
        rng = self.rng
        if depth >= 4 or rng.random() < 0.25:
            return self.leaf()
        if rng.random() < 0.7:
            result = {}
            for _ in range(rng.randint(2, 9)):
                key = rng.choice(WORDS) + ("" if rng.random() < 0.6 else str(rng.randint(0, 99)))
                result[key] = self.container(depth + 1)
                self.nodes += 1
            return result
        items = [self.container(depth + 1) for _ in range(rng.randint(1, 8))]
        self.nodes += len(items)
        return items

    def leaf(self):
        rng = self.rng
        pick = rng.random()
        if pick < 0.45:
            value = "".join(rng.choice(string.ascii_lowercase) for _ in range(rng.randint(3, 24)))
        elif pick < 0.70:
            value = rng.randint(-1000, 10**9)
        elif pick < 0.82:
            value = rng.random() * 1000.0
        elif pick < 0.94:
            value = rng.random() < 0.5
        else:
            value = None
        if self.change_rate and self.change_rng.random() < self.change_rate:
            self.changed += 1
            return changed_leaf(value)
        return value


def changed_leaf(value):
    if value is None:
        return 0
    if isinstance(value, bool):
        return not value
    if isinstance(value, int):
        return value + 1
    if isinstance(value, float):
        return value * 1.5 + 1.0
    return value + "x"


def build(nodes: int, change_rate: float = 0.0):
    document = Document(nodes, change_rate)
    return document.build(), document


def small_dict():
    rng = random.Random(SEED)
    return {
        f"key{i:02d}": {
            f"inner{j}": {"leaf": rng.randint(0, 1000), "name": f"n{i}-{j}", "flag": j % 2 == 0}
            for j in range(3)
        }
        for i in range(30)
    }


def records(count: int = 100_000):
    """JSON text of `count` records of one shape, keys deliberately not in byte order."""
    rng = random.Random(SEED)
    fields = [
        "name",
        "id",
        "version",
        "description",
        "author",
        "license",
        "main",
        "url",
        "dependencies",
        "tags",
    ]
    rows = [
        {
            field: rng.randint(0, 10**6)
            if i % 2
            else "".join(rng.choice(string.ascii_lowercase) for _ in range(rng.randint(3, 12)))
            for i, field in enumerate(fields)
        }
        for _ in range(count)
    ]
    return json.dumps(rows)


def best_time(function, repeat: int, inner: int = 1) -> float:
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(inner):
            function()
        best = min(best, (time.perf_counter() - start) / inner)
    return best


def shuffled_copy(rows):
    shuffled = list(rows)
    random.Random(SEED + 2).shuffle(shuffled)
    return shuffled


def run_case(name, t1, t2, baseline_copy, repeat, inner=1, **options):
    """Prints one line and returns (Vesperon time, ratio to `==`)."""
    baseline = best_time(lambda: t1 == baseline_copy, repeat, inner)
    own_equality = best_time(lambda: t1 == t2, repeat, inner)
    with PeakMemory() as memory:
        comparison = hexalume.Vesperon(t1, t2, **options)
    construct = best_time(lambda: hexalume.Vesperon(t1, t2, **options), repeat, inner)
    line = (
        f"{name:<12} Vesperon {construct * 1e3:10.3f} ms   t1 == copy {baseline * 1e3:9.3f} ms"
        f"   ratio {construct / baseline:6.2f}x"
    )
    if comparison:
        to_dict = best_time(comparison.to_dict, repeat, inner)
        changes = sum(len(section) for section in comparison.to_dict().values())
        line += f"   to_dict {to_dict * 1e3:8.3f} ms ({changes} changes)"
    line += (
        f"   t1 == t2 {own_equality * 1e3:9.3f} ms   peak +{memory.mib:.1f} MiB ({memory.method})"
    )
    print(line, flush=True)
    return construct, construct / baseline


def scale_inputs(case: str, size: int):
    """(t1, t2, equal copy of t1, options) of one case at `size`."""
    if case in ("records", "shuffled"):
        text = records(size)
        rows, rows_copy = json.loads(text), json.loads(text)
        if case == "records":
            return rows, rows_copy, rows_copy, {}
        return rows, shuffled_copy(rows_copy), rows_copy, {"ignore_order": True}
    large, _ = build(size)
    large_copy, _ = build(size)
    if case == "equal":
        return large, large_copy, large_copy, {}
    changed, _ = build(size, change_rate=0.01)
    return large, changed, large_copy, {}


def run_scaling(case: str, base: int, repeat: int):
    print(
        f"python {sys.version.split()[0]}, {os.cpu_count()} cpus; scaling of '{case}' from "
        f"{base} {'records' if case in ('records', 'shuffled') else 'nodes'}"
    )
    first = None
    for factor in (1, 2, 4, 8, 16):
        t1, t2, baseline_copy, options = scale_inputs(case, base * factor)
        construct, ratio = run_case(
            f"{case} {factor:>2}N", t1, t2, baseline_copy, repeat, **options
        )
        baseline = construct / ratio
        first = (construct, baseline) if first is None else first
        # `==` grows faster than its input too once the data leaves the caches: its growth is
        # printed as the yardstick.
        print(
            f"{'':<12} growth {construct / first[0]:6.2f}x for {factor}x the input"
            f"   (t1 == copy {baseline / first[1]:6.2f}x)",
            flush=True,
        )
        del t1, t2, baseline_copy
        gc.collect()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=1_000_000, help="nodes per large document")
    parser.add_argument("--repeat", type=int, default=5, help="repeats; the best time counts")
    parser.add_argument("--records", type=int, default=100_000, help="records per list")
    parser.add_argument(
        "--scale",
        choices=["equal", "changed", "records", "shuffled"],
        help="run only this case at N, 2N, 4N, 8N and 16N",
    )
    parser.add_argument(
        "--scale-base",
        type=int,
        default=10_000,
        help="N of the scaling mode (records, or nodes for equal and changed)",
    )
    args = parser.parse_args(argv)
    if args.scale:
        run_scaling(args.scale, args.scale_base, args.repeat)
        return

    large, shape = build(args.nodes)
    large_copy, _ = build(args.nodes)
    changed, changes = build(args.nodes, change_rate=0.01)
    print(
        f"python {sys.version.split()[0]}, {os.cpu_count()} cpus; large document: "
        f"{shape.nodes} nodes, changed copy: {changes.changed} leaves changed"
    )
    run_case("large equal", large, large_copy, large_copy, args.repeat)
    run_case("large 1%", large, changed, large_copy, args.repeat)
    small, small_copy = small_dict(), small_dict()
    run_case("small equal", small, small_copy, small_copy, args.repeat, inner=2000)
    text = records(args.records)
    rows, rows_copy = json.loads(text), json.loads(text)
    run_case("records", rows, rows_copy, rows_copy, args.repeat)
    run_case("shuffled", rows, shuffled_copy(rows_copy), rows_copy, args.repeat, ignore_order=True)


if __name__ == "__main__":
    main()
