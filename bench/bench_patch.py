"""Time hexalume_patch.make_patch and apply_patch against plain pure-Python code in the same run.

Run: python3 bench/bench_patch.py [--records N] [--repeat R]

Cases (N = --records, default 100,000):
  equal         N records of 8 fields, against an equal copy (distinct objects)
  few leaves    the same records against a copy with 10 leaves changed at random places
  front         a list of N records with 100 records inserted at the front
  edited list   a list of N records with 100 inserted and 100 removed at random places
  real pairs    the package metadata pairs of tests/data, each way

The baseline of make_patch is `plain_make_patch` below: the straightforward recursive generator
a user writes in Python (types kept apart as make_patch does; lists compared by position, so the
`front` and `edited list` cases give it one operation per shifted item). Ratios are its time over
make_patch's; the operation counts of both are printed. apply_patch (not in place) of a
10-operation patch is timed against `plain_apply_patch`: copy.deepcopy of the document, then
the operations. `Vesperon` on the equal case is shown for reference. Times are the best of R.
"""

from __future__ import annotations

import argparse
import copy
import json
import random
import sys
import time
from pathlib import Path

import hexalume
from hexalume_patch import apply_patch, make_patch

SEED = 20261206
DATA = Path(__file__).resolve().parents[1] / "tests" / "data"
PAIRS = [("yargs-16.2.0.json", "yargs-17.7.2.json"), ("vue-2.7.14.json", "vue-3.3.4.json")]


def escape(key):
    return key.replace("~", "~0").replace("/", "~1")


def same(old, new):
    """JSON equality with types kept apart (1, 1.0 and True differ)."""
    if type(old) is not type(new):
        return False
    if isinstance(old, dict):
        return old.keys() == new.keys() and all(same(old[k], new[k]) for k in old)
    if isinstance(old, list):
        return len(old) == len(new) and all(same(a, b) for a, b in zip(old, new, strict=True))
    return old == new


def plain_make_patch(old, new, path="", ops=None):
    ops = [] if ops is None else ops
    if isinstance(old, dict) and isinstance(new, dict):
        for key in old:
            if key not in new:
                ops.append({"op": "remove", "path": f"{path}/{escape(key)}"})
        for key, value in new.items():
            child = f"{path}/{escape(key)}"
            if key in old:
                plain_make_patch(old[key], value, child, ops)
            else:
                ops.append({"op": "add", "path": child, "value": copy.deepcopy(value)})
    elif isinstance(old, list) and isinstance(new, list):
        for index in range(min(len(old), len(new))):
            plain_make_patch(old[index], new[index], f"{path}/{index}", ops)
        for index in range(len(old) - 1, len(new) - 1, -1):
            ops.append({"op": "remove", "path": f"{path}/{index}"})
        for index in range(len(old), len(new)):
            ops.append({"op": "add", "path": f"{path}/{index}", "value": copy.deepcopy(new[index])})
    elif not same(old, new):
        ops.append({"op": "replace", "path": path, "value": copy.deepcopy(new)})
    return ops


def plain_apply_patch(doc, patch):
    doc = copy.deepcopy(doc)
    for op in patch:
        *parents, last = [
            t.replace("~1", "/").replace("~0", "~") for t in op["path"][1:].split("/")
        ]
        node = doc
        for token in parents:
            node = node[int(token)] if isinstance(node, list) else node[token]
        key = int(last) if isinstance(node, list) and last != "-" else last
        if op["op"] == "remove":
            del node[key]
        elif op["op"] == "add" and isinstance(node, list):
            node.insert(len(node) if key == "-" else key, copy.deepcopy(op["value"]))
        else:
            node[key] = copy.deepcopy(op["value"])
    return doc


def record(rng, number):
    return {
        "id": number,
        "name": f"user{number}",
        "email": f"user{number}@example.org",
        "active": rng.random() < 0.5,
        "score": round(rng.random() * 100, 3),
        "tags": [rng.choice(["a", "b", "c", "d"]) for _ in range(3)],
        "address": {"city": rng.choice(["Oslo", "Lima", "Pune"]), "zip": f"{number % 99999:05}"},
        "version": None,
    }


def cases(records):
    rng = random.Random(SEED)
    base = [record(rng, number) for number in range(records)]
    equal = {"records": base}
    yield "equal", equal, copy.deepcopy(equal)
    changed = copy.deepcopy(equal)
    for at in rng.sample(range(records), 10):
        changed["records"][at]["score"] = -1.5
    yield "few leaves", equal, changed
    extra = [record(rng, records + number) for number in range(200)]
    yield "front", base, extra[:100] + copy.deepcopy(base)
    edited = copy.deepcopy(base)
    for at in sorted(rng.sample(range(records), 100), reverse=True):
        del edited[at]
    for item in extra[100:]:
        edited.insert(rng.randrange(len(edited) + 1), item)
    yield "edited list", base, edited
    for first, second in PAIRS:
        old = json.loads((DATA / first).read_text("utf-8"))
        new = json.loads((DATA / second).read_text("utf-8"))
        yield f"{first[:-5]} > {second[:-5]}", old, new
        yield f"{second[:-5]} > {first[:-5]}", new, old


def best(repeat, call):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - start)
    return min(times), result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    print(f"{'case':<28}{'make_patch':>12}{'plain':>12}{'ratio':>8}{'ops':>8}{'plain ops':>11}")
    for name, old, new in cases(args.records):
        ours, patch = best(args.repeat, lambda: make_patch(old, new))
        plain, plain_ops = best(args.repeat, lambda: plain_make_patch(old, new))
        assert apply_patch(old, patch) == new
        print(
            f"{name:<28}{ours * 1e3:>10.1f}ms{plain * 1e3:>10.1f}ms{plain / ours:>7.1f}x"
            f"{len(patch):>8}{len(plain_ops):>11}"
        )
        if name == "equal":
            vesperon, _ = best(args.repeat, lambda: hexalume.Vesperon(old, new))
            print(
                f"{'  Vesperon, same inputs':<28}{vesperon * 1e3:>10.1f}ms"
                f"{'':>12}{ours / vesperon:>7.2f}x of make_patch"
            )
    rng = random.Random(SEED)
    doc, changed = next(
        (old, new) for name, old, new in cases(args.records) if name == "few leaves"
    )
    patch = make_patch(doc, changed)[:10]
    patch += [
        {"op": "add", "path": f"/records/{rng.randrange(args.records)}/x", "value": 1}
        for _ in range(10 - len(patch))
    ]
    ours, result = best(args.repeat, lambda: apply_patch(doc, patch))
    plain, expected = best(args.repeat, lambda: plain_apply_patch(doc, patch))
    assert result == expected
    print(
        f"{'apply 10 ops, not in place':<28}{ours * 1e3:>10.1f}ms{plain * 1e3:>10.1f}ms"
        f"{plain / ours:>7.1f}x"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
