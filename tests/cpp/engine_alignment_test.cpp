#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "engine/alignment.hpp"

namespace hexalume {
namespace {

using engine::EditKind;
using engine::EditRun;
using Items = std::vector<std::uint64_t>;

// Items are their own hashes; `collide` makes every hash the same, so only `same` tells them
// apart.
std::optional<std::vector<EditRun>> align(const Items& old_items, const Items& new_items,
                                          std::size_t budget, bool collide = false) {
  const Items old_hashes(old_items.size(), 7);
  const Items new_hashes(new_items.size(), 7);
  const std::function<bool(std::size_t, std::size_t)> same = [&](std::size_t i, std::size_t j) {
    return old_items[i] == new_items[j];
  };
  return engine::align_items(collide ? old_hashes : old_items, collide ? new_hashes : new_items,
                             same, budget);
}

// Replays the runs: kept items must be equal, and the result must be `new_items`. Returns the
// number of removed plus inserted items.
std::size_t replay(const std::vector<EditRun>& runs, const Items& old_items,
                   const Items& new_items) {
  Items rebuilt;
  std::size_t old_at = 0;
  std::size_t new_at = 0;
  std::size_t edits = 0;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    if (r > 0) {
      EXPECT_NE(runs[r].kind, runs[r - 1].kind);
    }
    for (std::size_t k = 0; k < runs[r].count; ++k) {
      if (runs[r].kind == EditKind::Keep) {
        EXPECT_EQ(old_items.at(old_at), new_items.at(new_at));
        rebuilt.push_back(old_items[old_at++]);
        ++new_at;
      } else if (runs[r].kind == EditKind::Remove) {
        ++old_at;
        ++edits;
      } else {
        rebuilt.push_back(new_items.at(new_at++));
        ++edits;
      }
    }
  }
  EXPECT_EQ(old_at, old_items.size());
  EXPECT_EQ(rebuilt, new_items);
  return edits;
}

std::size_t longest_common_subsequence(const Items& left, const Items& right) {
  std::vector<std::vector<std::size_t>> table(left.size() + 1,
                                              std::vector<std::size_t>(right.size() + 1, 0));
  for (std::size_t i = 1; i <= left.size(); ++i) {
    for (std::size_t j = 1; j <= right.size(); ++j) {
      table[i][j] = left[i - 1] == right[j - 1] ? table[i - 1][j - 1] + 1
                                                : std::max(table[i - 1][j], table[i][j - 1]);
    }
  }
  return table[left.size()][right.size()];
}

Items random_items(std::mt19937_64& random, std::size_t count, std::uint64_t kinds) {
  Items items(count);
  for (auto& item : items) item = random() % kinds;
  return items;
}

// Short lists (up to 32 items together) are aligned by the exact search: as few edits as the
// longest common subsequence allows, duplicates and hash collisions included.
TEST(alignment, short_lists_take_the_fewest_edits) {
  std::mt19937_64 random(20261206);
  for (int round = 0; round < 2000; ++round) {
    const Items old_items = random_items(random, random() % 17, 1 + random() % 5);
    const Items new_items = random_items(random, random() % 16, 1 + random() % 5);
    const bool collide = round % 4 == 0;
    const auto runs = align(old_items, new_items, engine::alignment_budget(16, 16), collide);
    ASSERT_TRUE(runs);
    EXPECT_EQ(
        replay(*runs, old_items, new_items),
        old_items.size() + new_items.size() - 2 * longest_common_subsequence(old_items, new_items));
  }
}

// k items inserted into (or removed from) a long list of distinct items: exactly k edits.
TEST(alignment, insertions_and_removals_in_long_lists) {
  std::mt19937_64 random(7);
  Items base(20000);
  for (std::size_t i = 0; i < base.size(); ++i) base[i] = i;
  Items grown = base;
  for (std::uint64_t k = 0; k < 50; ++k) {
    grown.insert(grown.begin() + static_cast<std::ptrdiff_t>(random() % grown.size()),
                 1000000 + k % 3);  // inserted items repeat
  }
  const std::size_t budget = engine::alignment_budget(base.size(), grown.size());
  const auto inserted = align(base, grown, budget);
  ASSERT_TRUE(inserted);
  EXPECT_EQ(replay(*inserted, base, grown), 50u);
  const auto removed = align(grown, base, budget);
  ASSERT_TRUE(removed);
  EXPECT_EQ(replay(*removed, grown, base), 50u);
}

// Past the budget the alignment gives up rather than run on: two unrelated lists.
TEST(alignment, gives_up_past_its_budget) {
  std::mt19937_64 random(3);
  const Items old_items = random_items(random, 3000, 2);
  const Items new_items = random_items(random, 3000, 2);
  EXPECT_FALSE(align(old_items, new_items, engine::alignment_budget(3000, 3000)));
  const auto small = align({1, 2, 3}, {3, 2, 1}, engine::alignment_budget(3, 3));
  ASSERT_TRUE(small);
  EXPECT_EQ(replay(*small, {1, 2, 3}, {3, 2, 1}), 4u);
}

}  // namespace
}  // namespace hexalume
