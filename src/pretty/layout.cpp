#include "pretty/layout.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "engine/path.hpp"
#include "pretty/compact.hpp"
#include "value/internal_error.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::pretty {

namespace {

constexpr std::string_view kGapLabel = "...";

RenderItem node_item(const RankedChild& child) { return {RenderItem::Kind::Node, child.node}; }
RenderItem gap_item() { return {RenderItem::Kind::Gap, 0}; }
RenderItem context_item(std::uint64_t position) { return {RenderItem::Kind::Context, position}; }

bool is_nonempty_object(const value::Node* node) {
  return node != nullptr && node->kind == value::Kind::Object && node->size() != 0;
}

std::size_t list_length(const value::Node* node) {
  return node != nullptr && node->kind == value::Kind::List ? node->size() : 0;
}

// The position of the member `key` among the sorted members of `object` (an Object node), or
// the object's size when there is no such member. Binary search.
std::size_t member_position(const value::Node& object, std::string_view key) {
  auto members = object.object();
  auto found = std::lower_bound(members.begin(), members.end(), key,
                                [](const value::Member& member, std::string_view wanted) {
                                  return member.key.string() < wanted;
                                });
  if (found == members.end() || found->key.string() != key) return members.size();
  return static_cast<std::size_t>(found - members.begin());
}

// A child its parent's containers cannot hold: the records were not made by a walk of them.
[[noreturn]] void misplaced_child() {
  throw value::InternalError("a change lies outside the containers of its parent");
}

// Sorts by rank (ranks are distinct). Children often arrive in order already.
void sort_by_rank(std::vector<RankedChild>& ranked) {
  auto less = [](const RankedChild& left, const RankedChild& right) {
    return left.rank < right.rank;
  };
  if (!std::is_sorted(ranked.begin(), ranked.end(), less)) {
    std::sort(ranked.begin(), ranked.end(), less);
  }
}

// The children of `parent`, list items of a list of `length`, sorted by position. When they
// fill a good part of the list, one pass over the positions replaces the comparison sort.
void rank_by_position(std::size_t parent, std::size_t length, RenderContext& context) {
  constexpr std::size_t kDenseFactor = 4;
  std::vector<RankedChild>& ranked = context.ranked;
  ranked.clear();
  for (std::size_t child = context.tree.node(parent).first_child; child != kNone;
       child = context.tree.node(child).next_sibling) {
    const engine::Position& position = *context.tree.node(child).position;
    if (position.step == engine::StepKind::Member || position.index >= length) misplaced_child();
    ranked.push_back({position.index, child});
  }
  if (ranked.size() < 64 || length / kDenseFactor > ranked.size()) {
    sort_by_rank(ranked);
    return;
  }
  std::vector<std::size_t>& slot = context.positions;
  slot.assign(length, SIZE_MAX);
  for (const RankedChild& child : ranked) slot[child.rank] = child.node;
  ranked.clear();
  for (std::size_t position = 0; position < length; ++position) {
    if (slot[position] != SIZE_MAX) ranked.push_back({position, slot[position]});
  }
}

// True when a member of `old_object` at a position in [from, to) has a key that `new_object`
// (nullptr: no object) lacks. Walks both sorted key lists together from `from` on.
bool old_only_key_between(const value::Node& old_object, const value::Node* new_object,
                          std::size_t from, std::size_t to) {
  if (from >= to) return false;
  if (new_object == nullptr) return true;
  const auto old_members = old_object.object();
  const auto new_members = new_object->object();
  auto cursor =
      std::lower_bound(new_members.begin(), new_members.end(), old_members[from].key.string(),
                       [](const value::Member& member, std::string_view wanted) {
                         return member.key.string() < wanted;
                       });
  for (std::size_t at = from; at < to; ++at) {
    const std::string_view key = old_members[at].key.string();
    while (cursor != new_members.end() && cursor->key.string() < key) ++cursor;
    if (cursor == new_members.end() || cursor->key.string() != key) return true;
    ++cursor;
  }
  return false;
}

// Children in the order of the keys of t2, then the keys only in t1. A gap stands between two
// drawn children wherever an undrawn key lies between them. A child's rank is its position
// among the keys of t2, or the number of t2's keys plus its position among those of t1.
void plan_object(std::size_t parent, const value::Node* old_object, const value::Node* new_object,
                 RenderContext& context) {
  const std::size_t new_size = new_object != nullptr ? new_object->size() : 0;
  const std::size_t old_size = old_object != nullptr ? old_object->size() : 0;
  std::vector<RankedChild>& ranked = context.ranked;
  ranked.clear();
  for (std::size_t child = context.tree.node(parent).first_child; child != kNone;
       child = context.tree.node(child).next_sibling) {
    value::poll_interrupt();
    const engine::Position& position = *context.tree.node(child).position;
    if (position.step != engine::StepKind::Member) misplaced_child();
    const std::string_view key = position.key.string();
    const std::size_t new_at = new_object != nullptr ? member_position(*new_object, key) : 0;
    if (new_at < new_size) {
      ranked.push_back({new_at, child});
      continue;
    }
    const std::size_t old_at = old_object != nullptr ? member_position(*old_object, key) : 0;
    if (old_at >= old_size) misplaced_child();
    ranked.push_back({new_size + old_at, child});
  }
  sort_by_rank(ranked);
  for (std::size_t at = 0; at < ranked.size(); ++at) {
    if (at != 0) {
      const std::uint64_t before = ranked[at - 1].rank;
      const std::uint64_t rank = ranked[at].rank;
      bool gap;
      if (rank < new_size) {
        gap = rank > before + 1;
      } else if (before < new_size) {
        gap = before + 1 < new_size ||
              old_only_key_between(*old_object, new_object, 0, rank - new_size);
      } else {
        gap = old_only_key_between(*old_object, new_object, before - new_size + 1, rank - new_size);
      }
      if (gap) context.items.push_back(gap_item());
    }
    context.items.push_back(node_item(ranked[at]));
  }
}

// Positions 0..length-1 that are changed or within `context` of a changed one, in order, with
// a gap wherever visible positions are not adjacent.
void plan_list(std::size_t parent, std::size_t length, RenderContext& context) {
  rank_by_position(parent, length, context);
  const std::vector<RankedChild>& ranked = context.ranked;

  const std::uint64_t around = context.options.context;
  const std::uint64_t last_position = length - 1;
  std::size_t next = 0;  // the first ranked child not drawn yet
  bool any = false;
  std::uint64_t run_first = 0;
  std::uint64_t run_last = 0;
  // Draws one run of visible positions; runs that touch were merged, so a gap opens before
  // every run but the first.
  auto draw_run = [&] {
    if (any) context.items.push_back(gap_item());
    for (std::uint64_t position = run_first;; ++position) {
      value::poll_interrupt();
      while (next < ranked.size() && ranked[next].rank < position) ++next;
      if (next < ranked.size() && ranked[next].rank == position) {
        context.items.push_back(node_item(ranked[next]));
      } else {
        context.items.push_back(context_item(position));
      }
      if (position == run_last) break;
    }
  };
  bool open = false;
  for (const RankedChild& child : ranked) {
    const std::uint64_t index = child.rank;
    const std::uint64_t from = index > around ? index - around : 0;
    const std::uint64_t to = last_position - index < around ? last_position : index + around;
    if (open && from <= run_last + 1) {
      run_last = std::max(run_last, to);
      continue;
    }
    if (open) {
      draw_run();
      any = true;
    }
    run_first = from;
    run_last = to;
    open = true;
  }
  if (open) draw_run();
}

// Kept out of the recursive functions so that their frames stay small.
[[gnu::noinline]] void plan_children(std::size_t parent, RenderContext& context) {
  const engine::Position& position = *context.tree.node(parent).position;
  const value::Node* old_node = position.old_node;
  const value::Node* new_node = position.new_node;
  if (is_nonempty_object(new_node) || is_nonempty_object(old_node)) {
    plan_object(parent, is_nonempty_object(old_node) ? old_node : nullptr,
                is_nonempty_object(new_node) ? new_node : nullptr, context);
    return;
  }
  const std::size_t length = std::max(list_length(old_node), list_length(new_node));
  if (length == 0) misplaced_child();
  plan_list(parent, length, context);
}

// Draws the label line and change lines of the Node item `context.items[at]`; returns the node
// whose children come next (the end of a compact chain).
[[gnu::noinline]] std::size_t draw_node(std::size_t at, std::uint64_t depth,
                                        const Ancestors& ancestors, bool is_last,
                                        const RenderContext& context, Lines& lines) {
  std::size_t end = context.items[at].index;
  std::string& line = lines.add();
  append_node_prefix(line, depth, ancestors, is_last);
  if (context.options.compact) {
    end = compact_chain(end, context, line);
  } else {
    append_segment_label(line, *context.tree.node(end).position);
  }
  for (std::size_t change = context.tree.node(end).first_change; change != kNone;
       change = context.tree.next_change(change)) {
    append_change_lines(lines, depth, ancestors, !is_last, resolve(context.tree.change(change)),
                        context.options.no_color);
  }
  return end;
}

constexpr std::size_t kNotDescending = SIZE_MAX;

// Draws the Node row `context.items[at]` and returns the node whose children are drawn next,
// or kNotDescending where the depth limit stops it (drawing a "..." line in place of its
// children). Kept out of the recursive functions so that their frames stay small.
[[gnu::noinline]] std::size_t draw_row(std::size_t at, std::uint64_t depth, Ancestors& ancestors,
                                       bool is_last, const RenderContext& context, Lines& lines) {
  const std::size_t end = draw_node(at, depth, ancestors, is_last, context, lines);
  // The top level draws no guide of its own, so its children add no ancestor flag.
  if (depth != 0) ancestors.push_back(!is_last);
  if (context.options.max_depth <= depth) {
    if (context.tree.node(end).has_children()) {
      append_node_line(lines, depth + 1, ancestors, true, kGapLabel);
    }
    return kNotDescending;
  }
  return end;
}

[[gnu::noinline]] void draw_context(std::uint64_t position, std::uint64_t depth,
                                    const Ancestors& ancestors, bool is_last,
                                    const engine::Position& parent, const RenderContext& context,
                                    Lines& lines) {
  std::string& line = lines.add();
  append_node_prefix(line, depth, ancestors, is_last);
  engine::append_index_segment(line, position);
  value::Node shown;
  bool from_new = true;
  if (position < list_length(parent.new_node)) {
    shown = parent.new_node->items[position];
  } else if (position < list_length(parent.old_node)) {
    shown = parent.old_node->items[position];
    from_new = false;
  }
  if (shown.kind == value::Kind::Deferred) {
    if (context.deferred == nullptr) {
      throw value::InternalError("an unconverted list item has no source");
    }
    shown = (*context.deferred)(parent, position, from_new);
  }
  append_context_line(lines, depth, ancestors, !is_last, shown);
}

}  // namespace

