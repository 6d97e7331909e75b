#pragma once

#include <string>

#include "engine/report.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// The canonical text of a value: two list items match under ignore_order exactly when their
// texts are equal. Nothing is escaped, so distinct values may share a text.
std::string canonical_string(const value::Node& node);
void append_canonical_string(std::string& out, const value::Node& node);

// Compares two lists as multisets of canonical texts and records the surplus items of each
// side (the last occurrences) as removed or added under `path`.
void diff_unordered(const value::Node& t1, const value::Node& t2, std::string& path,
                    DiffAccumulator& accumulator);

}  // namespace hexalume::engine
