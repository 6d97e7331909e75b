#include "engine/numbers.hpp"

#include <cmath>
#include <cstdint>

#include "value/exact_number.hpp"

namespace hexalume::engine {

namespace {

using options::VesperonOptions;
using value::Node;
using value::NumberRep;

// The 64-bit float epsilon, 2^-52.
constexpr double kFloatEpsilon = 0x1p-52;

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

}  // namespace hexalume::engine
