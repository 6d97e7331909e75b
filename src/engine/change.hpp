#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "value/value.hpp"

// What a comparison found, as records at positions of the two trees, for any consumer that acts
// on changes (the report, the renderer, patches). Walk a ChangeLog section by section; within a
// section the records come in the order of the report's entries. A record's position leads up
// through `parent` to the root, one step per level:
//   Member     an object member, `key` being its key;
//   Index      a list item compared by position, `index` in both lists;
//   SetMember  an item of a list compared as a multiset (ignore_order), `index` being its place
//              in the list of its own side; a removed and an added item at one index share it.
// `old_node` / `new_node` are the nodes at the position in t1 / t2, nullptr on a side where it
// does not exist, so a parent's nodes are the containers its children's steps lead through; they
// are views into the compared inputs, which the comparison owns as long as the log. A record
// carries copies of the values it shows, and a position its key, in the log's own arena: the
// report and the renderer read them in record order instead of all over the inputs.

namespace hexalume::engine {

enum class StepKind : std::uint8_t { Root, Member, Index, SetMember };

// One position of the two trees. Interned: one Position per position that holds a record or
// leads to one, so siblings share their parent.
struct Position {
  const Position* parent = nullptr;  // nullptr at the root only
  const value::Node* old_node = nullptr;
  const value::Node* new_node = nullptr;
  value::Node key;          // Member only: the key, a String node
  std::uint64_t index = 0;  // Index and SetMember only
  std::size_t id = 0;       // 0, 1, 2, ... in the order positions were interned
  StepKind step = StepKind::Root;
};

// One difference at `position`, with copies of the values it shows: Changed and TypeChanged
// both nodes of the position, Added its new node, Removed its old one (the other stays null).
struct ChangeRecord {
  enum class Kind : std::uint8_t { Changed, TypeChanged, Added, Removed };
  const Position* position = nullptr;
  Kind kind = Kind::Changed;
  value::Node old_value;
  value::Node new_value;
};

// The report sections, in the order the renderer reads them.
enum class Section : std::uint8_t {
  ValuesChanged,
  TypeChanges,
  DictionaryItemAdded,
  DictionaryItemRemoved,
  IterableItemAdded,
  IterableItemRemoved,
};
inline constexpr std::size_t kSectionCount = 6;

// The section of a record: by kind, and for Added / Removed by its step (a member is a dictionary
// item, a list item an iterable one).
Section section_of(const ChangeRecord& record);

// Every record of one comparison and the positions they stand at (owned here). Records are
// grouped by Section; once the report is built they stand in its order, one per entry.
struct ChangeLog {
  value::Arena positions;
  std::size_t position_count = 0;
  std::array<std::vector<ChangeRecord>, kSectionCount> sections;

  const std::vector<ChangeRecord>& section(Section which) const {
    return sections[static_cast<std::size_t>(which)];
  }
};

}  // namespace hexalume::engine
