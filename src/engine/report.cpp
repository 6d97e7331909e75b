#include "engine/report.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/path.hpp"
#include "value/interrupt.hpp"

namespace hexalume::engine {

namespace {

using value::Arena;
using value::Kind;
using value::Member;
using value::Node;
using value::NumberRep;

// One record with its path text (a String node of the report).
struct Entry {
  Node path;
  ChangeRecord record;
};

bool path_less(const Node& left, const Node& right) {
  value::poll_interrupt();
  return left.string() < right.string();
}

// Writes the paths of records. Records of one walk come in tree order, so siblings mostly follow
// each other: their parent's text is written once and each sibling appends its own step.
class PathWriter {
 public:
  // Room for the paths of ordinary documents, so that writing them does not regrow the text.
  PathWriter() { text_.reserve(120); }

  std::string_view path_of(const Position& position) {
    if (position.parent == nullptr) {
      text_.assign("root");
      parent_ = nullptr;
      return text_;
    }
    if (position.parent != parent_) {
      write_path(text_, *position.parent, chain_);
      parent_ = position.parent;
      parent_length_ = text_.size();
    } else {
      text_.resize(parent_length_);
    }
    append_step(text_, position);
    return text_;
  }

 private:
  std::string text_;
  std::vector<const Position*> chain_;
  const Position* parent_ = nullptr;
  std::size_t parent_length_ = 0;
};

// The texts every report repeats, made once: views of one node serve every entry.
struct Names {
  explicit Names(Arena& arena)
      : new_value(value::make_string(arena, "new_value")),
        old_value(value::make_string(arena, "old_value")),
        new_type(value::make_string(arena, "new_type")),
        old_type(value::make_string(arena, "old_type")),
        arena_(arena) {}

  Node type_of(const Node& node) {
    const std::string_view name = type_name(node);
    for (std::size_t at = 0; at < type_count_; ++at) {
      if (types_[at].string() == name) return types_[at];
    }
    types_[type_count_] = value::make_string(arena_, name);
    return types_[type_count_++];
  }

  Node new_value, old_value, new_type, old_type;

 private:
  Arena& arena_;
  Node types_[7];
  std::size_t type_count_ = 0;
};

std::vector<Entry> with_paths(const std::vector<ChangeRecord>& records, Arena& arena,
                              PathWriter& writer) {
  std::vector<Entry> entries;
  entries.reserve(records.size());
  for (const ChangeRecord& record : records) {
    value::poll_interrupt();
    entries.push_back({value::make_string(arena, writer.path_of(*record.position)), record});
  }
  return entries;
}

// Sorts by path bytes (stable); with `keyed`, equal paths keep only the newest record, and the
// first path recorded twice goes into `collision` unless it already holds one. Duplicates are
// adjacent after the sort, so finding them costs nothing beyond the pass that drops them.
void sort_entries(std::vector<Entry>& entries, bool keyed, std::string_view section,
                  std::optional<PathCollision>* collision) {
  auto by_path = [](const Entry& left, const Entry& right) {
    return path_less(left.path, right.path);
  };
  if (!std::is_sorted(entries.begin(), entries.end(), by_path)) {
    std::stable_sort(entries.begin(), entries.end(), by_path);
  }
  if (!keyed) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (kept > 0 && entries[kept - 1].path.string() == entries[i].path.string()) {
      if (collision != nullptr && !collision->has_value()) {
        *collision = PathCollision{std::string(entries[i].path.string()), section};
      }
      entries[kept - 1] = entries[i];
    } else {
      entries[kept++] = entries[i];
    }
  }
  entries.resize(kept);
}

Node entry_value(const ChangeRecord& record, Names& names, Arena& arena) {
  switch (record.kind) {
    case ChangeRecord::Kind::Changed: {
      // Members in key byte order: "new_value" < "old_value".
      Member* members = arena.allocate_members(2);
      members[0] = {names.new_value, record.new_value};
      members[1] = {names.old_value, record.old_value};
      return value::make_object(members, 2);
    }
    case ChangeRecord::Kind::TypeChanged: {
      // Members in key byte order: "new_type" < "new_value" < "old_type" < "old_value".
      Member* members = arena.allocate_members(4);
      members[0] = {names.new_type, names.type_of(record.new_value)};
      members[1] = {names.new_value, record.new_value};
      members[2] = {names.old_type, names.type_of(record.old_value)};
      members[3] = {names.old_value, record.old_value};
      return value::make_object(members, 4);
    }
    case ChangeRecord::Kind::Added:
      return record.new_value;
    case ChangeRecord::Kind::Removed:
      return record.old_value;
  }
  return Node{};
}

Node object_section(const std::vector<Entry>& entries, Names& names, Arena& arena) {
  Member* members = arena.allocate_members(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    members[i] = {entries[i].path, entry_value(entries[i].record, names, arena)};
  }
  return value::make_object(members, entries.size());
}

Node path_list_section(const std::vector<Entry>& entries, Arena& arena) {
  Node* items = arena.allocate_nodes(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) items[i] = entries[i].path;
  return value::make_list(items, entries.size());
}

}  // namespace

PendingPath::PendingPath(const Node& t1, const Node& t2) {
  Level& root = levels_.push();
  root.fields.old_node = &t1;
  root.fields.new_node = &t2;
}

void PendingPath::enter_member(const value::Member* old_member, const value::Member* new_member) {
  Position& fields = levels_.push().fields;
  fields.step = StepKind::Member;
  fields.key = old_member != nullptr ? old_member->key : new_member->key;
  fields.old_node = old_member != nullptr ? &old_member->value : nullptr;
  fields.new_node = new_member != nullptr ? &new_member->value : nullptr;
}

