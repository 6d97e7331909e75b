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

Located descend(Located where, const engine::PathStep& step) {
  return {step_into(where.old_node, step), step_into(where.new_node, step)};
}

namespace {

constexpr std::string_view kKeyEnd = "']";

// Keys beginning with the key looked up that are scanned before a search takes over.
constexpr std::size_t kScannedKeys = 4;

// Readings tried before giving up: only keys holding "']" make more than one, and real data
// holds few.
constexpr std::size_t kMostReadings = std::size_t{1} << 16;

const value::Node* member_of(const value::Node* node, std::string_view key) {
  if (node == nullptr || node->kind != value::Kind::Object) return nullptr;
  const std::size_t position = member_position(*node, key);
  return position < node->size() ? &node->object()[position].value : nullptr;
}

// One side of may_name_another_position's walk: the member `key` of `node`, and whether a
// longer key could be meant there.
const value::Node* step_key(const value::Node* node, std::string_view key, bool& doubtful) {
  if (node == nullptr || node->kind != value::Kind::Object) return nullptr;
  const MemberLookup found = look_up_member(*node, key);
  doubtful = doubtful || found.longer_key;
  return found.position < node->size() ? &node->object()[found.position].value : nullptr;
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

}  // namespace

MemberLookup look_up_member(const value::Node& object, std::string_view key) {
  auto members = object.object();
  auto below = [](const value::Member& member, std::string_view wanted) {
    return member.key.string() < wanted;
  };
  auto at = std::lower_bound(members.begin(), members.end(), key, below);
  MemberLookup found{members.size(), false};
  if (at != members.end() && at->key.string() == key) {
    found.position = static_cast<std::size_t>(at - members.begin());
    ++at;
  }
  // The keys that begin with `key` follow it, those that go on with a byte below "'" first.
  // Usually the next key does not begin with `key` at all, and one comparison decides.
  for (std::size_t scanned = 0; at != members.end(); ++at, ++scanned) {
    const std::string_view text = at->key.string();
    if (!text.starts_with(key)) return found;
    const std::string_view rest = text.substr(key.size());
    if (rest.starts_with(kKeyEnd)) {
      found.longer_key = true;
      return found;
    }
    if (rest > kKeyEnd) return found;
    if (scanned == kScannedKeys) break;
  }
  if (at == members.end()) return found;
  // Many keys between: search for the first key not below key + "']".
  auto below_longer = [key](const value::Member& member, std::nullptr_t) {
    const std::string_view text = member.key.string();
    const std::size_t common = std::min(text.size(), key.size());
    const int order = text.substr(0, common).compare(key.substr(0, common));
    if (order != 0) return order < 0;
    return text.size() < key.size() || text.substr(key.size()) < kKeyEnd;
  };
  at = std::lower_bound(at, members.end(), nullptr, below_longer);
  found.longer_key = at != members.end() && at->key.string().starts_with(key) &&
                     at->key.string().substr(key.size()).starts_with(kKeyEnd);
  return found;
}

bool may_name_another_position(const value::Node& t1, const value::Node& t2,
                               std::string_view path) {
  Located where{&t1, &t2};
  std::size_t cursor = 0;
  engine::PathStep step;
  for (;;) {
    value::poll_interrupt();
    const engine::ScanResult result = engine::scan_segment(path, cursor, step);
    if (result == engine::ScanResult::End) return cursor != path.size();
    if (result == engine::ScanResult::Unreadable) return true;
    if (where.old_node == nullptr && where.new_node == nullptr) return false;
    if (!step.is_key()) {
      where = descend(where, step);
      continue;
    }
    bool doubtful = false;
    where.old_node = step_key(where.old_node, step.key, doubtful);
    where.new_node = step_key(where.new_node, step.key, doubtful);
    if (doubtful) return true;
  }
}

Located locate_exactly(const value::Node& t1, const value::Node& t2, std::string_view path,
                       Fit fit) {
  struct Pending {
    Located where;
    std::size_t at;  // the rest of the path to read starts here
  };
  // Depth first with a stack of its own: a path may have thousands of segments.
  std::vector<Pending> pending{{Located{&t1, &t2}, 0}};
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
    if (path.substr(at, 2) == "['") {
      // The key is one that the rest of the path begins with, followed by "']": one of the keys
      // that begin with the first reading's key, which sort together.
      const std::size_t first_end = path.find(kKeyEnd, at + 2);
      if (first_end == std::string_view::npos) continue;
      const std::string_view rest = path.substr(at + 2);
      const std::string_view shortest = path.substr(at + 2, first_end - at - 2);
      auto candidates = [&](const value::Node* node, const value::Node* other, bool skip_shared) {
        if (node == nullptr || node->kind != value::Kind::Object) return true;
        auto members = node->object();
        auto from = std::lower_bound(members.begin(), members.end(), shortest,
                                     [](const value::Member& member, std::string_view wanted) {
                                       return member.key.string() < wanted;
                                     });
        for (auto member = from; member != members.end(); ++member) {
          if (++tried > kMostReadings) return false;
          const std::string_view key = member->key.string();
          if (!key.starts_with(shortest)) break;
          if (!rest.starts_with(key) || !rest.substr(key.size()).starts_with(kKeyEnd)) continue;
          const value::Node* paired = member_of(other, key);
          if (skip_shared && paired != nullptr) continue;  // taken from the other side already
          const bool old_side = !skip_shared;
          pending.push_back(
              {old_side ? Located{&member->value, paired} : Located{paired, &member->value},
               at + 2 + key.size() + kKeyEnd.size()});
        }
        return true;
      };
      if (!candidates(here.where.old_node, here.where.new_node, false) ||
          !candidates(here.where.new_node, here.where.old_node, true)) {
        return {};
      }
      continue;
    }
    std::size_t cursor = at;
    engine::PathStep step;
    if (engine::scan_segment(path, cursor, step) != engine::ScanResult::Step) continue;
    const Located next = descend(here.where, step);
    if (next.old_node != nullptr || next.new_node != nullptr) pending.push_back({next, cursor});
  }
  return found;
}

}  // namespace hexalume::pretty
