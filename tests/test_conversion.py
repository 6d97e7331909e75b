"""How inputs become value trees: built-in scalars and containers, number protocols, dictionary
keys, sets, numpy / pandas / pydantic objects and other exporting objects, guards against
containers changed mid-conversion, and nesting limits."""

from __future__ import annotations

import decimal
import sys

import pytest

from helpers import (
    Err,
    converted,
    internal_error_of,
    needs_numpy,
    needs_pandas,
    needs_pydantic,
    nested,
    np,
    outcome,
    pd,
    pydantic,
    sorted_keys,
    typed,
    with_methods,
)
from hexalume import Vesperon

UNSUPPORTED = Err(TypeError, "Unsupported Python type for Vesperon")
BAD_KEY = Err(TypeError, "Unsupported dict key type for Vesperon")
NOT_FINITE = Err(ValueError, "Float value is not finite")


def fail(self):
    raise ValueError("refused")


class Text(str):
    pass


class Items(list):
    pass


class Mapping(dict):
    pass


# Plain JSON-like values (and the byte order of keys) are drawn by tests/test_properties.py;
# integers of any size are in tests/test_exactness.py. These are the edges.
@pytest.mark.parametrize(
    "value, expected",
    [
        (float("inf"), NOT_FINITE),
        # __index__ decides at any size; __float__ is not asked
        (with_methods(__index__=lambda self: 2**70, __float__=lambda self: 1.5), 2**70),
        (with_methods(__float__=lambda self: float("inf")), NOT_FINITE),  # nothing else is tried
        (with_methods(__index__=fail, __float__=fail), UNSUPPORTED),
        (decimal.Decimal("1.25"), 1.25),
        (Text("abc"), "abc"),
        ("\ud800", UNSUPPORTED),
        ((), []),
        (Items([1, (2, 3)]), [1, [2, 3]]),
        ({2, "a", None, False}, [False, None, 2, "a"]),
        # canonical texts num:-1000... < num:10 < num:1e+16 < num:9
        (frozenset({10, 9, 1e16, -(10**30)}), [-(10**30), 10, 1e16, 9]),
        ({(1,), (1, 2)}, [[1, 2], [1]]),  # "list:[num:1," sorts before "list:[num:1]"
        ({1: "a", "1": "b"}, {"1": "b"}),
        ({"1": "b", 1: "a"}, {"1": "a"}),  # the entry visited later wins
        ({(1, 2): 0, None: 1, 1.5: 2, True: 3}, {"(1, 2)": 0, "1.5": 2, "None": 1, "True": 3}),
        ({Text("k"): 1}, {"k": 1}),
        (Mapping(b=1, a=2), {"a": 2, "b": 1}),
        ({with_methods(__str__=fail): 1}, BAD_KEY),
        ({with_methods(__str__=lambda self: "\ud800"): 1}, BAD_KEY),
        ({"\ud800": 1}, BAD_KEY),
        (b"bytes", UNSUPPORTED),
    ],
)
def test_builtin_rules(value, expected):
    outcome(lambda: converted(value), expected)


def test_set_members_with_equal_canonical_text_keep_iteration_order():
    members = {("a,str:b",), ("a", "b")}  # both read list:[str:a,str:b]
    assert converted(members) == [list(member) for member in members]


# Objects that export plain data, as pydantic models (model_dump, or dict() in the older API),
# pandas and numpy objects do; real pandas and numpy objects follow below.
# `calls` records, as text, what the converter asked for.
calls: list = []


