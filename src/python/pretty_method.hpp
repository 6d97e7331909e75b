#pragma once

#include "python/boundary.hpp"

#include "engine/comparison.hpp"

namespace hexalume::python {

// Vesperon.pretty(*, compact=False, max_depth=5, context=0, no_color=False, path_header=False):
// binds the keyword arguments and renders the comparison. Returns the rendered str; an empty
// owner means an exception is set. The comparison's report is built if it waits (see
// engine::finish_report); nothing else of it changes. `inputs` are the two inputs a comparison
// of paired inputs keeps (else two nullptr), for the list items it did not convert.
PyRef pretty_method(engine::Vesperon& comparison, PyObject* const (&inputs)[2], PyObject* args,
                    PyObject* kwargs);

}  // namespace hexalume::python
