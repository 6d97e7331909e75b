#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace hexalume::value {

// Deferred stands for a part that the two inputs hold equally at the same position and that was
// never converted: the same Deferred node (same id) sits at that position in both trees, so the
// comparison sees identical nodes and never looks inside. Only the Python layer makes them, and
// only where nothing but unchanged list neighbours shown for context may ask for the value.
enum class Kind : std::uint8_t { Null, Bool, Number, String, List, Object, Deferred };

// Non-negative integers are always Unsigned, negative integers always Signed, and integers
// outside both 64-bit ranges always Big (sign and binary magnitude in the arena); floats are
// finite.
enum class NumberRep : std::uint8_t { Unsigned, Signed, Float, Big };

struct Member;

// One tree position in 16 bytes. A Node never owns memory: strings, items and members live in
// the Arena of the Value that holds the tree, so copying a Node copies a view, not a subtree.
// String bytes are always followed by zeros up to at least eight bytes (make_string guarantees
// it), so comparisons may load a whole first word.
struct Node {
  Kind kind = Kind::Null;
  NumberRep rep = NumberRep::Unsigned;
  std::uint16_t size_high = 0;  // the size is 48 bits: size_high:size_low
  std::uint32_t size_low = 0;
  union {
    bool boolean;
    std::uint64_t unsigned_int;
    std::int64_t signed_int;
    double floating;
    const char* chars;
    const std::uint32_t* big;  // a Big number: a sign word (1: negative), then size() limbs
    const Node* items;
    const Member* members;
  };

  Node() : unsigned_int(0) {}

  std::size_t size() const { return (std::size_t{size_high} << 32) | size_low; }
  void set_size(std::size_t size) {
    size_low = static_cast<std::uint32_t>(size);
    size_high = static_cast<std::uint16_t>(size >> 32);
  }
  std::string_view string() const { return {chars, size()}; }
  std::span<const Node> list() const { return {items, size()}; }
  std::span<const Member> object() const;
};
static_assert(sizeof(Node) == 16);

// An object member; `key` is always a String node. Members of an object are kept in ascending
// byte order of their keys, with no key twice.
struct Member {
  Node key;
  Node value;
};

inline std::span<const Member> Node::object() const { return {members, size()}; }

// Bump allocator for the nodes and bytes of one tree. Memory is released only with the arena.
// Large trees fill blocks of one huge page each, mapped from the system; a released huge block
// is kept for the next arena that needs one (16 of them at most in the whole process, whichever
// thread releases them), and every other large block goes back to the system at once.
class Arena {
 public:
  Arena() = default;
  // An arena whose first block holds `first_block_bytes` (header included), for a use that
  // knows it will need about that much: a block of the default size would be followed by more.
  explicit Arena(std::size_t first_block_bytes) : next_block_size_(first_block_bytes) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  Arena(Arena&&) noexcept;
  Arena& operator=(Arena&&) noexcept;
  ~Arena();

  // Whether nothing was ever allocated here (or all of it was taken over).
  bool empty() const { return head_ == nullptr; }