class Logged:
    """A method (or, called directly, a property getter) that logs its call, then returns `result`
    or raises `error` (an exception class is raised with the message "stop"); without `keywords`
    it takes no arguments, as older export methods do."""

    name = "get"

    def __init__(self, result=None, error=None, keywords=True):
        self.result, self.error, self.keywords = result, error, keywords

    def __set_name__(self, owner, name):
        self.name = name

    def __get__(self, instance, owner=None):
        return self.call if self.keywords else lambda: self.call()

    def __call__(self, instance):
        return self.call()

    def call(self, *args, **kwargs):
        calls.append(f"{self.name}({', '.join(f'{k}={v!r}' for k, v in kwargs.items())})")
        if self.error is not None:
            raise self.error("stop") if isinstance(self.error, type) else self.error
        return self.result


def exporter(module, name="Exporter", **methods):
    """An instance of a class whose type claims `module` and which has the given methods."""
    return type(name, (), {"__module__": module, **methods})()


def missing(self):
    raise AttributeError("not here")


def seven(self):
    return 7


FRAME, SERIES = "pandas.core.frame", "pandas.core.series"
LISTS, JSON = "to_dict(orient='list')", "model_dump(mode='json')"


# fmt: off
LIBRARY_RULES = [
    (exporter("pandas", to_dict=Logged({"a": 1}, keywords=False)), {"a": 1}, ["to_dict()"]),
    (exporter(FRAME, to_dict=Logged(error=KeyError)), Err(KeyError, "'stop'"), [LISTS, "to_dict()"]),
    (exporter(FRAME, to_numpy=Logged(error=ValueError)), Err(ValueError, "stop"), ["to_numpy()"]),
    (exporter(FRAME, model_dump=Logged({"m": 1})), {"m": 1}, [JSON]),
    (exporter("mypandas", to_dict=Logged({"a": 1})), UNSUPPORTED, []),
    (exporter("app", model_dump=Logged([1]), dict=Logged([2])), [1], [JSON]),
    (exporter("app", model_dump=Logged([3], keywords=False)), [3], ["model_dump()"]),
    (exporter("app", model_dump=Logged(error=RuntimeError)), Err(RuntimeError, "stop"), [JSON, "model_dump()"]),
    (exporter("app", dict=5), Err(TypeError, "'int' object is not callable"), []),
    (exporter("app", dict=Logged(object())), UNSUPPORTED, ["dict()"]),
    (exporter("numpyro", tolist=Logged(5)), 5, ["tolist()"]),
    (exporter("numpy", tolist=Logged(error=ValueError)), UNSUPPORTED, ["tolist()"]),
    (exporter(FRAME), UNSUPPORTED, []),
    (exporter(5), Err(TypeError, "'int' object cannot be converted to 'PyString'"), []),
    (exporter("app", model_dump=property(fail)), Err(ValueError, "refused"), []),
    (exporter("app", model_dump=property(missing), dict=Logged([2])), [2], ["dict()"]),
    # Frames answer the number protocol for their single element, and stay frames.
    (exporter(SERIES, ndim=1, __index__=seven, to_dict=Logged({"a": 1})), {"a": 1}, [LISTS]),
    (exporter(SERIES, ndim=0, __index__=seven), 7, []),
    (exporter("pandas.fake", to_numpy=lambda self: self), Err(RecursionError), []),
]
# fmt: on


@pytest.mark.parametrize("value, expected, expected_calls", LIBRARY_RULES)
def test_library_rules(value, expected, expected_calls):
    calls.clear()
    outcome(lambda: converted(value), expected)
    assert calls == expected_calls


