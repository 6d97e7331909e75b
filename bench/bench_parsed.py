"""Vesperon on documents parsed separately from JSON text, as users' documents arrive: every
workload's time as a ratio to Python's own `t1 == copy` (an equal document parsed on its own),
both timed interleaved in the same run.

Run: python3 bench/bench_parsed.py [--repeat R] [--only NAME,...]
     python3 bench/bench_parsed.py --growth [--growth-base N] [--steps K]

Workloads:
  small           a 30-key configuration three levels deep, one value changed (per call)
  equal           40,000 records of 26 values each against an equal document
  changed         the same with 1% of the leaves changed, a few keys and items added or removed
  shuffled        100,000 small records against a shuffled copy, 1% of them changed,
                  ignore_order=True
  shuffled-equal  the same without changed records
  memory          what a comparison of `changed`, and one of `shuffled`, keeps, against the
                  Python heap of both inputs
  cli             the command `hexalume OLD NEW` on two 55 MB files against json.load of both
                  (bench_cli.py, which also takes --records 1260000 for the 231 MB pair); run
                  first

Growth mode runs the records of `shuffled` at N, 2N, ... 2^(K-1) N records (default 100,000 to
1,600,000): equal and in order, 1% changed in order, and shuffled with 1% changed under
ignore_order; it prints each time's growth against size N next to the growth of `==` on the same
documents.
"""

from __future__ import annotations

import argparse
import gc
import json
import random
import statistics
import time
import tracemalloc
from tempfile import gettempdir

import bench_cli
from peak_memory import status_kib

import hexalume

SEED = 20261206
NAMES = ["Ada", "Alan", "Grace", "Linus", "Ken", "Barbara", "Edsger", "Donald", "Frances"]
CITIES = ["Lisbon", "Oslo", "Kyoto", "Austin", "Lagos", "Quito", "Perth", "Tallinn"]
TAGS = ["alpha", "beta", "gamma", "delta", "prod", "staging", "eu", "us", "apac", "vip"]


def parsed(text, count=3):
    return [json.loads(text) for _ in range(count)]


def config(rng):
    return {
        "meta": {"request_id": f"{rng.getrandbits(64):016x}", "api_version": "v2"},
        "service": {
            "name": "checkout",
            "version": f"2.{rng.randrange(20)}.{rng.randrange(10)}",
            "replicas": rng.randrange(2, 9),
            "limits": {"cpu": 0.5, "memory_mb": 512, "timeout_s": 30.0},
        },
        "database": {"host": "db.internal", "port": 5432, "pool": {"min": 2, "max": 20}},
        "features": {"new_ui": True, "rollout": [10, 25, 50]},
        "owners": ["alice", "bob"],
        "status": {"healthy": True, "uptime_pct": 99.95, "incidents": None},
    }


def record(rng, i):
    return {
        "id": 100_000 + i,
        "uuid": f"{rng.getrandbits(128):032x}",
        "name": f"{rng.choice(NAMES)} {rng.choice(NAMES)}",
        "active": rng.random() < 0.7,
        "score": round(rng.uniform(0, 100), 3),
        "tags": rng.sample(TAGS, rng.randrange(0, 5)),
        "address": {
            "street": f"{rng.randrange(1, 999)} Main St",
            "city": rng.choice(CITIES),
            "geo": {"lat": round(rng.uniform(-90, 90), 6), "lon": round(rng.uniform(-180, 180), 6)},
        },
        "metrics": {"views": rng.randrange(10**6), "history": [rng.randrange(5000) for _ in "abc"]},
        "parent": None if rng.random() < 0.5 else rng.randrange(100_000, 100_001 + i),
    }


def small_record(rng, i):
    return {"id": i, "sku": f"SKU-{rng.randrange(10**6):06d}", "qty": rng.randrange(1, 500),
            "price": round(rng.uniform(0.5, 900), 2), "warehouse": rng.choice(CITIES),
            "tags": rng.sample(TAGS, 2)}  # fmt: skip


def leaf_slots(container):
    items = container.items() if isinstance(container, dict) else enumerate(container)
    for key, value in items:
        if isinstance(value, (dict, list)):
            yield from leaf_slots(value)
        else:
            yield container, key


def changed(value):
    if isinstance(value, bool):
        return not value
    if isinstance(value, (int, float)):
        return value + 1
    return "changed" if value is None else value + "-x"


def small():
    t1, t2, twin = parsed(json.dumps(config(random.Random(SEED))))
    t2["service"]["limits"]["memory_mb"] = 1024
    return t1, t2, twin, {}


