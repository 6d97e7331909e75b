#include "pretty/lookup.hpp"

#include <algorithm>
#include <vector>

#include "value/interrupt.hpp"

namespace hexalume::pretty {

const value::Node* step_into(const value::Node* node, const engine::PathStep& segment) {
  if (node == nullptr) return nullptr;
  if (segment.is_key()) {
    if (node->kind != value::Kind::Object) return nullptr;
    const std::size_t position = member_position(*node, segment.key);
    return position < node->size() ? &node->object()[position].value : nullptr;
  }
  if (node->kind != value::Kind::List || segment.index >= node->size()) return nullptr;
  return &node->list()[segment.index];
}

std::size_t member_position(const value::Node& object, std::string_view key) {
  auto members = object.object();
  auto found = std::lower_bound(members.begin(), members.end(), key,
                                [](const value::Member& member, std::string_view wanted) {
                                  return member.key.string() < wanted;
                                });
  if (found == members.end() || found->key.string() != key) return members.size();
  return static_cast<std::size_t>(found - members.begin());
}

namespace {

constexpr std::string_view kKeyEnd = "']";

const value::Node* member_of(const value::Node* node, std::string_view key) {
  if (node == nullptr || node->kind != value::Kind::Object) return nullptr;
  const std::size_t position = member_position(*node, key);
  return position < node->size() ? &node->object()[position].value : nullptr;
}

bool fits(const Located& where, Fit fit) {
  switch (fit) {
    case Fit::Added:
      return where.new_node != nullptr && where.old_node == nullptr;
    case Fit::Removed:
      return where.old_node != nullptr && where.new_node == nullptr;
    case Fit::Changed:
      return where.old_node != nullptr && where.new_node != nullptr &&
             !value::equal(*where.old_node, *where.new_node);
  }
  return false;
}

// Readings tried before giving up: only keys holding "']" make more than one, and real data
// holds few.
constexpr std::size_t kMostReadings = std::size_t{1} << 16;

}  // namespace

bool has_longer_key(const value::Node* node, std::string_view key) {
  if (node == nullptr || node->kind != value::Kind::Object) return false;
  auto members = node->object();
  // Keys beginning with key + "']" sort together, from the first key not below key + "']".
  auto below_longer = [key](const value::Member& member, std::nullptr_t) {
    const std::string_view text = member.key.string();
    const std::size_t common = std::min(text.size(), key.size());
    const int order = text.substr(0, common).compare(key.substr(0, common));
    if (order != 0) return order < 0;
    if (text.size() < key.size()) return true;
    return text.substr(key.size()) < kKeyEnd;
  };
  auto found = std::lower_bound(members.begin(), members.end(), nullptr, below_longer);
  if (found == members.end()) return false;
  const std::string_view text = found->key.string();
  return text.size() >= key.size() + kKeyEnd.size() && text.starts_with(key) &&
         text.substr(key.size()).starts_with(kKeyEnd);
}

Located descend(Located where, const engine::PathStep& step) {
  Located next{step_into(where.old_node, step), step_into(where.new_node, step), where.doubtful};
  if (step.is_key() && !next.doubtful) {
    next.doubtful =
        has_longer_key(where.old_node, step.key) || has_longer_key(where.new_node, step.key);
  }
  return next;
}

Located locate_exactly(const value::Node& t1, const value::Node& t2, std::string_view path,
                       Fit fit) {
  struct Pending {
    Located where;
    std::size_t at;  // the rest of the path to read starts here
  };
  // Depth first with a stack of its own: a path may have thousands of segments.
  std::vector<Pending> pending{{Located{&t1, &t2, false}, 0}};
  Located found;
  bool any = false;
  std::size_t tried = 0;
  while (!pending.empty()) {
    value::poll_interrupt();
    if (++tried > kMostReadings) return {};
    const Pending here = pending.back();
    pending.pop_back();
    const std::size_t at = here.at;
    if (at == path.size()) {
      if (!fits(here.where, fit)) continue;
      if (any) return {};  // two positions fit: the path cannot tell which one is meant
      found = here.where;
      any = true;
      continue;
    }
    if (path[at] != '[') continue;
    if (path.substr(at, 2) == "['") {
      // The key ends at one of the "']" that follow: try each.
      for (std::size_t end = path.find(kKeyEnd, at + 2); end != std::string_view::npos;
           end = path.find(kKeyEnd, end + 1)) {
        if (++tried > kMostReadings) return {};
        const std::string_view key = path.substr(at + 2, end - at - 2);
        Located next{member_of(here.where.old_node, key), member_of(here.where.new_node, key),
                     false};
        if (next.old_node != nullptr || next.new_node != nullptr) {
          pending.push_back({next, end + kKeyEnd.size()});
        }
      }
      continue;
    }
    std::size_t cursor = at;
    engine::PathStep step;
    if (engine::scan_segment(path, cursor, step) != engine::ScanResult::Step) continue;
    Located next{step_into(here.where.old_node, step), step_into(here.where.new_node, step), false};
    if (next.old_node != nullptr || next.new_node != nullptr) pending.push_back({next, cursor});
  }
  return found;
}

}  // namespace hexalume::pretty