REAL_OBJECTS = [
    pytest.param(make, expected, marks=needs_numpy)
    for make, expected in [
        (lambda: np.int8(-3), -3),
        (lambda: np.True_, True),
        (lambda: np.array([5]), [5]),  # one element: still an array, not the number 5
        # Zero dimensions: the Python scalar that tolist() returns.
        (lambda: np.array(5), 5),
        (lambda: np.array(np.inf), NOT_FINITE),
        # No plain value stands for these exactly: the imaginary part, the unit and the epoch would
        # be lost.
        (lambda: np.complex128(1 + 2j), UNSUPPORTED),  # also a subclass of Python's complex
        (lambda: np.datetime64("2024-01-01"), UNSUPPORTED),
    ]
]
REAL_OBJECTS += [
    pytest.param(make, expected, marks=needs_pandas)
    for make, expected in [
        (lambda: pd.DataFrame({"a": [1, 2], "b": ["x", "y"]}), {"a": [1, 2], "b": ["x", "y"]}),
        (lambda: pd.Series([1, 2], index=["x", "y"]), {"x": 1, "y": 2}),  # to_dict has no orient
        (lambda: pd.Index([1, 2]), [1, 2]),  # no to_dict: to_numpy, then the array's tolist
        (lambda: pd.Series([1.5, None]), NOT_FINITE),
        (lambda: pd.Timestamp("2024-01-01"), UNSUPPORTED),
    ]
]


REAL_OBJECTS += [
    pytest.param(
        lambda: type("Item", (pydantic.BaseModel,), {"__annotations__": {"n": int, "tags": list}})(
            n=1, tags={2}
        ),
        {"n": 1, "tags": [2]},
        marks=needs_pydantic,
    )
]


@pytest.mark.parametrize("make, expected", REAL_OBJECTS)
def test_numpy_pandas_and_pydantic_objects(make, expected):
    outcome(lambda: converted(make()), expected)


# fmt: off
INTERRUPT_SITES = [
    (lambda kind: with_methods(__index__=Logged(error=kind), __float__=Logged(1.0)), "__index__()"),
    (lambda kind: with_methods(__float__=Logged(error=kind)), "__float__()"),
    (lambda kind: exporter("numpy", "bool_", __bool__=Logged(error=kind), __float__=Logged(1.0)), "__bool__()"),
    (lambda kind: {with_methods(__str__=Logged(error=kind)): 1}, "__str__()"),
    (lambda kind: exporter("app", model_dump=Logged(error=kind)), JSON),
    (lambda kind: exporter(FRAME, to_dict=Logged(error=kind), to_numpy=Logged([1])), LISTS),
    (lambda kind: exporter("pandas", to_dict=property(Logged(error=kind)), to_numpy=Logged([1])), "get()"),
    (lambda kind: exporter("pandas", ndim=property(Logged(error=kind)), __index__=seven), "get()"),
    (lambda kind: exporter("numpy.fake", tolist=Logged(error=kind)), "tolist()"),
]
# fmt: on


# Only ordinary errors are discarded while a rule is tried: an interrupt, an exit, a MemoryError
# or a RecursionError propagates unchanged from wherever it is raised, and nothing is called
# after it.
@pytest.mark.parametrize(
    "kind", [KeyboardInterrupt, SystemExit, GeneratorExit, MemoryError, RecursionError]
)
@pytest.mark.parametrize("make, expected_call", INTERRUPT_SITES)
def test_interrupts_and_exits_propagate(make, kind, expected_call):
    calls.clear()
    value = make(kind)
    Err(kind, "stop").check(lambda: Vesperon(value, 1))
    assert calls == [expected_call]


@pytest.mark.parametrize(
    "kind, expected",
    [
        (KeyboardInterrupt, Err(KeyboardInterrupt, "stop")),
        (MemoryError, Err(MemoryError, "stop")),
        (ValueError, Err(TypeError, "Unsupported type in ignore_type_in_groups")),
    ],
)
def test_type_groups_discard_only_ordinary_errors(kind, expected):
    # Not a type: its __module__ is read to see whether it is numpy's array function.
    member = exporter(property(Logged(error=kind)), "Member")
    outcome(lambda: Vesperon(1, 1, ignore_type_in_groups=[[member]]), expected)


class Hook:
    """Runs `action(self)` when conversion asks for its text (as a key) or number (as a value)."""

    def __init__(self, action):
        self.action = action

    def __str__(self):
        self.action(self)
        return "hook"

    def __index__(self):
        self.action(self)
        return 1


