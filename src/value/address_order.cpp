#include "value/address_order.hpp"

#include <algorithm>
#include <utility>

#include "value/interrupt.hpp"

namespace hexalume::value {

namespace {

constexpr unsigned kDigitBits = 11;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;

}  // namespace

void sort_by_address(std::vector<Placed>& placed) {
  const std::size_t count = placed.size();
  if (count < 2) return;
  std::uintptr_t low = placed[0].address;
  std::uintptr_t high = low;
  for (const Placed& entry : placed) {
    low = std::min(low, entry.address);
    high = std::max(high, entry.address);
  }
  const std::uintptr_t range = high - low;
  if (range == 0) return;
  const unsigned bits = 64 - static_cast<unsigned>(__builtin_clzll(range));
  std::vector<Placed> buffer(count);
  std::vector<std::size_t> starts(kBuckets);
  // Least significant digit first: each pass is stable, so earlier digits keep their order.
  for (unsigned shift = 0; shift < bits; shift += kDigitBits) {
    poll_interrupt(count);
    std::fill(starts.begin(), starts.end(), 0);
    for (const Placed& entry : placed) ++starts[((entry.address - low) >> shift) & (kBuckets - 1)];
    std::size_t total = 0;
    for (std::size_t& start : starts) total += std::exchange(start, total);
    for (const Placed& entry : placed) {
      buffer[starts[((entry.address - low) >> shift) & (kBuckets - 1)]++] = entry;
    }
    placed.swap(buffer);
  }
}

}  // namespace hexalume::value
