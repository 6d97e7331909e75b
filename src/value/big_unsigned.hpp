#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hexalume::value {

// A non-negative integer of any size, for the few places that need exact arithmetic: decimal
// text of integers beyond 64 bits, and the numeric rules where a double would round. Sums,
// shifts and products by small factors are linear; the product of two large numbers and
// from_decimal are quadratic (schoolbook), which is fine for the sizes they meet. Decimal text
// is written by divide and conquer, in less than quadratic time. Long loops poll for interrupts
// (value::Cancelled may come out of them).
class BigUnsigned {
 public:
  BigUnsigned() = default;
  explicit BigUnsigned(std::uint64_t value);
  // 32-bit limbs, least significant first; zero limbs at the top are dropped.
  static BigUnsigned from_limbs(std::span<const std::uint32_t> limbs);

  // Digits '0'-'9' only (none gives zero); anything else throws InternalError.
  static BigUnsigned from_decimal(std::string_view digits);
  // Digits '0'-'9', 'a'-'f', 'A'-'F' only (none gives zero); anything else throws InternalError.
  static BigUnsigned from_hex(std::string_view digits);
  // 10^exponent and 5^exponent.
  static BigUnsigned power_of_ten(std::uint64_t exponent);
  static BigUnsigned power_of_five(std::uint64_t exponent);

  bool is_zero() const { return limbs_.empty(); }
  // Least significant first, no zero limb at the top (none for zero).
  std::span<const std::uint32_t> limbs() const { return limbs_; }
  std::uint64_t bit_length() const;

  // Appends the digits without leading zeros ("0" for zero). O(n^1.6) for n limbs.
  void append_decimal(std::string& out) const;
  void append_hex(std::string& out) const;

  BigUnsigned& operator+=(const BigUnsigned& other);
  // Requires *this >= other; throws InternalError otherwise.
  BigUnsigned& operator-=(const BigUnsigned& other);
  BigUnsigned& operator*=(std::uint32_t factor);
  BigUnsigned& operator<<=(std::uint64_t bits);
  // Divides in place by a non-zero divisor and returns the remainder.
  std::uint32_t divide_small(std::uint32_t divisor);
  friend BigUnsigned operator*(const BigUnsigned& left, const BigUnsigned& right);

  // Negative, zero or positive as left is less than, equal to or greater than right.
  friend int compare(const BigUnsigned& left, const BigUnsigned& right);

 private:
  void add_small(std::uint32_t addend);
  void trim();

  std::vector<std::uint32_t> limbs_;  // least significant first, no zero limb at the top
};

}  // namespace hexalume::value
