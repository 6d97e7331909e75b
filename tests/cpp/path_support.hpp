#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/path.hpp"

namespace hexalume::engine {

// Readable failure output for segment lists: Key "a" prints as 'a', Index 3 as #3.
inline void PrintTo(const engine::PathSegment& segment, std::ostream* out) {
  if (segment.is_key()) {
    *out << "'" << segment.key << "'";
  } else {
    *out << "#" << segment.index;
  }
}

}  // namespace hexalume::engine

namespace hexalume::testing {

inline engine::PathSegment key(std::string text) { return engine::PathSegment::make_key(text); }
inline engine::PathSegment index(std::uint64_t position) {
  return engine::PathSegment::make_index(position);
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
