#include "value/value.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>

#include "value/big_unsigned.hpp"
#include "value/internal_error.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::value {

struct Arena::Block {
  Block* next;
  std::size_t size;  // usable bytes after the header
};

namespace {

constexpr std::size_t kFirstBlockSize = 256;
// Large trees fill blocks of one huge page each (2 MiB on x86-64 and arm64 Linux): a million-node
// tree then costs a few dozen page faults instead of tens of thousands.
constexpr std::size_t kHugeBlockBytes = kHugePageBytes;

char* align_up(char* pointer, std::size_t alignment) {
  auto address = reinterpret_cast<std::uintptr_t>(pointer);
  address = (address + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
  return reinterpret_cast<char*>(address);
}

// Blocks from this size on are mapped from the system directly and unmapped when released, not
// taken from the C library's heap: freeing large heap chunks raises the library's threshold for
// mapping, after which large allocations stay in heaps that are never trimmed, and the memory of
// a comparison would stay with the process after the comparison is gone.
constexpr std::size_t kMappedBlockBytes = std::size_t{128} << 10;

// Huge blocks released by any thread, kept for the next trees instead of going back to the
// system: a fresh block costs the kernel's zeroing and faults of all its pages (a tenth of the
// time of converting a large document), and comparisons come in series. At most kPooledBlocks
// (32 MiB) stay, for the whole process; blocks beyond that are unmapped at once.
constexpr unsigned kPooledBlocks = 16;

struct BlockPool {
  std::mutex lock;
  void* blocks[kPooledBlocks];
  unsigned count = 0;
};

// Never destroyed: a tree released while the process exits still finds it.
BlockPool& block_pool() {
  static BlockPool* pool = new BlockPool;
  return *pool;
}

// Keeps `block` (a huge block) for reuse; false when the pool is full.
bool pool_block(void* block) {
  BlockPool& pool = block_pool();
  const std::lock_guard<std::mutex> held(pool.lock);
  if (pool.count == kPooledBlocks) return false;
  pool.blocks[pool.count++] = block;
  return true;
}

void* pooled_block() {
  BlockPool& pool = block_pool();
  const std::lock_guard<std::mutex> held(pool.lock);
  return pool.count > 0 ? pool.blocks[--pool.count] : nullptr;
}

// Whole pages from kMappedBlockBytes on (the rounding is usable), else the heap's bytes.
std::size_t block_bytes(std::size_t bytes) {
  if (bytes < kMappedBlockBytes) return bytes;
  return bytes >= kHugePageBytes ? (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1)
                                 : (bytes + kPageBytes - 1) & ~(kPageBytes - 1);
}

// Small blocks released on a thread, kept for the next arenas made on it. One comparison of
// small documents makes and drops several arenas of a block or two each; reusing their blocks
// saves a trip through the heap for each. At most kCachedBlocks blocks of up to
// kCachedBlockBytes each stay with a thread, and go back to the heap when the thread ends.
constexpr unsigned kCachedBlocks = 8;
constexpr std::size_t kCachedBlockBytes = std::size_t{16} << 10;

struct BlockCache {
  void* blocks[kCachedBlocks];
  std::size_t sizes[kCachedBlocks];
  unsigned count = 0;
};

// A thread reaches its cache through one pointer of static thread-local storage, which a loaded
// module shares with every other (the cache itself is made on the heap when the thread first
// keeps a block), so that reaching it costs no call. A thread that is ending points at
// `ended_thread`, which keeps nothing.
constinit BlockCache ended_thread{};
[[gnu::tls_model("initial-exec")]] constinit thread_local BlockCache* block_cache = nullptr;

struct BlockCacheCleanup {
  ~BlockCacheCleanup() {
    BlockCache* cache = block_cache;
    block_cache = &ended_thread;
    if (cache == nullptr || cache == &ended_thread) return;
    for (unsigned at = 0; at < cache->count; ++at) std::free(cache->blocks[at]);
    delete cache;
  }
};

// This thread's cache, made on first use; nullptr once the thread is ending, or when there is
// no memory for it.
BlockCache* thread_block_cache() {
  if (block_cache == nullptr) {
    auto* cache = new (std::nothrow) BlockCache;
    if (cache == nullptr) return nullptr;
    block_cache = cache;
    thread_local BlockCacheCleanup cleanup;  // frees the cache when the thread ends
    (void)cleanup;
  }
  return block_cache == &ended_thread ? nullptr : block_cache;
}

// A cached block of at least `bytes` (then set to its size), or nullptr.
void* cached_block(std::size_t& bytes) {
  BlockCache* cache = block_cache;
  if (cache == nullptr) return nullptr;
  for (unsigned at = cache->count; at-- > 0;) {
    if (cache->sizes[at] < bytes) continue;
    void* block = cache->blocks[at];
    bytes = cache->sizes[at];
    --cache->count;
    cache->blocks[at] = cache->blocks[cache->count];
    cache->sizes[at] = cache->sizes[cache->count];
    return block;
  }
  return nullptr;
}

bool cache_block(void* block, std::size_t bytes) {
  if (bytes > kCachedBlockBytes) return false;
  BlockCache* cache = thread_block_cache();
  if (cache == nullptr || cache->count == kCachedBlocks) return false;
  cache->blocks[cache->count] = block;
  cache->sizes[cache->count] = bytes;
  ++cache->count;
  return true;
}

// `bytes` as block_bytes gives them; a cached small block may be larger, and `bytes` is then
// set to its size.
void* allocate_block_memory(std::size_t& bytes) {
  if (bytes == kHugeBlockBytes) {
    if (void* block = pooled_block()) return block;
  }
  if (bytes >= kMappedBlockBytes) return map_pages(bytes);
  if (bytes <= kCachedBlockBytes) {
    if (void* block = cached_block(bytes)) return block;
  }
  void* memory = std::malloc(bytes);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void release_block_memory(void* block, std::size_t bytes) {
  if (bytes == kHugeBlockBytes && pool_block(block)) return;
  if (bytes >= kMappedBlockBytes) {
    unmap_pages(block, bytes);
  } else if (!cache_block(block, bytes)) {
    std::free(block);
  }
}

std::uint64_t load64(const unsigned char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Every string's bytes are followed by zeros up to at least eight bytes (see make_string), so
// the first word of any string can be loaded whole: one comparison settles most keys.
constexpr std::size_t kStringPadding = 8;
alignas(8) constexpr char kEmptyString[kStringPadding] = {};

std::uint64_t first_word_ordered(const unsigned char* bytes) {
  return __builtin_bswap64(load64(bytes));
}

// The first eight bytes of a text, zero padded when it is shorter, read from bytes that may end
// anywhere: two overlapping halves (the word's bytes in memory order: this code, like the
// comparisons here, runs little-endian).
std::uint64_t padded_word(std::string_view text) {
  const auto* chars = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  if (size >= 8) return load64(chars);
  if (size >= 4) {
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, chars, sizeof low);
    std::memcpy(&high, chars + size - 4, sizeof high);
    return low | (std::uint64_t{high} << (8 * (size - 4)));
  }
  if (size == 0) return 0;
  return chars[0] | (std::uint64_t{chars[size / 2]} << (8 * (size / 2))) |
         (std::uint64_t{chars[size - 1]} << (8 * (size - 1)));
}

// A String node's bytes against bytes of the same size that may end anywhere, whose first word
// (padded_word) is `head`.
bool same_text_bytes(const Node& text, std::string_view bytes, std::uint64_t head) {
  const auto* a = reinterpret_cast<const unsigned char*>(text.chars);
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  if (load64(a) != head) return false;
  const std::size_t size = bytes.size();
  if (size <= 8) return true;
  for (std::size_t i = 8; i + 8 <= size; i += 8) {
    if (load64(a + i) != load64(b + i)) return false;
  }
  return load64(a + size - 8) == load64(b + size - 8);
}

bool same_bytes(const Node& left, const Node& right) {
  const std::size_t size = left.size();
  if (size != right.size()) return false;
  const auto* a = reinterpret_cast<const unsigned char*>(left.chars);
  const auto* b = reinterpret_cast<const unsigned char*>(right.chars);
  if (load64(a) != load64(b)) return false;
  if (size <= 8) return true;
  for (std::size_t i = 8; i + 8 <= size; i += 8) {
    if (load64(a + i) != load64(b + i)) return false;
  }
  return load64(a + size - 8) == load64(b + size - 8);
}

// Byte order of two texts: negative, zero or positive.
int compare_bytes(const Node& left, const Node& right) {
  const auto* a = reinterpret_cast<const unsigned char*>(left.chars);
  const auto* b = reinterpret_cast<const unsigned char*>(right.chars);
  // Zero padding keeps this exact: where the words differ, the first differing byte is a real
  // byte of at least one text, and a shorter text's padding orders it first.
  const std::uint64_t x = first_word_ordered(a);
  const std::uint64_t y = first_word_ordered(b);
  if (x != y) return x < y ? -1 : 1;
  const std::size_t left_size = left.size();
  const std::size_t right_size = right.size();
  const std::size_t common = left_size < right_size ? left_size : right_size;
  for (std::size_t i = 8; i < common; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return left_size < right_size ? -1 : (left_size > right_size ? 1 : 0);
}

}  // namespace

Arena::Arena(Arena&& other) noexcept
    : head_(other.head_),
      cursor_(other.cursor_),
      end_(other.end_),
      next_block_size_(other.next_block_size_) {
  other.head_ = nullptr;
  other.cursor_ = other.end_ = nullptr;
}

Arena& Arena::operator=(Arena&& other) noexcept {
  if (this != &other) {
    this->~Arena();
    new (this) Arena(std::move(other));
  }
  return *this;
}

Arena::~Arena() {
  for (Block* block = head_; block != nullptr;) {
    Block* next = block->next;
    release_block_memory(block, sizeof(Block) + block->size);
    block = next;
  }
}

void* Arena::allocate_in_new_block(std::size_t bytes, std::size_t alignment) {
  // Small trees stay small (a recorded scalar string costs one small block); large ones grow
  // geometrically up to one huge page per block, so the number of blocks stays small.
  if (next_block_size_ < kFirstBlockSize) next_block_size_ = kFirstBlockSize;
  std::size_t total = block_bytes(std::max(next_block_size_, sizeof(Block) + bytes + alignment));
  next_block_size_ = std::min(next_block_size_ * 2, kHugeBlockBytes);
  auto* block = static_cast<Block*>(allocate_block_memory(total));
  std::size_t usable = total - sizeof(Block);
  block->size = usable;
  block->next = head_;
  head_ = block;
  char* data = reinterpret_cast<char*>(block + 1);
  end_ = data + usable;
  char* start = align_up(data, alignment);
  cursor_ = start + bytes;
  return start;
}

std::size_t Arena::pooled_blocks() {
  BlockPool& pool = block_pool();
  const std::lock_guard<std::mutex> held(pool.lock);
  return pool.count;
}

void* map_pages(std::size_t bytes) {
  const bool huge = bytes >= kHugePageBytes;
  // A huge-page multiple starts on a huge-page boundary: one huge page more is mapped, and the
  // ends around the aligned part are unmapped again.
  const std::size_t mapped = huge ? bytes + kHugePageBytes : bytes;
  void* memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  if (!huge) return memory;
  const auto start = reinterpret_cast<std::uintptr_t>(memory);
  const std::uintptr_t aligned =
      (start + kHugePageBytes - 1) & ~(std::uintptr_t{kHugePageBytes} - 1);
  if (aligned > start) munmap(memory, aligned - start);
  const std::uintptr_t end = aligned + bytes;
  if (start + mapped > end) munmap(reinterpret_cast<void*>(end), start + mapped - end);
#if defined(MADV_HUGEPAGE)
  // Advice only: where transparent huge pages are off this changes nothing.
  madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
}

void unmap_pages(void* memory, std::size_t bytes) { munmap(memory, bytes); }

void Arena::adopt(Arena&& other) {
  if (other.head_ == nullptr) return;
  if (head_ == nullptr) {
    *this = std::move(other);
    return;
  }
  // Splice the other's blocks behind our current one, so we keep filling ours.
  Block* tail = other.head_;
  while (tail->next != nullptr) tail = tail->next;
  tail->next = head_->next;
  head_->next = other.head_;
  other.head_ = nullptr;
  other.cursor_ = other.end_ = nullptr;
}

Node make_bool(bool value) {
  Node node;
  node.kind = Kind::Bool;
  node.boolean = value;
  return node;
}

Node make_unsigned(std::uint64_t value) {
  Node node;
  node.kind = Kind::Number;
  node.rep = NumberRep::Unsigned;
  node.unsigned_int = value;
  return node;
}

Node make_signed(std::int64_t value) {
  if (value >= 0) return make_unsigned(static_cast<std::uint64_t>(value));
  Node node;
  node.kind = Kind::Number;
  node.rep = NumberRep::Signed;
  node.signed_int = value;
  return node;
}

Node make_float(double value) {
  Node node;
  node.kind = Kind::Number;
  node.rep = NumberRep::Float;
  node.floating = value;
  return node;
}

Node make_big_integer(Arena& arena, bool negative, std::span<const std::uint32_t> magnitude) {
  while (!magnitude.empty() && magnitude.back() == 0)
    magnitude = magnitude.first(magnitude.size() - 1);
  if (magnitude.size() <= 2) {
    const std::uint64_t value =
        magnitude.empty()
            ? 0
            : (magnitude.size() == 2 ? std::uint64_t{magnitude[1]} << 32 : 0) | magnitude[0];
    if (!negative || value == 0) return make_unsigned(value);
    // The magnitude of INT64_MIN is one more than INT64_MAX.
    if (value <= std::uint64_t{1} << 63) return make_signed(static_cast<std::int64_t>(0 - value));
  }
  auto* words = static_cast<std::uint32_t*>(
      arena.allocate((magnitude.size() + 1) * sizeof(std::uint32_t), alignof(std::uint32_t)));
  words[0] = negative ? 1 : 0;
  std::memcpy(words + 1, magnitude.data(), magnitude.size() * sizeof(std::uint32_t));
  Node node;
  node.kind = Kind::Number;
  node.rep = NumberRep::Big;
  node.set_size(magnitude.size());
  node.big = words;
  return node;
}

Node make_big_integer(Arena& arena, std::string_view decimal_text) {
  std::string_view digits = decimal_text;
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    throw InternalError("decimal integer text expected");
  }
  const BigUnsigned magnitude = BigUnsigned::from_decimal(digits);
  return make_big_integer(arena, negative, magnitude.limbs());
}

IntegerParts integer_parts(const Node& number, std::uint32_t (&buffer)[2]) {
  IntegerParts parts;
  std::uint64_t magnitude = 0;
  switch (number.rep) {
    case NumberRep::Unsigned:
      magnitude = number.unsigned_int;
      break;
    case NumberRep::Signed:
      parts.negative = number.signed_int < 0;
      magnitude = parts.negative ? 0 - static_cast<std::uint64_t>(number.signed_int)
                                 : static_cast<std::uint64_t>(number.signed_int);
      break;
    case NumberRep::Big:
      parts.magnitude = {number.big + 1, number.size()};
      while (!parts.magnitude.empty() && parts.magnitude.back() == 0) {
        parts.magnitude = parts.magnitude.first(parts.magnitude.size() - 1);
      }
      parts.negative = number.big[0] != 0 && !parts.magnitude.empty();
      return parts;
    case NumberRep::Float:
      throw InternalError("integer node expected");
  }
  buffer[0] = static_cast<std::uint32_t>(magnitude);
  buffer[1] = static_cast<std::uint32_t>(magnitude >> 32);
  parts.magnitude = {buffer, buffer[1] != 0 ? 2u : (buffer[0] != 0 ? 1u : 0u)};
  return parts;
}

Node make_string(Arena& arena, std::string_view text) {
  Node node;
  node.kind = Kind::String;
  node.set_size(text.size());
  if (text.empty()) {
    node.chars = kEmptyString;
    return node;
  }
  if (text.size() < kStringPadding) {
    // Short texts are written as one padded word, read in two overlapping halves (the word's
    // bytes in memory order: this code, like the comparisons above, runs little-endian).
    const std::uint64_t word = padded_word(text);
    char* bytes = static_cast<char*>(arena.allocate(kStringPadding, 1));
    std::memcpy(bytes, &word, kStringPadding);
    node.chars = bytes;
    return node;
  }
  char* bytes = static_cast<char*>(arena.allocate(text.size(), 1));
  if (text.size() <= 2 * kStringPadding) {
    // Most keys and short values: two overlapping words, without a call.
    const auto* chars = reinterpret_cast<const unsigned char*>(text.data());
    const std::uint64_t head = load64(chars);
    const std::uint64_t tail = load64(chars + text.size() - kStringPadding);
    std::memcpy(bytes, &head, sizeof head);
    std::memcpy(bytes + text.size() - kStringPadding, &tail, sizeof tail);
  } else {
    std::memcpy(bytes, text.data(), text.size());
  }
  node.chars = bytes;
  return node;
}

Node make_list(const Node* items, std::size_t count) {
  Node node;
  node.kind = Kind::List;
  node.set_size(count);
  node.items = items;
  return node;
}

Node make_object(const Member* members, std::size_t count) {
  Node node;
  node.kind = Kind::Object;
  node.set_size(count);
  node.members = members;
  return node;
}

std::size_t sort_members(Member* members, std::size_t count) {
  // The common case costs one pass: keys already strictly ascending need no sort and hold no
  // duplicate.
  std::size_t sorted_prefix = 1;
  while (sorted_prefix < count &&
         compare_bytes(members[sorted_prefix - 1].key, members[sorted_prefix].key) < 0) {
    ++sorted_prefix;
  }
  if (sorted_prefix >= count) return count;

  auto by_key = [](const Member& left, const Member& right) {
    return compare_bytes(left.key, right.key) < 0;
  };
  // Dictionaries usually arrive small; insertion sort is stable and cheapest there.
  if (count <= 16) {
    for (std::size_t i = sorted_prefix; i < count; ++i) {
      Member current = members[i];
      std::size_t j = i;
      while (j > 0 && by_key(current, members[j - 1])) {
        members[j] = members[j - 1];
        --j;
      }
      members[j] = current;
    }
  } else {
    std::stable_sort(members, members + count, [&](const Member& left, const Member& right) {
      poll_interrupt();
      return by_key(left, right);
    });
  }
  // Equal keys are adjacent and in visiting order: keep the last of each run.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (kept > 0 && same_bytes(members[kept - 1].key, members[i].key)) {
      members[kept - 1] = members[i];
    } else {
      members[kept++] = members[i];
    }
  }
  return kept;
}

