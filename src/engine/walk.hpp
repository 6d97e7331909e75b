#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/report.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// How the two trees of a comparison were made.
enum class Inputs : std::uint8_t {
  Separate,           // each converted on its own
  SharingEqualParts,  // wherever the inputs agree, both trees hold one shared node
};

// Walks t1 and t2 side by side from their roots and records every difference into
// `accumulator`, at positions that point into t1 and t2. Cannot fail.
void diff_values(const value::Node& t1, const value::Node& t2,
                 const options::VesperonOptions& options, DiffAccumulator& accumulator,
                 Inputs inputs = Inputs::Separate);

}  // namespace hexalume::engine