def growing_dict():
    data = {}
    data[Hook(lambda hook: data.__setitem__("new", 1))] = 1
    data["other"] = 2
    return data


def dict_with_replaced_key():
    data = {}

    def swap(hook):
        del data[hook]  # same size, but one more entry to visit
        data["late"] = 3

    data[Hook(swap)] = 1
    data["b"] = 2
    return data


def dict_changed_from(place, change):
    """{"a": 1, "b": place(run), "c": 3}, where reading what `place` made runs change(the dict)."""

    def make():
        data = {"a": 1}
        data["b"] = place(lambda *args, **kwargs: change(data))
        data["c"] = 3
        return data

    return make


def growing_set():
    members = set()
    members.update({Hook(lambda hook: members.add(99)), 5})
    return members


SHRUNK, GROWN = (lambda data: data.pop("a")), (lambda data: data.setdefault("z", 0))
CHANGED_SIZE = "dictionary changed size during iteration"


@pytest.mark.parametrize(
    "make, message",
    [
        (growing_dict, CHANGED_SIZE),
        (dict_with_replaced_key, "dictionary keys changed during iteration"),
        (dict_changed_from(Hook, SHRUNK), CHANGED_SIZE),
        # The Python code runs while a dict two levels down is read; the outer dict notices.
        (dict_changed_from(lambda run: [{Hook(run): 1}], SHRUNK), CHANGED_SIZE),
        (dict_changed_from(lambda run: exporter("models", model_dump=run), SHRUNK), CHANGED_SIZE),
        (dict_changed_from(lambda run: [1, Hook(run)], GROWN), CHANGED_SIZE),
        (growing_set, "Set changed size during iteration"),
    ],
)
def test_dict_or_set_changed_during_conversion(make, message):
    first, second = (internal_error_of(lambda: Vesperon(make(), {})) for _ in range(2))
    assert first.args == second.args == (message,)
    # One class, made once, outside the Exception hierarchy (internal_error_of checks its name).
    assert type(first) is type(second) and type(first).__bases__ == (BaseException,)


def test_list_changed_during_conversion_visits_only_original_positions():
    growing = [1, 2, 3]
    growing[1] = Hook(lambda hook: growing.extend([8, 9]))
    assert converted(growing) == [1, 1, 3]
    shrinking = [1, 2, 3, 4]
    shrinking[1] = Hook(lambda hook: shrinking.clear())
    assert converted(shrinking) == [1, 1]


def test_nesting_beyond_the_recursion_limit():
    if sys.version_info < (3, 12):
        # Up to 3.11 the interpreter's recursion limit bounds the nesting conversion accepts; from
        # 3.12 on its own C limit does, whatever sys.setrecursionlimit says.
        deep_dict = {}
        for _ in range(sys.getrecursionlimit() + 10):
            deep_dict = {"k": deep_dict}
        with pytest.raises(RecursionError):
            Vesperon({}, deep_dict)
    # Raising the limit does not let conversion run the native stack out.
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(100_000)
    try:
        error = Err(
            RecursionError, "maximum recursion depth exceeded while converting a Python object"
        )
        error.check(lambda: Vesperon(nested(20_000, []), []))
        exports_itself = exporter("numpy.fake", tolist=lambda self: self)
        if sys.version_info < (3, 12):
            error.check(lambda: Vesperon(1, exports_itself))
        else:
            # The interpreter's C limit may stop one of the export calls first, with its own
            # message; the RecursionError passes through, never discarded as an ordinary error.
            with pytest.raises(RecursionError):
                Vesperon(1, exports_itself)
        comparison = Vesperon(nested(1_200, []), nested(1_199, []) + [1])
        assert len(comparison.to_dict()["iterable_item_added"]) == 1
    finally:
        sys.setrecursionlimit(limit)


def fresh(text):
    """An equal str that is a distinct object."""
    return "".join(list(text)) if len(text) > 1 else str(text + "x")[:-1]


