#include <gtest/gtest.h>

#include <string_view>

#include "value/decimal_text.hpp"

namespace hexalume {
namespace {

struct Case {
  std::string_view text;
  double number;  // the nearest double, as a correct reader gives it
  bool exact;
};

TEST(decimal_text, written_exactly) {
  const Case cases[] = {
      {"1.50", 1.5, true},
      {"15e-1", 1.5, true},
      {"0.1", 0.1, true},
      {"-0.0", -0.0, true},
      {"0e10", 0.0, true},
      {"5e-324", 5e-324, true},
      {"4.9e-324", 5e-324, false},
      {"1.7976931348623157e308", 1.7976931348623157e308, true},
      {"0.10000000000000001", 0.1, false},
      {"9007199254740993", 9007199254740992.0, false},
      {"1e-400", 0.0, false},
      {"-1.5", 1.5, false},
      {"1e999999999999999999999", 1.0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(value::written_exactly(c.text, c.number), c.exact) << c.text;
  }
}

}  // namespace
}  // namespace hexalume
