#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/path.hpp"
#include "path_support.hpp"

namespace hexalume {
namespace {

using engine::parse_path;
using engine::PathSegment;
using testing::index;
using testing::key;
using Segments = std::vector<engine::PathSegment>;

struct ScanCase {
  const char* name;
  std::string path;
  std::optional<Segments> expected;  // nullopt: the path is refused
};

void PrintTo(const ScanCase& scan, std::ostream* out) { *out << scan.name; }

class path_scan_table : public ::testing::TestWithParam<ScanCase> {};

TEST_P(path_scan_table, segments) {
  EXPECT_EQ(engine::parse_path(GetParam().path), GetParam().expected);
}

const std::string kMaxIndex = "18446744073709551615";
const std::string kAboveMaxIndex = "18446744073709551616";

INSTANTIATE_TEST_SUITE_P(
    path_scan, path_scan_table,
    ::testing::Values(
        ScanCase{"root", "root", Segments{}}, ScanCase{"too_short", "roo", std::nullopt},
        ScanCase{"empty", "", std::nullopt}, ScanCase{"case_sensitive", "Root['a']", std::nullopt},
        ScanCase{"trailing_word", "rootx", Segments{}},
        ScanCase{"attribute_style", "root.a", Segments{}},
        ScanCase{"mixed", "root['a'][0]['b c']", Segments{key("a"), index(0), key("b c")}},
        ScanCase{"empty_key", "root['']", Segments{key("")}},
        ScanCase{"apostrophe_in_key", "root['it's']", Segments{key("it's")}},
        ScanCase{"two_keys", "root['x']['y']", Segments{key("x"), key("y")}},
        ScanCase{"escape_kept", "root['it\\'s']", Segments{key("it\\'s")}},
        ScanCase{"cut_at_inner_close", "root['a\\']b']", Segments{key("a\\")}},
        ScanCase{"unclosed_key", "root['a", std::nullopt},
        ScanCase{"unclosed_after_segment", "root['a'][1", std::nullopt},
        ScanCase{"lone_bracket", "root[", std::nullopt},
        ScanCase{"leading_zeros", "root[007]", Segments{index(7)}},
        ScanCase{"plus_sign", "root[+3]", Segments{index(3)}},
        ScanCase{"minus_sign", "root[-1]", std::nullopt},
        ScanCase{"empty_index", "root[]", std::nullopt},
        ScanCase{"lone_plus", "root[+]", std::nullopt},
        ScanCase{"lone_minus", "root[-]", std::nullopt},
        ScanCase{"double_plus", "root[++1]", std::nullopt},
        ScanCase{"fraction", "root[1.5]", std::nullopt},
        ScanCase{"blank_before_digit", "root[ 1]", std::nullopt},
        ScanCase{"largest_index", "root[" + kMaxIndex + "]", Segments{index(UINT64_MAX)}},
        ScanCase{"index_overflow", "root[" + kAboveMaxIndex + "]", std::nullopt},
        ScanCase{"index_far_overflow", "root[99999999999999999999999]", std::nullopt},
        ScanCase{"double_quotes", "root[\"a\"]", std::nullopt},
        ScanCase{"junk_after_key", "root['a']junk", Segments{key("a")}},
        ScanCase{"junk_after_index", "root[1]x[2]", Segments{index(1)}},
        ScanCase{"bad_group_after_junk_ignored", "root['a']x[", Segments{key("a")}},
        ScanCase{"non_ascii_key", "root['\xc3\xa9t\xc3\xa9']", Segments{key("\xc3\xa9t\xc3\xa9")}},
        ScanCase{"control_bytes_in_key", std::string("root['a\0\n\tb']", 13),
                 Segments{key(std::string("a\0\n\tb", 5))}},
        ScanCase{"bracket_inside_key", "root['[0]']", Segments{key("[0]")}},
        ScanCase{"quote_opens_index_form", "root[']", std::nullopt},
        ScanCase{"key_looking_index", "root[0]['0']", Segments{index(0), key("0")}},
        // A key holding "']" before a group that cannot be read runs on to a "']" that reads on.
        ScanCase{"key_holding_bad_index", "root['m'][0']", Segments{key("m'][0")}},
        ScanCase{"key_holding_bad_index_then_key", "root['m'][x']['q']",
                 Segments{key("m'][x"), key("q")}},
        ScanCase{"key_holding_unclosed_key", "root['m']['x", std::nullopt},
        ScanCase{"key_holding_readable_group_splits", "root['m'][0]']",
                 Segments{key("m"), index(0)}}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(path_scan, key_and_index_never_equal) {
  EXPECT_NE(key("0"), index(0));
  EXPECT_NE(key("0"), key("00"));
  EXPECT_EQ(engine::PathSegmentHash{}(key("abc")), engine::PathSegmentHash{}(key("abc")));
}

// Every accepted path names only bytes of its text: keys are substrings, and there are never
// more segments than opening brackets. Run under the sanitizer build, this also shows that no
// input reads outside the text.
void check_scan(const std::string& path) {
  auto segments = engine::parse_path(path);
  if (!segments) return;
  ASSERT_EQ(path.compare(0, 4, "root"), 0);
  std::size_t brackets = 0;
  for (char c : path) brackets += c == '[';
  ASSERT_LE(segments->size(), brackets);
  for (const engine::PathSegment& segment : *segments) {
    if (!segment.is_key()) continue;
    std::string group = "['";
    group += segment.key;
    group += "']";
    ASSERT_NE(path.find(group), std::string::npos);
  }
}

TEST(path_scan, arbitrary_bytes) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string path = round % 2 == 0 ? "root" : "";
    const int length = static_cast<int>(random() % 24);
    for (int at = 0; at < length; ++at) {
      // Mostly the bytes the scanner looks at, so that deep states are reached.
      static const char kInteresting[] = "['] +-0123456789";
      path += random() % 4 == 0 ? static_cast<char>(random() % 256)
                                : kInteresting[random() % (sizeof kInteresting - 1)];
    }
    ASSERT_NO_FATAL_FAILURE(check_scan(path));
    // Every prefix of a path is a text of its own: the cuts stress the end-of-text checks.
    for (std::size_t cut = 0; cut < path.size(); ++cut) {
      ASSERT_NO_FATAL_FAILURE(check_scan(path.substr(0, cut)));
    }
  }
}

}  // namespace
}  // namespace hexalume
