#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "pretty/path_scan.hpp"

namespace hexalume::pretty {

// Readable failure output for segment lists: Key "a" prints as 'a', Index 3 as #3.
inline void PrintTo(const PathSegment& segment, std::ostream* out) {
  if (segment.is_key()) {
    *out << "'" << segment.key << "'";
  } else {
    *out << "#" << segment.index;
  }
}

}  // namespace hexalume::pretty

namespace hexalume::testing {

inline pretty::PathSegment key(std::string text) { return pretty::PathSegment::make_key(text); }
inline pretty::PathSegment index(std::uint64_t position) {
  return pretty::PathSegment::make_index(position);
}

// Lines joined by line feeds, to write expected renderings one line per argument.
inline std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t at = 0; at < lines.size(); ++at) {
    if (at != 0) text += '\n';
    text += lines[at];
  }
  return text;
}

}  // namespace hexalume::testing
