#include "engine/path.hpp"

#include <charconv>
#include <functional>

namespace hexalume::engine {

namespace {

// Reads an optional "+" followed by one or more decimal digits that fit in 64 bits.
std::optional<std::uint64_t> read_index(std::string_view digits) {
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  std::uint64_t number = 0;
  constexpr std::uint64_t kMax = UINT64_MAX;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (number > (kMax - digit) / 10) return std::nullopt;
    number = number * 10 + digit;
  }
  return number;
}

// Whether a bracket group starts at `at` that scan_segment could not read.
bool unreadable_group_at(std::string_view path, std::size_t at) {
  if (at >= path.size() || path[at] != '[') return false;
  if (path.substr(at, 2) == "['") return path.find("']", at + 2) == std::string_view::npos;
  const std::size_t close = path.find(']', at + 1);
  return close == std::string_view::npos || !read_index(path.substr(at + 1, close - at - 1));
}

}  // namespace

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

std::size_t PathSegmentHash::operator()(const PathSegment& segment) const noexcept {
  if (segment.is_key()) return std::hash<std::string_view>{}(segment.key);
  // Odd multiplier so indices spread over the buckets and rarely meet a key's hash.
  return static_cast<std::size_t>(segment.index * 0x9E3779B97F4A7C15ULL + 1);
}

ScanResult scan_segment(std::string_view path, std::size_t& at, PathStep& step) {
  if (at >= path.size() || path[at] != '[') return ScanResult::End;
  if (path.substr(at, 2) == "['") {
    std::size_t close = path.find("']", at + 2);
    if (close == std::string_view::npos) return ScanResult::Unreadable;
    // A key written verbatim may hold "']" itself. Where the first "']" is followed by a group
    // that cannot be read (the key "m'][0" gives root['m'][0']), the key goes on to the next
    // "']" that is not, so that the path stays readable.
    if (unreadable_group_at(path, close + 2)) {
      for (std::size_t end = path.find("']", close + 1); end != std::string_view::npos;
           end = path.find("']", end + 1)) {
        if (!unreadable_group_at(path, end + 2)) {
          close = end;
          break;
        }
      }
    }
    step.kind = PathSegment::Kind::Key;
    step.key = path.substr(at + 2, close - at - 2);
    at = close + 2;
    return ScanResult::Step;
  }
  std::size_t close = path.find(']', at + 1);
  if (close == std::string_view::npos) return ScanResult::Unreadable;
  std::optional<std::uint64_t> index = read_index(path.substr(at + 1, close - at - 1));
  if (!index) return ScanResult::Unreadable;
  step.kind = PathSegment::Kind::Index;
  step.index = *index;
  at = close + 1;
  return ScanResult::Step;
}

std::optional<std::vector<PathSegment>> parse_path(std::string_view path) {
  constexpr std::string_view kRoot = "root";
  if (path.substr(0, kRoot.size()) != kRoot) return std::nullopt;
  std::vector<PathSegment> segments;
  std::size_t at = kRoot.size();
  PathStep step;
  for (;;) {
    switch (scan_segment(path, at, step)) {
      case ScanResult::Step:
        segments.push_back(step.is_key() ? PathSegment::make_key(step.key)
                                         : PathSegment::make_index(step.index));
        break;
      case ScanResult::End:
        return segments;
      case ScanResult::Unreadable:
        return std::nullopt;
    }
  }
}

}  // namespace hexalume::engine
