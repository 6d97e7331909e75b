#pragma once

#include <string>
#include <string_view>

#include "engine/change.hpp"

namespace hexalume::pretty {

// True for a non-empty key of ASCII letters, digits and underscores that does not start with a
// digit: such a key prints as ".key" in the compact notation.
bool is_simple_identifier(std::string_view key);

// Appends the step of `position` in the compact notation: "key" first, ".key" later for simple
// identifiers, "['key']" otherwise (quotes and backslashes verbatim, control characters escaped
// as in labels), "[n]" for a list item. The root appends nothing.
void append_compact_segment(std::string& out, const engine::Position& position, bool first);

// The label of one tree level: a key as label text, a list item as "[n]".
void append_segment_label(std::string& out, const engine::Position& position);

}  // namespace hexalume::pretty
