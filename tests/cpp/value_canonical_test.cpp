#include <gtest/gtest.h>

#include <string>

#include "literal.hpp"
#include "value/canonical.hpp"

namespace hexalume {
namespace {

using testing::literal;

struct TextCase {
  const char* json;
  const char* text;
};

class canonical_text : public ::testing::TestWithParam<TextCase> {};

TEST_P(canonical_text, matches) {
  EXPECT_EQ(value::canonical_string(literal(GetParam().json).root()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    canonical, canonical_text,
    // The layout that orders set members: kinds tagged, keys sorted, numbers as written.
    ::testing::Values(TextCase{R"([1, "a", null, true])", "list:[num:1,str:a,null,bool:true]"},
                      TextCase{R"({"b": [], "a": {}})", "dict:{a:dict:{},b:list:[]}"},
                      TextCase{"[1.0, -0.0, 1e16]", "list:[num:1.0,num:-0.0,num:1e+16]"},
                      TextCase{"[-123456789012345678901234567890]",
                               "list:[num:-123456789012345678901234567890]"}));

}  // namespace
}  // namespace hexalume
