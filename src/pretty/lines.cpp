#include "pretty/lines.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

#include "pretty/invisible_ranges.hpp"
#include "value/internal_error.hpp"
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

// The indentation of a change line, written straight into each line so that no prefix text is
// built per change.
struct LinePrefix {
  std::uint64_t depth;
  const Ancestors& ancestors;
  bool more_siblings;
};

void append_line(Lines& lines, const LinePrefix& prefix, const LineText& text, bool no_color) {
  std::string& line = lines.add();
  append_branch_indent(line, prefix.depth, prefix.ancestors, prefix.more_siblings);
  if (!no_color) {
    line += "\x1b[";
    line += text.colour;
    line += 'm';
  }
  line.push_back(text.sign);
  line.push_back(' ');
  if (text.type_name) {
    line.push_back('(');
    append_label_text(line, *text.type_name);
    line += ") ";
  }
  if (text.value != nullptr) {
    append_value_text(line, *text.value);
  } else {
    line += text.placeholder;
  }
  if (!no_color) line += "\x1b[0m";
}

// The UTF-8 lead byte of `code_point`.
constexpr unsigned lead_byte(char32_t code_point) {
  if (code_point < 0x80) return static_cast<unsigned>(code_point);
  if (code_point < 0x800) return 0xc0u | static_cast<unsigned>(code_point >> 6);
  if (code_point < 0x10000) return 0xe0u | static_cast<unsigned>(code_point >> 12);
  return 0xf0u | static_cast<unsigned>(code_point >> 18);
}

// Bytes at which the escaping loops stop: C0 controls and DEL, the lead bytes of the C1 controls
// and of the invisible characters, and in values the quote and backslash.
enum Attention : std::uint8_t { InLabel = 1, InValue = 2 };

constexpr std::array<std::uint8_t, 256> make_attention_table() {
  std::array<std::uint8_t, 256> table{};
  for (std::size_t byte = 0; byte < 0x20; ++byte) table[byte] = InLabel | InValue;
  table[0x7f] = table[0xc2] = InLabel | InValue;
  for (const CodePointRange& range : kInvisibleRanges) {
    for (unsigned byte = lead_byte(range.first); byte <= lead_byte(range.last); ++byte) {
      table[byte] = InLabel | InValue;
    }
  }
  table['\''] = InValue;
  table['\\'] = InValue;
  return table;
}

constexpr std::array<std::uint8_t, 256> kAttention = make_attention_table();
constexpr char kHexDigits[] = "0123456789abcdef";

// How one character is written: a backslash followed by `letter` alone, or by `letter` ("x",
// "u" or "U") and `digits` lowercase hex digits of `code`.
struct Escape {
  char letter = 0;
  int digits = 0;
  std::uint32_t code = 0;
};

bool is_invisible(char32_t code_point) {
  const auto* after = std::upper_bound(
      std::begin(kInvisibleRanges), std::end(kInvisibleRanges), code_point,
      [](char32_t point, const CodePointRange& range) { return point < range.first; });
  return after != std::begin(kInvisibleRanges) && code_point <= (after - 1)->last;
}

// The code point of the well-formed UTF-8 sequence of two to four bytes at `text[at]`, and its
// length; length 0 when the bytes there are not one.
std::size_t decode_at(std::string_view text, std::size_t at, char32_t& code_point) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
  if (lead < 0xc2 || lead > 0xf4 || text.size() - at < length) return 0;
  char32_t point = lead & (0x7fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[at + i]);
    if ((byte & 0xc0u) != 0x80u) return 0;
    point = (point << 6) | (byte & 0x3fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kSmallest[length] || (point >= 0xd800 && point <= 0xdfff) || point > 0x10ffff) {
    return 0;
  }
  code_point = point;
  return length;
}

// The escape of the character at `text[at]`, a byte of the attention table, and the number of
// bytes it replaces; 0 when the character is copied as it is.
std::size_t escape_at(std::string_view text, std::size_t at, bool value_text, Escape& escape) {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (value_text) {
    switch (byte) {
      case '\t':
        escape = {'t', 0, 0};
        return 1;
      case '\n':
        escape = {'n', 0, 0};
        return 1;
      case '\r':
        escape = {'r', 0, 0};
        return 1;
      case '\'':
      case '\\':
        escape = {static_cast<char>(byte), 0, 0};
        return 1;
      default:
        break;
    }
  }
  if (byte < 0x20 || byte == 0x7f) {
    escape = {'x', 2, byte};
    return 1;
  }
  char32_t code_point = 0;
  const std::size_t length = decode_at(text, at, code_point);
  if (length == 0) return 0;
  if (code_point >= 0x80 && code_point <= 0x9f) {
    escape = {'x', 2, code_point};
  } else if (!is_invisible(code_point)) {
    return 0;
  } else if (code_point <= 0xffff) {
    escape = {'u', 4, code_point};
  } else {
    escape = {'U', 8, code_point};
  }
  return length;
}

// Bytes scanned between two looks for an interrupt: a 200 MB text answers Ctrl-C at once.
constexpr std::size_t kPollBytes = std::size_t{1} << 16;

void append_text(std::string& out, std::string_view text, bool value_text) {
  const std::uint8_t wanted = value_text ? InValue : InLabel;
  std::size_t plain_from = 0;
  std::size_t at = 0;
  Escape escape;
  while (at < text.size()) {
    const std::size_t block_end = std::min(text.size(), at + kPollBytes);
    while (at < block_end) {
      if ((kAttention[static_cast<unsigned char>(text[at])] & wanted) == 0) {
        ++at;
        continue;
      }
      const std::size_t consumed = escape_at(text, at, value_text, escape);
      if (consumed == 0) {
        ++at;
        continue;
      }
      out.append(text.substr(plain_from, at - plain_from));
      out.push_back('\\');
      out.push_back(escape.letter);
      for (int shift = 4 * (escape.digits - 1); shift >= 0; shift -= 4) {
        out.push_back(kHexDigits[(escape.code >> shift) & 0xf]);
      }
      at += consumed;
      plain_from = at;
    }
    if (at < text.size()) {
      out.append(text.substr(plain_from, at - plain_from));
      plain_from = at;
      value::poll_interrupt(value::kPollInterval);
    }
  }
  out.append(text.substr(plain_from));
}

}  // namespace

void append_escaped(std::string& out, std::string_view text) { append_text(out, text, true); }

void append_label_text(std::string& out, std::string_view text) { append_text(out, text, false); }

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
    case value::Kind::Deferred:
      // The renderer asks for the real value of these before drawing them.
      throw value::InternalError("an unconverted part of the inputs was drawn");
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

void append_branch_indent(std::string& out, std::uint64_t depth, const Ancestors& ancestors,
                          bool more_siblings) {
  append_guides(out, ancestors);
  // The top level always continues its guide, so its change lines read as belonging to it.
  out += (depth == 0 || more_siblings) ? kVerticalGuide : kBlankGuide;
}

void append_change_lines(Lines& lines, std::uint64_t depth, const Ancestors& ancestors,
                         bool more_siblings, const ChangeKind& change, bool no_color) {
  const LinePrefix prefix{depth, ancestors, more_siblings};
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
