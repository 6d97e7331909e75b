#pragma once

#include <string_view>

namespace hexalume::value {

// Whether `text`, a number in JSON's grammar, has exactly the value of the shortest text that
// reads back as `number` (its nearest double): "1.50" and "15e-1" hold 1.5 exactly, while
// "1.00000000000000000000001" and "0.10000000000000001" are read as 1.0 and 0.1 and lose digits.
// Zeros of either sign are equal. `number` must be finite.
bool written_exactly(std::string_view text, double number);

}  // namespace hexalume::value
