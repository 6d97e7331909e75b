#include "engine/walk.hpp"

#include <cmath>
#include <cstdint>

#include "engine/path.hpp"
#include "engine/unordered.hpp"
#include "value/exact_number.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::engine {

namespace {

using options::ValueType;
using options::VesperonOptions;
using value::Kind;
using value::Node;
using value::NumberRep;

// The 64-bit float epsilon, 2^-52.
constexpr double kFloatEpsilon = 0x1p-52;

// How deep the equality test of a child looks before the walk descends into it instead. A full
// test at every level would make a change at the bottom of a deep chain cost the square of its
// depth; ordinary documents are shallower than this, so for them nothing changes.
constexpr std::size_t kCheckLevels = 64;

// Everything one walk shares, passed by reference so recursive frames stay small.
struct Walk {
  const VesperonOptions& options;
  DiffAccumulator& accumulator;
  std::string& path;
};

// Whole-byte prefix tests, no segment boundaries: excluding root['a skips root['ab'] too.
bool filtered_out(std::string_view path, const VesperonOptions& options) {
  for (const std::string& entry : options.exclude_paths) {
    if (path.starts_with(entry)) return true;
  }
  if (options.include_paths.empty()) return false;
  for (const std::string& entry : options.include_paths) {
    if (path.starts_with(entry) || std::string_view(entry).starts_with(path)) return false;
  }
  return true;
}

ValueType value_type(Kind kind) {
  switch (kind) {
    case Kind::Null:
      return ValueType::Null;
    case Kind::Bool:
      return ValueType::Bool;
    case Kind::Number:
      return ValueType::Number;
    case Kind::String:
      return ValueType::String;
    case Kind::List:
      return ValueType::List;
    case Kind::Object:
      return ValueType::Dict;
  }
  return ValueType::Null;
}

bool in_one_group(Kind old_kind, Kind new_kind, const VesperonOptions& options) {
  ValueType old_type = value_type(old_kind);
  ValueType new_type = value_type(new_kind);
  for (const auto& group : options.ignore_type_in_groups) {
    bool has_old = false;
    bool has_new = false;
    for (ValueType member : group) {
      has_old = has_old || member == old_type;
      has_new = has_new || member == new_type;
    }
    if (has_old && has_new) return true;
  }
  return false;
}

double power_of_ten(std::int64_t exponent) { return std::pow(10.0, static_cast<double>(exponent)); }

// x rounded to `digits` significant digits: round(x * 10^k) / 10^k with k = digits - 1 - e and
// e the decimal exponent of x. Where 10^k or x * 10^k leaves the float range (tiny x, or a huge
// digit count) the same rounding is reached without overflowing: a double needs at most 17
// significant digits, so rounding to 17 or more returns x, and below that the scale is applied
// in two halves, each of which stays finite.
double round_to_digits(double x, std::uint32_t digits) {
  auto exponent = static_cast<std::int64_t>(std::floor(std::log10(std::fabs(x))));
  std::int64_t k = static_cast<std::int64_t>(digits) - 1 - exponent;
  double scale = power_of_ten(k);
  if (std::isfinite(scale) && scale != 0.0 && std::isfinite(x * scale)) {
    return std::round(x * scale) / scale;
  }
  if (digits >= 17) return x;
  double first = power_of_ten(k / 2);
  double second = power_of_ten(k - k / 2);
  return std::round(x * first * second) / first / second;
}

bool equal_to_digits(double a, double b, std::uint32_t digits) {
  if (a == 0.0 || b == 0.0) {
    return std::fabs(a - b) <= std::pow(10.0, -static_cast<double>(digits));
  }
  const double rounded_a = round_to_digits(a, digits);
  const double rounded_b = round_to_digits(b, digits);
  // Two numbers next to the largest float may both round past it, to the same infinity.
  return rounded_a == rounded_b || std::fabs(rounded_a - rounded_b) <= kFloatEpsilon;
}

// Integers in the numeric rules. A literal reading converts both numbers to doubles, which
// rounds integers beyond 2^53 (2^60 and 2^60 + 1 become the same double) and rounds the
// difference of two integers. Instead, any pair that holds an integer is decided on exact
// values: |a - b| and max(|a|, |b|) are computed exactly and compared with each tolerance as the
// exact rational a finite double is. Pairs of two floats keep the double arithmetic of the rule.

using Wide = unsigned __int128;

std::uint64_t magnitude_of(const Node& number) {
  if (number.rep == NumberRep::Unsigned) return number.unsigned_int;
  return number.signed_int < 0 ? 0 - static_cast<std::uint64_t>(number.signed_int)
                               : static_cast<std::uint64_t>(number.signed_int);
}

unsigned bit_length(Wide value) {
  const auto high = static_cast<std::uint64_t>(value >> 64);
  const auto low = static_cast<std::uint64_t>(value);
  if (high != 0) return 128 - static_cast<unsigned>(__builtin_clzll(high));
  return low == 0 ? 0 : 64 - static_cast<unsigned>(__builtin_clzll(low));
}

// |a - b| <= absolute for an exact integer difference below 2^66. A NaN bound adds nothing, as
// fmax drops it; doubles of 2^66 and more exceed every such difference.
bool within_absolute(Wide difference, double absolute) {
  if (std::isnan(absolute) || absolute < 0.0) return false;
  if (absolute >= 0x1p66) return true;
  // For an integer difference, d <= x exactly when d <= floor(x), and floor(x) < 2^66 is exact.
  return difference <= static_cast<Wide>(std::floor(absolute));
}

// |a - b| <= relative * max(|a|, |b|) on exact values, both below 2^66. As with fmax, a NaN
// product (NaN, or an infinity times zero) adds nothing.
bool within_relative(Wide difference, double relative, Wide larger) {
  if (std::isnan(relative)) return false;
  if (std::isinf(relative)) return relative > 0.0 && larger != 0;
  if (relative < 0.0) return larger == 0;  // -0.0 bound: met by the zero difference of 0 and 0
  if (relative == 0.0 || larger == 0) return difference == 0;
  // relative = fraction * 2^exponent with a 53-bit integer fraction; the product of the
  // fraction and `larger` (below 2^53 * 2^65) fits 128 bits.
  int exponent = 0;
  const double fraction = std::frexp(relative, &exponent);
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  const Wide product = static_cast<Wide>(mantissa) * larger;
  const int shift = exponent - 53;
  if (shift >= 0) {
    // product * 2^shift >= 2^(bits - 1 + shift); from 2^66 on it exceeds every difference.
    if (bit_length(product) + static_cast<unsigned>(shift) > 67) return true;
    return difference <= (product << shift);
  }
  // d <= p / 2^s exactly when d <= floor(p / 2^s), for an integer d.
  if (-shift >= 128) return difference == 0;
  return difference <= (product >> -shift);
}

// The first two rules for two 64-bit integers: 128-bit arithmetic is exact for them.
bool integers_within(const Node& t1, const Node& t2, const VesperonOptions& options,
                     double absolute, double relative, bool tolerance) {
  const bool negative1 = t1.rep == NumberRep::Signed && t1.signed_int < 0;
  const bool negative2 = t2.rep == NumberRep::Signed && t2.signed_int < 0;
  const Wide magnitude1 = magnitude_of(t1);
  const Wide magnitude2 = magnitude_of(t2);
  Wide difference;
  if (negative1 != negative2) {
    difference = magnitude1 + magnitude2;
  } else {
    difference = magnitude1 > magnitude2 ? magnitude1 - magnitude2 : magnitude2 - magnitude1;
  }
  // Two integers within 2^-52 of each other are equal.
  if (options.ignore_numeric_type_changes && difference == 0) return true;
  if (!tolerance) return false;
  return within_absolute(difference, absolute) ||
         within_relative(difference, relative, magnitude1 > magnitude2 ? magnitude1 : magnitude2);
}

// The first two rules for any pair holding an integer, on exact rationals.
bool exact_within(const Node& t1, const Node& t2, const VesperonOptions& options, double absolute,
                  double relative, bool tolerance) {
  const value::ExactNumber a = value::exact_value(t1);
  const value::ExactNumber b = value::exact_value(t2);
  const value::ExactNumber difference = a - b;
  if (options.ignore_numeric_type_changes) {
    value::ExactNumber epsilon;
    epsilon.magnitude = value::BigUnsigned(1);
    epsilon.exponent = -52;
    if (value::compare_magnitudes(difference, epsilon) <= 0) return true;
  }
  if (!tolerance) return false;
  if (!std::isnan(absolute) && absolute >= 0.0 &&
      (std::isinf(absolute) ||
       value::compare_magnitudes(difference, value::exact_value(absolute)) <= 0)) {
    return true;
  }
  const value::ExactNumber& larger = value::compare_magnitudes(a, b) >= 0 ? a : b;
  if (std::isnan(relative)) return false;
  if (std::isinf(relative)) return relative > 0.0 && !larger.magnitude.is_zero();
  if (relative < 0.0) return larger.magnitude.is_zero();
  return value::compare_magnitudes(difference, value::exact_value(relative) * larger) <= 0;
}

// True when the number's double is the number itself. A Big is taken as never so, which only
// sends it down the exact path.
bool converts_exactly(const Node& number) {
  switch (number.rep) {
    case NumberRep::Float:
      return true;
    case NumberRep::Unsigned: {
      const double converted = static_cast<double>(number.unsigned_int);
      // 2^64 is the one double a uint64 can round up to that does not convert back.
      return converted < 0x1p64 && static_cast<std::uint64_t>(converted) == number.unsigned_int;
    }
    case NumberRep::Signed: {
      const double converted = static_cast<double>(number.signed_int);
      return converted < 0x1p63 && static_cast<std::int64_t>(converted) == number.signed_int;
    }
    case NumberRep::Big:
      return false;
  }
  return false;
}

// Significant digits on exact decimal values, for pairs where an integer has no exact double:
// each number rounded to `digits` significant digits (halves away from zero), then equal when
// the rounded values differ by at most 2^-52.
bool equal_to_digits_exact(const Node& t1, const Node& t2, std::uint32_t digits) {
  value::DecimalNumber a = value::exact_decimal(t1);
  value::DecimalNumber b = value::exact_decimal(t2);
  // Only an integer beyond 2^53 lacks an exact double, so one side is at least 2^53 away from
  // zero: against a zero, |a - b| <= 10^-d (at most 1) cannot hold.
  if (a.digits.empty() || b.digits.empty()) return false;
  return value::within_float_epsilon(value::round_to_significant_digits(a, digits),
                                     value::round_to_significant_digits(b, digits));
}

void record_kind_change(const Walk& walk, const Node& t1, const Node& t2) {
  if (in_one_group(t1.kind, t2.kind, walk.options)) {
    walk.accumulator.record_changed_value(walk.path, t1, t2);
  } else {
    walk.accumulator.record_type_change(walk.path, t1, t2);
  }
}

void visit(const Walk& walk, const Node& t1, const Node& t2);

// A child shown equal gets no path segment and no visit: an equal child cannot record anything,
// whatever the options. A child too deep to be shown equal is visited, and records nothing if
// it is equal after all.
void diff_objects(const Walk& walk, const Node& t1, const Node& t2) {
  // Keys are kept sorted by bytes, so the two objects are compared in one merge pass instead
  // of one lookup per key.
  const value::Member* old_member = t1.members;
  const value::Member* old_end = old_member + t1.size();
  const value::Member* new_member = t2.members;
  const value::Member* new_end = new_member + t2.size();
  std::string& path = walk.path;
  const std::size_t mark = path.size();
  while (old_member != old_end || new_member != new_end) {
    value::poll_interrupt();
    int order;
    if (old_member == old_end) {
      order = 1;
    } else if (new_member == new_end) {
      order = -1;
    } else {
      order = old_member->key.string().compare(new_member->key.string());
    }
    if (order == 0) {
      if (!value::equal_within(old_member->value, new_member->value, kCheckLevels)) {
        append_key_segment(path, old_member->key.string());
        visit(walk, old_member->value, new_member->value);
        path.resize(mark);
      }
      ++old_member;
      ++new_member;
    } else if (order < 0) {
      append_key_segment(path, old_member->key.string());
      walk.accumulator.record_key_removed(path);
      path.resize(mark);
      ++old_member;
    } else {
      append_key_segment(path, new_member->key.string());
      walk.accumulator.record_key_added(path);
      path.resize(mark);
      ++new_member;
    }
  }
}

void diff_lists(const Walk& walk, const Node& t1, const Node& t2) {
  const std::size_t old_size = t1.size();
  const std::size_t new_size = t2.size();
  const std::size_t common = old_size < new_size ? old_size : new_size;
  std::string& path = walk.path;
  const std::size_t mark = path.size();
  for (std::size_t i = 0; i < common; ++i) {
    value::poll_interrupt();
    if (value::equal_within(t1.items[i], t2.items[i], kCheckLevels)) continue;
    append_index_segment(path, i);
    visit(walk, t1.items[i], t2.items[i]);
    path.resize(mark);
  }
  for (std::size_t i = common; i < old_size; ++i) {
    append_index_segment(path, i);
    walk.accumulator.record_item_removed(path, t1.items[i]);
    path.resize(mark);
  }
  for (std::size_t i = common; i < new_size; ++i) {
    append_index_segment(path, i);
    walk.accumulator.record_item_added(path, t2.items[i]);
    path.resize(mark);
  }
}

// The comparison of one position whose path has passed the filters.
void compare(const Walk& walk, const Node& t1, const Node& t2) {
  if (t1.kind != t2.kind) {
    record_kind_change(walk, t1, t2);
    return;
  }
  bool same = true;
  switch (t1.kind) {
    case Kind::Null:
      return;
    case Kind::Bool:
      same = t1.boolean == t2.boolean;
      break;
    case Kind::Number:
      same = numbers_equal(t1, t2, walk.options);
      break;
    case Kind::String:
      same = t1.string() == t2.string();
      break;
    case Kind::List:
      if (walk.options.ignore_order) {
        diff_unordered(t1, t2, walk.path, walk.accumulator);
      } else {
        diff_lists(walk, t1, t2);
      }
      return;
    case Kind::Object:
      diff_objects(walk, t1, t2);
      return;
  }
  if (!same) walk.accumulator.record_changed_value(walk.path, t1, t2);
}

void visit(const Walk& walk, const Node& t1, const Node& t2) {
  value::check_stack(value::kInComparison);
  if (filtered_out(walk.path, walk.options)) return;
  compare(walk, t1, t2);
}

}  // namespace

