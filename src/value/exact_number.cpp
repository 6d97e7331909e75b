#include "value/exact_number.hpp"

#include <charconv>
#include <cmath>

#include "value/internal_error.hpp"

namespace hexalume::value {

namespace {

// Both numbers brought to the smaller exponent; magnitudes shift left, so nothing is lost.
void align(BigUnsigned& left, std::int64_t left_exponent, BigUnsigned& right,
           std::int64_t right_exponent) {
  if (left_exponent > right_exponent) {
    left <<= static_cast<std::uint64_t>(left_exponent - right_exponent);
  } else if (right_exponent > left_exponent) {
    right <<= static_cast<std::uint64_t>(right_exponent - left_exponent);
  }
}

// Signed sum of two aligned magnitudes.
ExactNumber signed_sum(bool left_negative, BigUnsigned left, bool right_negative, BigUnsigned right,
                       std::int64_t exponent) {
  ExactNumber result;
  result.exponent = exponent;
  if (left_negative == right_negative) {
    left += right;
    result.negative = left_negative;
    result.magnitude = std::move(left);
  } else if (compare(left, right) >= 0) {
    left -= right;
    result.negative = left_negative;
    result.magnitude = std::move(left);
  } else {
    right -= left;
    result.negative = right_negative;
    result.magnitude = std::move(right);
  }
  return result;
}

// digits * 10^exponent as a BigUnsigned scaled to 10^to, to <= exponent.
BigUnsigned scaled_decimal(const DecimalNumber& number, std::int64_t to) {
  BigUnsigned result = BigUnsigned::from_decimal(number.digits);
  if (result.is_zero()) return result;
  return result * BigUnsigned::power_of_ten(static_cast<std::uint64_t>(number.exponent - to));
}

std::string integer_digits(std::uint64_t magnitude) {
  char buffer[24];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, magnitude).ptr;
  return std::string(buffer, end);
}

}  // namespace

ExactNumber exact_value(double number) {
  ExactNumber result;
  result.negative = std::signbit(number);
  if (number == 0.0) return result;
  int exponent = 0;
  double fraction = std::frexp(std::fabs(number), &exponent);  // in [0.5, 1)
  auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  std::int64_t binary_exponent = exponent - 53;
  // Dropping trailing zero bits keeps later alignments short.
  int zeros = __builtin_ctzll(mantissa);
  mantissa >>= zeros;
  binary_exponent += zeros;
  result.magnitude = BigUnsigned(mantissa);
  result.exponent = binary_exponent;
  return result;
}

ExactNumber exact_value(const Node& number) {
  ExactNumber result;
  switch (number.rep) {
    case NumberRep::Unsigned:
      result.magnitude = BigUnsigned(number.unsigned_int);
      return result;
    case NumberRep::Signed:
      result.negative = number.signed_int < 0;
      // The magnitude of INT64_MIN does not fit an int64, but does fit a uint64.
      result.magnitude =
          BigUnsigned(result.negative ? 0 - static_cast<std::uint64_t>(number.signed_int)
                                      : static_cast<std::uint64_t>(number.signed_int));
      return result;
    case NumberRep::Float:
      return exact_value(number.floating);
    case NumberRep::Big: {
      std::string_view digits = number.digits();
      result.negative = !digits.empty() && digits.front() == '-';
      if (result.negative) digits.remove_prefix(1);
      result.magnitude = BigUnsigned::from_decimal(digits);
      return result;
    }
  }
  throw InternalError("number of unknown representation");
}

ExactNumber operator-(const ExactNumber& left, const ExactNumber& right) {
  BigUnsigned a = left.magnitude;
  BigUnsigned b = right.magnitude;
  align(a, left.exponent, b, right.exponent);
  return signed_sum(left.negative, std::move(a), !right.negative, std::move(b),
                    std::min(left.exponent, right.exponent));
}

ExactNumber operator*(const ExactNumber& left, const ExactNumber& right) {
  ExactNumber result;
  result.negative = left.negative != right.negative;
  result.magnitude = left.magnitude * right.magnitude;
  result.exponent = left.exponent + right.exponent;
  return result;
}