void PendingPath::enter_item(std::size_t index, const Node* old_item, const Node* new_item) {
  Position& fields = levels_.push().fields;
  fields.step = StepKind::Index;
  fields.index = index;
  fields.old_node = old_item;
  fields.new_node = new_item;
}

const Position* DiffAccumulator::intern(PendingPath& path) {
  auto& levels = path.levels_;
  const std::size_t size = levels.size();
  // Up to the nearest interned level; a long chain is interned without recursion.
  std::size_t first = size;
  while (first > 0 && levels[first - 1].interned == nullptr) --first;
  for (std::size_t level = first; level < size; ++level) {
    const Position* parent = level > 0 ? levels[level - 1].interned : nullptr;
    levels[level].interned = add_position(parent, levels[level].fields);
  }
  return levels[size - 1].interned;
}

Position* DiffAccumulator::add_position(const Position* parent, const Position& fields) {
  auto* position =
      static_cast<Position*>(log_.positions.allocate(sizeof(Position), alignof(Position)));
  *position = fields;
  position->parent = parent;
  if (fields.step == StepKind::Member) {
    position->key = value::make_string(log_.positions, fields.key.string());
  }
  position->id = log_.position_count++;
  return position;
}

void DiffAccumulator::record(const Position* at, ChangeRecord::Kind kind) {
  ChangeRecord record{at, kind, {}, {}};
  if (kind != ChangeRecord::Kind::Added) {
    record.old_value = value::copy_node(*at->old_node, log_.positions);
  }
  if (kind != ChangeRecord::Kind::Removed) {
    record.new_value = value::copy_node(*at->new_node, log_.positions);
  }
  log_.sections[static_cast<std::size_t>(section_of(record))].push_back(record);
}

namespace {

using Sections = std::array<std::vector<ChangeRecord>, kSectionCount>;

// Sections whose entries are keyed by path, where two records may share one.
bool is_keyed(Section section) {
  return section != Section::DictionaryItemAdded && section != Section::DictionaryItemRemoved;
}

// Builds the report of `sections` and puts their records in report order, in place.
value::Value report_of_sections(Sections& sections, std::uint8_t verbose_level,
                                std::optional<PathCollision>* collision) {
  Arena arena;
  Names names(arena);
  PathWriter writer;
  Member members[kSectionCount];
  std::size_t count = 0;
  // In ascending byte order of the report keys, which is the order objects keep.
  struct Layout {
    Section section;
    std::string_view key;
  };
  constexpr Layout kLayout[kSectionCount] = {
      {Section::DictionaryItemAdded, "dictionary_item_added"},
      {Section::DictionaryItemRemoved, "dictionary_item_removed"},
      {Section::IterableItemAdded, "iterable_item_added"},
      {Section::IterableItemRemoved, "iterable_item_removed"},
      {Section::TypeChanges, "type_changes"},
      {Section::ValuesChanged, "values_changed"},
  };
  for (const Layout& layout : kLayout) {
    std::vector<ChangeRecord>& records = sections[static_cast<std::size_t>(layout.section)];
    if (records.empty()) continue;
    std::vector<Entry> entries = with_paths(records, arena, writer);
    const bool keyed = is_keyed(layout.section);
    sort_entries(entries, keyed, layout.key, collision);
    const bool path_list =
        !keyed || (layout.section == Section::ValuesChanged && verbose_level == 0);
    members[count++] = {
        value::make_string(arena, layout.key),
        path_list ? path_list_section(entries, arena) : object_section(entries, names, arena)};
    records.resize(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) records[i] = entries[i].record;
  }
  if (count == 0) return value::Value(value::make_object(nullptr, 0));
  Member* stored = arena.allocate_members(count);
  std::copy(members, members + count, stored);
  return value::Value(std::move(arena), value::make_object(stored, count));
}

// Records of the report waiting to be built, at most: copying them costs little.
constexpr std::size_t kWaitingRecords = 64;

}  // namespace

value::Value report_of_log(ChangeLog& log, std::uint8_t verbose_level,
                           std::optional<PathCollision>* collision) {
  return report_of_sections(log.sections, verbose_level, collision);
}

value::Value into_value(DiffAccumulator&& accumulator, std::uint8_t verbose_level,
                        std::optional<PathCollision>* collision, ChangeLog& changes) {
  ChangeLog& log = accumulator.log_;
  value::Value report = report_of_log(log, verbose_level, collision);
  changes = std::move(log);
  return report;
}

bool report_can_wait(const ChangeLog& log) {
  std::size_t records = 0;
  for (std::size_t section = 0; section < kSectionCount; ++section) {
    const std::size_t count = log.sections[section].size();
    if (count > 1 && is_keyed(static_cast<Section>(section))) return false;
    records += count;
  }
  return records <= kWaitingRecords;
}

value::Value report_of_waiting_log(ChangeLog& log, std::uint8_t verbose_level) {
  Sections copies = log.sections;
  value::Value report = report_of_sections(copies, verbose_level, nullptr);
  log.sections = std::move(copies);
  return report;
}

std::string_view type_name(const Node& node) {
  switch (node.kind) {
    case Kind::Null:
      return "null";
    case Kind::Bool:
      return "bool";
    case Kind::Number:
      return node.rep == NumberRep::Float ? "float" : "int";
    case Kind::String:
      return "str";
    case Kind::List:
      return "list";
    case Kind::Object:
    case Kind::Deferred:  // never recorded: it stands only for equal parts
      return "dict";
  }
  return "null";
}

}  // namespace hexalume::engine
