#include "engine/alignment.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "value/interrupt.hpp"

namespace hexalume::engine {

namespace {

// Short lists align exactly whatever their shape: 16384 steps take well under a millisecond.
constexpr std::size_t kBudgetFloor = std::size_t{1} << 14;
// Gaps between anchors are searched for anchors of their own this many levels deep; below
// that, and in gaps this short, the search runs directly.
constexpr unsigned kAnchorLevels = 4;
constexpr std::size_t kShortGap = 32;

class Aligner {
 public:
  Aligner(std::span<const std::uint64_t> old_hashes, std::span<const std::uint64_t> new_hashes,
          const std::function<bool(std::size_t, std::size_t)>& same, std::size_t budget)
      : old_hash_(old_hashes), new_hash_(new_hashes), equal_(same), budget_(budget) {}

  std::optional<std::vector<EditRun>> run() {
    align_gap(0, old_hash_.size(), 0, new_hash_.size(), 0);
    if (exhausted_) return std::nullopt;
    return std::move(runs_);
  }

 private:
  // Counts `steps` against the budget; false once it is spent.
  bool spend(std::size_t steps) {
    used_ += steps;
    if (used_ > budget_) exhausted_ = true;
    value::poll_interrupt(steps);
    return !exhausted_;
  }

  bool same(std::size_t old_index, std::size_t new_index) {
    return spend(1) && old_hash_[old_index] == new_hash_[new_index] && equal_(old_index, new_index);
  }

  void emit(EditKind kind, std::size_t count) {
    if (count == 0) return;
    if (!runs_.empty() && runs_.back().kind == kind) {
      runs_.back().count += count;
    } else {
      runs_.push_back({kind, count});
    }
  }

  void align_gap(std::size_t old_begin, std::size_t old_end, std::size_t new_begin,
                 std::size_t new_end, unsigned level) {
    std::size_t prefix = 0;
    while (old_begin + prefix < old_end && new_begin + prefix < new_end &&
           same(old_begin + prefix, new_begin + prefix)) {
      ++prefix;
    }
    std::size_t suffix = 0;
    while (old_begin + prefix + suffix < old_end && new_begin + prefix + suffix < new_end &&
           same(old_end - 1 - suffix, new_end - 1 - suffix)) {
      ++suffix;
    }
    if (exhausted_) return;
    emit(EditKind::Keep, prefix);
    old_begin += prefix;
    new_begin += prefix;
    old_end -= suffix;
    new_end -= suffix;
    if (old_begin == old_end || new_begin == new_end) {
      emit(EditKind::Remove, old_end - old_begin);
      emit(EditKind::Insert, new_end - new_begin);
    } else if (level >= kAnchorLevels ||
               (old_end - old_begin) + (new_end - new_begin) <= kShortGap ||
               !align_by_anchors(old_begin, old_end, new_begin, new_end, level)) {
      search(old_begin, old_end, new_begin, new_end);
    }
    emit(EditKind::Keep, suffix);
  }

  struct Anchor {
    std::size_t old_index;
    std::size_t new_index;
  };

  // How often a hash occurs in each range, and where it occurred last. A slot is free while
  // old_count is 0: only hashes of the old range are entered.
  struct Occurrences {
    std::uint64_t hash;
    std::uint32_t old_count;
    std::uint32_t new_count;
    std::size_t old_index;
    std::size_t new_index;
  };

  // Open addressing with linear probing in a table at most half full: one cache line per
  // lookup, where a node-based map costs an allocation per entry and a miss per step.
  static Occurrences& slot_of(std::vector<Occurrences>& table, std::uint64_t hash) {
    const std::size_t mask = table.size() - 1;
    std::size_t at = static_cast<std::size_t>(hash) & mask;
    while (table[at].old_count != 0 && table[at].hash != hash) at = (at + 1) & mask;
    return table[at];
  }

  // Pairs the items that occur once in each range, keeps the longest chain of pairs in the
  // same order in both, and aligns the gaps between them. False (nothing emitted) when no
  // item pairs up.
  bool align_by_anchors(std::size_t old_begin, std::size_t old_end, std::size_t new_begin,
                        std::size_t new_end, unsigned level) {
    if (!spend(old_end - old_begin + new_end - new_begin)) return true;
    std::size_t capacity = 16;
    while (capacity < 2 * (old_end - old_begin)) capacity *= 2;
    std::vector<Occurrences> table(capacity, Occurrences{0, 0, 0, 0, 0});
    for (std::size_t i = old_begin; i < old_end; ++i) {
      Occurrences& slot = slot_of(table, old_hash_[i]);
      slot.hash = old_hash_[i];
      slot.old_count += slot.old_count < 2 ? 1 : 0;
      slot.old_index = i;
    }
    for (std::size_t j = new_begin; j < new_end; ++j) {
      Occurrences& slot = slot_of(table, new_hash_[j]);
      if (slot.old_count == 0) continue;
      slot.new_count += slot.new_count < 2 ? 1 : 0;
      slot.new_index = j;
    }
    std::vector<Anchor> candidates;
    for (std::size_t i = old_begin; i < old_end; ++i) {
      const Occurrences& slot = slot_of(table, old_hash_[i]);
      if (slot.old_count == 1 && slot.new_count == 1 && same(i, slot.new_index)) {
        candidates.push_back({i, slot.new_index});
      }
    }
    if (exhausted_) return true;
    const std::vector<Anchor> chain = longest_chain(candidates);
    if (chain.empty()) return false;
    std::size_t old_at = old_begin;
    std::size_t new_at = new_begin;
    for (const Anchor& anchor : chain) {
      align_gap(old_at, anchor.old_index, new_at, anchor.new_index, level + 1);
      emit(EditKind::Keep, 1);
      old_at = anchor.old_index + 1;
      new_at = anchor.new_index + 1;
    }
    align_gap(old_at, old_end, new_at, new_end, level + 1);
    return true;
  }

