#pragma once

#include <cstdint>

namespace hexalume::pretty {

// How `render_pretty` draws a report. Filled from the keyword arguments of `pretty(...)`.
struct PrettyOptions {
  std::uint64_t max_depth = 5;  // deepest tree level whose children are still drawn
  std::uint64_t context = 0;    // unchanged list neighbours shown on each side of a change
  bool compact = false;         // fold chains of single children into one label
  bool no_color = false;        // leave out the ANSI colour escapes of change lines
  bool path_header = false;     // flat listing, one header line per change, instead of a tree
};

}  // namespace hexalume::pretty
