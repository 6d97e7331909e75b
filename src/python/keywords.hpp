#pragma once

#include "python/boundary.hpp"

#include <optional>

#include "options/record.hpp"

namespace hexalume::python {

// Reads the constructor's extra keyword arguments (nullptr: none) into a record, in the caller's
// keyword order; a later keyword setting the same field wins. nullopt means a Python exception is
// set for the first bad keyword or value.
std::optional<options::VesperonOptions> parse_options(PyObject* kwargs);

}  // namespace hexalume::python
