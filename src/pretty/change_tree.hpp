#pragma once

#include <string>

#include "engine/change.hpp"
#include "pretty/options.hpp"

namespace hexalume::pretty {

// The text of `pretty(...)` for the records of one comparison: lines joined by single line
// feeds, no trailing line feed, empty when there is no record. Each change is drawn at its own
// position with the nodes it holds; nothing is looked up by path. Throws only InternalError.
std::string render_pretty(const engine::ChangeLog& changes, const PrettyOptions& options);

}  // namespace hexalume::pretty