std::size_t compact_chain(std::size_t end, const RenderContext& context, std::string& label) {
  append_compact_segment(label, *context.tree.node(end).position, true);
  for (;;) {
    value::poll_interrupt();
    const PrettyNode& node = context.tree.node(end);
    if (node.has_changes() || !node.has_one_child()) return end;
    end = node.first_child;
    append_compact_segment(label, *context.tree.node(end).position, false);
  }
}

void render_children(std::size_t parent, std::uint64_t depth, Ancestors& ancestors,
                     RenderContext& context, Lines& lines) {
  if (!context.tree.node(parent).has_children()) return;
  value::check_stack(value::kWhileRendering);
  const std::size_t items_from = context.items.size();
  plan_children(parent, context);
  render_entries(items_from, context.items.size(), parent, depth, ancestors, context, lines);
  context.items.resize(items_from);
}

void render_entries(std::size_t first, std::size_t last, std::size_t parent, std::uint64_t depth,
                    Ancestors& ancestors, RenderContext& context, Lines& lines) {
  for (std::size_t at = first; at < last; ++at) {
    value::poll_interrupt();
    const bool is_last = at + 1 == last;
    // Read through the index each time: the levels below grow the stack the item lives in.
    const RenderItem::Kind kind = context.items[at].kind;
    if (kind == RenderItem::Kind::Gap) {
      append_node_line(lines, depth, ancestors, is_last, kGapLabel);
      continue;
    }
    if (kind == RenderItem::Kind::Context) {
      draw_context(context.items[at].index, depth, ancestors, is_last,
                   *context.tree.node(parent).position, context, lines);
      continue;
    }
    const std::size_t below = draw_row(at, depth, ancestors, is_last, context, lines);
    if (below != kNotDescending) render_children(below, depth + 1, ancestors, context, lines);
    if (depth != 0) ancestors.pop_back();
  }
}

}  // namespace hexalume::pretty
