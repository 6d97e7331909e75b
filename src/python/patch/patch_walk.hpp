#pragma once

#include "python/boundary.hpp"

namespace hexalume::python::patch {

// The JSON Patch (a new list of new dicts) that turns `old_root` into a document equal to
// `new_root`, types kept apart: members in the old document's key order, then added members;
// lists aligned by engine::align_items on their differing middle; an item removed and another
// inserted at the same place compared member by member. With `with_tests`, a test of the old
// value comes before every remove and replace. Every value is a fresh copy. Empty with an
// exception set: TypeError or ValueError naming the first position of either document that is
// not JSON, RecursionError, or what the interpreter raised.
PyRef make_patch_from_py(PyObject* old_root, PyObject* new_root, bool with_tests);

}  // namespace hexalume::python::patch
