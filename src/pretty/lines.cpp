#include "pretty/lines.hpp"

#include "value/interrupt.hpp"
#include "value/number_text.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::pretty {

namespace {

constexpr std::string_view kVerticalGuide = "\u2502   ";
constexpr std::string_view kBlankGuide = "    ";
constexpr std::string_view kBranchConnector = "\u251c\u2500\u2500 ";
constexpr std::string_view kLastConnector = "\u2570\u2500\u2500 ";
constexpr std::string_view kAddedPlaceholder = "<added>";
constexpr std::string_view kRemovedPlaceholder = "<removed>";
constexpr std::string_view kRed = "31";
constexpr std::string_view kGreen = "32";

void append_guides(std::string& out, const Ancestors& ancestors) {
  for (bool more : ancestors) out += more ? kVerticalGuide : kBlankGuide;
}

// A change line: "{sign} {type}{value}", wrapped in the colour escapes unless `no_color`.
struct LineText {
  char sign;
  std::string_view colour;
  std::optional<std::string_view> type_name;  // printed as "(name) " when present
  const value::Node* value;                   // nullptr prints `placeholder`
  std::string_view placeholder;
};

void append_line(Lines& lines, const std::string_view prefix, const LineText& text, bool no_color) {
  std::string& line = lines.add();
  line += prefix;
  if (!no_color) {
    line += "\x1b[";
    line += text.colour;
    line += 'm';
  }
  line.push_back(text.sign);
  line.push_back(' ');
  if (text.type_name) {
    line.push_back('(');
    line += *text.type_name;
    line += ") ";
  }
  if (text.value != nullptr) {
    append_value_text(line, *text.value);
  } else {
    line += text.placeholder;
  }
  if (!no_color) line += "\x1b[0m";
}

}  // namespace

void append_escaped(std::string& out, std::string_view text) {
  std::size_t plain_from = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    char replacement;
    switch (text[at]) {
      case '\t':
        replacement = 't';
        break;
      case '\n':
        replacement = 'n';
        break;
      case '\r':
        replacement = 'r';
        break;
      case '\'':
        replacement = '\'';
        break;
      case '\\':
        replacement = '\\';
        break;
      default:
        continue;
    }
    out.append(text.substr(plain_from, at - plain_from));
    out.push_back('\\');
    out.push_back(replacement);
    plain_from = at + 1;
  }
  out.append(text.substr(plain_from));
}

std::string escape_string(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_escaped(out, text);
  return out;
}

// Recurses once per nesting level with a frame of a few words, so deep values stay cheap.
void append_value_text(std::string& out, const value::Node& node) {
  value::poll_interrupt();
  switch (node.kind) {
    case value::Kind::Null:
      out += "None";
      return;
    case value::Kind::Bool:
      out += node.boolean ? "True" : "False";
      return;
    case value::Kind::Number:
      value::append_number_text(out, node);
      return;
    case value::Kind::String:
      out.push_back('\'');
      append_escaped(out, node.string());
      out.push_back('\'');
      return;
    case value::Kind::List: {
      value::check_stack(value::kWhileRendering);
      out.push_back('[');
      bool first = true;
      for (const value::Node& item : node.list()) {
        if (!first) out += ", ";
        first = false;
        append_value_text(out, item);
      }
      out.push_back(']');
      return;
    }
    case value::Kind::Object: {
      value::check_stack(value::kWhileRendering);
      out.push_back('{');
      bool first = true;
      for (const value::Member& member : node.object()) {
        if (!first) out += ", ";
        first = false;
        out.push_back('\'');
        append_escaped(out, member.key.string());
        out += "': ";
        append_value_text(out, member.value);
      }
      out.push_back('}');
      return;
    }
  }
}

std::string format_value(const value::Node& node) {
  std::string text;
  append_value_text(text, node);
  return text;
}

void append_node_prefix(std::string& out, std::uint64_t depth, const Ancestors& ancestors,
                        bool is_last) {
  if (depth == 0) return;
  append_guides(out, ancestors);
  out += is_last ? kLastConnector : kBranchConnector;
}

void append_node_line(Lines& lines, std::uint64_t depth, const Ancestors& ancestors, bool is_last,
                      std::string_view label) {
  std::string& line = lines.add();
  append_node_prefix(line, depth, ancestors, is_last);
  line += label;
}

std::string format_node_line(std::uint64_t depth, const Ancestors& ancestors, bool is_last,
                             std::string_view label) {
  Lines lines;
  append_node_line(lines, depth, ancestors, is_last, label);
  return lines.take();
}

void append_branch_indent(std::string& out, std::uint64_t depth, const Ancestors& ancestors,
                          bool more_siblings) {
  append_guides(out, ancestors);
  // The top level always continues its guide, so its change lines read as belonging to it.
  out += (depth == 0 || more_siblings) ? kVerticalGuide : kBlankGuide;
}

std::string branch_indent(std::uint64_t depth, const Ancestors& ancestors, bool more_siblings) {
  std::string prefix;
  append_branch_indent(prefix, depth, ancestors, more_siblings);
  return prefix;
}

void append_change_lines(Lines& lines, std::uint64_t depth, const Ancestors& ancestors,
                         bool more_siblings, const ChangeKind& change, bool no_color) {
  // Built once for both lines of a change. Shallow prefixes fit the string's inline buffer.
  const std::string prefix = branch_indent(depth, ancestors, more_siblings);
  if (const auto* changed = std::get_if<Changed>(&change)) {
    append_line(lines, prefix, {'-', kRed, {}, &changed->old_value, {}}, no_color);
    append_line(lines, prefix, {'+', kGreen, {}, &changed->new_value, {}}, no_color);
  } else if (const auto* type_changed = std::get_if<TypeChanged>(&change)) {
    append_line(lines, prefix, {'-', kRed, type_changed->old_type, &type_changed->old_value, {}},
                no_color);
    append_line(lines, prefix, {'+', kGreen, type_changed->new_type, &type_changed->new_value, {}},
                no_color);
  } else if (const auto* added = std::get_if<Added>(&change)) {
    const value::Node* shown = added->value ? &*added->value : nullptr;
    append_line(lines, prefix, {'+', kGreen, {}, shown, kAddedPlaceholder}, no_color);
  } else if (const auto* removed = std::get_if<Removed>(&change)) {
    const value::Node* shown = removed->value ? &*removed->value : nullptr;
    append_line(lines, prefix, {'-', kRed, {}, shown, kRemovedPlaceholder}, no_color);
  }
}

void append_context_line(Lines& lines, std::uint64_t depth, const Ancestors& ancestors,
                         bool more_siblings, const value::Node& element) {
  std::string& line = lines.add();
  append_branch_indent(line, depth, ancestors, more_siblings);
  line += "= ";
  append_value_text(line, element);
}

}  // namespace hexalume::pretty
