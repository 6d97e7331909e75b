#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "value/value.hpp"

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

// Aligns two lists so that as few items as practical are removed and inserted: the common
// prefix and suffix are kept, items that occur once in each list anchor the rest, and the gaps
// are aligned by the greedy shortest-edit-script search over item hashes, each match confirmed
// by equality. Adjacent runs never share a kind. nullopt when the search would take more than
// `budget` steps; the caller then pairs the items position by position.
std::optional<std::vector<EditRun>> align_items(std::span<const value::Node> old_items,
                                                std::span<const value::Node> new_items,
                                                std::size_t budget);

}  // namespace hexalume::engine
