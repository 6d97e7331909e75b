#include "pretty/layout.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "pretty/compact.hpp"
#include "pretty/lookup.hpp"
#include "value/internal_error.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::pretty {

namespace {

constexpr std::string_view kGapLabel = "...";

RenderItem node_item(const PrettyNode* node) { return {RenderItem::Kind::Node, node, 0}; }
RenderItem gap_item() { return {RenderItem::Kind::Gap, nullptr, 0}; }
RenderItem context_item(std::uint64_t position) {
  return {RenderItem::Kind::Context, nullptr, position};
}

bool is_nonempty_object(const value::Node* node) {
  return node != nullptr && node->kind == value::Kind::Object && node->size() != 0;
}

std::size_t list_length(const value::Node* node) {
  return node != nullptr && node->kind == value::Kind::List ? node->size() : 0;
}

// Children in the order of the keys of t2, then the keys only in t1. A gap stands between two
// drawn children wherever an undrawn key lies between them.
std::vector<RenderItem> plan_object(const std::vector<PrettyNode>& children, Located parent) {
  std::unordered_map<std::string_view, const PrettyNode*> by_key;
  by_key.reserve(children.size());
  for (const PrettyNode& child : children) {
    value::poll_interrupt();
    if (child.segment && child.segment->is_key()) by_key.try_emplace(child.segment->key, &child);
  }
  std::vector<RenderItem> items;
  bool seen = false;
  bool skipped = false;
  std::size_t drawn = 0;
  auto visit = [&](std::string_view key) {
    value::poll_interrupt();
    auto found = by_key.find(key);
    if (found == by_key.end()) {
      skipped = seen;
      return;
    }
    if (skipped) items.push_back(gap_item());
    items.push_back(node_item(found->second));
    skipped = false;
    seen = true;
    ++drawn;
  };
  const value::Node* old_object = parent.old_node;
  const value::Node* new_object = parent.new_node;
  const bool has_new = is_nonempty_object(new_object);
  if (has_new) {
    for (const value::Member& member : new_object->object()) {
      if (drawn == by_key.size()) return items;  // later keys could only open a trailing gap
      visit(member.key.string());
    }
  }
  if (is_nonempty_object(old_object)) {
    std::unordered_set<std::string_view> new_keys;
    if (has_new) {
      new_keys.reserve(new_object->size());
      for (const value::Member& member : new_object->object()) new_keys.insert(member.key.string());
    }
    for (const value::Member& member : old_object->object()) {
      if (drawn == by_key.size()) return items;
      if (!new_keys.contains(member.key.string())) visit(member.key.string());
    }
  }
  return items;
}

// Positions 0..length-1 that are changed or within `context` of a changed one, in order, with
// a gap wherever visible positions are not adjacent.
std::vector<RenderItem> plan_list(const std::vector<PrettyNode>& children, std::size_t length,
                                  std::uint64_t context) {
  std::unordered_map<std::uint64_t, const PrettyNode*> by_index;
  std::vector<std::uint64_t> changed;
  by_index.reserve(children.size());
  changed.reserve(children.size());
  for (const PrettyNode& child : children) {
    value::poll_interrupt();
    if (!child.segment || child.segment->is_key()) continue;
    if (by_index.try_emplace(child.segment->index, &child).second) {
      changed.push_back(child.segment->index);
    }
  }
  std::sort(changed.begin(), changed.end());

  // Merged runs of visible positions; runs that touch are one run, so no gap opens there.
  struct Run {
    std::uint64_t first;
    std::uint64_t last;
  };
  std::vector<Run> runs;
  const std::uint64_t last_position = length - 1;
  for (std::uint64_t index : changed) {
    std::uint64_t first = index > context ? index - context : 0;
    std::uint64_t last =
        index > last_position || last_position - index < context ? last_position : index + context;
    if (first > last) continue;
    if (!runs.empty() && first <= runs.back().last + 1) {
      runs.back().last = std::max(runs.back().last, last);
    } else {
      runs.push_back({first, last});
    }
  }

  std::vector<RenderItem> items;
  for (const Run& run : runs) {
    if (!items.empty()) items.push_back(gap_item());
    for (std::uint64_t position = run.first; position <= run.last; ++position) {
      auto found = by_index.find(position);
      items.push_back(found != by_index.end() ? node_item(found->second) : context_item(position));
    }
  }
  return items;
}

// Every child, stably sorted by its plain label as bytes.
std::vector<RenderItem> plan_by_label(const std::vector<PrettyNode>& children) {
  std::vector<std::pair<std::string, const PrettyNode*>> labelled;
  labelled.reserve(children.size());
  for (const PrettyNode& child : children) {
    value::poll_interrupt();
    labelled.emplace_back(child.segment ? segment_label(*child.segment) : std::string(), &child);
  }
  std::stable_sort(labelled.begin(), labelled.end(),
                   [](const auto& left, const auto& right) { return left.first < right.first; });
  std::vector<RenderItem> items;
  items.reserve(labelled.size());
  for (const auto& entry : labelled) items.push_back(node_item(entry.second));
  return items;
}

// Kept out of the recursive functions so that their frames stay small.
[[gnu::noinline]] std::vector<RenderItem> plan_children(const std::vector<PrettyNode>& children,
                                                        Located parent,
                                                        const RenderContext& context) {
  if (is_nonempty_object(parent.new_node) || is_nonempty_object(parent.old_node)) {
    return plan_object(children, parent);
  }
  std::size_t length = std::max(list_length(parent.old_node), list_length(parent.new_node));
  if (length != 0) return plan_list(children, length, context.options.context);
  return plan_by_label(children);
}

// Draws the label line and change lines of one Node item; returns the node whose children
// come next and where it leads.
[[gnu::noinline]] std::pair<const PrettyNode*, Located> draw_node(
    const PrettyNode& node, std::uint64_t depth, const Ancestors& ancestors, bool is_last,
    Located parent, const RenderContext& context, Lines& lines) {
  const PrettyNode* end = &node;
  Located below;
  if (context.options.compact) {
    CompactChain chain = compact_chain(node, parent);
    append_node_line(lines, depth, ancestors, is_last, chain.label);
    end = chain.end;
    below = chain.where;
  } else {
    if (!node.segment) throw value::InternalError("non-root node must have a segment");
    std::string& line = lines.add();
    append_node_prefix(line, depth, ancestors, is_last);
    append_segment_label(line, *node.segment);
    below = descend(parent, *node.segment);
  }
  for (const ChangeKind& change : end->changes) {
    append_change_lines(lines, depth, ancestors, !is_last, change, context.options.no_color);
  }
  return {end, below};
}

[[gnu::noinline]] void draw_context(std::uint64_t position, std::uint64_t depth,
                                    const Ancestors& ancestors, bool is_last, Located parent,
                                    Lines& lines) {
  const engine::PathSegment step = engine::PathSegment::make_index(position);
  std::string& line = lines.add();
  append_node_prefix(line, depth, ancestors, is_last);
  append_segment_label(line, step);
  Located element = descend(parent, step);
  const value::Node* shown = element.new_node != nullptr ? element.new_node : element.old_node;
  append_context_line(lines, depth, ancestors, !is_last, shown != nullptr ? *shown : value::Node{});
}

}  // namespace

