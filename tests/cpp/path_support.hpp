#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/change.hpp"
#include "value/value.hpp"

namespace hexalume::testing {

// One step of a path written in a test: an object key or a list position.
struct Segment {
  bool is_key = false;
  std::string key;
  std::uint64_t index = 0;
};

inline Segment key(std::string text) { return {true, std::move(text), 0}; }
inline Segment index(std::uint64_t position) { return {false, {}, position}; }

// The positions of a path from the root down, one per segment after the root; keys live in
// `arena`. No nodes are attached.
inline std::vector<engine::Position> positions_of(const std::vector<Segment>& segments,
                                                  value::Arena& arena) {
  std::vector<engine::Position> chain(segments.size() + 1);
  for (std::size_t at = 0; at < segments.size(); ++at) {
    engine::Position& position = chain[at + 1];
    position.parent = &chain[at];
    if (segments[at].is_key) {
      position.step = engine::StepKind::Member;
      position.key = value::make_string(arena, segments[at].key);
    } else {
      position.step = engine::StepKind::Index;
      position.index = segments[at].index;
    }
  }
  return chain;
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
