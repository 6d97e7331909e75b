"""Long calls answer Ctrl-C, and deep data ends in RecursionError on any thread's stack,
never in a crash. Everything runs in subprocesses: a signal or a stack overflow must not take the
test runner down."""

from __future__ import annotations

import gc
import json
import sys
import textwrap

import pytest

import hexalume
from helpers import run_python

# The workload defines `inputs` and `call()`, a call of a second or more. A timer interrupts it
# early; the call must raise the handler's exception, leave no extra references on its inputs
# and leave the module usable. The C++ guard tests check that each phase (matching without order
# among them) stops when asked; these check each loop of the Python layer, one comparison end to
# end, and the way back to Python.
SIGNAL_CHILD = """
import signal, sys
from hexalume import Vesperon
class Stop(Exception):
    pass
def handler(number, frame):
    # Run inside the call (by its own look for signals), not after it returned.
    print("in", frame.f_code.co_name)
    raise {exception}
signal.signal(signal.SIGALRM, handler)
{workload}
references = [sys.getrefcount(value) for value in inputs]
signal.setitimer(signal.ITIMER_REAL, 0.02)
try:
    call()
    print("finished")
except {exception_type}:
    print("interrupted")
print([sys.getrefcount(value) for value in inputs] == references)
print(Vesperon([1, 2], [2, 1], ignore_order=True).to_dict())
"""

WORKLOADS = {
    # 4 million nodes per side after expansion; the two differ in one leaf.
    "conversion of a shared structure": """
        x, y = [1], [2]
        for _ in range(21):
            x, y = [x, x], [y, x]
        inputs = (x, y)
        def call():
            return Vesperon(x, y)
    """,
    # An int's decimal digits cost more than linear time in its length.
    "decimal text of a huge int": """
        x = 2**1_500_000
        comparison = Vesperon([x], [x + 1])
        inputs = (x, comparison)
        def call():
            return repr(comparison)
    """,
    "to_dict of a large report": """
        removed = [[i, str(i), {"k": [i]}] for i in range(300_000)]
        comparison = Vesperon([removed], [])
        inputs = (removed, comparison)
        def call():
            return comparison.to_dict()
    """,
    "the command's JSON reader": """
        import json, _hexalume_json
        data = json.dumps([[i, str(i), {"k": i / 3}] for i in range(600_000)]).encode()
        inputs = (data,)
        def call():
            return _hexalume_json.read(data, 500)
    """,
    # 200 MB of text in one value: written a slice at a time (the repr through the interpreter's
    # own repr of each slice, as the text needs it).
    "pretty of a 200 MB string": """
        comparison = Vesperon({"k": "x" * 200_000_000}, {"k": "y"})
        inputs = (comparison,)
        def call():
            return comparison.pretty()
    """,
    "repr of a 200 MB string": """
        comparison = Vesperon({"k": "\u00e9" * 100_000_000}, {"k": "y"})
        inputs = (comparison,)
        def call():
            return repr(comparison)
    """,
}


