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

// Numbers in base 10^9, least significant chunk first: decimal text is written from them.
using Decimal = std::vector<std::uint32_t>;
using Chunks = std::span<const std::uint32_t>;

// Below this many chunks a product is computed by schoolbook; above, Karatsuba's three half-size
// products win.
constexpr std::size_t kKaratsubaMin = 40;
// Below this many limbs binary becomes decimal by repeated division by 10^9.
constexpr std::size_t kDirectLimbs = 64;

// out[offset..] += addend; out is long enough for the carry.
void add_chunks(Decimal& out, std::size_t offset, Chunks addend) {
  std::uint32_t carry = 0;
  std::size_t i = 0;
  for (; i < addend.size(); ++i) {
    std::uint32_t sum = out[offset + i] + addend[i] + carry;
    carry = sum >= kDecimalChunk ? 1 : 0;
    out[offset + i] = sum - carry * kDecimalChunk;
  }
  for (std::size_t at = offset + i; carry != 0; ++at) {
    std::uint32_t sum = out[at] + carry;
    carry = sum >= kDecimalChunk ? 1 : 0;
    out[at] = sum - carry * kDecimalChunk;
  }
}

// from -= subtrahend; requires from >= subtrahend.
void subtract_chunks(Decimal& from, Chunks subtrahend) {
  std::uint32_t borrow = 0;
  for (std::size_t i = 0; i < from.size() && (i < subtrahend.size() || borrow != 0); ++i) {
    const std::uint32_t take = (i < subtrahend.size() ? subtrahend[i] : 0) + borrow;
    borrow = from[i] < take ? 1 : 0;
    from[i] = from[i] + borrow * kDecimalChunk - take;
  }
  if (borrow != 0) throw InternalError("decimal subtraction below zero");
}

// out = left * right; out holds left.size() + right.size() chunks, zero on entry.
void multiply_chunks(Chunks left, Chunks right, std::uint32_t* out);

// Column by column: a column's products are summed in 128 bits and divided by 10^9 once, so
// the inner loop is multiply-adds without a carry chain.
void multiply_schoolbook(Chunks left, Chunks right, std::uint32_t* out) {
  const std::size_t columns = left.size() + right.size() - 1;
  unsigned __int128 carry = 0;
  for (std::size_t k = 0; k < columns; ++k) {
    unsigned __int128 sum = carry;
    const std::size_t first = k >= right.size() ? k - right.size() + 1 : 0;
    const std::size_t last = std::min(k, left.size() - 1);
    for (std::size_t i = first; i <= last; ++i) sum += std::uint64_t{left[i]} * right[k - i];
    out[k] = static_cast<std::uint32_t>(sum % kDecimalChunk);
    carry = sum / kDecimalChunk;
  }
  out[columns] = static_cast<std::uint32_t>(carry);
  poll_interrupt(left.size() * right.size() / 64 + 1);
}

Decimal sum_of_halves(Chunks number, std::size_t half) {
  Decimal sum(std::max(half, number.size() - half) + 1, 0);
  std::copy(number.begin(), number.begin() + static_cast<std::ptrdiff_t>(half), sum.begin());
  add_chunks(sum, 0, number.subspan(half));
  return sum;
}

