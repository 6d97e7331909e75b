"""Time ignore_order on input crafted to collide in the structural hash, against random input of
the same shape and size.

Run: python3 bench/bench_collisions.py [--records N] [--repeat R]

Each case builds N records (default 16,000) and compares them with ignore_order=True against the
same records reversed, the last one replaced, so every pass of the matching runs. The baseline of
each crafted case is a random case of the same shape, measured in the same run; the ratio is what
counts (a hash that input can flood makes it grow with N, a sound one keeps it near 1).

Crafted cases:
  list tail     [i, 0xe7037ed1a0b428db]: lists ending in one fixed 64-bit word
  member tail   {"id": i, "z": 0xe7037ed1a0b428db}: records whose last member holds that word
  key swaps     14 members, each key either "a" or "`\\0" (one letter lower, a NUL after it), and
                so on for the later letters; the values are equal, so only the keys' words and
                lengths differ
  stride        [i * 2**20]: integers whose low bits agree
  zero prefix   long strings that differ only in their last byte

Times are the best of R repeats after one untimed warm-up call.
"""

from __future__ import annotations

import argparse
import random
import time

import hexalume

WORD = 0xE7037ED1A0B428DB


def key_swaps(i: int) -> dict:
    record = {}
    for bit in range(14):
        letter = chr(ord("a") + 2 * bit)
        key = chr(ord(letter) - 1) + "\0" if i >> bit & 1 else letter
        record[key] = 0
    return record


def random_keys(rng: random.Random) -> dict:
    return {
        "".join(rng.choice("abcdefghijklmnopqrstuvwxyz\0") for _ in range(rng.randint(1, 2))): 0
        for _ in range(14)
    }


CASES = {
    "list tail": (lambda i, rng: [i, WORD], lambda i, rng: [i, rng.getrandbits(64)]),
    "member tail": (
        lambda i, rng: {"id": i, "z": WORD},
        lambda i, rng: {"id": i, "z": rng.getrandbits(64)},
    ),
    "key swaps": (lambda i, rng: key_swaps(i), lambda i, rng: random_keys(rng)),
    "stride": (lambda i, rng: [i << 20], lambda i, rng: [rng.getrandbits(40)]),
    "zero prefix": (
        lambda i, rng: "\0" * 200 + chr(i % 0x10000 + 0x100) + str(i),
        lambda i, rng: "".join(rng.choice("ab") for _ in range(200)) + str(i),
    ),
}


def best_time(make, count: int, repeat: int) -> float:
    rng = random.Random(7)
    old = [make(i, rng) for i in range(count)]
    new = old[::-1]
    new[0] = make(count, rng)
    hexalume.Vesperon(old, new, ignore_order=True)  # warm-up, untimed
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        hexalume.Vesperon(old, new, ignore_order=True)
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=16_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    print(f"{args.records:,} records, ignore_order=True, best of {args.repeat}")
    print(f"{'case':<14}{'crafted':>12}{'random':>12}{'ratio':>8}")
    worst = 0.0
    for name, (crafted, plain) in CASES.items():
        crafted_time = best_time(crafted, args.records, args.repeat)
        plain_time = best_time(plain, args.records, args.repeat)
        ratio = crafted_time / plain_time
        worst = max(worst, ratio)
        print(f"{name:<14}{crafted_time * 1e3:>10.1f}ms{plain_time * 1e3:>10.1f}ms{ratio:>8.2f}")
    print(f"worst ratio {worst:.2f}")


if __name__ == "__main__":
    main()
