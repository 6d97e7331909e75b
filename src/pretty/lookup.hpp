#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/path.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// One step down: a Key selects the member of an object, an Index an element of a list within
// its length. Returns nullptr for any other combination or when `node` is nullptr.
const value::Node* step_into(const value::Node* node, const engine::PathStep& segment);

// The position of the member `key` among the sorted members of `object` (an Object node), or
// the object's size when there is no such member. Binary search.
std::size_t member_position(const value::Node& object, std::string_view key);

// Where one tree position leads in t1 and t2; nullptr where it does not exist. Each level is
// found from its parent's result, never again from the top.
struct Located {
  const value::Node* old_node = nullptr;
  const value::Node* new_node = nullptr;
};

Located descend(Located where, const engine::PathStep& step);

// Keys are written into paths verbatim and read back up to the first "']", so a key that holds
// "']" reads as several segments, and one path may name two positions (root['a']['b'] is b in a
// and also the key "a']['b"). The functions below find out whether the first reading of a path
// can be wrong, and which position the path names when it is.

// The member `key` of `object` (an Object node), as member_position gives it, and whether a
// member's key begins with `key` followed by "']": a path that reads `key` at this object may
// name that member instead.
struct MemberLookup {
  std::size_t position;
  bool longer_key;
};
MemberLookup look_up_member(const value::Node& object, std::string_view key);

// Whether `path` (the text after "root") may name another position than its first reading:
// some object on the way, in t1 or t2, holds a key that begins with the key read there
// followed by "']", or text after the last segment read was left unread.
bool may_name_another_position(const value::Node& t1, const value::Node& t2, std::string_view path);

// What a position must look like to be the one a path-only report entry names.
enum class Fit : std::uint8_t {
  Added,    // in t2 only
  Removed,  // in t1 only
  Changed,  // in both, with values that are not equal
};

// Reads `path` (the text after "root") every way its keys can be read, on t1 and t2 together,
// and returns the one position that fits; nullptr on both sides when none or more than one
// does, or when the readings are too many to try.
Located locate_exactly(const value::Node& t1, const value::Node& t2, std::string_view path,
                       Fit fit);

}  // namespace hexalume::pretty
