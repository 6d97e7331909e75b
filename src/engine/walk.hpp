#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/report.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// Walks t1 and t2 side by side and records every difference below `path` into `accumulator`.
// `path` is a scratch buffer: children append their segment and truncate it again, so it holds
// the same text on return. Cannot fail.
void diff_values(const value::Node& t1, const value::Node& t2, std::string& path,
                 const options::VesperonOptions& options, DiffAccumulator& accumulator);

// The numeric rules of the walk: true when the two Number nodes count as the same number under
// `options` (type-change epsilon, tolerances, significant digits, else exact equality).
bool numbers_equal(const value::Node& t1, const value::Node& t2,
                   const options::VesperonOptions& options);

}  // namespace hexalume::engine
