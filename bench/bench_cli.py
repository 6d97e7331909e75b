"""Time the `hexalume OLD NEW` command on two large JSON files against json.load of both files.

Run: python3 bench/bench_cli.py [--records N] [--repeat R] [--folder DIR]
     python3 bench/bench_cli.py --start-up [--repeat R]

The files hold N records (default 300,000: about 55 MB each); the new one has one record in a
thousand changed. The baseline is json.load of both files in this process, measured in the same
run; the command runs as a child process (`python3 -m hexalume_cli OLD NEW`, output to
/dev/null), so its time includes the interpreter's start-up, the reading, the comparison and the
writing of the tree. Times are the best of R repeats; the peak memory is the child's largest
resident set (ru_maxrss of wait4). Files are written once into --folder and reused.

--start-up times the command on two small files against `python3 -c pass`, the interpreter alone.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import random
import subprocess
import sys
import tempfile
import time


def write_pair(folder: str, records: int) -> tuple[str, str]:
    old = os.path.join(folder, f"old-{records}.json")
    new = os.path.join(folder, f"new-{records}.json")
    if os.path.exists(old) and os.path.exists(new):
        return old, new
    rng = random.Random(5)
    recs = [
        {
            "id": i,
            "name": f"user{i}",
            "email": f"u{i}@example.com",
            "score": round(rng.random() * 100, 3),
            "tags": rng.sample(["a", "b", "c", "d", "e"], 2),
            "address": {"city": f"c{rng.randrange(1000)}", "zip": f"{rng.randrange(99999):05d}"},
            "active": rng.random() < 0.5,
            "parent": None,
        }
        for i in range(records)
    ]
    with open(old, "w") as file:
        json.dump({"records": recs}, file)
    for i in rng.sample(range(records), records // 1000):
        recs[i]["score"] += 1
    with open(new, "w") as file:
        json.dump({"records": recs}, file)
    return old, new


def run_child(args: list[str]) -> tuple[float, float, float, int]:
    """Wall time and processor time (user and system) in seconds, peak resident set in MiB and
    exit status of one child."""
    with open(os.devnull, "wb") as sink:
        start = time.perf_counter()
        child = subprocess.Popen(args, stdout=sink)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    cpu = usage.ru_utime + usage.ru_stime
    return elapsed, cpu, usage.ru_maxrss / 1024.0, child.returncode


def load_both(old: str, new: str) -> tuple[float, float]:
    start, start_cpu = time.perf_counter(), time.process_time()
    with open(old, "rb") as file:
        first = json.load(file)
    with open(new, "rb") as file:
        second = json.load(file)
    elapsed, cpu = time.perf_counter() - start, time.process_time() - start_cpu
    del first, second
    gc.collect()
    return elapsed, cpu


def big_pair(options: argparse.Namespace) -> None:
    old, new = write_pair(options.folder, options.records)
    size = os.path.getsize(old) / 1e6
    command = [sys.executable, "-m", "hexalume_cli", old, new]
    # The children run first: a child's ru_maxrss counts the memory of the process it was forked
    # from, which json.load would have grown.
    commands, peaks = [], []
    for _ in range(options.repeat):
        elapsed, cpu, peak, status = run_child(command)
        if status != 1:
            sys.exit(f"the command ended with status {status}, not 1")
        commands.append((elapsed, cpu))
        peaks.append(peak)
    loads = [load_both(old, new) for _ in range(options.repeat)]
    load_wall, load_cpu = min(t[0] for t in loads), min(t[1] for t in loads)
    wall, cpu = min(t[0] for t in commands), min(t[1] for t in commands)
    print(
        f"two files of {options.records:,} records, {size:.1f} MB each (best of {options.repeat})"
    )
    print("                          wall time             processor time (user + system)")
    print(f"  json.load of both       {load_wall:7.3f} s             {load_cpu:7.3f} s")
    print(
        f"  hexalume OLD NEW        {wall:7.3f} s  ratio {wall / load_wall:.2f}  "
        f"{cpu:7.3f} s  ratio {cpu / load_cpu:.2f}"
    )
    print(f"  peak RSS of the command {max(peaks):7.0f} MiB")


def start_up(options: argparse.Namespace) -> None:
    with tempfile.TemporaryDirectory() as folder:
        old, new = os.path.join(folder, "a.json"), os.path.join(folder, "b.json")
        for path, text in ((old, '{"a": 1}'), (new, '{"a": 2}')):
            with open(path, "w") as file:
                file.write(text)
        bare = min(run_child([sys.executable, "-c", "pass"])[0] for _ in range(options.repeat))
        command = [sys.executable, "-m", "hexalume_cli", old, new]
        full = min(run_child(command)[0] for _ in range(options.repeat))
    print(f"python3 -c pass          {bare * 1000:7.1f} ms")
    print(
        f"hexalume a.json b.json   {full * 1000:7.1f} ms   (the command's own: "
        f"{(full - bare) * 1000:.1f} ms)"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--records", type=int, default=300_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--folder", default=tempfile.gettempdir())
    parser.add_argument("--start-up", action="store_true")
    options = parser.parse_args()
    if options.start_up:
        options.repeat = max(options.repeat, 20)
        start_up(options)
    else:
        big_pair(options)


if __name__ == "__main__":
    main()
