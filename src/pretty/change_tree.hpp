#pragma once

#include <functional>
#include <string>

#include "engine/change.hpp"
#include "pretty/options.hpp"

namespace hexalume::pretty {

// The value of an unchanged list item that the comparison left unconverted (a Deferred node):
// item `index` of the list at `parent`, from t2 when `from_new` is true, else from t1. Given by
// whoever made the trees; may throw, which ends the rendering.
using DeferredItem =
    std::function<value::Node(const engine::Position& parent, std::uint64_t index, bool from_new)>;

// The text of `pretty(...)` for the records of one comparison: lines joined by single line
// feeds, no trailing line feed, empty when there is no record. Each change is drawn at its own
// position with the nodes it holds; nothing is looked up by path. Unchanged list items shown for
// context that the trees hold as Deferred nodes come from `deferred`. Throws only InternalError
// and what `deferred` throws.
std::string render_pretty(const engine::ChangeLog& changes, const PrettyOptions& options,
                          const DeferredItem* deferred = nullptr);

}  // namespace hexalume::pretty
