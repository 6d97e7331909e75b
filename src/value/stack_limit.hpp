#pragma once

#include <cstdint>
#include <exception>

namespace hexalume::value {

// Thrown when one more level of a recursion would leave the calling thread too little native
// stack. `where` completes the boundary's message "maximum recursion depth exceeded<where>".
class StackExhausted : public std::exception {
 public:
  explicit StackExhausted(const char* where) noexcept : where_(where) {}
  const char* what() const noexcept override { return "native stack exhausted"; }
  const char* where() const noexcept { return where_; }

 private:
  const char* where_;
};

// The endings of the message "maximum recursion depth exceeded<where>" for the core's recursions.
inline constexpr char kInComparison[] = " in comparison";
inline constexpr char kWhileRendering[] = " while rendering a report";

namespace detail {
// The lowest frame address this thread's recursions may reach: the low end of its stack plus a
// safety margin. Starts at the highest address, so a thread's first check reads its bounds.
// Initial-exec: read straight from the thread pointer instead of through __tls_get_addr on every
// check; the eight bytes fit the static TLS that the C library keeps for loaded modules.
[[gnu::tls_model("initial-exec")]] inline constinit thread_local std::uintptr_t stack_floor =
    UINTPTR_MAX;
// Called below the floor: reads the bounds on a thread's first call, then judges `frame`.
[[gnu::cold, gnu::noinline]] bool below_stack_floor(std::uintptr_t frame) noexcept;
[[noreturn, gnu::cold, gnu::noinline]] void throw_stack_exhausted(const char* where);
}  // namespace detail

// True when less than the safety margin of the calling thread's stack is left below the
// caller's frame. The margin (64 KiB, more under AddressSanitizer, at most half the stack)
// covers the deepest call chain between two checks. A frame on a stack that is not the
// thread's own (a coroutine's, say) is never judged exhausted.
[[gnu::always_inline]] inline bool stack_exhausted() noexcept {
  std::uintptr_t frame;
  // The stack pointer itself: asking for a frame address would make every caller keep a frame
  // pointer.
#if defined(__x86_64__)
  asm("movq %%rsp, %0" : "=r"(frame));
#elif defined(__aarch64__)
  asm("mov %0, sp" : "=r"(frame));
#else
  frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
#endif
  return frame < detail::stack_floor && detail::below_stack_floor(frame);
}

// One level of a recursion: throws StackExhausted(where) when the stack is exhausted.
[[gnu::always_inline]] inline void check_stack(const char* where) {
  if (stack_exhausted()) [[unlikely]]
    detail::throw_stack_exhausted(where);
}

}  // namespace hexalume::value
