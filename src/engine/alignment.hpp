#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace hexalume::engine {

enum class EditKind : std::uint8_t { Keep, Remove, Insert };

// A run of `count` equal steps: Keep takes one item of each list, Remove one old item, Insert
// one new item.
struct EditRun {
  EditKind kind;
  std::size_t count;
};

// Steps an alignment of n + m items may take before it gives up: 8 per item, plus a floor so
// that short lists are always aligned exactly.
std::size_t alignment_budget(std::size_t old_count, std::size_t new_count);

// Aligns two lists given as item hashes, so that as few items as practical are removed and
// inserted: the common prefix and suffix are kept, items that occur once in each list anchor the
// rest, and the gaps are aligned by the greedy shortest-edit-script search. `same(i, j)` says
// whether old item i equals new item j; it is asked only when their hashes agree (equal items
// must hash alike). Adjacent runs never share a kind. nullopt when the search would take more
// than `budget` steps; the caller then pairs the items position by position.
std::optional<std::vector<EditRun>> align_items(
    std::span<const std::uint64_t> old_hashes, std::span<const std::uint64_t> new_hashes,
    const std::function<bool(std::size_t, std::size_t)>& same, std::size_t budget);

}  // namespace hexalume::engine