bool detail::text_less_in_full(const Node& left, const Node& right) {
  return compare_bytes(left, right) < 0;
}

Node copy_node(const Node& node, Arena& arena) {
  switch (node.kind) {
    case Kind::Null:
    case Kind::Bool:
      return node;
    case Kind::Number:
      if (node.rep == NumberRep::Big) {
        std::uint32_t buffer[2];
        const IntegerParts parts = integer_parts(node, buffer);
        return make_big_integer(arena, parts.negative, parts.magnitude);
      }
      return node;
    case Kind::String:
      return make_string(arena, node.string());
    case Kind::List: {
      check_stack(kInComparison);
      std::size_t count = node.size();
      poll_interrupt(count);
      if (count == 0) return make_list(nullptr, 0);
      Node* items = arena.allocate_nodes(count);
      for (std::size_t i = 0; i < count; ++i) items[i] = copy_node(node.items[i], arena);
      return make_list(items, count);
    }
    case Kind::Object: {
      check_stack(kInComparison);
      std::size_t count = node.size();
      poll_interrupt(count);
      if (count == 0) return make_object(nullptr, 0);
      Member* members = arena.allocate_members(count);
      for (std::size_t i = 0; i < count; ++i) {
        members[i].key = make_string(arena, node.members[i].key.string());
        members[i].value = copy_node(node.members[i].value, arena);
      }
      return make_object(members, count);
    }
    case Kind::Deferred:
      break;
  }
  throw InternalError("an unconverted part of the inputs was copied");
}

