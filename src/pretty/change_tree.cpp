#include "pretty/change_tree.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string_view>
#include <utility>

#include "pretty/compact.hpp"
#include "pretty/layout.hpp"
#include "pretty/lookup.hpp"
#include "value/interrupt.hpp"

namespace hexalume::pretty {

namespace {

constexpr std::string_view kRoot = "root";
// Bytes reserved per entry for its change lines in the flat listing, and for all its lines in
// the tree; only first guesses.
constexpr std::size_t kChangeLinesGuess = 48;
constexpr std::size_t kBytesPerEntryGuess = 64;
constexpr std::size_t kMostReserved = std::size_t{64} << 20;

const value::Node* section(const value::Node& report, std::string_view name, value::Kind kind) {
  const value::Node* found = value::find_member(report, name);
  return found != nullptr && found->kind == kind ? found : nullptr;
}

// The member `name` of a report entry, when the entry is an object that has it. Entries have
// two or four members, which a scan finds faster than a binary search.
const value::Node* entry_member(const value::Node& entry, std::string_view name) {
  if (entry.kind != value::Kind::Object) return nullptr;
  if (entry.size() > 4) return value::find_member(entry, name);
  for (const value::Member& member : entry.object()) {
    if (member.key.string() == name) return &member.value;
  }
  return nullptr;
}

PendingChange value_change(PendingChange::Kind kind, const value::Node* old_value,
                           const value::Node* new_value) {
  return {kind, old_value, new_value, nullptr};
}

class Gatherer {
 public:
  explicit Gatherer(const value::Node& report) : report_(report) {}

  void values_changed() {
    if (const value::Node* object = section(report_, "values_changed", value::Kind::Object)) {
      for (const value::Member& member : object->object()) {
        add(member.key,
            value_change(PendingChange::Kind::Changed, entry_member(member.value, "old_value"),
                         entry_member(member.value, "new_value")));
      }
    } else if (const value::Node* list = section(report_, "values_changed", value::Kind::List)) {
      for (const value::Node& item : list->list())
        add(item, value_change(PendingChange::Kind::Changed, nullptr, nullptr));
    }
  }

  void type_changes() {
    const value::Node* object = section(report_, "type_changes", value::Kind::Object);
    if (object == nullptr) return;
    for (const value::Member& member : object->object()) {
      add(member.key, {PendingChange::Kind::TypeChanged, entry_member(member.value, "old_value"),
                       entry_member(member.value, "new_value"), &member.value});
    }
  }

  // A path list: the value is the one at the path, absent when the path is missing.
  void path_list(std::string_view name, PendingChange::Kind kind) {
    const value::Node* list = section(report_, name, value::Kind::List);
    if (list == nullptr) return;
    for (const value::Node& item : list->list()) add(item, value_change(kind, nullptr, nullptr));
  }

  // A path -> item object: the item is the entry's own value.
  void item_map(std::string_view name, PendingChange::Kind kind) {
    const value::Node* object = section(report_, name, value::Kind::Object);
    if (object == nullptr) return;
    for (const value::Member& member : object->object()) {
      const bool added = kind == PendingChange::Kind::Added;
      add(member.key,
          value_change(kind, added ? nullptr : &member.value, added ? &member.value : nullptr));
    }
  }

  // Room for every member of every section, whatever its shape.
  void reserve() {
    std::size_t count = 0;
    for (const value::Member& member : report_.object()) {
      if (member.value.kind == value::Kind::List || member.value.kind == value::Kind::Object) {
        count += member.value.size();
      }
    }
    entries_.reserve(count);
  }

  std::vector<ReportEntry> take() { return std::move(entries_); }

 private:
  void add(const value::Node& path, const PendingChange& change) {
    value::poll_interrupt();
    if (path.kind != value::Kind::String) return;
    const std::string_view text = path.string();
    if (text.substr(0, kRoot.size()) != kRoot) return;
    entries_.push_back({text.substr(kRoot.size()), change});
  }

  const value::Node& report_;
  std::vector<ReportEntry> entries_;
};

// The flat listing: one header per change, sorted by header bytes (stable).
class FlatListing {
 public:
  FlatListing(const value::Node& t1, const value::Node& t2, const PrettyOptions& options)
      : top_{&t1, &t2}, options_(options) {}

  std::string render(const std::vector<ReportEntry>& entries) {
    // A header is never longer than its path unless a key holds control characters.
    std::size_t path_bytes = 0;
    for (const ReportEntry& entry : entries) path_bytes += entry.path.size() + kRoot.size();
    headers_.reserve(path_bytes);
    listed_.reserve(entries.size());
    for (std::size_t at = 0; at < entries.size(); ++at) read(entries[at], at);
    if (listed_.empty()) return {};
    sort_by_header();
    Lines lines;
    lines.reserve(headers_.size() + listed_.size() * kChangeLinesGuess);
    const Ancestors none;
    for (const Listed& listed : listed_) {
      value::poll_interrupt();
      lines.add(header(listed));
      const ReportEntry& entry = entries[listed.entry];
      const Located where =
          settle(entry.change, listed.where, *top_.old_node, *top_.new_node, entry.path);
      append_change_lines(lines, 0, none, false, resolve(entry.change, where), options_.no_color);
    }
    return lines.take();
  }

