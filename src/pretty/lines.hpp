#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "value/value.hpp"

namespace hexalume::pretty {

// The payloads of one change. Nodes are views into the compared trees and type names static
// text: all of them must outlive the change.
struct Changed {
  value::Node old_value;
  value::Node new_value;
};
struct TypeChanged {
  std::string_view old_type;
  std::string_view new_type;
  value::Node old_value;
  value::Node new_value;
};
// An absent value prints the "<added>" / "<removed>" placeholder.
struct Added {
  std::optional<value::Node> value;
};
struct Removed {
  std::optional<value::Node> value;
};
using ChangeKind = std::variant<Changed, TypeChanged, Added, Removed>;

// The text of one rendering, built line by line: lines are joined by single line feeds and the
// text has no trailing one. Everything is appended to one buffer, so a line costs no allocation.
class Lines {
 public:
  // Starts a new line and returns the buffer to append its text to.
  std::string& add() {
    if (count_++ != 0) text_.push_back('\n');
    return text_;
  }
  void add(std::string_view line) { add().append(line); }
  void reserve(std::size_t bytes) { text_.reserve(bytes); }

  std::size_t size() const { return count_; }
  const std::string& text() const { return text_; }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
  std::size_t count_ = 0;
};

// Levels above the current one below the top level: true while that level has later siblings
// (drawn as a vertical guide), false once it was the last (drawn as blanks).
using Ancestors = std::vector<bool>;

// The text of a string value between its quotes: tab, line feed, carriage return, single quote
// and backslash as \t, \n, \r, \' and \\; every other control character (U+0000-U+001F,
// U+007F-U+009F) as \xNN and every character of Unicode's format, line separator and paragraph
// separator categories (invisible_ranges.hpp: bidirectional controls, zero-width characters,
// U+2028, U+FEFF, ...) as \uNNNN, or \UNNNNNNNN past U+FFFF, in lowercase hex. Every other byte
// is copied unchanged, also bytes that are not UTF-8. Long texts look for interrupts as they go.
std::string escape_string(std::string_view text);
void append_escaped(std::string& out, std::string_view text);

// Label text (keys, type names): the same \xNN, \uNNNN and \UNNNNNNNN escapes, tab, line feed
// and carriage return included (as \x09, \x0a, \x0d); quotes and backslashes are copied
// verbatim.
void append_label_text(std::string& out, std::string_view text);

// A Python-literal-like text of the whole value (None, True, 1.5, 'text', [..], {'k': ..}).
// Nothing is elided, however large the value.
std::string format_value(const value::Node& node);
void append_value_text(std::string& out, const value::Node& node);

// The label line of a node: the label alone at depth 0, else the ancestor guides, a branch or
// last connector, and the label.
void append_node_line(Lines& lines, std::uint64_t depth, const Ancestors& ancestors, bool is_last,
                      std::string_view label);
// The part of a node line before its label: nothing at depth 0.
void append_node_prefix(std::string& out, std::uint64_t depth, const Ancestors& ancestors,
                        bool is_last);

// The prefix of the lines drawn under a node (change and context value lines).
void append_branch_indent(std::string& out, std::uint64_t depth, const Ancestors& ancestors,
                          bool more_siblings);

// Appends the "- old" / "+ new" lines of one change, red and green unless `no_color`.
void append_change_lines(Lines& lines, std::uint64_t depth, const Ancestors& ancestors,
                         bool more_siblings, const ChangeKind& change, bool no_color);

// Appends the "= value" line of an unchanged list element shown for context; never coloured.
void append_context_line(Lines& lines, std::uint64_t depth, const Ancestors& ancestors,
                         bool more_siblings, const value::Node& element);

}  // namespace hexalume::pretty