def documents(count, change=False):
    rng = random.Random(SEED)
    t1, t2, twin = parsed(json.dumps({"records": [record(rng, i) for i in range(count)]}))
    if change:
        rows = t2["records"]
        slots = [slot for row in rows for slot in leaf_slots(row)]
        for container, key in random.Random(SEED + 1).sample(slots, len(slots) // 100):
            container[key] = changed(container[key])
        for i in range(0, count, 4000):
            rows[i]["extra"] = {"flag": True}
            del rows[i + 1]["uuid"]
            rows[i + 2]["tags"].append("new-tag")
        rows.append(record(rng, count))
    return t1, t2, twin, {}


def small_records(count, change=True, shuffle=True):
    rng = random.Random(SEED + 3)
    t1, t2, twin = parsed(json.dumps([small_record(rng, i) for i in range(count)]))
    order = random.Random(SEED + 4)
    if shuffle:
        order.shuffle(t2)
    if change:
        for i in order.sample(range(count), count // 100):
            t2[i]["qty"] += 1
    return t1, t2, twin, {"ignore_order": True} if shuffle else {}


def timed(function, inner):
    start = time.perf_counter()
    for _ in range(inner):
        function()
    return (time.perf_counter() - start) / inner


def ratio(t1, t2, twin, options, repeat):
    """Median times of Vesperon and of `t1 == twin`, interleaved, and their ratio."""

    def compare():
        hexalume.Vesperon(t1, t2, **options)

    def floor():
        return t1 == twin

    inner = max(1, int(0.02 / max(timed(compare, 1), 1e-7)))
    gc.collect()
    gc.disable()
    try:
        ours, theirs = [], []
        for _ in range(repeat):
            ours.append(timed(compare, inner))
            theirs.append(timed(floor, inner))
    finally:
        gc.enable()
    ours, theirs = statistics.median(ours), statistics.median(theirs)
    return ours, theirs, ours / theirs


def retained_memory(make, repeat):
    """RSS kept by a comparison against the Python heap of its two inputs."""
    tracemalloc.start()
    t1, t2, _, options = make()
    heap = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    gc.collect()
    before = status_kib("VmRSS") or 0
    kept = [hexalume.Vesperon(t1, t2, **options) for _ in range(repeat)]
    gc.collect()
    grown = ((status_kib("VmRSS") or 0) - before) * 1024 / len(kept)
    # The heap traced holds the three parsed documents; two of them are the inputs.
    return grown, heap * 2 / 3


WORKLOADS = {
    "small": small,
    "equal": lambda: documents(40_000),
    "changed": lambda: documents(40_000, change=True),
    "shuffled": lambda: small_records(100_000),
    "shuffled-equal": lambda: small_records(100_000, change=False),
}


def growth(base, steps, repeat):
    cases = {
        "equal": lambda n: small_records(n, change=False, shuffle=False),
        "changed": lambda n: small_records(n, shuffle=False),
        "shuffled": small_records,
    }
    for name, make in cases.items():
        first = None
        for step in range(steps):
            count = base << step
            t1, t2, twin, options = make(count)
            ours, theirs, factor = ratio(t1, t2, twin, options, repeat)
            del t1, t2, twin
            first = first or (ours, theirs)
            print(f"{name:8} {count:>9,} records  {ours * 1e3:9.1f} ms  {factor:5.2f}x ==  "
                  f"growth {ours / first[0]:6.2f} (== {theirs / first[1]:6.2f})", flush=True)  # fmt: skip


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7)
    # The command first: a child's peak resident set counts the memory of the process it was
    # forked from, which the other workloads grow.
    parser.add_argument("--only", default=",".join(["cli", *WORKLOADS, "memory"]))
    parser.add_argument("--growth", action="store_true")
    parser.add_argument("--growth-base", type=int, default=100_000)
    parser.add_argument("--steps", type=int, default=5)
    args = parser.parse_args()
    if args.growth:
        growth(args.growth_base, args.steps, args.repeat)
        return
    for name in args.only.split(","):
        if name == "cli":
            bench_cli.big_pair(argparse.Namespace(records=300_000, repeat=3, folder=gettempdir()))
            continue
        if name == "memory":
            for workload in "changed", "shuffled":
                kept, heap = retained_memory(WORKLOADS[workload], 3)
                print(f"memory {workload:8} kept {kept / 2**20:7.1f} MiB  inputs' heap "
                      f"{heap / 2**20:7.1f} MiB  {kept / heap:5.2f}x", flush=True)  # fmt: skip
            continue
        ours, theirs, factor = ratio(*WORKLOADS[name](), args.repeat)
        unit, scale = ("us", 1e6) if name == "small" else ("ms", 1e3)
        print(f"{name:15} {ours * scale:9.2f} {unit}  == {theirs * scale:9.2f} {unit}  "
              f"{factor:5.2f}x", flush=True)  # fmt: skip


if __name__ == "__main__":
    main()
