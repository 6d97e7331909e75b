#include "value/big_unsigned.hpp"

#include <algorithm>

#include "value/internal_error.hpp"
#include "value/interrupt.hpp"

namespace hexalume::value {

namespace {

constexpr std::uint32_t kDecimalChunk = 1000000000;  // 10^9, the largest power of ten in a limb
constexpr int kDecimalChunkDigits = 9;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

BigUnsigned::BigUnsigned(std::uint64_t value) {
  while (value != 0) {
    limbs_.push_back(static_cast<std::uint32_t>(value));
    value >>= 32;
  }
}

BigUnsigned BigUnsigned::from_decimal(std::string_view digits) {
  BigUnsigned result;
  result.limbs_.reserve(digits.size() / 9 + 1);
  // Nine digits at a time: one multiply-add pass per chunk instead of per digit.
  std::size_t at = 0;
  std::size_t first = digits.size() % kDecimalChunkDigits;
  if (first == 0) first = kDecimalChunkDigits;
  while (at < digits.size()) {
    std::uint32_t chunk = 0;
    std::uint32_t scale = 1;
    for (std::size_t end = at + first; at < end; ++at) {
      char c = digits[at];
      if (c < '0' || c > '9') throw InternalError("decimal digits expected");
      chunk = chunk * 10 + static_cast<std::uint32_t>(c - '0');
      scale *= 10;
    }
    // Each chunk costs a pass over the limbs: a long number is a long loop.
    poll_interrupt(result.limbs_.size() + 1);
    result *= scale;
    result.add_small(chunk);
    first = kDecimalChunkDigits;
  }
  return result;
}

BigUnsigned BigUnsigned::from_hex(std::string_view digits) {
  BigUnsigned result;
  result.limbs_.assign(digits.size() / 8 + 1, 0);
  // From the last digit: digit k from the end holds bits 4k..4k+3.
  for (std::size_t k = 0; k < digits.size(); ++k) {
    int digit = hex_digit(digits[digits.size() - 1 - k]);
    if (digit < 0) throw InternalError("hexadecimal digits expected");
    result.limbs_[k / 8] |= static_cast<std::uint32_t>(digit) << (4 * (k % 8));
  }
  result.trim();
  return result;
}

BigUnsigned BigUnsigned::power_of_ten(std::uint64_t exponent) {
  BigUnsigned result = power_of_five(exponent);
  result <<= exponent;
  return result;
}

BigUnsigned BigUnsigned::power_of_five(std::uint64_t exponent) {
  BigUnsigned result(1);
  constexpr std::uint32_t kFive13 = 1220703125;  // 5^13, the largest power of five in a limb
  for (; exponent >= 13; exponent -= 13) {
    poll_interrupt(result.limbs_.size() + 1);
    result *= kFive13;
  }
  std::uint32_t rest = 1;
  for (; exponent > 0; --exponent) rest *= 5;
  result *= rest;
  return result;
}

std::uint64_t BigUnsigned::bit_length() const {
  if (limbs_.empty()) return 0;
  return 32 * (limbs_.size() - 1) + (32 - static_cast<std::uint64_t>(__builtin_clz(limbs_.back())));
}

void BigUnsigned::append_decimal(std::string& out) const {
  if (limbs_.empty()) {
    out.push_back('0');
    return;
  }
  BigUnsigned rest = *this;
  std::vector<std::uint32_t> chunks;  // base 10^9, least significant first
  chunks.reserve(limbs_.size() * 32 / 29 + 1);
  while (!rest.is_zero()) {
    poll_interrupt(rest.limbs_.size());
    chunks.push_back(rest.divide_small(kDecimalChunk));
  }
  std::string top = std::to_string(chunks.back());
  out.append(top);
  for (std::size_t i = chunks.size() - 1; i-- > 0;) {
    char buffer[kDecimalChunkDigits];
    std::uint32_t chunk = chunks[i];
    for (int k = kDecimalChunkDigits - 1; k >= 0; --k) {
      buffer[k] = static_cast<char>('0' + chunk % 10);
      chunk /= 10;
    }
    out.append(buffer, kDecimalChunkDigits);
  }
}

void BigUnsigned::append_hex(std::string& out) const {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (limbs_.empty()) {
    out.push_back('0');
    return;
  }
  bool leading = true;
  for (std::size_t i = limbs_.size(); i-- > 0;) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      unsigned digit = (limbs_[i] >> shift) & 0xF;
      if (leading && digit == 0) continue;
      leading = false;
      out.push_back(kDigits[digit]);
    }
  }
}

