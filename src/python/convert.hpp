#pragma once

#include "python/boundary.hpp"

#include <optional>

#include "value/value.hpp"

namespace hexalume::python {

// Converts a Python object into a new value tree: built-in scalars and containers directly,
// frames, arrays and models through their export methods. nullopt means a Python exception is
// set (TypeError for unsupported objects or dictionary keys, ValueError for NaN or infinity,
// RecursionError for nesting too deep, or whatever the object's own methods raised). A
// dictionary or set changed while it is read throws value::InternalError; a signal handler that
// raises throws value::Cancelled (its exception set).
std::optional<value::Value> value_from_py(PyObject* object);

// The Python object for a tree node (dict, list, str, int, float, bool or None); dictionaries
// iterate their keys in byte order. An empty owner means an exception is set. Throws
// value::StackExhausted when the thread's stack runs short and value::Cancelled when a signal
// handler raises.
PyRef value_to_py(const value::Node& node);

}  // namespace hexalume::python
