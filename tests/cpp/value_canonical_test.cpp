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
    ::testing::Values(TextCase{R"([1, "a", null, true])", "list:[num:1,str:a,null,bool:true]"},
                      TextCase{R"({"b": [], "a": {}})", "dict:{a:dict:{},b:list:[]}"},
                      TextCase{"1.0", "num:1.0"}, TextCase{"-0.0", "num:-0.0"},
                      TextCase{"-12", "num:-12"}, TextCase{"1e16", "num:1e+16"},
                      TextCase{"18446744073709551615", "num:18446744073709551615"},
                      TextCase{"false", "bool:false"}, TextCase{"\"\"", "str:"},
                      TextCase{R"("a,b:]")", "str:a,b:]"},
                      TextCase{R"({"B": 1, "a": [2, {"c": null}]})",
                               "dict:{B:num:1,a:list:[num:2,dict:{c:null}]}"},
                      TextCase{"[[], [[]]]", "list:[list:[],list:[list:[]]]"}));

}  // namespace
}  // namespace hexalume
