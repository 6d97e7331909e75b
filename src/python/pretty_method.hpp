#pragma once

#include "python/boundary.hpp"

#include "engine/comparison.hpp"

namespace hexalume::python {

// Vesperon.pretty(*, compact=False, max_depth=5, context=0, no_color=False, path_header=False):
// binds the keyword arguments and renders the comparison. Returns a new reference to a str, or
// nullptr with an exception set. The comparison is only read.
PyObject* pretty_method(const engine::Vesperon& comparison, PyObject* args, PyObject* kwargs);

}  // namespace hexalume::python