int compare_magnitudes(const ExactNumber& left, const ExactNumber& right) {
  if (left.magnitude.is_zero() || right.magnitude.is_zero()) {
    return static_cast<int>(!left.magnitude.is_zero()) -
           static_cast<int>(!right.magnitude.is_zero());
  }
  // The position of the top bit decides unless it is the same on both sides.
  const std::int64_t left_top =
      static_cast<std::int64_t>(left.magnitude.bit_length()) + left.exponent;
  const std::int64_t right_top =
      static_cast<std::int64_t>(right.magnitude.bit_length()) + right.exponent;
  if (left_top != right_top) return left_top < right_top ? -1 : 1;
  BigUnsigned a = left.magnitude;
  BigUnsigned b = right.magnitude;
  align(a, left.exponent, b, right.exponent);
  return compare(a, b);
}

DecimalNumber exact_decimal(const Node& number) {
  DecimalNumber result;
  switch (number.rep) {
    case NumberRep::Unsigned:
      if (number.unsigned_int != 0) result.digits = integer_digits(number.unsigned_int);
      return result;
    case NumberRep::Signed:
      result.negative = number.signed_int < 0;
      result.digits =
          integer_digits(result.negative ? 0 - static_cast<std::uint64_t>(number.signed_int)
                                         : static_cast<std::uint64_t>(number.signed_int));
      if (result.digits == "0") result.digits.clear();
      return result;
    case NumberRep::Big: {
      std::string_view digits = number.digits();
      result.negative = !digits.empty() && digits.front() == '-';
      if (result.negative) digits.remove_prefix(1);
      while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
      result.digits.assign(digits);
      return result;
    }
    case NumberRep::Float: {
      ExactNumber exact = exact_value(number.floating);
      result.negative = exact.negative;
      if (exact.magnitude.is_zero()) return result;
      if (exact.exponent >= 0) {
        exact.magnitude <<= static_cast<std::uint64_t>(exact.exponent);
      } else {
        // m * 2^-k = m * 5^k * 10^-k
        exact.magnitude = exact.magnitude *
                          BigUnsigned::power_of_five(static_cast<std::uint64_t>(-exact.exponent));
        result.exponent = exact.exponent;
      }
      exact.magnitude.append_decimal(result.digits);
      return result;
    }
  }
  throw InternalError("number of unknown representation");
}

DecimalNumber round_to_significant_digits(const DecimalNumber& number, std::uint32_t digits) {
  if (number.digits.size() <= digits) return number;
  DecimalNumber result;
  result.negative = number.negative;
  result.exponent = number.exponent + static_cast<std::int64_t>(number.digits.size() - digits);
  result.digits = number.digits.substr(0, digits);
  if (number.digits[digits] >= '5') {
    // One unit up in the last kept digit: nines carry, and all nines become 1 followed by
    // zeros (the empty prefix of 0 digits becomes "1").
    std::size_t at = result.digits.size();
    while (at > 0 && result.digits[at - 1] == '9') result.digits[--at] = '0';
    if (at == 0) {
      result.digits.insert(result.digits.begin(), '1');
    } else {
      ++result.digits[at - 1];
    }
  }
  // No leading zeros: the prefix began with a non-zero digit, or rounded to zero itself.
  std::size_t first = result.digits.find_first_not_of('0');
  if (first == std::string::npos) result.digits.clear();
  return result;
}

bool within_float_epsilon(const DecimalNumber& left, const DecimalNumber& right) {
  // Both as integers times 10^lowest; then |difference| * 10^lowest <= 2^-52.
  std::int64_t lowest = std::min(left.exponent, right.exponent);
  BigUnsigned a = scaled_decimal(left, lowest);
  BigUnsigned b = scaled_decimal(right, lowest);
  // Opposite signs add magnitudes; equal signs subtract the smaller from the larger.
  BigUnsigned difference;
  if (left.negative != right.negative) {
    difference = std::move(a);
    difference += b;
  } else if (compare(a, b) >= 0) {
    difference = std::move(a);
    difference -= b;
  } else {
    difference = std::move(b);
    difference -= a;
  }
  if (difference.is_zero()) return true;
  // A non-zero integer times 10^lowest is at least 1 when lowest >= 0.
  if (lowest >= 0) return false;
  difference <<= 52;
  return compare(difference, BigUnsigned::power_of_ten(static_cast<std::uint64_t>(-lowest))) <= 0;
}

}  // namespace hexalume::value
