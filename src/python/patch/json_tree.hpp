#pragma once

// Python objects read as JSON documents, strictly: dict with str keys, list and tuple, str, int
// of any size, finite float, bool and None. Subclasses of these count as their base type.
// Anything else is refused with an error that names its position as a JSON Pointer.

#include "python/boundary.hpp"

#include <span>

#include "engine/patch.hpp"
#include "value/value.hpp"

namespace hexalume::python::patch {

// Converts `object` into a tree whose memory lives in `arena`. False with an exception set:
// TypeError for a type or key JSON lacks, ValueError for NaN, infinities and lone surrogates
// (each message starts with `label`, e.g. "new", and names the position), RecursionError for
// nesting too deep. Runs no Python code.
bool json_from_py(PyObject* object, const char* label, value::Arena& arena, value::Node& out);

// A new copy of `object` made of new dicts and lists (tuples become lists, dict keys keep their
// order), sharing no container with it; subclass scalars become plain str, int and float. The
// same refusals and messages as json_from_py. Empty with an exception set on failure.
PyRef json_copy(PyObject* object, const char* label);

// The object at `steps` below `root` (a new reference), steps as the patch walk records them
// for a tree converted from `root`. Throws value::InternalError when the object has changed so
// that a step no longer leads anywhere; empty with an exception set on other failures.
PyRef json_child(PyObject* root, std::span<const engine::PatchStep> steps);

}  // namespace hexalume::python::patch
