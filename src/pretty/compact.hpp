#pragma once

#include <span>
#include <string>
#include <string_view>

#include "engine/path.hpp"

namespace hexalume::pretty {

// True for a non-empty key of ASCII letters, digits and underscores that does not start with a
// digit: such a key prints as ".key" in the compact notation.
bool is_simple_identifier(std::string_view key);

// Appends one segment in the compact notation: "key" first, ".key" later for simple
// identifiers, "['key']" otherwise (quotes and backslashes verbatim, control characters
// escaped as in labels), "[n]" for an index.
void append_compact_segment(std::string& out, const engine::PathStep& segment, bool first);

// The compact text of a whole path, e.g. a[0].b or ['my key'][2]. The empty path gives "".
std::string format_compact_segments(std::span<const engine::PathStep> segments);

// The label of one tree level: a key as label text, an index as "[n]".
void append_segment_label(std::string& out, const engine::PathStep& segment);
std::string segment_label(const engine::PathStep& segment);

}  // namespace hexalume::pretty
