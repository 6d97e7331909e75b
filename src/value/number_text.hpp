#pragma once

#include <string>

#include "value/value.hpp"

namespace hexalume::value {

// Appends the text of a Number node: integers in decimal (any size, "-" when negative); floats with
// the fewest digits that read back as the same float, positional for decimal exponents -5..15
// (always with a digit after the point), scientific otherwise ("1e+16", "1.5e-7").
void append_number_text(std::string& out, const Node& number);
std::string number_text(const Node& number);
void append_float_text(std::string& out, double number);

}  // namespace hexalume::value
