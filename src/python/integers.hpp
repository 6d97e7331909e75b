#pragma once

// Python ints to and from value nodes, exactly and at any size.

#include "python/boundary.hpp"
#include "value/value.hpp"

namespace hexalume::python {

// Converts an int (exact or a subclass, e.g. the result of __index__) into `out`: Unsigned or
// Signed when it fits 64 bits, else a Big node whose digits live in `arena`. Any size converts,
// whatever the interpreter's limit on int/str conversion. False with an exception set on failure.
bool integer_from_py(PyObject* integer, value::Arena& arena, value::Node& out);

// A new Python int of the same value as an integer node (Unsigned, Signed or Big), of any size.
// An empty PyRef means an exception is set; a float node throws value::InternalError.
PyRef integer_to_py(const value::Node& integer);

}  // namespace hexalume::python
