"""Resident memory that stays with the process after comparisons are gone.

Run: python3 bench/bench_memory_return.py [--records N] [--repeat R] [--threads T]

Builds N records (default 400,000) and a copy with every hundredth record changed, then
  repeated   compares them R times (default 10), deleting each comparison, and prints the resident
             set (VmRSS) after each `del` against the resident set before the first call;
  threads    starts T threads (default 8) that each make one comparison of the same inputs and
             wait, and prints the resident set while they wait and after they ended, against
             before they started.
The inputs stay alive throughout, so the rise is what the module kept. Its block pool holds at
most 32 MiB for the whole process; anything above that is memory not given back.
"""

from __future__ import annotations

import argparse
import gc
import threading

from peak_memory import status_kib

import hexalume


def records(count: int, changed: bool) -> list[dict]:
    return [
        {
            "id": i,
            "name": f"user {i}",
            "score": i * 0.5 + (1 if changed and i % 100 == 0 else 0),
            "tags": ["a", "b", str(i % 7)],
        }
        for i in range(count)
    ]


def rss_mib() -> float:
    gc.collect()
    return (status_kib("VmRSS") or 0) / 1024


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--records", type=int, default=400_000)
    parser.add_argument("--repeat", type=int, default=10)
    parser.add_argument("--threads", type=int, default=8)
    args = parser.parse_args()
    old, new = records(args.records, False), records(args.records, True)

    base = rss_mib()
    rises = []
    for _ in range(args.repeat):
        comparison = hexalume.Vesperon(old, new)
        del comparison
        rises.append(rss_mib() - base)
    print(f"{args.records:,} records, RSS after each del (MiB over the start, {base:.0f} MiB):")
    print("  " + " ".join(f"{rise:+.0f}" for rise in rises))

    before = rss_mib()
    done = threading.Semaphore(0)
    finish = threading.Event()

    def one_call() -> None:
        hexalume.Vesperon(old, new)
        done.release()
        finish.wait()

    threads = [threading.Thread(target=one_call) for _ in range(args.threads)]
    for thread in threads:
        thread.start()
    for _ in threads:
        done.acquire()
    idle = rss_mib() - before
    finish.set()
    for thread in threads:
        thread.join()
    print(f"{args.threads} threads, one call each: {idle:+.0f} MiB while they wait, ", end="")
    print(f"{rss_mib() - before:+.0f} MiB once they ended")


if __name__ == "__main__":
    main()