void multiply_chunks(Chunks left, Chunks right, std::uint32_t* out) {
  if (left.size() < right.size()) std::swap(left, right);
  if (right.size() < kKaratsubaMin) {
    multiply_schoolbook(left, right, out);
    return;
  }
  const std::size_t total = left.size() + right.size();
  if (right.size() <= left.size() / 2) {
    // Unbalanced: left in slices as long as right, each product added in its place.
    Decimal sum(total + 1, 0);
    for (std::size_t at = 0; at < left.size(); at += right.size()) {
      const Chunks slice = left.subspan(at, std::min(right.size(), left.size() - at));
      Decimal product(slice.size() + right.size(), 0);
      multiply_chunks(slice, right, product.data());
      add_chunks(sum, at, product);
    }
    std::copy(sum.begin(), sum.begin() + static_cast<std::ptrdiff_t>(total), out);
    return;
  }
  // left = l1 * B^half + l0 and right likewise: left * right = z2 B^2half + z1 B^half + z0 with
  // z1 = (l0 + l1)(r0 + r1) - z0 - z2.
  const std::size_t half = left.size() / 2;
  Decimal low(2 * half, 0);
  multiply_chunks(left.first(half), right.first(half), low.data());
  Decimal high(total - 2 * half, 0);
  multiply_chunks(left.subspan(half), right.subspan(half), high.data());
  const Decimal left_sum = sum_of_halves(left, half);
  const Decimal right_sum = sum_of_halves(right, half);
  Decimal middle(left_sum.size() + right_sum.size(), 0);
  multiply_chunks(left_sum, right_sum, middle.data());
  subtract_chunks(middle, low);
  subtract_chunks(middle, high);
  Decimal sum(total + 1, 0);
  std::copy(low.begin(), low.end(), sum.begin());
  std::copy(high.begin(), high.end(), sum.begin() + static_cast<std::ptrdiff_t>(2 * half));
  std::size_t used = middle.size();
  while (used > 0 && middle[used - 1] == 0) --used;
  add_chunks(sum, half, Chunks(middle).first(used));
  std::copy(sum.begin(), sum.begin() + static_cast<std::ptrdiff_t>(total), out);
}

Decimal product_of(Chunks left, Chunks right) {
  Decimal product(left.size() + right.size(), 0);
  multiply_chunks(left, right, product.data());
  while (product.size() > 1 && product.back() == 0) product.pop_back();
  return product;
}

// 2^(32 * 2^k) in base 10^9, made on first use, each the square of the one before.
class PowersOfTwo {
 public:
  const Decimal& at(std::size_t k) {
    if (powers_.empty()) powers_.push_back({294967296, 4});  // 2^32
    while (powers_.size() <= k) powers_.push_back(product_of(powers_.back(), powers_.back()));
    return powers_[k];
  }

 private:
  std::vector<Decimal> powers_;
};

// Binary limbs to base 10^9, by splitting at a power-of-two number of limbs: for n limbs,
// high * 2^(32m) + low, where both halves convert recursively and the one product is Karatsuba's.
Decimal decimal_of(std::span<const std::uint32_t> limbs, PowersOfTwo& powers) {
  if (limbs.size() <= kDirectLimbs) {
    BigUnsigned rest = BigUnsigned::from_limbs(limbs);
    Decimal chunks;
    while (!rest.is_zero()) chunks.push_back(rest.divide_small(kDecimalChunk));
    poll_interrupt(limbs.size() * limbs.size() / 8 + 1);
    if (chunks.empty()) chunks.push_back(0);
    return chunks;
  }
  std::size_t k = 0;
  while ((std::size_t{2} << k) < limbs.size()) ++k;
  const std::size_t split = std::size_t{1} << k;
  const Decimal high = decimal_of(limbs.subspan(split), powers);
  Decimal result = product_of(high, powers.at(k));
  const Decimal low = decimal_of(limbs.first(split), powers);
  if (result.size() < low.size() + 1) result.resize(low.size() + 1, 0);
  result.push_back(0);
  add_chunks(result, 0, low);
  while (result.size() > 1 && result.back() == 0) result.pop_back();
  return result;
}

Decimal decimal_chunks(std::span<const std::uint32_t> limbs) {
  PowersOfTwo powers;
  return decimal_of(limbs, powers);
}

}  // namespace

BigUnsigned::BigUnsigned(std::uint64_t value) {
  while (value != 0) {
    limbs_.push_back(static_cast<std::uint32_t>(value));
    value >>= 32;
  }
}

BigUnsigned BigUnsigned::from_limbs(std::span<const std::uint32_t> limbs) {
  BigUnsigned result;
  result.limbs_.assign(limbs.begin(), limbs.end());
  result.trim();
  return result;
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
  const Decimal chunks = decimal_chunks(limbs_);
  std::size_t top = chunks.size();
  while (top > 1 && chunks[top - 1] == 0) --top;
  out.append(std::to_string(chunks[top - 1]));
  out.reserve(out.size() + (top - 1) * kDecimalChunkDigits);
  for (std::size_t i = top - 1; i-- > 0;) {
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
