"""Thousands of successful and failing calls leave the inputs' reference counts and the process's
memory where they were."""

from __future__ import annotations

import gc
import json
import os
import sys
import threading
import weakref

import pytest

from helpers import DATA, UNDER_ASAN, np, pydantic
from hexalume import Vesperon

ROUNDS = 2000


class Exporter:
    __module__ = "pandas.fake"

    def __init__(self, payload):
        self.payload = payload

    def to_dict(self, orient=None):
        return self.payload


class Odd:
    """A number through __index__, and a key whose text cannot be made."""

    def __index__(self):
        return 3

    def __str__(self):
        raise ValueError("no text")


def workload():
    """(inputs whose reference counts are watched, calls to repeat). Every call either succeeds
    or raises; both kinds are mixed on purpose."""
    old = {"a": [1, 2.5, "x", None, True], "b": {"c": (1, 2)}, "s": {1, 2, 3}, "big": 2**64}
    new = {"a": [1, 3.5, "y"], "b": {"c": (1, 2), "d": Odd()}, "s": frozenset({2}), "n": None}
    paths, groups = ["root['b']", "root['zz']"], [(int, float), [type(None), str]]
    exporter, bad_key = Exporter({"frame": [1, 2]}), {Odd(): 1}
    too_deep = [[]]
    for _ in range(sys.getrecursionlimit()):
        too_deep = [too_deep]
    watched = [old, new, old["a"], new["b"]["d"], paths, groups, exporter, exporter.payload]
    watched += [bad_key, too_deep]
    changing = {}

    def grows():
        changing.clear()
        changing[type("Grows", (), {"__str__": lambda self: changing.setdefault("x", "g")})()] = 1
        Vesperon(changing, 1)

    calls = [
        lambda: Vesperon(old, new).to_dict(),
        lambda: repr(Vesperon(old, new, ignore_order=True, verbose_level=0)),
        lambda: bool(Vesperon(old, exporter, exclude_paths=paths, ignore_type_in_groups=groups)),
        lambda: len(Vesperon(t1=old, t2=old, atol=0.5, include_paths=paths)),
        lambda: Vesperon(old, new).pretty(context=2),
        lambda: Vesperon(old, object()),
        lambda: Vesperon(old, new, foo=1),
        lambda: Vesperon(old, new, include_paths=paths + [1]),
        lambda: Vesperon(old, new, ignore_type_in_groups=[(set,)]),
        lambda: Vesperon(old, new, ignore_order=1),
        lambda: Vesperon(old, float("nan")),
        lambda: Vesperon(bad_key, new),
        lambda: Vesperon(old, too_deep),
        lambda: Vesperon(old, new, old),
        lambda: Vesperon(old).pretty(),
        lambda: Vesperon(old, new).pretty(max_depth=-1),
        lambda: Vesperon([10**30, -(2**70)], [-(2**70), 10**30 + 1], atol=0.5).to_dict(),
        lambda: Vesperon({"a']['b": 10**30, "a": {"b": 1}}, {"a']['b": 2, "a": {"b": 2}}),
        lambda: Vesperon(
            {"x']['y": 5, "x": {"y": 1}}, {"x']['y": 6, "x": {"y": 1}}, verbose_level=0
        ).pretty(path_header=True),
        lambda: Vesperon(old["a"], tuple(old["a"])),  # equal: read without conversion
        grows,
    ]
    if np is not None:
        array = np.arange(6).reshape(2, 3)
        watched.append(array)
        calls.append(lambda: Vesperon(array, [[0, 1, 2], [3, 4, 6]], ignore_order=np.True_))
    if pydantic is not None:

        class Model(pydantic.BaseModel):
            sizes: list[int]

        instance = Model(sizes=[1, 2])
        watched.append(instance)
        calls.append(lambda: Vesperon(instance, {"sizes": [1]}).to_dict())
    return watched, calls


def run(calls, rounds):
    for _ in range(rounds):
        for call in calls:
            try:
                call()
            except BaseException:  # noqa: BLE001 - failing calls are part of the workload
                pass


def test_reference_counts_are_unchanged():
    watched, calls = workload()
    run(calls, 10)  # first-use caches (type slots, interned names) settle here
    gc.collect()
    before = [sys.getrefcount(item) for item in watched]
    run(calls, ROUNDS // 4)
    gc.collect()
    assert [sys.getrefcount(item) for item in watched] == before


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
@pytest.mark.skipif(
    UNDER_ASAN,
    reason="AddressSanitizer holds freed memory in quarantine, so the "
    "resident size does not show leaks; the run without it checks this",
)
def test_memory_stays_flat():
    old = json.loads((DATA / "yargs-16.2.0.json").read_text(encoding="utf-8"))
    new = json.loads((DATA / "yargs-17.7.2.json").read_text(encoding="utf-8"))
    calls = [
        lambda: Vesperon(old, new).to_dict(),
        lambda: repr(Vesperon(new, old, ignore_order=True)),
        lambda: Vesperon(old, new).pretty(path_header=True),
        lambda: Vesperon(old, [new, object()]),  # fails after converting a whole document
        lambda: Vesperon(old, new, include_paths=[1]),  # fails after converting both
    ]
    run(calls, 100)
    gc.collect()
    before = resident_kib()
    run(calls, ROUNDS // 2)
    gc.collect()
    # Each round allocates several hundred KiB of trees and reports; a leak of any of them would
    # add hundreds of MiB.
    assert resident_kib() - before < 16 * 1024


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
@pytest.mark.skipif(UNDER_ASAN, reason="quarantined memory hides leaks, as above")
def test_threads_that_end_give_their_memory_back():
    old = {"a": [1, 2, {"b": "x" * 3000}], "c": list(range(300))}
    new = {"a": [1, 3, {"b": "y" * 3000}], "c": list(range(301))}

    def threads(count):
        for _ in range(count):
            thread = threading.Thread(target=lambda: [Vesperon(old, new).pretty() for _ in "abc"])
            thread.start()
            thread.join()

    threads(50)
    before = resident_kib()
    threads(400)
    # Each thread keeps the memory of the trees it released for its next ones, up to about
    # 100 KiB here; kept past its end, 400 threads would add some 10 MiB.
    assert resident_kib() - before < 4 * 1024


def test_a_comparison_held_by_its_own_input_is_collected():
    class Sentinel:
        pass

    old, new = {"a": [1, 2]}, {"a": [1, 3], "keep": []}
    comparison = Vesperon(old, new)
    sentinel = Sentinel()
    new["keep"] += [comparison, sentinel]
    watch = weakref.ref(sentinel)
    del old, new, comparison, sentinel
    gc.collect()
    assert watch() is None