  // The longest subsequence of `anchors` (in old order) whose new indices rise, by patience
  // sorting: O(k log k).
  static std::vector<Anchor> longest_chain(const std::vector<Anchor>& anchors) {
    std::vector<std::size_t> tails;  // tails[l]: the anchor ending the best chain of length l+1
    std::vector<std::size_t> before(anchors.size());
    for (std::size_t a = 0; a < anchors.size(); ++a) {
      const auto place = std::lower_bound(
          tails.begin(), tails.end(), anchors[a].new_index,
          [&](std::size_t tail, std::size_t index) { return anchors[tail].new_index < index; });
      before[a] = place == tails.begin() ? anchors.size() : *(place - 1);
      if (place == tails.end()) {
        tails.push_back(a);
      } else {
        *place = a;
      }
    }
    std::vector<Anchor> chain(tails.size());
    std::size_t at = tails.empty() ? anchors.size() : tails.back();
    for (std::size_t l = chain.size(); l-- > 0; at = before[at]) chain[l] = anchors[at];
    return chain;
  }

  // The greedy shortest-edit-script search: furthest-reaching paths per diagonal, one row of
  // them kept per edit distance for the way back (bounded by the budget).
  void search(std::size_t old_begin, std::size_t old_end, std::size_t new_begin,
              std::size_t new_end) {
    const auto old_count = static_cast<std::ptrdiff_t>(old_end - old_begin);
    const auto new_count = static_cast<std::ptrdiff_t>(new_end - new_begin);
    const std::ptrdiff_t most = old_count + new_count;
    std::vector<std::ptrdiff_t> furthest(static_cast<std::size_t>(2 * most + 3), 0);
    const std::ptrdiff_t offset = most + 1;
    auto at = [&](std::ptrdiff_t diagonal) -> std::ptrdiff_t& {
      return furthest[static_cast<std::size_t>(offset + diagonal)];
    };
    std::vector<std::vector<std::ptrdiff_t>> rows;
    for (std::ptrdiff_t distance = 0; distance <= most; ++distance) {
      if (!spend(static_cast<std::size_t>(2 * distance + 1))) return;
      for (std::ptrdiff_t diagonal = -distance; diagonal <= distance; diagonal += 2) {
        std::ptrdiff_t x =
            (diagonal == -distance || (diagonal != distance && at(diagonal - 1) < at(diagonal + 1)))
                ? at(diagonal + 1)
                : at(diagonal - 1) + 1;
        std::ptrdiff_t y = x - diagonal;
        while (x < old_count && y < new_count &&
               same(old_begin + static_cast<std::size_t>(x),
                    new_begin + static_cast<std::size_t>(y))) {
          ++x;
          ++y;
        }
        if (exhausted_) return;
        at(diagonal) = x;
        if (x >= old_count && y >= new_count) {
          trace_back(rows, old_count, new_count);
          return;
        }
      }
      rows.emplace_back(furthest.begin() + (offset - distance),
                        furthest.begin() + (offset + distance + 1));
    }
  }

  void trace_back(const std::vector<std::vector<std::ptrdiff_t>>& rows, std::ptrdiff_t x,
                  std::ptrdiff_t y) {
    std::vector<EditKind> steps;
    for (auto distance = static_cast<std::ptrdiff_t>(rows.size()); distance > 0; --distance) {
      const std::vector<std::ptrdiff_t>& row = rows[static_cast<std::size_t>(distance - 1)];
      auto previous = [&](std::ptrdiff_t diagonal) {
        return row[static_cast<std::size_t>(diagonal + distance - 1)];
      };
      const std::ptrdiff_t diagonal = x - y;
      const bool down = diagonal == -distance ||
                        (diagonal != distance && previous(diagonal - 1) < previous(diagonal + 1));
      const std::ptrdiff_t from_diagonal = down ? diagonal + 1 : diagonal - 1;
      const std::ptrdiff_t from_x = previous(from_diagonal);
      const std::ptrdiff_t from_y = from_x - from_diagonal;
      const std::ptrdiff_t snake_x = down ? from_x : from_x + 1;
      for (; x > snake_x; --x, --y) steps.push_back(EditKind::Keep);
      steps.push_back(down ? EditKind::Insert : EditKind::Remove);
      x = from_x;
      y = from_y;
    }
    for (; x > 0; --x) steps.push_back(EditKind::Keep);
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) emit(*step, 1);
  }

  std::span<const std::uint64_t> old_hash_;
  std::span<const std::uint64_t> new_hash_;
  const std::function<bool(std::size_t, std::size_t)>& equal_;
  std::size_t budget_;
  std::size_t used_ = 0;
  bool exhausted_ = false;
  std::vector<EditRun> runs_;
};

}  // namespace

std::size_t alignment_budget(std::size_t old_count, std::size_t new_count) {
  return kBudgetFloor + 8 * (old_count + new_count);
}

std::optional<std::vector<EditRun>> align_items(
    std::span<const std::uint64_t> old_hashes, std::span<const std::uint64_t> new_hashes,
    const std::function<bool(std::size_t, std::size_t)>& same, std::size_t budget) {
  return Aligner(old_hashes, new_hashes, same, budget).run();
}

}  // namespace hexalume::engine
