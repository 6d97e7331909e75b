#include "value/hash.hpp"

#include <sys/random.h>

#include <chrono>
#include <cstring>
#include <string_view>

#include "value/internal_error.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::value {

namespace {

// Odd constants with well-spread bits (two large primes and more); each kind starts from its own
// seed, so a value never hashes like one of another kind by construction. The key's words are
// drawn at random and xored onto the first three, so that a key of zeros still mixes well.
constexpr std::uint64_t kLeft = 0x9e3779b97f4a7c15;
constexpr std::uint64_t kRight = 0xe7037ed1a0b428db;
constexpr std::uint64_t kTail = 0x8ebc6af09c88c6e3;
constexpr std::uint64_t kNull = 0x2d358dccaa6c78a5;
constexpr std::uint64_t kBool = 0x4b33a62ed433d4a3;
constexpr std::uint64_t kInteger = 0x4d5a2da51de1aa47;
constexpr std::uint64_t kNegative = 0xa0761d6478bd642f;
constexpr std::uint64_t kBig = 0x589965cc75374cc3;
constexpr std::uint64_t kFloat = 0x1d8e4e27c47d124f;
constexpr std::uint64_t kString = 0xc2b2ae3d27d4eb4f;
constexpr std::uint64_t kLongString = 0x3c6ef372fe94f82b;
constexpr std::uint64_t kList = 0x165667b19e3779f9;
constexpr std::uint64_t kObject = 0x27d4eb2f165667c5;

std::uint64_t load64(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// A node as one word and a seed that tells its kind (and, for short texts, its length), so that
// one mix hashes a scalar: containers and long texts give their own hash as the word.
struct Parts {
  std::uint64_t word;
  std::uint64_t seed;
};

class Hasher {
 public:
  explicit Hasher(const HashKey& key) : key_(key) {}

  [[gnu::always_inline]] Parts parts(const Node& node) const {
    switch (node.kind) {
      case Kind::Null:
        return {0, kNull};
      case Kind::Bool:
        return {node.boolean ? 1u : 0u, kBool};
      case Kind::Number:
        return number_parts(node);
      case Kind::String:
        return text_parts(node);
      case Kind::List:
        return {container_hash(node), kList};
      case Kind::Object:
        return {container_hash(node), kObject};
      case Kind::Deferred:
        throw InternalError("an unconverted part of the inputs was hashed");
    }
    return {0, kNull};
  }

  // The keyed 128-bit product folded to 64 bits, so that every input bit reaches every output
  // bit, and both inputs xored back in: a word that zeroes its factor (the other side's key word)
  // leaves the other input in the result instead of wiping it out.
  std::uint64_t mix(std::uint64_t a, std::uint64_t b) const {
    const unsigned __int128 product = static_cast<unsigned __int128>(a ^ key_.left) *
                                      static_cast<unsigned __int128>(b ^ key_.right);
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64) ^ a ^ b;
  }

 private:
  // Bytes eight at a time. Texts shorter than eight bytes are zero padded (make_string keeps them
  // so), so their one word can be loaded whole; the length is mixed in, so padding cannot collide.
  std::uint64_t hash_bytes(std::uint64_t seed, const char* bytes, std::size_t size) const {
    std::uint64_t hash = mix(seed, size);
    if (size <= 8) return mix(hash, load64(bytes) ^ key_.tail);
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) hash = mix(hash, load64(bytes + at));
    // The last word overlaps the previous one; the length already tells where it starts.
    if (at < size) hash = mix(hash, load64(bytes + size - 8) ^ key_.tail);
    return hash;
  }

  Parts number_parts(const Node& number) const {
    switch (number.rep) {
      case NumberRep::Unsigned:
        return {number.unsigned_int, kInteger};
      case NumberRep::Signed:
        // A Signed node holding a non-negative value equals the Unsigned one.
        return {static_cast<std::uint64_t>(number.signed_int),
                number.signed_int >= 0 ? kInteger : kNegative};
      case NumberRep::Float: {
        // +0.0 for both zeros, which compare equal.
        const double value = number.floating == 0.0 ? 0.0 : number.floating;
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return {bits, kFloat};
      }
      case NumberRep::Big:
        // The sign word and the limbs.
        return {hash_bytes(kBig, reinterpret_cast<const char*>(number.big),
                           (number.size() + 1) * sizeof(std::uint32_t)),
                kBig};
    }
    return {0, kBig};
  }

  // Texts of up to eight bytes are their zero-padded word, their length in the seed.
  Parts text_parts(const Node& text) const {
    const std::size_t size = text.size();
    if (size <= 8) return {load64(text.chars), kString + size};
    return {hash_bytes(kString, text.chars, size), kLongString};
  }

  // Items and members are combined in order, one mix for each item and for each key and value.
  // Every mix joins the running hash (random under the key) with one word of the input: two words
  // of the input are never xored together first, which would let different ones cancel out.
  std::uint64_t container_hash(const Node& node) const {
    check_stack(kInComparison);
    const std::size_t count = node.size();
    poll_interrupt(count);
    if (node.kind == Kind::List) {
      std::uint64_t hash = mix(kList, count);
      for (std::size_t i = 0; i < count; ++i) {
        const Parts item = parts(node.items[i]);
        hash = mix(hash ^ item.seed, item.word);
      }
      return hash;
    }
    // Members are in key order, so equal objects visit them alike.
    std::uint64_t hash = mix(kObject, count);
    for (std::size_t i = 0; i < count; ++i) {
      const Member& member = node.members[i];
      const Parts key = text_parts(member.key);
      const Parts value = parts(member.value);
      hash = mix(mix(hash ^ key.seed, key.word) ^ value.seed, value.word);
    }
    return hash;
  }

  HashKey key_;
};

// Words from the system's random source; the clock and an address where it has none to give.
HashKey random_key() {
  std::uint64_t words[3] = {};
  if (getrandom(words, sizeof words, 0) != static_cast<ssize_t>(sizeof words)) {
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    words[0] = now;
    words[1] = reinterpret_cast<std::uintptr_t>(&words);
    words[2] = now * kTail;
  }
  return {words[0] ^ kLeft, words[1] ^ kRight, words[2] ^ kTail};
}

}  // namespace

const HashKey& process_hash_key() {
  static const HashKey key = random_key();
  return key;
}

HashKey fresh_hash_key() { return random_key(); }

std::uint64_t structural_hash(const Node& node, const HashKey& key) {
  const Hasher hasher(key);
  const Parts whole = hasher.parts(node);
  return hasher.mix(whole.seed, whole.word);
}

}  // namespace hexalume::value
