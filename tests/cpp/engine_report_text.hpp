#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "engine/comparison.hpp"
#include "literal.hpp"
#include "options/record.hpp"
#include "value/number_text.hpp"
#include "value/value.hpp"

namespace hexalume::testing {

// Python-style quoting of printable text: single quotes unless the text holds a ' and no ", as
// repr() does.
inline void append_quoted(std::string& out, std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const char quote = has_single && text.find('"') == std::string_view::npos ? '"' : '\'';
  out.push_back(quote);
  for (char c : text) {
    if (c == quote || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back(quote);
}

// Renders a value the way Python prints the converted object (numbers in the module's own
// number text), members in the order the tree holds them, so member order is checked too.
inline void append_report_text(std::string& out, const value::Node& node) {
  switch (node.kind) {
    case value::Kind::Null:
      out.append("None");
      return;
    case value::Kind::Bool:
      out.append(node.boolean ? "True" : "False");
      return;
    case value::Kind::Number:
      value::append_number_text(out, node);
      return;
    case value::Kind::String:
      append_quoted(out, node.string());
      return;
    case value::Kind::List:
      out.push_back('[');
      for (std::size_t i = 0; i < node.size(); ++i) {
        if (i > 0) out.append(", ");
        append_report_text(out, node.items[i]);
      }
      out.push_back(']');
      return;
    case value::Kind::Object:
      out.push_back('{');
      for (std::size_t i = 0; i < node.size(); ++i) {
        if (i > 0) out.append(", ");
        append_quoted(out, node.members[i].key.string());
        out.append(": ");
        append_report_text(out, node.members[i].value);
      }
      out.push_back('}');
      return;
  }
}

inline std::string report_text(const value::Node& node) {
  std::string out;
  append_report_text(out, node);
  return out;
}

// The whole report of comparing two JSON literals, as text.
inline std::string diff_text(std::string_view old_json, std::string_view new_json,
                             options::VesperonOptions options = {}) {
  engine::Vesperon comparison =
      engine::with_options(literal(old_json), literal(new_json), std::move(options));
  return report_text(comparison.report.root());
}

}  // namespace hexalume::testing