Located descend(Located where, const engine::PathSegment& step) {
  return {step_into(where.old_node, step), step_into(where.new_node, step)};
}

CompactChain compact_chain(const PrettyNode& start, Located parent) {
  CompactChain chain;
  chain.end = &start;
  chain.where = parent;
  bool first = true;
  auto take = [&](const PrettyNode& node) {
    if (!node.segment) return;
    append_compact_segment(chain.label, *node.segment, first);
    first = false;
    chain.where = descend(chain.where, *node.segment);
  };
  take(start);
  while (chain.end->changes.empty() && chain.end->children.size() == 1) {
    value::poll_interrupt();
    chain.end = &chain.end->children.front();
    take(*chain.end);
  }
  return chain;
}

void render_children(const std::vector<PrettyNode>& children, std::uint64_t depth,
                     Ancestors& ancestors, Located parent, const RenderContext& context,
                     Lines& lines) {
  if (children.empty()) return;
  render_entries(plan_children(children, parent, context), depth, ancestors, parent, context,
                 lines);
}

void render_entries(const std::vector<RenderItem>& items, std::uint64_t depth, Ancestors& ancestors,
                    Located parent, const RenderContext& context, Lines& lines) {
  value::check_stack(value::kWhileRendering);
  for (std::size_t k = 0; k < items.size(); ++k) {
    value::poll_interrupt();
    const RenderItem& item = items[k];
    const bool is_last = k + 1 == items.size();
    if (item.kind == RenderItem::Kind::Gap) {
      append_node_line(lines, depth, ancestors, is_last, kGapLabel);
      continue;
    }
    if (item.kind == RenderItem::Kind::Context) {
      draw_context(item.position, depth, ancestors, is_last, parent, lines);
      continue;
    }
    auto [end, below] = draw_node(*item.node, depth, ancestors, is_last, parent, context, lines);
    // The top level draws no guide of its own, so its children add no ancestor flag.
    if (depth != 0) ancestors.push_back(!is_last);
    if (context.options.max_depth <= depth) {
      if (!end->children.empty()) {
        append_node_line(lines, depth + 1, ancestors, true, kGapLabel);
      }
    } else {
      render_children(end->children, depth + 1, ancestors, below, context, lines);
    }
    if (depth != 0) ancestors.pop_back();
  }
}

}  // namespace hexalume::pretty
