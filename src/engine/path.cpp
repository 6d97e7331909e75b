#include "engine/path.hpp"

#include <charconv>

namespace hexalume::engine {

void append_key_segment(std::string& path, std::string_view key) {
  path.append("['");
  path.append(key);
  path.append("']");
}

void append_index_segment(std::string& path, std::size_t index) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, index);
  path.push_back('[');
  path.append(digits, result.ptr);
  path.push_back(']');
}

void append_step(std::string& path, const Position& position) {
  switch (position.step) {
    case StepKind::Root:
      return;
    case StepKind::Member:
      append_key_segment(path, position.key.string());
      return;
    case StepKind::Index:
    case StepKind::SetMember:
      append_index_segment(path, position.index);
      return;
  }
}

void write_path(std::string& path, const Position& position, std::vector<const Position*>& chain) {
  // Most paths are short: their steps are gathered here, and only a longer one uses `chain`.
  constexpr std::size_t kNearSteps = 32;
  const Position* near[kNearSteps];
  std::size_t count = 0;
  const Position* at = &position;
  for (; at->parent != nullptr && count < kNearSteps; at = at->parent) near[count++] = at;
  chain.clear();
  for (; at->parent != nullptr; at = at->parent) chain.push_back(at);
  path.assign("root");
  for (auto step = chain.rbegin(); step != chain.rend(); ++step) append_step(path, **step);
  while (count > 0) append_step(path, *near[--count]);
}

}  // namespace hexalume::engine