namespace {

// Integers of different representations, compared by value. make_big_integer keeps every Big
// outside the 64-bit ranges, so this only matters for nodes built by hand.
bool integers_equal(const Node& left, const Node& right) {
  if (left.rep == NumberRep::Float || right.rep == NumberRep::Float) return false;
  std::uint32_t left_buffer[2];
  std::uint32_t right_buffer[2];
  const IntegerParts a = integer_parts(left, left_buffer);
  const IntegerParts b = integer_parts(right, right_buffer);
  return a.negative == b.negative && std::ranges::equal(a.magnitude, b.magnitude);
}

bool equal_to_depth(const Node& left, const Node& right, std::size_t levels);

// The items and member values of a container, compared where the loop runs when they are texts
// or identical scalar nodes (the common cases), else by equal_to_depth.
[[gnu::always_inline]] inline bool equal_child(const Node& left, const Node& right,
                                               std::size_t levels) {
  if (left.kind == Kind::String) return right.kind == Kind::String && same_bytes(left, right);
  if (same_node(left, right)) return true;
  return equal_to_depth(left, right, levels);
}

// Deep equality; `levels` containers deep and no further (the level counts down). With
// `levels` at its largest the whole tree is compared.
bool equal_to_depth(const Node& left, const Node& right, std::size_t levels) {
  if (left.kind != right.kind) return false;
  // Converting t2 against t1 shares t1's nodes wherever they agree: those need no reading.
  if (same_node(left, right)) return true;
  switch (left.kind) {
    case Kind::Null:
      return true;
    case Kind::Bool:
      return left.boolean == right.boolean;
    case Kind::Number:
      if (left.rep != right.rep) return integers_equal(left, right);
      switch (left.rep) {
        case NumberRep::Unsigned:
          return left.unsigned_int == right.unsigned_int;
        case NumberRep::Signed:
          return left.signed_int == right.signed_int;
        case NumberRep::Float:
          return left.floating == right.floating;
        case NumberRep::Big:
          return integers_equal(left, right);
      }
      return false;
    case Kind::String:
      return same_bytes(left, right);
    case Kind::List: {
      std::size_t count = left.size();
      if (count != right.size()) return false;
      if (count > 0 && levels == 0) return false;
      check_stack(kInComparison);
      poll_interrupt(count);
      for (std::size_t i = 0; i < count; ++i) {
        if (!equal_child(left.items[i], right.items[i], levels - 1)) return false;
      }
      return true;
    }
    case Kind::Object: {
      std::size_t count = left.size();
      if (count != right.size()) return false;
      if (count > 0 && levels == 0) return false;
      check_stack(kInComparison);
      poll_interrupt(count);
      for (std::size_t i = 0; i < count; ++i) {
        const Member& a = left.members[i];
        const Member& b = right.members[i];
        if (!same_bytes(a.key, b.key) || !equal_child(a.value, b.value, levels - 1)) {
          return false;
        }
      }
      return true;
    }
    case Kind::Deferred:
      return false;  // only the identical node stands for the same part
  }
  return false;
}

}  // namespace

