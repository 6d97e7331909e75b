#pragma once

#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// The numeric rules of the walk: true when the two Number nodes count as the same number under
// `options` (type-change epsilon, tolerances, significant digits, else exact equality).
bool numbers_equal(const value::Node& t1, const value::Node& t2,
                   const options::VesperonOptions& options);

}  // namespace hexalume::engine