 private:
  struct Listed {
    std::size_t entry;
    std::size_t header_from;  // the header is headers_[header_from, header_to)
    std::size_t header_to;
    Located where;  // looked up only when the change carries no value of its own
  };

  // Writes the entry's header and, when needed, finds where its path leads; skips the entry
  // when its path is unreadable.
  void read(const ReportEntry& entry, std::size_t at) {
    value::poll_interrupt();
    const std::size_t header_from = headers_.size();
    const bool needs_lookup = entry.change.needs_lookup();
    Located where = top_;
    std::size_t cursor = 0;
    engine::PathStep step;
    bool first = true;
    for (;;) {
      const engine::ScanResult result = engine::scan_segment(entry.path, cursor, step);
      if (result == engine::ScanResult::End) break;
      if (result == engine::ScanResult::Unreadable) {
        headers_.resize(header_from);
        return;
      }
      append_compact_segment(headers_, step, first);
      first = false;
      if (needs_lookup) where = descend(where, step);
    }
    if (first) headers_ += kRoot;
    listed_.push_back({at, header_from, headers_.size(), where});
  }

  std::string_view header(const Listed& listed) const {
    return std::string_view(headers_).substr(listed.header_from,
                                             listed.header_to - listed.header_from);
  }

  // A natural merge sort: report sections are sorted by path, so headers mostly come in a few
  // sorted runs, and each merge pass compares every header with about one neighbour. The cost
  // stays proportional to the text printed times the (small) number of passes. Stable.
  void sort_by_header() {
    auto less = [this](const Listed& left, const Listed& right) {
      value::poll_interrupt();
      return header(left) < header(right);
    };
    std::vector<std::size_t> runs{0};
    for (std::size_t at = 1; at < listed_.size(); ++at) {
      if (less(listed_[at], listed_[at - 1])) runs.push_back(at);
    }
    runs.push_back(listed_.size());
    std::vector<Listed> merged(listed_.size());
    while (runs.size() > 2) {
      std::vector<std::size_t> next_runs{0};
      for (std::size_t run = 0; run + 1 < runs.size(); run += 2) {
        const auto from = listed_.begin() + static_cast<std::ptrdiff_t>(runs[run]);
        const auto middle = listed_.begin() + static_cast<std::ptrdiff_t>(runs[run + 1]);
        const std::size_t end_at = run + 2 < runs.size() ? runs[run + 2] : runs[run + 1];
        const auto to = listed_.begin() + static_cast<std::ptrdiff_t>(end_at);
        std::merge(from, middle, middle, to,
                   merged.begin() + static_cast<std::ptrdiff_t>(runs[run]), less);
        next_runs.push_back(end_at);
      }
      listed_.swap(merged);
      runs.swap(next_runs);
    }
  }

  Located top_;
  const PrettyOptions& options_;
  std::string headers_;  // every header, one after the other
  std::vector<Listed> listed_;
};

}  // namespace

std::vector<ReportEntry> gather_changes(const value::Node& report) {
  if (report.kind != value::Kind::Object) return {};
  Gatherer gatherer(report);
  gatherer.reserve();
  gatherer.values_changed();
  gatherer.type_changes();
  gatherer.path_list("dictionary_item_added", PendingChange::Kind::Added);
  gatherer.path_list("dictionary_item_removed", PendingChange::Kind::Removed);
  gatherer.item_map("iterable_item_added", PendingChange::Kind::Added);
  gatherer.item_map("iterable_item_removed", PendingChange::Kind::Removed);
  return gatherer.take();
}

std::string render_pretty(const value::Node& report, const value::Node& t1, const value::Node& t2,
                          const PrettyOptions& options) {
  std::vector<ReportEntry> entries = gather_changes(report);
  if (entries.empty()) return {};
  if (options.path_header) return FlatListing(t1, t2, options).render(entries);

  // Levels 0 to max_depth are drawn and level max_depth + 1 is looked at for the "..." line,
  // so those segments are all that must be readable up front.
  const std::uint64_t checked = options.max_depth < std::numeric_limits<std::uint64_t>::max() - 2
                                    ? options.max_depth + 2
                                    : std::numeric_limits<std::uint64_t>::max();
  const std::size_t entry_count = entries.size();
  ChangeTree tree(std::move(entries), checked);
  if (tree.empty()) return {};
  RenderContext context{t1, t2, options, tree, {}, {}, {}, {}};
  const Located top{&t1, &t2};
  Lines lines;
  // Address space only: pages never written cost nothing, and most reports fit in one go.
  lines.reserve(std::min(entry_count * kBytesPerEntryGuess, kMostReserved));
  Ancestors ancestors;
  const PrettyNode& root = tree.root();
  if (root.has_changes()) {
    lines.add(kRoot);
    for (std::size_t at = root.first; at < root.split; ++at) {
      append_change_lines(lines, 0, ancestors, false, resolve(tree.change(at), top),
                          options.no_color);
    }
  }
  tree.expand(root, context.nodes);
  render_children(0, context.nodes.size(), 0, ancestors, top, context, lines);
  return lines.take();
}

}  // namespace hexalume::pretty