bool equal(const Node& left, const Node& right) {
  return equal_to_depth(left, right, std::numeric_limits<std::size_t>::max());
}

bool equal_within(const Node& left, const Node& right, std::size_t levels) {
  return equal_to_depth(left, right, levels);
}

const Member* find_entry(const Node& object, std::string_view key) {
  if (object.kind != Kind::Object) return nullptr;
  const std::uint64_t head = padded_word(key);
  const std::size_t size = object.size();
  const Member* members = object.members;
  // Small objects are scanned: sizes and first words settle almost every step, without the
  // unpredictable branches of a search.
  if (size <= 16) {
    for (std::size_t i = 0; i < size; ++i) {
      if (members[i].key.size() == key.size() && same_text_bytes(members[i].key, key, head)) {
        return &members[i];
      }
    }
    return nullptr;
  }
  const std::uint64_t word = __builtin_bswap64(head);
  const Member* low = members;
  std::size_t count = size;
  while (count > 0) {
    const std::size_t half = count / 2;
    const Member& middle = low[half];
    const std::uint64_t middle_word =
        first_word_ordered(reinterpret_cast<const unsigned char*>(middle.key.chars));
    if (middle_word < word || (middle_word == word && middle.key.string() < key)) {
      low += half + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  if (low == members + size || low->key.string() != key) return nullptr;
  return low;
}

bool text_equals(const Node& text, std::string_view bytes) {
  return text.size() == bytes.size() && same_text_bytes(text, bytes, padded_word(bytes));
}

const Node* find_member(const Node& object, std::string_view key) {
  const Member* entry = find_entry(object, key);
  return entry == nullptr ? nullptr : &entry->value;
}

Value::Value(const Value& other) : root_(other.root_) {
  if (!other.arena_.empty()) root_ = copy_node(other.root_, arena_);
}

Value& Value::operator=(const Value& other) {
  if (this != &other) *this = Value(other);
  return *this;
}

Value Value::copy_of(const Node& node) {
  const bool owns_memory = node.kind == Kind::String || node.kind == Kind::List ||
                           node.kind == Kind::Object ||
                           (node.kind == Kind::Number && node.rep == NumberRep::Big);
  if (!owns_memory) {
    return Value(node);
  }
  Arena arena;
  Node root = copy_node(node, arena);
  return Value(std::move(arena), root);
}

Value Value::pair(Value first, Value second) {
  Value both;
  const Node first_root = both.adopt(std::move(first));
  const Node second_root = both.adopt(std::move(second));
  Node* items = both.arena().allocate_nodes(2);
  items[0] = first_root;
  items[1] = second_root;
  both.root_ = make_list(items, 2);
  return both;
}

Value Value::string(std::string_view text) {
  Arena arena;
  Node root = make_string(arena, text);
  return Value(std::move(arena), root);
}

Node Value::adopt(Value&& other) {
  arena_.adopt(std::move(other.arena_));
  Node root = other.root_;
  other.root_ = Node{};
  return root;
}

}  // namespace hexalume::value
