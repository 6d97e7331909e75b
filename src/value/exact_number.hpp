#pragma once

#include <cstdint>
#include <string>

#include "value/big_unsigned.hpp"
#include "value/value.hpp"

namespace hexalume::value {

// The exact value of a number as a dyadic rational: (-1)^negative * magnitude * 2^exponent.
// Every finite double and every integer is one, so sums, differences and products of them are
// exact too. Zero may carry either sign.
struct ExactNumber {
  bool negative = false;
  BigUnsigned magnitude;
  std::int64_t exponent = 0;
};

// The exact value of a Number node (any representation) or of a finite double.
ExactNumber exact_value(const Node& number);
ExactNumber exact_value(double number);

ExactNumber operator-(const ExactNumber& left, const ExactNumber& right);
ExactNumber operator*(const ExactNumber& left, const ExactNumber& right);
// Negative, zero or positive as |left| is less than, equal to or greater than |right|.
int compare_magnitudes(const ExactNumber& left, const ExactNumber& right);

// An exact decimal: (-1)^negative * digits * 10^exponent, `digits` without leading zeros and
// empty for zero.
struct DecimalNumber {
  bool negative = false;
  std::string digits;
  std::int64_t exponent = 0;
};

// The exact decimal expansion of a Number node: finite, since every double is m * 2^e and
// 2^-k = 5^k * 10^-k.
DecimalNumber exact_decimal(const Node& number);

// `number` rounded to `digits` significant digits, halves away from zero. With 0 digits the
// result is 0 or one unit of the power of ten just above the leading digit.
DecimalNumber round_to_significant_digits(const DecimalNumber& number, std::uint32_t digits);

// The exact value of a Number node rounded to `digits` significant digits, halves away from
// zero (as above).
DecimalNumber round_to_significant_digits(const Node& number, std::uint32_t digits);

// |left - right| <= 2^-52, exactly.
bool within_float_epsilon(const DecimalNumber& left, const DecimalNumber& right);

// |number| <= 10^exponent, exactly.
bool within_power_of_ten(const DecimalNumber& number, std::int64_t exponent);

}  // namespace hexalume::value
