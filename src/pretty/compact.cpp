#include "pretty/compact.hpp"

#include "engine/path.hpp"
#include "pretty/lines.hpp"

namespace hexalume::pretty {

namespace {

bool is_ascii_letter_or_underscore(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

}  // namespace

bool is_simple_identifier(std::string_view key) {
  if (key.empty() || !is_ascii_letter_or_underscore(key.front())) return false;
  for (char c : key.substr(1)) {
    if (!is_ascii_letter_or_underscore(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

void append_compact_segment(std::string& out, const engine::PathStep& segment, bool first) {
  if (!segment.is_key()) {
    engine::append_index_segment(out, segment.index);
  } else if (is_simple_identifier(segment.key)) {
    if (!first) out.push_back('.');
    out += segment.key;
  } else {
    out += "['";
    append_label_text(out, segment.key);
    out += "']";
  }
}

std::string format_compact_segments(std::span<const engine::PathStep> segments) {
  std::string text;
  bool first = true;
  for (const engine::PathStep& segment : segments) {
    append_compact_segment(text, segment, first);
    first = false;
  }
  return text;
}

void append_segment_label(std::string& out, const engine::PathStep& segment) {
  if (segment.is_key()) {
    append_label_text(out, segment.key);
  } else {
    engine::append_index_segment(out, segment.index);
  }
}

std::string segment_label(const engine::PathStep& segment) {
  std::string label;
  append_segment_label(label, segment);
  return label;
}

}  // namespace hexalume::pretty
