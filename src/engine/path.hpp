#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/change.hpp"

// The syntax of report paths: "root", then "['key']" for an object member (the key verbatim,
// nothing escaped) or "[index]" for a list item. Written from positions, never read back.

namespace hexalume::engine {

// Appends "['key']" (verbatim, no escaping) or "[index]" to a path.
void append_key_segment(std::string& path, std::string_view key);
void append_index_segment(std::string& path, std::size_t index);

// Appends the segment of `position`'s own step; nothing for the root.
void append_step(std::string& path, const Position& position);

// Writes the whole path of `position` into `path` (replacing its text), starting with "root".
// `chain` is scratch for the ancestors, kept by the caller so that many paths allocate nothing.
void write_path(std::string& path, const Position& position, std::vector<const Position*>& chain);

}  // namespace hexalume::engine
