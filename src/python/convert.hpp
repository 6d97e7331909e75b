#pragma once

#include "python/boundary.hpp"

#include <optional>

#include "engine/change.hpp"
#include "value/value.hpp"

namespace hexalume::python {

// Converts both inputs into one tree, the list [t1, t2]: t1 first, then t2, each by the rules
// below, with every method call and error as if each were converted on its own. Where a part of
// t2 equals the part of t1 at the same position, t2 shares t1's nodes. Built-in scalars and
// containers convert directly, frames, arrays and models through their export methods. nullopt
// means a Python exception is set (TypeError for unsupported objects or dictionary keys,
// ValueError for NaN or infinity, RecursionError for nesting too deep, or whatever the objects'
// own methods raised). A dictionary or set changed while it is read throws value::InternalError;
// a signal handler that raises throws value::Cancelled (its exception set).
std::optional<value::Value> inputs_from_py(PyObject* old_object, PyObject* new_object);

// Item `index` of the list at `parent` in t2 (`from_new`) or t1, read again from the two inputs
// that a comparison of paired inputs keeps, converted into `arena`: the value of a Deferred item.
// Both inputs must still hold equal items there, else RuntimeError. Throws value::Cancelled with
// the exception set when it fails.
value::Node deferred_item_from_py(PyObject* old_root, PyObject* new_root,
                                  const engine::Position& parent, std::uint64_t index,
                                  bool from_new, value::Arena& arena);

// The Python object for a tree node (dict, list, str, int, float, bool or None); dictionaries
// iterate their keys in byte order. An empty owner means an exception is set. Throws
// value::StackExhausted when the thread's stack runs short and value::Cancelled when a signal
// handler raises.
PyRef value_to_py(const value::Node& node);

}  // namespace hexalume::python
