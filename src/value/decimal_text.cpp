#include "value/decimal_text.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <string>

namespace hexalume::value {

namespace {

// A decimal number as 0.DIGITS times 10^exponent, without leading or trailing zeros in DIGITS
// (empty for zero, whose sign and exponent then do not matter).
struct Decimal {
  bool negative = false;
  std::string digits;
  std::int64_t exponent = 0;
};

// Exponents past this bound do not occur in a finite double's text; clamping keeps the
// arithmetic safe for texts such as 1e999999999999999999999.
constexpr std::int64_t kExponentBound = 1'000'000'000;

// Reads the number grammar of JSON and of std::to_chars ("1.5e-07", "1e+16").
Decimal decimal_of(std::string_view text) {
  Decimal decimal;
  std::size_t at = 0;
  if (at < text.size() && text[at] == '-') {
    decimal.negative = true;
    ++at;
  }
  std::int64_t integer_digits = 0;  // digits before the point, after the leading zeros
  bool seen_point = false;
  std::int64_t leading_fraction_zeros = 0;  // zeros after the point before the first digit
  for (; at < text.size(); ++at) {
    char c = text[at];
    if (c == '.') {
      seen_point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (decimal.digits.empty() && c == '0') {
      if (seen_point) ++leading_fraction_zeros;
      continue;
    }
    decimal.digits.push_back(c);
    if (!seen_point) ++integer_digits;
  }
  std::int64_t written_exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    bool negative_exponent = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      negative_exponent = text[at] == '-';
      ++at;
    }
    for (; at < text.size(); ++at) {
      written_exponent = written_exponent * 10 + (text[at] - '0');
      if (written_exponent > kExponentBound) written_exponent = kExponentBound;
    }
    if (negative_exponent) written_exponent = -written_exponent;
  }
  while (!decimal.digits.empty() && decimal.digits.back() == '0') decimal.digits.pop_back();
  decimal.exponent =
      (integer_digits > 0 ? integer_digits : -leading_fraction_zeros) + written_exponent;
  return decimal;
}

}  // namespace

bool written_exactly(std::string_view text, double number) {
  std::array<char, 32> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
  if (error != std::errc{}) return false;
  Decimal written = decimal_of(text);
  Decimal shortest = decimal_of(std::string_view(buffer.data(), end));
  if (written.digits.empty() || shortest.digits.empty()) {
    return written.digits.empty() && shortest.digits.empty();
  }
  return written.negative == shortest.negative && written.digits == shortest.digits &&
         written.exponent == shortest.exponent;
}

}  // namespace hexalume::value
