#pragma once

#include <string>
#include <vector>

#include "engine/path.hpp"
#include "pretty/lines.hpp"
#include "pretty/options.hpp"
#include "pretty/tree_node.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// One change named by the report, with its parsed path (empty for the root). The change holds
// views into the report, t1 and t2.
struct ChangeEntry {
  std::vector<engine::PathSegment> path;
  ChangeKind change;
};

// Every change the report names, section by section ("values_changed", "type_changes",
// "dictionary_item_added", "dictionary_item_removed", "iterable_item_added",
// "iterable_item_removed"), each in its own order. Values are looked up in t1 / t2 first and
// taken from the report only when the path does not resolve. Unreadable paths and sections of
// an unexpected shape are skipped.
std::vector<ChangeEntry> gather_changes(const value::Node& report, const value::Node& t1,
                                        const value::Node& t2);

// Folds the entries into a tree keyed by path segments. Every change is kept, in entry order,
// also when several entries name the same path.
PrettyNode build_change_tree(const std::vector<ChangeEntry>& entries);

// The text of `pretty(...)`: lines joined by single line feeds, no trailing line feed, empty
// when the report names no change. Every report shape is accepted; throws only InternalError.
std::string render_pretty(const value::Node& report, const value::Node& t1, const value::Node& t2,
                          const PrettyOptions& options);

}  // namespace hexalume::pretty
