#pragma once

#include <string_view>
#include <utility>

#include "engine/comparison.hpp"
#include "literal.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::testing {

// The report of comparing two JSON literals, to compare with a report written as a literal.
inline value::Value report_of(std::string_view old_json, std::string_view new_json,
                              options::VesperonOptions options = {}) {
  engine::Vesperon comparison =
      engine::with_options(literal(old_json), literal(new_json), std::move(options));
  engine::finish_report(comparison);
  return value::Value::copy_of(comparison.report.root());
}

}  // namespace hexalume::testing
