#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hexalume::value {

// A position of a sequence and the address of the memory its item lives in.
struct Placed {
  std::uintptr_t address;
  std::size_t index;
};

// Sorts by address, equal addresses in their given order. A radix sort on the bits in which the
// addresses differ: time linear in the count, where a comparison sort would grow faster than the
// data on long lists. Polls for interruption.
void sort_by_address(std::vector<Placed>& placed);

}  // namespace hexalume::value
