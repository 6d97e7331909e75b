#include "pretty/layout.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "pretty/compact.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::pretty {

namespace {

constexpr std::string_view kGapLabel = "...";

RenderItem node_item(const RankedChild& child) {
  return {RenderItem::Kind::Node, child.node, child.where};
}
RenderItem gap_item() { return {RenderItem::Kind::Gap, 0, {}}; }
RenderItem context_item(std::uint64_t position) {
  return {RenderItem::Kind::Context, position, {}};
}

bool is_nonempty_object(const value::Node* node) {
  return node != nullptr && node->kind == value::Kind::Object && node->size() != 0;
}

std::size_t list_length(const value::Node* node) {
  return node != nullptr && node->kind == value::Kind::List ? node->size() : 0;
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

// The list children of `context.nodes[first, last)` sorted by position. When they fill a good
// part of the list, one pass over the positions replaces the comparison sort; positions beyond
// the list come after them.
void rank_by_position(std::size_t first, std::size_t last, std::size_t length,
                      RenderContext& context) {
  constexpr std::size_t kDenseFactor = 4;
  std::vector<RankedChild>& ranked = context.ranked;
  ranked.clear();
  const std::size_t count = last - first;
  if (count < 64 || length / kDenseFactor > count) {
    for (std::size_t child = first; child < last; ++child) {
      const engine::PathStep& step = context.nodes[child].segment;
      if (!step.is_key()) ranked.push_back({step.index, child, {}});
    }
    sort_by_rank(ranked);
    return;
  }
  std::vector<std::size_t>& slot = context.positions;
  slot.assign(length, SIZE_MAX);
  for (std::size_t child = first; child < last; ++child) {
    const engine::PathStep& step = context.nodes[child].segment;
    if (!step.is_key() && step.index < length) slot[step.index] = child;
  }
  for (std::size_t position = 0; position < length; ++position) {
    if (slot[position] != SIZE_MAX) ranked.push_back({position, slot[position], {}});
  }
  const std::size_t inside = ranked.size();
  for (std::size_t child = first; child < last; ++child) {
    const engine::PathStep& step = context.nodes[child].segment;
    if (!step.is_key() && step.index >= length) ranked.push_back({step.index, child, {}});
  }
  std::sort(
      ranked.begin() + static_cast<std::ptrdiff_t>(inside), ranked.end(),
      [](const RankedChild& left, const RankedChild& right) { return left.rank < right.rank; });
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

// Children that the parent's kind does not place (a key that neither object holds, a key under a
// list, a position under an object): their paths pass a key holding "']", which a path cannot
// tell apart from several segments. They are drawn after the placed ones, ordered by their
// labels' bytes, so that no change of the report goes undrawn.
void plan_unplaced(const std::vector<std::size_t>& unplaced, Located parent,
                   RenderContext& context) {
  std::vector<std::pair<std::string, std::size_t>> labelled;
  labelled.reserve(unplaced.size());
  for (std::size_t child : unplaced) {
    value::poll_interrupt();
    labelled.emplace_back(segment_label(context.nodes[child].segment), child);
  }
  std::stable_sort(labelled.begin(), labelled.end(),
                   [](const auto& left, const auto& right) { return left.first < right.first; });
  for (const auto& entry : labelled) {
    const RankedChild child{0, entry.second, descend(parent, context.nodes[entry.second].segment)};
    context.items.push_back(node_item(child));
  }
}

// Children in the order of the keys of t2, then the keys only in t1. A gap stands between two
// drawn children wherever an undrawn key lies between them. A child's rank is its position
// among the keys of t2, or the number of t2's keys plus its position among those of t1.
void plan_object(std::size_t first, std::size_t last, Located parent, RenderContext& context) {
  const value::Node* new_object = is_nonempty_object(parent.new_node) ? parent.new_node : nullptr;
  const value::Node* old_object = is_nonempty_object(parent.old_node) ? parent.old_node : nullptr;
  const std::size_t new_size = new_object != nullptr ? new_object->size() : 0;
  const std::size_t old_size = old_object != nullptr ? old_object->size() : 0;
  std::vector<RankedChild>& ranked = context.ranked;
  ranked.clear();
  std::vector<std::size_t> unplaced;
  for (std::size_t child = first; child < last; ++child) {
    value::poll_interrupt();
    const engine::PathStep& step = context.nodes[child].segment;
    if (!step.is_key()) {
      unplaced.push_back(child);
      continue;
    }
    const std::size_t new_at =
        new_object != nullptr ? member_position(*new_object, step.key) : new_size;
    const std::size_t old_at =
        old_object != nullptr ? member_position(*old_object, step.key) : old_size;
    if (new_at == new_size && old_at == old_size) {
      unplaced.push_back(child);
      continue;
    }
    Located where{old_at < old_size ? &old_object->object()[old_at].value : nullptr,
                  new_at < new_size ? &new_object->object()[new_at].value : nullptr};
    ranked.push_back({new_at < new_size ? new_at : new_size + old_at, child, where});
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
  if (!unplaced.empty()) plan_unplaced(unplaced, parent, context);
}

// Positions 0..length-1 that are changed or within `context` of a changed one, in order, with
// a gap wherever visible positions are not adjacent.
void plan_list(std::size_t first, std::size_t last, Located parent, std::size_t length,
               RenderContext& context) {
  rank_by_position(first, last, length, context);
  std::vector<RankedChild>& ranked = context.ranked;

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
        RankedChild& child = ranked[next];
        child.where = descend(parent, context.nodes[child.node].segment);
        context.items.push_back(node_item(child));
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
    const std::uint64_t to =
        index > last_position || last_position - index < around ? last_position : index + around;
    if (from > to) continue;
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
  std::vector<std::size_t> unplaced;
  for (std::size_t child = first; child < last; ++child) {
    if (context.nodes[child].segment.is_key()) unplaced.push_back(child);
  }
  if (!unplaced.empty()) plan_unplaced(unplaced, parent, context);
}

// Every child, stably sorted by its label as printed, compared as bytes.
void plan_by_label(std::size_t first, std::size_t last, Located parent, RenderContext& context) {
  std::vector<std::size_t> children(last - first);
  for (std::size_t child = first; child < last; ++child) children[child - first] = child;
  plan_unplaced(children, parent, context);
}

// Kept out of the recursive functions so that their frames stay small.
[[gnu::noinline]] void plan_children(std::size_t first, std::size_t last, Located parent,
                                     RenderContext& context) {
  if (is_nonempty_object(parent.new_node) || is_nonempty_object(parent.old_node)) {
    plan_object(first, last, parent, context);
    return;
  }
  std::size_t length = std::max(list_length(parent.old_node), list_length(parent.new_node));
  if (length != 0) {
    plan_list(first, last, parent, length, context);
  } else {
    plan_by_label(first, last, parent, context);
  }
}

// Draws the label line and change lines of the Node item `context.items[at]`.
[[gnu::noinline]] DrawnNode draw_node(std::size_t at, std::uint64_t depth,
                                      const Ancestors& ancestors, bool is_last,
                                      RenderContext& context, Lines& lines) {
  const RenderItem& item = context.items[at];
  DrawnNode drawn{item.index, 0, context.nodes.size(), item.where, false};
  std::string& line = lines.add();
  append_node_prefix(line, depth, ancestors, is_last);
  if (context.options.compact) {
    compact_chain(drawn, context, line);
  } else {
    append_segment_label(line, context.nodes[drawn.end].segment);
  }
  const PrettyNode& end = context.nodes[drawn.end];
  for (std::size_t change = end.first; change < end.split; ++change) {
    const PendingChange& pending = context.tree.change(change);
    const Located where =
        settle(pending, drawn.where, context.t1, context.t2, context.tree.path(change));
    append_change_lines(lines, depth, ancestors, !is_last, resolve(pending, where),
                        context.options.no_color);
  }
  return drawn;
}

constexpr std::size_t kNotDescending = SIZE_MAX;

// Draws the Node row `context.items[at]` and, unless the depth limit stops it there (drawing a
// "..." line in place of its children), reads its children. Returns where they start in
// RenderContext::nodes, or kNotDescending; `below` is where the drawn node leads. Kept out of
// the recursive functions so that their frames stay small.
[[gnu::noinline]] std::size_t draw_row(std::size_t at, std::uint64_t depth, Ancestors& ancestors,
                                       bool is_last, RenderContext& context, Lines& lines,
                                       Located& below) {
  const DrawnNode drawn = draw_node(at, depth, ancestors, is_last, context, lines);
  below = drawn.where;
  // The top level draws no guide of its own, so its children add no ancestor flag.
  if (depth != 0) ancestors.push_back(!is_last);
  if (context.options.max_depth <= depth) {
    const bool has_children = drawn.expanded ? context.nodes.size() > drawn.children_from
                                             : context.nodes[drawn.end].has_children();
    if (has_children) append_node_line(lines, depth + 1, ancestors, true, kGapLabel);
    return kNotDescending;
  }
  if (drawn.expanded) return drawn.children_from;
  const PrettyNode end = context.nodes[drawn.end];  // a copy: expanding grows the vector
  const std::size_t children_from = context.nodes.size();
  context.tree.expand(end, context.nodes);
  return children_from;
}

// Undoes what draw_row pushed: the nodes of the row and its ancestor flag.
[[gnu::noinline]] void finish_row(std::size_t restore, std::uint64_t depth, Ancestors& ancestors,
                                  RenderContext& context) {
  context.nodes.erase(context.nodes.begin() + static_cast<std::ptrdiff_t>(restore),
                      context.nodes.end());
  if (depth != 0) ancestors.pop_back();
}

[[gnu::noinline]] void draw_context(std::uint64_t position, std::uint64_t depth,
                                    const Ancestors& ancestors, bool is_last, Located parent,
                                    Lines& lines) {
  const engine::PathStep step{engine::PathSegment::Kind::Index, position, {}};
  std::string& line = lines.add();
  append_node_prefix(line, depth, ancestors, is_last);
  append_segment_label(line, step);
  Located element = descend(parent, step);
  const value::Node* shown = element.new_node != nullptr ? element.new_node : element.old_node;
  append_context_line(lines, depth, ancestors, !is_last, shown != nullptr ? *shown : value::Node{});
}

}  // namespace

void compact_chain(DrawnNode& drawn, RenderContext& context, std::string& label) {
  append_compact_segment(label, context.nodes[drawn.end].segment, true);
  for (;;) {
    value::poll_interrupt();
    const PrettyNode end = context.nodes[drawn.end];  // a copy: expanding grows the vector
    if (end.has_changes() || !end.has_children()) return;
    const std::size_t children_from = context.nodes.size();
    context.tree.expand(end, context.nodes);
    if (context.nodes.size() - children_from != 1) {
      drawn.expanded = true;
      drawn.children_from = children_from;
      return;
    }
    drawn.end = children_from;
    const engine::PathStep& step = context.nodes[drawn.end].segment;
    append_compact_segment(label, step, false);
    drawn.where = descend(drawn.where, step);
  }
}

void render_children(std::size_t first, std::size_t last, std::uint64_t depth, Ancestors& ancestors,
                     Located parent, RenderContext& context, Lines& lines) {
  if (first == last) return;
  value::check_stack(value::kWhileRendering);
  const std::size_t items_from = context.items.size();
  plan_children(first, last, parent, context);
  render_entries(items_from, context.items.size(), depth, ancestors, parent, context, lines);
  context.items.resize(items_from);
}

void render_entries(std::size_t first, std::size_t last, std::uint64_t depth, Ancestors& ancestors,
                    Located parent, RenderContext& context, Lines& lines) {
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
      draw_context(context.items[at].index, depth, ancestors, is_last, parent, lines);
      continue;
    }
    const std::size_t restore = context.nodes.size();
    Located below;
    const std::size_t children_from =
        draw_row(at, depth, ancestors, is_last, context, lines, below);
    if (children_from != kNotDescending) {
      render_children(children_from, context.nodes.size(), depth + 1, ancestors, below, context,
                      lines);
    }
    finish_row(restore, depth, ancestors, context);
  }
}

}  // namespace hexalume::pretty
