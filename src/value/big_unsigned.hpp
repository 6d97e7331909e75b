#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hexalume::value {

// A non-negative integer of any size, for the few places that need exact arithmetic: integers
// beyond 64 bits converted to and from text, and the numeric rules where a double would round.
// Schoolbook algorithms: quadratic in the number of digits, which is fine for the sizes met. An
// int of a few million bits still takes seconds, so the quadratic loops poll for interrupts
// (value::Cancelled may come out of them).
class BigUnsigned {
 public:
  BigUnsigned() = default;
  explicit BigUnsigned(std::uint64_t value);

  // Digits '0'-'9' only (none gives zero); anything else throws InternalError.
  static BigUnsigned from_decimal(std::string_view digits);
  // Digits '0'-'9', 'a'-'f', 'A'-'F' only (none gives zero); anything else throws InternalError.
  static BigUnsigned from_hex(std::string_view digits);
  // 10^exponent and 5^exponent.
  static BigUnsigned power_of_ten(std::uint64_t exponent);
  static BigUnsigned power_of_five(std::uint64_t exponent);

  bool is_zero() const { return limbs_.empty(); }
  std::uint64_t bit_length() const;

  // Appends the digits without leading zeros ("0" for zero).
  void append_decimal(std::string& out) const;
  void append_hex(std::string& out) const;

  BigUnsigned& operator+=(const BigUnsigned& other);
  // Requires *this >= other; throws InternalError otherwise.
  BigUnsigned& operator-=(const BigUnsigned& other);
  BigUnsigned& operator*=(std::uint32_t factor);
  BigUnsigned& operator<<=(std::uint64_t bits);
  friend BigUnsigned operator*(const BigUnsigned& left, const BigUnsigned& right);

  // Negative, zero or positive as left is less than, equal to or greater than right.
  friend int compare(const BigUnsigned& left, const BigUnsigned& right);

 private:
  void add_small(std::uint32_t addend);
  // Divides in place and returns the remainder.
  std::uint32_t divide_small(std::uint32_t divisor);
  void trim();

  std::vector<std::uint32_t> limbs_;  // least significant first, no zero limb at the top
};

}  // namespace hexalume::value
