#pragma once

namespace hexalume::value {

// Deepest nesting a value tree may have, whatever the interpreter's recursion limit. Conversion
// refuses anything deeper, and the engine and the renderer recurse over the trees it builds, so
// this bounds their native stack as well.
inline constexpr unsigned kMaxDepth = 10000;

}  // namespace hexalume::value