bool numbers_equal(const Node& t1, const Node& t2, const VesperonOptions& options) {
  const double absolute = options.atol ? *options.atol : options.math_epsilon.value_or(0.0);
  const double relative = options.rtol.value_or(0.0);
  const bool tolerance = absolute > 0.0 || relative > 0.0;

  if (t1.rep == NumberRep::Float && t2.rep == NumberRep::Float) {
    const double a = t1.floating;
    const double b = t2.floating;
    const double difference = std::fabs(a - b);
    if (options.ignore_numeric_type_changes && difference <= kFloatEpsilon) return true;
    if (tolerance) {
      // fmax drops a NaN operand, so a NaN tolerance adds nothing; an infinite one takes all.
      const double bound = std::fmax(absolute, relative * std::fmax(std::fabs(a), std::fabs(b)));
      if (difference <= bound) return true;
    }
    if (options.significant_digits) return equal_to_digits(a, b, *options.significant_digits);
    return a == b;
  }

  if (options.ignore_numeric_type_changes || tolerance) {
    const bool both_64_bit = t1.rep != NumberRep::Float && t1.rep != NumberRep::Big &&
                             t2.rep != NumberRep::Float && t2.rep != NumberRep::Big;
    if (both_64_bit ? integers_within(t1, t2, options, absolute, relative, tolerance)
                    : exact_within(t1, t2, options, absolute, relative, tolerance)) {
      return true;
    }
  }
  if (options.significant_digits) {
    // Numbers whose doubles are exact go through the rule's own float arithmetic, as floats do.
    if (converts_exactly(t1) && converts_exactly(t2)) {
      return equal_to_digits(t1.as_double(), t2.as_double(), *options.significant_digits);
    }
    return equal_to_digits_exact(t1, t2, *options.significant_digits);
  }
  return value::equal(t1, t2);
}

void diff_values(const Node& t1, const Node& t2, std::string& path, const VesperonOptions& options,
                 DiffAccumulator& accumulator) {
  if (filtered_out(path, options)) return;
  if (value::equal(t1, t2)) return;
  compare(Walk{options, accumulator, path}, t1, t2);
}

}  // namespace hexalume::engine
