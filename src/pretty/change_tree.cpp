#include "pretty/change_tree.hpp"

#include <algorithm>
#include <numeric>
#include <optional>
#include <string_view>

#include "pretty/compact.hpp"
#include "pretty/layout.hpp"
#include "pretty/lookup.hpp"
#include "value/interrupt.hpp"

namespace hexalume::pretty {

namespace {

constexpr std::string_view kUnknownType = "unknown";

const value::Node* section(const value::Node& report, std::string_view name, value::Kind kind) {
  const value::Node* found = value::find_member(report, name);
  return found != nullptr && found->kind == kind ? found : nullptr;
}

// The member `name` of a report entry, when the entry is an object that has it.
const value::Node* entry_member(const value::Node& entry, std::string_view name) {
  return entry.kind == value::Kind::Object ? value::find_member(entry, name) : nullptr;
}

// The value at `path` in `tree`; else the entry's `name` member; else null.
value::Node resolve(const value::Node& tree, const std::vector<engine::PathSegment>& path,
                    const value::Node* entry, std::string_view name) {
  if (const value::Node* found = lookup(tree, path)) return *found;
  if (entry != nullptr) {
    if (const value::Node* member = entry_member(*entry, name)) return *member;
  }
  return value::make_null();
}

std::string_view type_of(const value::Node& entry, std::string_view name) {
  const value::Node* member = entry_member(entry, name);
  return member != nullptr && member->kind == value::Kind::String ? member->string() : kUnknownType;
}

class Gatherer {
 public:
  Gatherer(const value::Node& t1, const value::Node& t2) : t1_(t1), t2_(t2) {}

  void values_changed(const value::Node& report) {
    if (const value::Node* object = section(report, "values_changed", value::Kind::Object)) {
      for (const value::Member& member : object->object()) {
        value::poll_interrupt();
        auto path = engine::parse_path(member.key.string());
        if (!path) continue;
        Changed change{resolve(t1_, *path, &member.value, "old_value"),
                       resolve(t2_, *path, &member.value, "new_value")};
        entries_.push_back({std::move(*path), change});
      }
    } else if (const value::Node* list = section(report, "values_changed", value::Kind::List)) {
      for (const value::Node& item : list->list()) {
        value::poll_interrupt();
        auto path = parsed_string(item);
        if (!path) continue;
        Changed change{resolve(t1_, *path, nullptr, {}), resolve(t2_, *path, nullptr, {})};
        entries_.push_back({std::move(*path), change});
      }
    }
  }

  void type_changes(const value::Node& report) {
    const value::Node* object = section(report, "type_changes", value::Kind::Object);
    if (object == nullptr) return;
    for (const value::Member& member : object->object()) {
      value::poll_interrupt();
      auto path = engine::parse_path(member.key.string());
      if (!path) continue;
      TypeChanged change{type_of(member.value, "old_type"), type_of(member.value, "new_type"),
                         resolve(t1_, *path, &member.value, "old_value"),
                         resolve(t2_, *path, &member.value, "new_value")};
      entries_.push_back({std::move(*path), change});
    }
  }

  // A path list: the value comes from the tree alone and is absent when the path is missing.
  template <typename Change>
  void path_list(const value::Node& report, std::string_view name, const value::Node& tree) {
    const value::Node* list = section(report, name, value::Kind::List);
    if (list == nullptr) return;
    for (const value::Node& item : list->list()) {
      value::poll_interrupt();
      auto path = parsed_string(item);
      if (!path) continue;
      std::optional<value::Node> shown;
      if (const value::Node* found = lookup(tree, *path)) shown = *found;
      entries_.push_back({std::move(*path), Change{shown}});
    }
  }

  // A path → item object: the tree's value first, else the report's own copy.
  template <typename Change>
  void item_map(const value::Node& report, std::string_view name, const value::Node& tree) {
    const value::Node* object = section(report, name, value::Kind::Object);
    if (object == nullptr) return;
    for (const value::Member& member : object->object()) {
      value::poll_interrupt();
      auto path = engine::parse_path(member.key.string());
      if (!path) continue;
      const value::Node* found = lookup(tree, *path);
      entries_.push_back({std::move(*path), Change{found != nullptr ? *found : member.value}});
    }
  }

  std::vector<ChangeEntry> take() { return std::move(entries_); }

 private:
  static std::optional<std::vector<engine::PathSegment>> parsed_string(const value::Node& item) {
    if (item.kind != value::Kind::String) return std::nullopt;
    return engine::parse_path(item.string());
  }

  const value::Node& t1_;
  const value::Node& t2_;
  std::vector<ChangeEntry> entries_;
};

Lines flat_listing(const std::vector<ChangeEntry>& entries, const PrettyOptions& options) {
  std::vector<std::string> headers;
  headers.reserve(entries.size());
  for (const ChangeEntry& entry : entries) {
    value::poll_interrupt();
    headers.push_back(entry.path.empty() ? std::string("root")
                                         : format_compact_segments(entry.path));
  }
  std::vector<std::size_t> order(entries.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t left, std::size_t right) {
    value::poll_interrupt();
    return headers[left] < headers[right];
  });
  Lines lines;
  const Ancestors none;
  for (std::size_t at : order) {
    value::poll_interrupt();
    lines.add(headers[at]);
    append_change_lines(lines, 0, none, false, entries[at].change, options.no_color);
  }
  return lines;
}

}  // namespace

std::vector<ChangeEntry> gather_changes(const value::Node& report, const value::Node& t1,
                                        const value::Node& t2) {
  if (report.kind != value::Kind::Object) return {};
  Gatherer gatherer(t1, t2);
  gatherer.values_changed(report);
  gatherer.type_changes(report);
  gatherer.path_list<Added>(report, "dictionary_item_added", t2);
  gatherer.path_list<Removed>(report, "dictionary_item_removed", t1);
  gatherer.item_map<Added>(report, "iterable_item_added", t2);
  gatherer.item_map<Removed>(report, "iterable_item_removed", t1);
  return gatherer.take();
}

PrettyNode build_change_tree(const std::vector<ChangeEntry>& entries) {
  PrettyNode root;
  for (const ChangeEntry& entry : entries) {
    value::poll_interrupt();
    PrettyNode* node = &root;
    for (const engine::PathSegment& step : entry.path) node = &node->child_for(step);
    node->changes.push_back(entry.change);
  }
  return root;
}

std::string render_pretty(const value::Node& report, const value::Node& t1, const value::Node& t2,
                          const PrettyOptions& options) {
  std::vector<ChangeEntry> entries = gather_changes(report, t1, t2);
  if (entries.empty()) return {};
  if (options.path_header) return flat_listing(entries, options).take();
  PrettyNode root = build_change_tree(entries);
  Lines lines;
  Ancestors ancestors;
  if (!root.changes.empty()) {
    lines.add("root");
    for (const ChangeKind& change : root.changes) {
      append_change_lines(lines, 0, ancestors, false, change, options.no_color);
    }
  }
  const RenderContext context{t1, t2, options};
  render_children(root.children, 0, ancestors, Located{&t1, &t2}, context, lines);
  return lines.take();
}

}  // namespace hexalume::pretty
