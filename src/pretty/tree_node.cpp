#include "pretty/tree_node.hpp"
#include "value/interrupt.hpp"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

namespace hexalume::pretty {

namespace {

// Below this many children a scan is cheaper than hashing the segment.
constexpr std::size_t kIndexFrom = 8;
constexpr std::size_t kEndsHere = std::size_t{1} << (8 * sizeof(std::size_t) - 1);
constexpr std::size_t kDropped = ~std::size_t{0};

std::size_t step_hash(const engine::PathStep& step) {
  if (step.is_key()) return std::hash<std::string_view>{}(step.key);
  // Odd multiplier so indices spread over the table and rarely meet a key's hash.
  return static_cast<std::size_t>(step.index * 0x9E3779B97F4A7C15ULL + 1);
}

// True when nothing readable follows `at`: the path ends there, or continues with text that is
// not a bracket group, which is ignored.
bool ends_at(std::string_view path, std::size_t at) { return at >= path.size() || path[at] != '['; }

constexpr std::string_view kUnknownType = "unknown";

std::string_view type_of(const value::Node* entry, std::string_view name) {
  if (entry == nullptr || entry->kind != value::Kind::Object) return kUnknownType;
  const value::Node* member = value::find_member(*entry, name);
  return member != nullptr && member->kind == value::Kind::String ? member->string() : kUnknownType;
}

value::Node or_null(const value::Node* carried, const value::Node* found) {
  if (carried != nullptr) return *carried;
  return found != nullptr ? *found : value::make_null();
}

std::optional<value::Node> or_absent(const value::Node* carried, const value::Node* found) {
  if (carried != nullptr) return *carried;
  if (found != nullptr) return *found;
  return std::nullopt;
}

}  // namespace

ChangeKind resolve(const PendingChange& change, Located here) {
  switch (change.kind) {
    case PendingChange::Kind::Changed:
      return Changed{or_null(change.old_value, here.old_node),
                     or_null(change.new_value, here.new_node)};
    case PendingChange::Kind::TypeChanged:
      return TypeChanged{type_of(change.types, "old_type"), type_of(change.types, "new_type"),
                         or_null(change.old_value, here.old_node),
                         or_null(change.new_value, here.new_node)};
    case PendingChange::Kind::Added:
      return Added{or_absent(change.new_value, here.new_node)};
    case PendingChange::Kind::Removed:
      return Removed{or_absent(change.old_value, here.old_node)};
  }
  return Changed{};
}

Located settle(const PendingChange& change, Located here, const value::Node& t1,
               const value::Node& t2, std::string_view path) {
  if (!change.needs_lookup() || !may_name_another_position(t1, t2, path)) return here;
  switch (change.kind) {
    case PendingChange::Kind::Added:
      return locate_exactly(t1, t2, path, Fit::Added);
    case PendingChange::Kind::Removed:
      return locate_exactly(t1, t2, path, Fit::Removed);
    case PendingChange::Kind::Changed:
    case PendingChange::Kind::TypeChanged:
      break;
  }
  return locate_exactly(t1, t2, path, Fit::Changed);
}

ChangeTree::ChangeTree(std::vector<ReportEntry> entries, std::uint64_t checked_segments)
    : entries_(std::move(entries)) {
  order_.reserve(entries_.size());
  std::vector<std::size_t> below;
  engine::PathStep step;
  for (std::size_t at = 0; at < entries_.size(); ++at) {
    value::poll_interrupt();
    const std::string_view path = entries_[at].path;
    std::size_t cursor = 0;
    engine::ScanResult result = engine::ScanResult::Step;
    for (std::uint64_t read = 0; read < checked_segments; ++read) {
      result = engine::scan_segment(path, cursor, step);
      if (result != engine::ScanResult::Step) break;
    }
    if (result == engine::ScanResult::Unreadable) continue;
    // The root's own changes come first, then every other entry, each group in report order.
    if (ends_at(path, 0)) {
      order_.push_back(at);
    } else {
      below.push_back(at);
    }
  }
  root_.first = 0;
  root_.split = order_.size();
  order_.insert(order_.end(), below.begin(), below.end());
  root_.last = order_.size();
}

std::size_t ChangeTree::child_for(const engine::PathStep& step, std::vector<PrettyNode>& out,
                                  std::size_t base) {
  const std::size_t count = out.size() - base;
  if (!step.is_key() && step.index < direct_limit_) {
    if (by_index_.size() <= step.index) by_index_.resize(step.index + 1, 0);
    std::size_t& known = by_index_[step.index];
    if (known != 0) return base + known - 1;
    known = count + 1;
  } else if (count < kIndexFrom) {
    for (std::size_t child = base; child < out.size(); ++child) {
      if (out[child].segment == step) return child;
    }
  } else {
    // Kept at most half full; rebuilt at twice the size when it would fill beyond that.
    if (slots_.size() < 2 * (count + 1)) {
      std::size_t size = slots_.size() < 64 ? 64 : 2 * slots_.size();
      while (size < 2 * (count + 1)) size *= 2;
      slots_.assign(size, 0);
      for (std::size_t child = base; child < out.size(); ++child) {
        std::size_t slot = step_hash(out[child].segment) & (size - 1);
        while (slots_[slot] != 0) slot = (slot + 1) & (size - 1);
        slots_[slot] = child - base + 1;
      }
    }
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = step_hash(step) & mask;
    while (slots_[slot] != 0) {
      const std::size_t child = base + slots_[slot] - 1;
      if (out[child].segment == step) return child;
      slot = (slot + 1) & mask;
    }
    slots_[slot] = count + 1;
  }
  PrettyNode child;
  child.segment = step;
  out.push_back(child);
  return out.size() - 1;
}

void ChangeTree::expand(const PrettyNode& node, std::vector<PrettyNode>& out) {
  const std::size_t base = out.size();
  const std::size_t count = node.last - node.split;
  if (count == 0) return;
  child_of_.resize(count);
  slots_.clear();
  // Positions up to about the number of entries are found in an array instead of the table.
  direct_limit_ = 2 * count + 64;

  // Read the next segment of every entry below the node and find its child. Entries of one
  // child mostly follow each other (report sections are sorted by path), so the previous
  // entry's child is tried first.
  std::size_t previous = kDropped;
  engine::PathStep step;
  for (std::size_t at = 0; at < count; ++at) {
    ReportEntry& entry = entries_[order_[node.split + at]];
    std::size_t cursor = entry.cursor;
    if (engine::scan_segment(entry.path, cursor, step) != engine::ScanResult::Step) {
      child_of_[at] = kDropped;
      continue;
    }
    entry.cursor = cursor;
    std::size_t child = previous != kDropped && out[previous].segment == step
                            ? previous
                            : child_for(step, out, base);
    previous = child;
    // Count the child's entries in its fields for now: `first` those ending there, `last` all.
    const bool ends = ends_at(entry.path, cursor);
    if (ends) ++out[child].first;
    ++out[child].last;
    child_of_[at] = (child - base) | (ends ? kEndsHere : 0);
  }
  if (!slots_.empty()) slots_.clear();
  for (std::size_t child = base; child < out.size(); ++child) {
    const engine::PathStep& made = out[child].segment;
    if (!made.is_key() && made.index < by_index_.size()) by_index_[made.index] = 0;
  }

  // Lay the children's ranges out one after the other, each with its ending entries first.
  const std::size_t children = out.size() - base;
  write_end_.resize(children);
  write_continue_.resize(children);
  std::size_t position = node.split;
  for (std::size_t child = 0; child < children; ++child) {
    PrettyNode& placed = out[base + child];
    const std::size_t ending = placed.first;
    const std::size_t total = placed.last;
    placed.first = position;
    placed.split = position + ending;
    placed.last = position + total;
    write_end_[child] = placed.first;
    write_continue_[child] = placed.split;
    position = placed.last;
  }
  placed_.resize(count);
  for (std::size_t at = 0; at < count; ++at) {
    const std::size_t tagged = child_of_[at];
    if (tagged == kDropped) continue;
    const std::size_t child = tagged & ~kEndsHere;
    std::size_t& write = (tagged & kEndsHere) != 0 ? write_end_[child] : write_continue_[child];
    placed_[write++ - node.split] = order_[node.split + at];
  }
  std::copy(placed_.begin(), placed_.begin() + static_cast<std::ptrdiff_t>(position - node.split),
            order_.begin() + static_cast<std::ptrdiff_t>(node.split));
}

}  // namespace hexalume::pretty