def reshaped_documents():
    """Dicts that repeat key objects in one order, interleaved with nested dicts of other shapes,
    shapes that diverge part-way, and keys that are not plain str at a repeated position. (Small
    shapes repeated in any order: the plain model of tests/test_properties.py.)"""
    keys = [f"k{i:02d}" for i in range(70)]
    name, zeta, alpha, one = "name", "zeta", "alpha", "1"

    class Text(str):
        pass

    thirds = [alpha, alpha, one, None, alpha, Text(alpha), 1, alpha]  # None: name and alpha swap
    orders = [(zeta, name, third) if third is not None else (zeta, alpha, name) for third in thirds]
    yield "diverging", [dict(zip(order, (1, 2, 3), strict=True)) for order in orders]
    yield (
        "wide",
        [{key: i for key in keys[:size]} for size in (64, 65, 64, 65, 2, 2) for i in (0, 1)],
    )
    # Shapes that share their first key and size, in turn, more of them than one first key keeps,
    # each holding dicts of the same first key and size that diverge at every position.
    first, others = keys[0], keys[1:9]
    variants = [[first, others[i], others[(i + 3) % 8]] for i in range(8)]

    def variant(i, depth):
        chosen = variants[(i * 5 + depth) % len(variants)]
        return {
            key: variant(i + 1, depth + 1) if depth < 2 and position == 1 else i
            for position, key in enumerate(chosen)
        }

    yield "shared first key", [variant(i % 11, 0) for i in range(300)]


def test_repeated_shape_with_keys_that_share_a_text():
    # Both dicts have keys that convert to "1"; the later entry wins, in every repetition.
    assert Vesperon([{"1": "b"}] * 6, [{1: "a", "1": "b"}] * 6).to_dict() == {}
    assert Vesperon([{"1": "b"}] * 6, [{"1": "b", 1: "a"}] * 6).to_dict() == {
        "values_changed": {
            f"root[{i}]['1']": {"new_value": "a", "old_value": "b"} for i in range(6)
        }
    }


@pytest.mark.parametrize(
    "document",
    [doc for _, doc in reshaped_documents()],
    ids=[label for label, _ in reshaped_documents()],
)
def test_dicts_of_repeated_shape_convert_like_fresh_ones(document):
    def rebuilt(value):
        if isinstance(value, dict):
            return {
                fresh(key) if type(key) is str else key: rebuilt(item)
                for key, item in value.items()
            }
        if isinstance(value, list):
            return [rebuilt(item) for item in value]
        return value

    assert typed(converted(document)) == typed(converted(rebuilt(document)))
    assert Vesperon(document, rebuilt(document)).to_dict() == {}
    if not any(isinstance(key, int) for item in document for key in item):
        assert typed(converted(document)) == typed(sorted_keys(document))


# Long lists whose items lie out of address order are read in address order, as long as nothing
# in them runs Python code or fails. The lists below run from the highest address to the lowest,
# so such a read meets the items in the reverse of their listed order.
SCATTERED = 5000


def scattered(late, early):
    """SCATTERED records from the highest address to the lowest, two of which hold `early()`
    (listed first of the two) and `late()` (listed later, so read first by address)."""
    holders = [{}, {}]
    records = [{"id": i, "name": f"n{i}", "tags": [i, str(i)]} for i in range(SCATTERED - 2)]
    listed = sorted(records + holders, key=id, reverse=True)
    first, second = sorted(
        holders, key=lambda holder: [id(item) for item in listed].index(id(holder))
    )
    first["v"] = early()
    second["v"] = late()
    return listed


