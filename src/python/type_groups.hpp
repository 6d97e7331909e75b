#pragma once

#include "python/boundary.hpp"

#include "options/record.hpp"

namespace hexalume::python {

// Reads the value of `ignore_type_in_groups` (a list or tuple of groups, each a list or tuple of
// Python types or numpy's array function) into `options`. A group holding both an integer and a
// float type switches `ignore_numeric_type_changes` on; one holding str and bytes switches
// `ignore_string_type_changes` on. False means a Python exception is set and `options` is
// unchanged.
bool parse_type_groups(PyObject* groups, options::VesperonOptions& options);

}  // namespace hexalume::python
