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

// Lists shorter than this are never worth reading in the order of their items' memory.
inline constexpr std::size_t kScatteredMinItems = 2048;

// Whether the items of a sequence lie far from their own order in memory: at least
// kScatteredMinItems items, and at least a quarter of the steps from one to the next go down in
// address (`address(i)` for position i). Reading such a sequence in address order then pays for
// sorting it.
template <typename Address>
bool far_from_address_order(std::size_t count, Address address) {
  if (count < kScatteredMinItems) return false;
  std::size_t descents = 0;
  std::uintptr_t previous = address(0);
  for (std::size_t i = 1; i < count; ++i) {
    const std::uintptr_t next = address(i);
    descents += static_cast<std::size_t>(next < previous);
    previous = next;
  }
  return descents >= count / 4;
}

// Sorts by address, equal addresses in their given order. A radix sort on the bits in which the
// addresses differ: time linear in the count, where a comparison sort would grow faster than the
// data on long lists. Polls for interruption.
void sort_by_address(std::vector<Placed>& placed);

}  // namespace hexalume::value