@pytest.mark.parametrize(
    "late, early, expected",
    [
        pytest.param(object, lambda: {"x": float("nan")}, NOT_FINITE, id="nan listed first"),
        pytest.param(lambda: {"x": float("inf")}, lambda: [object()], UNSUPPORTED, id="unsupported listed first"),
        pytest.param(lambda: {"k": object()}, lambda: {"\ud800": 1}, BAD_KEY, id="bad key listed first"),
        pytest.param(lambda: [float("nan")], lambda: "ok", NOT_FINITE, id="one error, listed last"),
        pytest.param(lambda: nested(100_000, []), lambda: float("nan"), NOT_FINITE, id="nan before deep nesting"),
        pytest.param(lambda: nested(100_000, []), lambda: "fine", Err(RecursionError), id="deep nesting alone"),
    ],
)  # fmt: skip
def test_scattered_lists_fail_where_a_list_read_in_order_fails(late, early, expected):
    outcome(lambda: Vesperon([], scattered(late, early)), expected)
    outcome(lambda: Vesperon(scattered(late, early), []), expected)


def test_scattered_lists_call_export_methods_in_list_order():
    calls = []

    class Model:
        def __init__(self, name):
            self.name = name

        def dict(self):
            calls.append(self.name)
            return {"model": self.name}

    records = scattered(lambda: Model("late"), lambda: Model("early"))
    comparison = Vesperon([], records)
    assert calls == ["early", "late"]
    added = comparison.to_dict()["iterable_item_added"]
    assert [item["v"] for item in added.values() if "v" in item] == [
        {"model": "early"},
        {"model": "late"},
    ]


def test_scattered_lists_convert_like_lists_made_in_their_own_order():
    records = scattered(lambda: {"a": 2**70}, lambda: ("t", -0.0, {"s": {1, 2}}))
    in_order = [
        {key: list(value) if type(value) is list else value for key, value in record.items()}
        for record in records
    ]
    assert Vesperon(records, in_order).to_dict() == {}
    old = [
        dict(record, id=-1) if position % 1000 == 0 else record
        for position, record in enumerate(in_order)
    ]
    for options in ({}, {"ignore_order": True}):
        assert (
            Vesperon(old, records, **options).to_dict()
            == Vesperon(old, in_order, **options).to_dict()
        )
    assert len(Vesperon(old, records).to_dict()["values_changed"]) == SCATTERED // 1000


def test_an_abandoned_scattered_read_leaves_no_stale_keys_behind():
    """A scattered list is read by address until an item would run Python code, then read again
    in order. Here the first read converts two dicts of one shape with a key the old tree lacks
    (so their shape is remembered with that key's text), the export method met next turns them
    into copies of the old items, and the list, then its parent dict, come out identical to the
    old ones. Later dicts of the same shape must still read their own key."""
    key = "".join(["new", "key"])  # one str object, shared by the dicts below

    class Export:
        def dict(self):
            for changing in changed:
                changing.clear()
                changing.update({"a": 1, "z": 2})
            return 5

    # The holder must lie above both changed dicts, so that reading by address meets it last.
    holder, *changed = sorted([{}, {}, {}], key=id, reverse=True)
    holder["m"] = Export()
    for changing in changed:
        changing.update({key: 1, "z": 2})
    fillers = [{"f": i} for i in range(3000)]
    listed = sorted([*fillers, holder, *changed], key=id, reverse=True)
    old_items = [
        {"m": 5} if item is holder else {"a": 1, "z": 2} if item in changed else dict(item)
        for item in listed
    ]
    later = [f"new{i}" for i in range(5000)] + [{key: 1, "z": 2}]
    old_later = [f"old{i}" for i in range(5000)] + [{"newkey": 1, "z": 2}]
    # A large first item makes the arena fill blocks of a huge page, so that what the list's
    # first read wrote stays in one block and can be given back.
    big = [f"text{i}" for i in range(300_000)]
    report = Vesperon(
        [big, {"L": old_items}, old_later], [list(big), {"L": listed}, later]
    ).to_dict()
    assert list(report) == ["values_changed"]
    assert len(report["values_changed"]) == 5000
    assert all(item == {"a": 1, "z": 2} for item in changed)
