#pragma once

// Python ints to and from value nodes, exactly and at any size.

#include <unordered_map>
#include <vector>

#include "python/boundary.hpp"
#include "value/value.hpp"

namespace hexalume::python {

// Converts an int (exact or a subclass, e.g. the result of __index__) into `out`: Unsigned or
// Signed when it fits 64 bits, else a Big node whose limbs live in `arena`. Any size converts in
// linear time, whatever the interpreter's limit on int/str conversion. False with an exception
// set on failure.
bool integer_from_py(PyObject* integer, value::Arena& arena, value::Node& out);

// The ints beyond 64 bits met during one conversion, each converted once: an object met again
// (in a repeated list, or on both sides) gives the same node. The ints are held until the
// conversion ends, so no address can be reused by another object meanwhile.
class BigIntegers {
 public:
  // As integer_from_py.
  bool convert(PyObject* integer, value::Arena& arena, value::Node& out);

 private:
  std::vector<PyRef> held_;
  std::unordered_map<PyObject*, value::Node> seen_;
};

// A new Python int of the same value as an integer node (Unsigned, Signed or Big), of any size,
// in linear time.
// An empty PyRef means an exception is set; a float node throws value::InternalError.
PyRef integer_to_py(const value::Node& integer);

}  // namespace hexalume::python