  void* allocate(std::size_t bytes, std::size_t alignment) {
    // Inline: conversion allocates once or twice per node.
    const auto address = reinterpret_cast<std::uintptr_t>(cursor_);
    const std::uintptr_t start = (address + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
    if (cursor_ != nullptr && start <= reinterpret_cast<std::uintptr_t>(end_) &&
        reinterpret_cast<std::uintptr_t>(end_) - start >= bytes) [[likely]] {
      cursor_ = reinterpret_cast<char*>(start + bytes);
      return reinterpret_cast<char*>(start);
    }
    return allocate_in_new_block(bytes, alignment);
  }
  Node* allocate_nodes(std::size_t count) {
    return static_cast<Node*>(allocate(count * sizeof(Node), alignof(Node)));
  }
  Member* allocate_members(std::size_t count) {
    return static_cast<Member*>(allocate(count * sizeof(Member), alignof(Member)));
  }
  // Takes over every block of `other`, which is left empty; nodes pointing into it stay valid.
  void adopt(Arena&& other);

  // A point in the allocation sequence. rewind() gives back everything allocated since, when it
  // all lies in the block being filled (else it does nothing): the caller guarantees that no
  // node still in use points into that memory.
  struct Mark {
    const void* block;
    char* cursor;
  };
  Mark mark() const { return {head_, cursor_}; }
  void rewind(Mark mark) {
    if (mark.block == head_ && mark.block != nullptr) cursor_ = mark.cursor;
  }

  // How many released huge blocks the process holds for reuse (for tests and tuning).
  static std::size_t pooled_blocks();

 private:
  struct Block;
  void* allocate_in_new_block(std::size_t bytes, std::size_t alignment);

  Block* head_ = nullptr;  // the block being filled; older blocks follow through `next`
  char* cursor_ = nullptr;
  char* end_ = nullptr;
  std::size_t next_block_size_ = 0;  // bytes of the next block, header included
};

// The size of one huge page on x86-64 and arm64 Linux, and of the pages mapped in any case.
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
inline constexpr std::size_t kPageBytes = std::size_t{4} << 10;

// `bytes` of zeroed memory mapped from the system, to be given back with unmap_pages(memory,
// bytes). From one huge page on, `bytes` must be whole huge pages: the memory is then aligned
// to one and backed by huge pages where the system grants them (advice only), so that memory
// read at random takes one TLB entry per 2 MiB instead of per 4 KiB. Throws std::bad_alloc.
void* map_pages(std::size_t bytes);
void unmap_pages(void* memory, std::size_t bytes);

// Scalar node makers. Strings copy their bytes into the arena; make_string is the only way to
// make a String node.
inline Node make_null() { return Node{}; }
Node make_bool(bool value);
Node make_unsigned(std::uint64_t value);
// Stores a non-negative value as Unsigned, so callers need not check the sign.
Node make_signed(std::int64_t value);
Node make_float(double value);
// An integer given by sign and magnitude (32-bit limbs, least significant first; zero limbs at
// the top allowed): Unsigned or Signed when it fits 64 bits, else a Big node whose limbs are
// copied into the arena without zero limbs at the top. The only way to make a Big node.
Node make_big_integer(Arena& arena, bool negative, std::span<const std::uint32_t> magnitude);
// The same from decimal digits with an optional leading "-" (leading zeros allowed). Quadratic
// in the number of digits: for literals and tests. Throws InternalError on any other text.
Node make_big_integer(Arena& arena, std::string_view decimal_text);

// The sign and magnitude of an integer node (Unsigned, Signed or Big): one form per value,
// whatever representation holds it (zero is never negative and has no limbs).
struct IntegerParts {
  bool negative = false;
  std::span<const std::uint32_t> magnitude;  // least significant first, no zero limb at the top
};
// `buffer` backs the magnitude of a 64-bit value. Throws InternalError for a Float node.
IntegerParts integer_parts(const Node& number, std::uint32_t (&buffer)[2]);
Node make_string(Arena& arena, std::string_view text);
// A Deferred node; `id` tells it apart from the other Deferred nodes of the same trees.
inline Node make_deferred(std::uint64_t id) {
  // Made as two whole words (the kind is the low byte of the first): a node written field by
  // field and then copied whole waits for its stores to reach the cache.
  const std::uint64_t words[2] = {static_cast<std::uint64_t>(Kind::Deferred), id};
  Node node;
  std::memcpy(&node, words, sizeof node);
  return node;
}
// Container makers take arrays already allocated in the same arena and filled.
Node make_list(const Node* items, std::size_t count);
Node make_object(const Member* members, std::size_t count);

// The same view: same kind, size and payload, so for texts and containers the same memory.
// Identical nodes are equal (floats are never NaN), whatever they hold.
inline bool same_node(const Node& left, const Node& right) {
  return std::memcmp(&left, &right, sizeof(Node)) == 0;
}

// Sorts members by key bytes (stable) and keeps, for each key, the member that came last.
// Returns the new count; the array is rearranged in place.
std::size_t sort_members(Member* members, std::size_t count);

// Whether a String node holds exactly `bytes` (which need no padding).
bool text_equals(const Node& text, std::string_view bytes);

namespace detail {
bool text_less_in_full(const Node& left, const Node& right);
}  // namespace detail

// Byte order of two String nodes (the order of object keys). Inline for the first word, which
// settles most pairs of keys (every text can be read a whole word at a time).
inline bool text_less(const Node& left, const Node& right) {
  std::uint64_t left_word;
  std::uint64_t right_word;
  std::memcpy(&left_word, left.chars, sizeof left_word);
  std::memcpy(&right_word, right.chars, sizeof right_word);
  if (left_word != right_word) return __builtin_bswap64(left_word) < __builtin_bswap64(right_word);
  return detail::text_less_in_full(left, right);
}

// Deep copy of `node` whose memory lives in `arena`.
Node copy_node(const Node& node, Arena& arena);

// Same kind; integers equal when their values are, floats by IEEE == (so 0.0 == -0.0), and an
// integer never equals a float (1 != 1.0); strings byte for byte; lists item by item; objects
// same keys, equal values.
bool equal(const Node& left, const Node& right);

// As `equal`, but containers more than `levels` levels below the two nodes are not looked into,
// and false then means "not shown equal". Bounds the cost of testing one deep subtree.
bool equal_within(const Node& left, const Node& right, std::size_t levels);

// The member with this key, or nullptr. Binary search over the sorted members.
const Member* find_entry(const Node& object, std::string_view key);
// The value of the member with this key, or nullptr.
const Node* find_member(const Node& object, std::string_view key);

// An owning tree: the root node plus the arena holding everything below it.
// Copies are deep; moves transfer the arena.
class Value {
 public:
  Value() = default;
  explicit Value(Node scalar) : root_(scalar) {}  // only for nodes that own no memory
  Value(Arena&& arena, Node root) : arena_(std::move(arena)), root_(root) {}
  Value(const Value& other);
  Value& operator=(const Value& other);
  Value(Value&&) noexcept = default;
  Value& operator=(Value&&) noexcept = default;

  // Deep copy of `node` (which may belong to any tree) into a new Value.
  static Value copy_of(const Node& node);
  // One tree whose root is the list [first, second], owning the memory of both.
  static Value pair(Value first, Value second);
  static Value string(std::string_view text);

  const Node& root() const { return root_; }
  Kind kind() const { return root_.kind; }

  // Takes over `other`'s memory and returns its root, to be linked into this tree.
  Node adopt(Value&& other);
  // The arena of this tree. It moves with the tree: a reference to it is not kept past a move.
  Arena& arena() { return arena_; }

 private:
  // Held in place, not on the heap: a comparison makes several trees, and each would otherwise
  // cost an allocation of its own.
  Arena arena_;
  Node root_;
};

inline bool operator==(const Value& left, const Value& right) {
  return equal(left.root(), right.root());
}

}  // namespace hexalume::value
