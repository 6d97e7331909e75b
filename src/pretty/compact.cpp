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

void append_compact_segment(std::string& out, const engine::Position& position, bool first) {
  if (position.step == engine::StepKind::Root) return;
  if (position.step != engine::StepKind::Member) {
    engine::append_index_segment(out, position.index);
    return;
  }
  const std::string_view key = position.key.string();
  if (is_simple_identifier(key)) {
    if (!first) out.push_back('.');
    out += key;
  } else {
    out += "['";
    append_label_text(out, key);
    out += "']";
  }
}

void append_segment_label(std::string& out, const engine::Position& position) {
  if (position.step == engine::StepKind::Member) {
    append_label_text(out, position.key.string());
  } else {
    engine::append_index_segment(out, position.index);
  }
}

}  // namespace hexalume::pretty
