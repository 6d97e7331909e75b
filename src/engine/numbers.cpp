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

// Integers in the numeric rules. A literal reading converts both numbers to doubles, which
// rounds integers beyond 2^53 (2^60 and 2^60 + 1 become the same double) and rounds the
// difference of two integers. Instead, any pair that holds an integer is decided on exact
// values: |a - b| and max(|a|, |b|) are computed exactly and compared with each tolerance as the
// exact rational a finite double is. Pairs of two floats keep the double arithmetic of the rule.

using Wide = unsigned __int128;

// The magnitude of an integer of at most 64 bits.
Wide magnitude_of(const value::IntegerParts& parts) {
  Wide magnitude = 0;
  for (std::size_t i = parts.magnitude.size(); i-- > 0;) {
    magnitude = (magnitude << 32) | parts.magnitude[i];
  }
  return magnitude;
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
  std::uint32_t buffer1[2];
  std::uint32_t buffer2[2];
  const value::IntegerParts parts1 = value::integer_parts(t1, buffer1);
  const value::IntegerParts parts2 = value::integer_parts(t2, buffer2);
  const Wide magnitude1 = magnitude_of(parts1);
  const Wide magnitude2 = magnitude_of(parts2);
  Wide difference;
  if (parts1.negative != parts2.negative) {
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

bool is_zero(const Node& number) {
  if (number.rep == NumberRep::Float) return number.floating == 0.0;
  std::uint32_t buffer[2];
  return value::integer_parts(number, buffer).magnitude.empty();
}

// Significant digits, on exact values: each number's exact decimal value rounded to `digits`
// significant digits (halves away from zero), then equal when the rounded values differ by at
// most 2^-52. Against a zero, equal when the other is within 10^-digits.
bool equal_to_digits(const Node& t1, const Node& t2, std::uint32_t digits) {
  const bool zero1 = is_zero(t1);
  const bool zero2 = is_zero(t2);
  if (zero1 || zero2) {
    const Node& other = zero1 ? t2 : t1;
    if (other.rep != NumberRep::Float) {
      // A non-zero integer is within 10^-digits of zero only when it is 1 or -1 and digits is 0;
      // deciding so spares a long integer its decimal text.
      std::uint32_t buffer[2];
      const value::IntegerParts parts = value::integer_parts(other, buffer);
      return parts.magnitude.empty() ||
             (digits == 0 && parts.magnitude.size() == 1 && parts.magnitude[0] == 1);
    }
    return value::within_power_of_ten(value::exact_decimal(other),
                                      -static_cast<std::int64_t>(digits));
  }
  return value::within_float_epsilon(value::round_to_significant_digits(t1, digits),
                                     value::round_to_significant_digits(t2, digits));
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
    if (options.significant_digits) return equal_to_digits(t1, t2, *options.significant_digits);
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
  if (options.significant_digits) return equal_to_digits(t1, t2, *options.significant_digits);
  return value::equal(t1, t2);
}

}  // namespace hexalume::engine
