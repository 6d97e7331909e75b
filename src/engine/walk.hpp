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

}  // namespace hexalume::engine
