#pragma once

#include <string>
#include <vector>

#include "pretty/options.hpp"
#include "pretty/tree_node.hpp"
#include "value/value.hpp"

namespace hexalume::pretty {

// Every change the report names, section by section ("values_changed", "type_changes",
// "dictionary_item_added", "dictionary_item_removed", "iterable_item_added",
// "iterable_item_removed"), each in its own order. An entry keeps the values it carries (the
// old and new value of a change, the item of an iterable section); only the entries that carry
// none (dictionary keys, the path list of "values_changed") are looked up when drawn. Paths not
// starting with "root" and sections of an unexpected shape are skipped; nothing is parsed yet.
// The entries are views into the report.
std::vector<ReportEntry> gather_changes(const value::Node& report);

// The text of `pretty(...)`: lines joined by single line feeds, no trailing line feed, empty
// when the report names no change. Every report shape is accepted; throws only InternalError.
// Work and memory grow with the text drawn, not with what lies below the depth limit.
std::string render_pretty(const value::Node& report, const value::Node& t1, const value::Node& t2,
                          const PrettyOptions& options);

}  // namespace hexalume::pretty
