#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hexalume::options {

// The kinds of value a type group can name; one per kind of value tree node.
enum class ValueType : std::uint8_t { Number, String, Bool, Null, List, Dict };

// Every setting of one comparison. Filled by keyword parsing, read-only for the engine.
struct VesperonOptions {
  bool ignore_order = false;
  bool ignore_numeric_type_changes = false;
  bool ignore_string_type_changes = false;  // stored only; no comparison rule reads it
  std::vector<std::vector<ValueType>> ignore_type_in_groups;
  std::optional<std::uint32_t> significant_digits;
  std::optional<double> math_epsilon;
  std::optional<double> atol;
  std::optional<double> rtol;
  std::vector<std::string> include_paths;
  std::vector<std::string> exclude_paths;
  std::uint8_t verbose_level = 1;
};

}  // namespace hexalume::options
