#pragma once

#include <atomic>
#include <cstddef>
#include <exception>

namespace hexalume::value {

// Thrown out of a long call when the cancellation hook asks it to stop. The hook has already
// recorded why (the Python layer: the exception raised by a signal handler); whoever catches it
// only reports failure. Everything built so far is released by unwinding.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "call cancelled"; }
};

// Asked every kPollInterval steps of a long call; returns false when the call must stop. Must
// not throw. Without a hook (the default) no call is ever stopped.
using CancelHook = bool (*)() noexcept;

// Installs `hook` for every later step in every thread; nullptr removes it.
void set_cancel_hook(CancelHook hook) noexcept;

// Steps between two calls of the hook. A step is a few nanoseconds of work (one node visited,
// one item counted, one comparison of a sort), so the hook runs many times a millisecond while
// costing nothing measurable.
inline constexpr unsigned kPollInterval = 4096;

namespace detail {
// Shared by all threads: relaxed loads and stores, so concurrent steps may lose a count, which
// only moves the next poll a little.
inline constinit std::atomic<unsigned> poll_countdown{kPollInterval};
// Restarts the countdown and asks the hook; throws Cancelled when it says stop.
[[gnu::cold, gnu::noinline]] void poll_hook();
}  // namespace detail

// `steps` steps of a long loop or recursion (one call per container may count all its items):
// every kPollInterval steps it asks the cancellation hook and throws Cancelled when the hook
// says stop.
inline void poll_interrupt(std::size_t steps = 1) {
  const unsigned left = detail::poll_countdown.load(std::memory_order_relaxed);
  if (left > steps) [[likely]] {
    detail::poll_countdown.store(left - static_cast<unsigned>(steps), std::memory_order_relaxed);
    return;
  }
  detail::poll_hook();
}

}  // namespace hexalume::value