BigUnsigned& BigUnsigned::operator+=(const BigUnsigned& other) {
  if (limbs_.size() < other.limbs_.size()) limbs_.resize(other.limbs_.size(), 0);
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < limbs_.size(); ++i) {
    std::uint64_t sum = carry + limbs_[i] + (i < other.limbs_.size() ? other.limbs_[i] : 0);
    limbs_[i] = static_cast<std::uint32_t>(sum);
    carry = sum >> 32;
    if (carry == 0 && i >= other.limbs_.size()) break;
  }
  if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  return *this;
}

BigUnsigned& BigUnsigned::operator-=(const BigUnsigned& other) {
  if (compare(*this, other) < 0) throw InternalError("big subtraction below zero");
  std::int64_t borrow = 0;
  for (std::size_t i = 0; i < limbs_.size(); ++i) {
    std::int64_t difference = static_cast<std::int64_t>(limbs_[i]) - borrow -
                              (i < other.limbs_.size() ? other.limbs_[i] : 0);
    borrow = difference < 0 ? 1 : 0;
    limbs_[i] = static_cast<std::uint32_t>(difference + (borrow << 32));
    if (borrow == 0 && i >= other.limbs_.size()) break;
  }
  trim();
  return *this;
}

BigUnsigned& BigUnsigned::operator*=(std::uint32_t factor) {
  if (factor == 0) {
    limbs_.clear();
    return *this;
  }
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : limbs_) {
    std::uint64_t product = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(product);
    carry = product >> 32;
  }
  if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  return *this;
}

BigUnsigned& BigUnsigned::operator<<=(std::uint64_t bits) {
  if (limbs_.empty() || bits == 0) return *this;
  const std::size_t whole = bits / 32;
  const unsigned part = static_cast<unsigned>(bits % 32);
  if (part != 0) {
    std::uint32_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      std::uint32_t next = limb >> (32 - part);
      limb = (limb << part) | carry;
      carry = next;
    }
    if (carry != 0) limbs_.push_back(carry);
  }
  limbs_.insert(limbs_.begin(), whole, 0);
  return *this;
}

BigUnsigned operator*(const BigUnsigned& left, const BigUnsigned& right) {
  BigUnsigned result;
  if (left.is_zero() || right.is_zero()) return result;
  result.limbs_.assign(left.limbs_.size() + right.limbs_.size(), 0);
  for (std::size_t i = 0; i < left.limbs_.size(); ++i) {
    poll_interrupt(right.limbs_.size());
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < right.limbs_.size(); ++j) {
      std::uint64_t product =
          std::uint64_t{left.limbs_[i]} * right.limbs_[j] + result.limbs_[i + j] + carry;
      result.limbs_[i + j] = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    result.limbs_[i + right.limbs_.size()] = static_cast<std::uint32_t>(carry);
  }
  result.trim();
  return result;
}

int compare(const BigUnsigned& left, const BigUnsigned& right) {
  if (left.limbs_.size() != right.limbs_.size()) {
    return left.limbs_.size() < right.limbs_.size() ? -1 : 1;
  }
  for (std::size_t i = left.limbs_.size(); i-- > 0;) {
    if (left.limbs_[i] != right.limbs_[i]) return left.limbs_[i] < right.limbs_[i] ? -1 : 1;
  }
  return 0;
}

void BigUnsigned::add_small(std::uint32_t addend) {
  std::uint64_t carry = addend;
  for (std::size_t i = 0; carry != 0 && i < limbs_.size(); ++i) {
    std::uint64_t sum = std::uint64_t{limbs_[i]} + carry;
    limbs_[i] = static_cast<std::uint32_t>(sum);
    carry = sum >> 32;
  }
  if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
}

std::uint32_t BigUnsigned::divide_small(std::uint32_t divisor) {
  std::uint64_t remainder = 0;
  for (std::size_t i = limbs_.size(); i-- > 0;) {
    std::uint64_t current = (remainder << 32) | limbs_[i];
    limbs_[i] = static_cast<std::uint32_t>(current / divisor);
    remainder = current % divisor;
  }
  trim();
  return static_cast<std::uint32_t>(remainder);
}

void BigUnsigned::trim() {
  while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
}

}  // namespace hexalume::value
