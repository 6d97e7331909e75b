#include "value/hash.hpp"

#include <cstring>
#include <string_view>

#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::value {

namespace {

// Odd constants with well-spread bits (the 64-bit golden ratio and two large primes); each kind
// starts from its own seed, so a value never hashes like one of another kind by construction.
constexpr std::uint64_t kMix0 = 0x9e3779b97f4a7c15;
constexpr std::uint64_t kMix1 = 0xe7037ed1a0b428db;
constexpr std::uint64_t kMix2 = 0x8ebc6af09c88c6e3;
constexpr std::uint64_t kNull = 0x2d358dccaa6c78a5;
constexpr std::uint64_t kBool = 0x4b33a62ed433d4a3;
constexpr std::uint64_t kInteger = 0x4d5a2da51de1aa47;
constexpr std::uint64_t kNegative = 0xa0761d6478bd642f;
constexpr std::uint64_t kBig = 0x589965cc75374cc3;
constexpr std::uint64_t kFloat = 0x1d8e4e27c47d124f;
constexpr std::uint64_t kString = 0xc2b2ae3d27d4eb4f;
constexpr std::uint64_t kList = 0x165667b19e3779f9;
constexpr std::uint64_t kObject = 0x27d4eb2f165667c5;

// The 128-bit product folded to 64 bits: every input bit reaches every output bit.
std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 product =
      static_cast<unsigned __int128>(a ^ kMix0) * static_cast<unsigned __int128>(b ^ kMix1);
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

std::uint64_t load64(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Bytes eight at a time. Texts shorter than eight bytes are zero padded (make_string keeps them
// so), so their one word can be loaded whole; the length is mixed in, so padding cannot collide.
std::uint64_t hash_bytes(std::uint64_t seed, const char* bytes, std::size_t size) {
  std::uint64_t hash = mix(seed, size);
  if (size <= 8) return mix(hash, load64(bytes) ^ kMix2);
  std::size_t at = 0;
  for (; at + 8 <= size; at += 8) hash = mix(hash, load64(bytes + at));
  // The last word overlaps the previous one; the length already tells where it starts.
  if (at < size) hash = mix(hash, load64(bytes + size - 8) ^ kMix2);
  return hash;
}

std::uint64_t hash_number(const Node& number) {
  switch (number.rep) {
    case NumberRep::Unsigned:
      return mix(kInteger, number.unsigned_int);
    case NumberRep::Signed:
      // A Signed node holding a non-negative value equals the Unsigned one.
      if (number.signed_int >= 0)
        return mix(kInteger, static_cast<std::uint64_t>(number.signed_int));
      return mix(kNegative, static_cast<std::uint64_t>(number.signed_int));
    case NumberRep::Float: {
      // +0.0 for both zeros, which compare equal.
      const double value = number.floating == 0.0 ? 0.0 : number.floating;
      std::uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      return mix(kFloat, bits);
    }
    case NumberRep::Big:
      return hash_bytes(kBig, number.chars, number.size());
  }
  return kBig;
}

}  // namespace

std::uint64_t structural_hash(const Node& node) {
  switch (node.kind) {
    case Kind::Null:
      return kNull;
    case Kind::Bool:
      return mix(kBool, node.boolean ? 1 : 0);
    case Kind::Number:
      return hash_number(node);
    case Kind::String:
      return hash_bytes(kString, node.chars, node.size());
    case Kind::List: {
      check_stack(kInComparison);
      const std::size_t count = node.size();
      poll_interrupt(count);
      std::uint64_t hash = mix(kList, count);
      for (std::size_t i = 0; i < count; ++i) hash = mix(hash, structural_hash(node.items[i]));
      return hash;
    }
    case Kind::Object: {
      // Members are in key order, so equal objects visit them alike.
      check_stack(kInComparison);
      const std::size_t count = node.size();
      poll_interrupt(count);
      std::uint64_t hash = mix(kObject, count);
      for (std::size_t i = 0; i < count; ++i) {
        const Member& member = node.members[i];
        hash = mix(hash, hash_bytes(kString, member.key.chars, member.key.size()));
        hash = mix(hash, structural_hash(member.value));
      }
      return hash;
    }
  }
  return kNull;
}

}  // namespace hexalume::value
