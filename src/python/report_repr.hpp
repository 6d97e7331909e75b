#pragma once

#include "python/boundary.hpp"

#include "value/value.hpp"

namespace hexalume::python {

// The text of repr() of a comparison: "Vesperon(<repr of the report dictionary>)", the same text
// as repr() of what to_dict() returns, built straight from the tree: answers signals on the way
// and raises RecursionError past the interpreter's recursion limit or when the thread's stack
// runs short. A new reference, or nullptr with an exception set.
PyObject* comparison_repr(const value::Node& report);

}  // namespace hexalume::python
