#include "value/stack_limit.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstddef>

namespace hexalume::value {

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEXALUME_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HEXALUME_ADDRESS_SANITIZER 1
#endif

// The deepest chain of frames between two checks: a change record copying a value, a Python
// error being formatted, Python code run by a conversion. Frames under AddressSanitizer carry
// red zones and are several times larger.
#if defined(HEXALUME_ADDRESS_SANITIZER)
constexpr std::uintptr_t kMargin = std::uintptr_t{256} << 10;
#else
constexpr std::uintptr_t kMargin = std::uintptr_t{64} << 10;
#endif

struct StackBounds {
  bool known = false;
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
};

constinit thread_local StackBounds bounds;

// The calling thread's stack as the thread library sees it; false when it cannot tell.
bool read_bounds(std::uintptr_t& low, std::uintptr_t& high) {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
  void* address = nullptr;
  std::size_t size = 0;
  const bool read = pthread_attr_getstack(&attributes, &address, &size) == 0;
  pthread_attr_destroy(&attributes);
  if (!read || size == 0) return false;
  low = reinterpret_cast<std::uintptr_t>(address);
  high = low + size;
  return true;
}

}  // namespace

namespace detail {

bool below_stack_floor(std::uintptr_t frame) noexcept {
  if (!bounds.known) {
    bounds.known = true;
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
    if (!read_bounds(low, high)) {
      // Unknown bounds: no check at all, as before this guard existed.
      stack_floor = 0;
      return false;
    }
    bounds.low = low;
    bounds.high = high;
    // A thread with a tiny stack keeps half of it for recursion.
    stack_floor = low + std::min(kMargin, (high - low) / 2);
    if (frame >= stack_floor) return false;
  }
  return frame >= bounds.low && frame < bounds.high;
}

void throw_stack_exhausted(const char* where) { throw StackExhausted(where); }

}  // namespace detail

}  // namespace hexalume::value
