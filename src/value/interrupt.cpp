#include "value/interrupt.hpp"

namespace hexalume::value {

namespace {

constinit std::atomic<CancelHook> cancel_hook{nullptr};

}  // namespace

void set_cancel_hook(CancelHook hook) noexcept {
  cancel_hook.store(hook, std::memory_order_release);
}

namespace detail {

void poll_hook() {
  poll_countdown.store(kPollInterval, std::memory_order_relaxed);
  CancelHook hook = cancel_hook.load(std::memory_order_acquire);
  if (hook != nullptr && !hook()) throw Cancelled();
}

}  // namespace detail

}  // namespace hexalume::value
