#include "value/number_text.hpp"

#include <charconv>

#include "value/big_unsigned.hpp"

namespace hexalume::value {

namespace {

template <typename Integer>
void append_integer(std::string& out, Integer number) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  out.append(buffer, result.ptr);
}

}  // namespace

void append_float_text(std::string& out, double number) {
  // Shortest round-trip digits in scientific form, e.g. "-1.2345e+02"; then laid out again.
  char buffer[40];
  auto result =
      std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  if (!text.empty() && text.front() == '-') {
    out.push_back('-');
    text.remove_prefix(1);
  }
  std::size_t e_at = text.find('e');
  std::string_view mantissa = text.substr(0, e_at);
  std::string_view exponent_text = text.substr(e_at + 1);
  if (!exponent_text.empty() && exponent_text.front() == '+') exponent_text.remove_prefix(1);
  int exponent = 0;
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  // At most 17 significant digits; kept on the stack since this runs once per number.
  char digit_buffer[24];
  std::size_t digit_count = 0;
  for (char c : mantissa) {
    if (c != '.') digit_buffer[digit_count++] = c;
  }
  std::string_view digits(digit_buffer, digit_count);
  if (exponent >= -5 && exponent <= 15) {
    if (exponent < 0) {
      out.append("0.");
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out.append(digits);
    } else {
      std::size_t integer_digits = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= integer_digits) {
        out.append(digits);
        out.append(integer_digits - digits.size(), '0');
        out.append(".0");
      } else {
        out.append(digits.substr(0, integer_digits));
        out.push_back('.');
        out.append(digits.substr(integer_digits));
      }
    }
    return;
  }
  out.push_back(digits[0]);
  if (digits.size() > 1) {
    out.push_back('.');
    out.append(digits.substr(1));
  }
  out.push_back('e');
  out.push_back(exponent < 0 ? '-' : '+');
  append_integer(out, exponent < 0 ? -exponent : exponent);
}

void append_number_text(std::string& out, const Node& number) {
  switch (number.rep) {
    case NumberRep::Unsigned:
      append_integer(out, number.unsigned_int);
      return;
    case NumberRep::Signed:
      append_integer(out, number.signed_int);
      return;
    case NumberRep::Float:
      append_float_text(out, number.floating);
      return;
    case NumberRep::Big: {
      std::uint32_t buffer[2];
      const IntegerParts parts = integer_parts(number, buffer);
      if (parts.negative) out.push_back('-');
      BigUnsigned::from_limbs(parts.magnitude).append_decimal(out);
      return;
    }
  }
}

std::string number_text(const Node& number) {
  std::string out;
  append_number_text(out, number);
  return out;
}

}  // namespace hexalume::value
