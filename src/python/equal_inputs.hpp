#pragma once

#include "python/boundary.hpp"

#include <optional>

#include "value/value.hpp"

namespace hexalume::python {

// What a walk over two Python inputs found before either was converted in full.
enum class InputEquality : std::uint8_t {
  Equal,      // both convert, without running Python code, into equal value trees
  Paired,     // they differ, and the trees of both were built by the walk (see paired_inputs)
  Undecided,  // a difference, or something the walk does not follow: convert as usual
  Failed,     // a Python exception is set (the interpreter ran out of memory)
};

// Walks both inputs together, reading only exact dicts with exact str keys, lists, tuples, exact
// str, exact int, exact float, bool and None, under the rules conversion applies to them: a list
// equals a tuple with equal items, dicts equal whatever their insertion order, 1, 1.0 and True
// differ. Stops at the first difference and at anything else (subclasses, sets, library objects,
// lone surrogates, NaN or infinity, integers beyond 64 bits, deep nesting, a thread stack running
// short). Runs no Python code but signal handlers, which may change the inputs: then the answer
// is about the inputs as the walk saw them, and no crash. Leaves no exception set except with
// Failed; a handler's exception comes out as value::Cancelled. Never gives Paired.
InputEquality equal_inputs_from_py(PyObject* old_object, PyObject* new_object);

// The same walk, going on past differences, so that only what differs is converted. Where it
// gives Paired, `inputs` is the list [t1, t2] exactly as inputs_from_py would convert it, except
// that every part the two hold equally at the same position is one Deferred node in both trees
// (a changed leaf, an added or removed member or item, and the containers leading to them are
// converted). A signal handler that changes the inputs during the walk gives trees of the
// inputs as the walk saw them, or Undecided where a container's size changed under it, and no
// crash, as for the walk above.
InputEquality paired_inputs_from_py(PyObject* old_object, PyObject* new_object,
                                    std::optional<value::Value>& inputs);

}  // namespace hexalume::python