# A handler that raises its own exception stops the call with that exception.
@pytest.mark.parametrize(
    ("workload", "exception"),
    [(name, "KeyboardInterrupt") for name in WORKLOADS]
    + [("conversion of a shared structure", "Stop")],
)
def test_a_signal_stops_a_long_call(workload, exception):
    code = SIGNAL_CHILD.format(
        workload=textwrap.dedent(WORKLOADS[workload]),
        exception=exception if exception == "Stop" else "KeyboardInterrupt()",
        exception_type=exception,
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout.splitlines() == ["in call", "interrupted", "True", "{}"]


@pytest.mark.parametrize("enabled", [True, False])
def test_to_dict_leaves_the_collector_as_it_was(enabled):
    # to_dict() pauses the collector while it builds the report and must restore its state.
    comparison = hexalume.Vesperon([{"a": [1.5, None]}], [])
    was_enabled = gc.isenabled()
    (gc.enable if enabled else gc.disable)()
    try:
        assert comparison.to_dict() == {"iterable_item_removed": {"root[0]": {"a": [1.5, None]}}}
        assert gc.isenabled() is enabled
    finally:
        (gc.enable if was_enabled else gc.disable)()


# Every entry point, on chains of `depth` levels of [{"k": ...}] (twice as many nesting levels),
# run on a thread whose stack is `stack_kib` KiB, or on the main thread when it is 0. The
# interpreter's recursion limit is raised far above the depths, so only the stack guard and the
# module's own 10,000-level cap can stop a recursion.
STACK_CHILD = """
import json, sys, threading
from hexalume import Vesperon
sys.setrecursionlimit(100_000)
stack_kib, depths = int(sys.argv[1]), json.loads(sys.argv[2])

def chain(depth, leaf):
    value = leaf
    for _ in range(depth):
        value = [{"k": value}]
    return value

def outcome(call):
    result = []
    def body():
        try:
            call()
            result.append("ok")
        except RecursionError as error:
            result.append(str(error))
    if stack_kib == 0:
        body()
    else:
        threading.stack_size(stack_kib * 1024)
        thread = threading.Thread(target=body)
        thread.start()
        thread.join()
    return result[0]

outcomes = {}
for depth in depths:
    # Built and freed on the main thread: freeing such a chain on a small thread's stack crashes
    # some interpreters (3.13.0) by themselves.
    old, new, twin = chain(depth, 1), chain(depth, 2), chain(depth, 1)
    try:
        changed = Vesperon(old, new)
        removed = Vesperon([old], [])
    except RecursionError:
        # Deeper than this interpreter accepts on any thread (from 3.12 on a C limit that
        # sys.setrecursionlimit does not raise): nothing below can be built.
        outcomes[depth] = None
        continue
    outcomes[depth] = {
        "construction": outcome(lambda: Vesperon(old, new)),
        # Equal inputs are first walked without conversion; that walk checks the stack too.
        "equal inputs": outcome(lambda: Vesperon(old, twin)),
        "ignore_order": outcome(lambda: Vesperon([old, 1], [1, new], ignore_order=True)),
        "to_dict": outcome(lambda: removed.to_dict()),
        "repr": outcome(lambda: repr(removed)),
        "pretty of a deep change": outcome(lambda: changed.pretty(max_depth=10**6)),
        "pretty of a deep value": outcome(lambda: removed.pretty(max_depth=10**6, compact=True)),
    }
print(json.dumps(outcomes))
"""

EXCEEDED = "maximum recursion depth exceeded"
# What may stop each entry point: conversion comes first, so the comparison's own guard shows
# only where its frames run out before those of conversion.
STOPPED_BY = {
    "construction": {" while converting a Python object", " in comparison"},
    "equal inputs": {" while converting a Python object"},
    "ignore_order": {" while converting a Python object", " in comparison"},
    "to_dict": {" while converting to a Python object"},
    "repr": {" while getting the repr of an object"},
    "pretty of a deep change": {" while rendering a report"},
    "pretty of a deep value": {" while rendering a report"},
}
DEPTHS = [20, 100, 245, 500, 1000, 2000, 4990]


def test_deep_data_on_a_small_thread_stack_raises_recursion_error():
    result = run_python(STACK_CHILD, 256, DEPTHS)
    assert result.returncode == 0, result.stderr[-2000:]
    outcomes = json.loads(result.stdout)
    for depth, by_entry in outcomes.items():
        for entry, outcome in (by_entry or {}).items():
            allowed = {"ok"} | {EXCEEDED + where for where in STOPPED_BY[entry]}
            assert outcome in allowed, (depth, entry, outcome)
    assert set(outcomes["20"].values()) == {"ok"}
    # 9,980 levels need megabytes of stack in every recursion.
    deepest = outcomes["4990"]
    assert deepest is None or all(outcome != "ok" for outcome in deepest.values()), deepest


def test_deep_data_on_the_main_thread_still_compares():
    # The guard keeps only a margin of the main thread's stack; the 10,000-level cap is the
    # limit there, as before.
    result = run_python(STACK_CHILD, 0, [4990])
    assert result.returncode == 0, result.stderr[-2000:]
    outcomes = json.loads(result.stdout)["4990"]
    if outcomes is None:
        pytest.skip("this interpreter's own nesting limit is below 9,980 levels")
    assert set(outcomes.values()) == {"ok"}


@pytest.mark.skipif(
    sys.version_info >= (3, 12),
    reason="from 3.12 on the interpreter's C limit, not sys.setrecursionlimit, "
    "bounds the nesting of its own repr and of ours",
)
def test_repr_of_a_report_deeper_than_the_recursion_limit():
    deep = []
    for _ in range(2000):
        deep = [deep]
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(5000)
    try:
        comparison = hexalume.Vesperon([deep], [])
        sys.setrecursionlimit(1000)
        with pytest.raises(RecursionError) as error:
            repr(comparison)
    finally:
        sys.setrecursionlimit(limit)
    assert (
        str(error.value) == "maximum recursion depth exceeded while getting the repr of an object"
    )


# A handler that runs during a call (the call's own checks run it) and empties every container of
# both inputs. Equal inputs are read without conversion; that walk must survive its inputs
# changing under it. Both sides are emptied alike, so the report is empty whenever the handler
# runs. The timer fires at fractions of one uninterrupted call, so most rounds hit the call.
MUTATING_HANDLER_CHILD = """
import json, signal, sys, time
from hexalume import Vesperon
shape = json.loads(sys.argv[1])

def build():
    if shape == "lists":
        return [[str(i) * 3, [i, i / 2]] for i in range(100_000)]
    if shape == "tuples":
        return [tuple([str(i), [i]]) for i in range(100_000)]
    return {f"k{j}": {str(i): [i, str(i)] for i in range(20)} for j in range(20_000)}

def empty(container):
    items = list(container.values()) if isinstance(container, dict) else list(container)
    for item in items:
        if isinstance(item, (list, dict)):
            empty(item)
        elif isinstance(item, tuple):
            for inner in item:
                if isinstance(inner, list):
                    inner.clear()
    container.clear()

inputs = []
runs = []
def handler(number, frame):
    runs.append(1)
    for container in inputs:
        empty(container)
signal.signal(signal.SIGALRM, handler)

old, new = build(), build()
start = time.monotonic()
Vesperon(old, new)
uninterrupted = time.monotonic() - start
reports = set()
for round in range(12):
    old = build()
    new = old if shape == "identical" else build()
    inputs[:] = [old, new]
    signal.setitimer(signal.ITIMER_REAL, uninterrupted * (round + 1) / 15)
    reports.add(repr(Vesperon(old, new).to_dict()))
    signal.setitimer(signal.ITIMER_REAL, 0)
print(len(runs) > 0, sorted(reports))
"""


@pytest.mark.parametrize("shape", ["lists", "tuples", "dicts", "identical"])
def test_a_signal_handler_emptying_equal_inputs_during_the_call(shape):
    result = run_python(MUTATING_HANDLER_CHILD, shape)
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout.split("\n")[0] == "True ['{}']"


# A handler renames every key of both inputs while their dicts, each with one changed member,
# are paired and built: keys read before it ran are gone. Each record must be reported once,
# under its name from before or after the handler, never a name made of freed memory.
RENAMING_HANDLER_CHILD = """
import signal, time
from hexalume import Vesperon
N = 50_000
def build(value):
    return [{f"a{i}": value, f"b{i}": [i]} for i in range(N)]
inputs = []
def handler(number, frame):
    for records in inputs:
        for record in records:
            items = list(record.items())
            record.clear()
            record.update(("x" + key, item) for key, item in items)
signal.signal(signal.SIGALRM, handler)
start = time.monotonic()
Vesperon(build(1), build(2))
full = time.monotonic() - start
for run in range(20):
    inputs[:] = [build(1), build(2)]
    signal.setitimer(signal.ITIMER_REAL, full * (run % 10 + 1) / 12)
    changed = Vesperon(*inputs).to_dict()["values_changed"]
    signal.setitimer(signal.ITIMER_REAL, 0)
    names = [{f"root[{i}]['a{i}']", f"root[{i}]['xa{i}']"} for i in range(N)]
    assert len(changed) == N and all(changed.keys() & name for name in names)
    assert all(entry == {"new_value": 2, "old_value": 1} for entry in changed.values())
print("ok")
"""


def test_a_signal_handler_renaming_keys_while_dicts_are_built():
    result = run_python(RENAMING_HANDLER_CHILD)
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout.strip() == "ok"


# A handler shortens t1 while its 200,000 items, laid out in falling memory order, are read (in
# the order of their addresses, or in order again after the handler ran). Every run must give
# what reading in order gives: t1 as one of its own prefixes, at least the 10 items left.
SHRINKING_LIST_CHILD = """
import signal, time
from hexalume import Vesperon
N = 200_000
original = [None] * N
for i in reversed(range(N)):
    original[i] = 10**9 + i
new = original + [0]
t1 = list(original)
def handler(number, frame):
    del t1[10:]
signal.signal(signal.SIGALRM, handler)
start = time.monotonic()
Vesperon(t1, new)
full = time.monotonic() - start
lengths = []
for run in range(40):
    t1 = list(original)
    signal.setitimer(signal.ITIMER_REAL, full * (run % 20 + 1) / 60)
    added = Vesperon(t1, new).to_dict()["iterable_item_added"]
    signal.setitimer(signal.ITIMER_REAL, 0)
    length = N + 1 - len(added)
    assert length >= 10 and added == {f"root[{i}]": new[i] for i in range(length, N + 1)}
    lengths.append(length)
print(sum(length < N for length in lengths))
"""


def test_a_signal_handler_shortening_a_scattered_list_while_it_is_read():
    result = run_python(SHRINKING_LIST_CHILD)
    assert result.returncode == 0, result.stderr[-2000:]
    assert int(result.stdout) > 0  # some handler ran while t1 was read
