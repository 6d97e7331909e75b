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

DecimalNumber without_trailing_zeros(const DecimalNumber& number) {
  DecimalNumber result = number;
  const std::size_t last = result.digits.find_last_not_of('0');
  const std::size_t size = last == std::string::npos ? 0 : last + 1;
  if (size == 0) result.exponent = 0;
  result.exponent += static_cast<std::int64_t>(result.digits.size() - size);
  result.digits.resize(size);
  return result;
}

// For a non-zero number, the power of ten just above it: |x| lies in [10^(top - 1), 10^top).
std::int64_t top_of(const DecimalNumber& number) {
  return static_cast<std::int64_t>(number.digits.size()) + number.exponent;
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
  if (number.rep == NumberRep::Float) return exact_value(number.floating);
  std::uint32_t buffer[2];
  const IntegerParts parts = integer_parts(number, buffer);
  ExactNumber result;
  result.negative = parts.negative;
  result.magnitude = BigUnsigned::from_limbs(parts.magnitude);
  return result;
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
  ExactNumber exact = exact_value(number);
  result.negative = exact.negative;
  if (exact.magnitude.is_zero()) return result;
  if (exact.exponent >= 0) {
    exact.magnitude <<= static_cast<std::uint64_t>(exact.exponent);
  } else {
    // m * 2^-k = m * 5^k * 10^-k
    exact.magnitude =
        exact.magnitude * BigUnsigned::power_of_five(static_cast<std::uint64_t>(-exact.exponent));
    result.exponent = exact.exponent;
  }
  exact.magnitude.append_decimal(result.digits);
  return result;
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

DecimalNumber round_to_significant_digits(const Node& number, std::uint32_t digits) {
  // A double's exact value has at most 767 significant digits, so below this many digits the
  // correctly rounded text of to_chars has room for two guard digits.
  constexpr std::uint32_t kFloatDigits = 780;
  if (number.rep != NumberRep::Float || digits >= kFloatDigits) {
    return round_to_significant_digits(exact_decimal(number), digits);
  }
  // to_chars rounds the exact value to nearest at any precision. With two guard digits after
  // the rounding digit, only a tail that reads 500 leaves open which side of the half the
  // exact value lies on; every other tail decides as the exact value does.
  char text[kFloatDigits + 16];
  const int precision = static_cast<int>(digits) + 2;
  const char* end = std::to_chars(text, text + sizeof text, std::fabs(number.floating),
                                  std::chars_format::scientific, precision)
                        .ptr;
  DecimalNumber guarded;
  guarded.negative = std::signbit(number.floating);
  guarded.digits.push_back(text[0]);
  const char* at = text + 1;
  if (*at == '.') {
    for (++at; *at != 'e'; ++at) guarded.digits.push_back(*at);
  }
  int exponent = 0;
  std::from_chars(at + 1 + (at[1] == '+' ? 1 : 0), end, exponent);
  if (guarded.digits.compare(digits, 3, "500") == 0) {
    return round_to_significant_digits(exact_decimal(number), digits);
  }
  guarded.exponent = exponent - precision;
  return round_to_significant_digits(guarded, digits);
}

bool within_power_of_ten(const DecimalNumber& number, std::int64_t exponent) {
  const DecimalNumber trimmed = without_trailing_zeros(number);
  if (trimmed.digits.empty()) return true;
  const std::int64_t top = top_of(trimmed);
  if (top - 1 != exponent) return top - 1 < exponent;
  return trimmed.digits == "1";
}

bool within_float_epsilon(const DecimalNumber& left_number, const DecimalNumber& right_number) {
  const DecimalNumber left = without_trailing_zeros(left_number);
  const DecimalNumber right = without_trailing_zeros(right_number);
  if (left.digits.empty() && right.digits.empty()) return true;
  if (left.negative == right.negative && left.digits == right.digits &&
      left.exponent == right.exponent) {
    return true;
  }
  // Cheap answers before big arithmetic, so that long integers cost no more than their digits.
  // Two different integers differ by at least 1.
  if (std::min(left.exponent, right.exponent) >= 0) return false;
  // |x| lies in [10^(top - 1), 10^top). A number of at least 10^-15 differs by more than 2^-52
  // from zero, from any number of the other sign, and from one below a tenth of its lowest
  // bound (the difference is then above 0.9 * 10^-15).
  const bool left_larger =
      right.digits.empty() || (!left.digits.empty() && top_of(left) >= top_of(right));
  const DecimalNumber& larger = left_larger ? left : right;
  const DecimalNumber& smaller = left_larger ? right : left;
  if (top_of(larger) >= -14 && (smaller.digits.empty() || larger.negative != smaller.negative ||
                                top_of(smaller) <= top_of(larger) - 2)) {
    return false;
  }
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
