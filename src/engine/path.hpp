#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The syntax of report paths, written by the walk and read back by the renderer: "root", then
// "['key']" for an object member (the key verbatim, nothing escaped) or "[index]" for a list item.

namespace hexalume::engine {

// Appends "['key']" (verbatim, no escaping) or "[index]" to a path.
void append_key_segment(std::string& path, std::string_view key);
void append_index_segment(std::string& path, std::size_t index);

// One step of a path: an object key (its bytes, owned) or a list position. A Key never equals
// an Index, not even Key "0" and Index 0.
struct PathSegment {
  enum class Kind : std::uint8_t { Key, Index };

  Kind kind = Kind::Index;
  std::uint64_t index = 0;  // Index only
  std::string key;          // Key only

  static PathSegment make_key(std::string_view key) { return {Kind::Key, 0, std::string(key)}; }
  static PathSegment make_index(std::uint64_t index) { return {Kind::Index, index, {}}; }

  bool is_key() const { return kind == Kind::Key; }

  friend bool operator==(const PathSegment& left, const PathSegment& right) {
    if (left.kind != right.kind) return false;
    return left.is_key() ? left.key == right.key : left.index == right.index;
  }
};

// Hash consistent with PathSegment equality.
struct PathSegmentHash {
  std::size_t operator()(const PathSegment& segment) const noexcept;
};

// One segment read in place by `scan_segment`: a Key is a view into the scanned text.
struct PathStep {
  PathSegment::Kind kind = PathSegment::Kind::Index;
  std::uint64_t index = 0;  // Index only
  std::string_view key;     // Key only

  bool is_key() const { return kind == PathSegment::Kind::Key; }

  friend bool operator==(const PathStep& left, const PathStep& right) {
    if (left.kind != right.kind) return false;
    return left.is_key() ? left.key == right.key : left.index == right.index;
  }
};

enum class ScanResult : std::uint8_t { Step, End, Unreadable };

// Reads the segment of `path` that starts at byte `at` and moves `at` past it (Step). End when
// `at` is at the end of the text or at text that is not a bracket group (such text is ignored);
// Unreadable when a bracket group is not closed or an index is not a number. A key ends at the
// first "']", unless a group that cannot be read follows it: then at the next "']" that no such
// group follows (a key holding "']" is written verbatim), if there is one. Allocates nothing.
ScanResult scan_segment(std::string_view path, std::size_t& at, PathStep& step);

// Splits a report path such as "root['a'][0]" into its segments; the empty list is the root.
// Keys are taken verbatim up to the "']" that scan_segment chooses (nothing is unescaped);
// indices are an optional "+" and decimal digits that fit in 64 bits. Returns nullopt when the
// text does not start with "root", a bracket group is not closed, or an index is not a number.
// Text after the last bracket group that is not itself a bracket group is ignored.
std::optional<std::vector<PathSegment>> parse_path(std::string_view path);

}  // namespace hexalume::engine
