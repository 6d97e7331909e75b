#pragma once

#include <pthread.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <string>

#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"
#include "value/value.hpp"

namespace hexalume::testing {

// How a call ended: "ok", "stack exhausted", "cancelled", or the text of another exception.
inline std::string outcome_of(const std::function<void()>& call) {
  try {
    call();
    return "ok";
  } catch (const value::StackExhausted&) {
    return "stack exhausted";
  } catch (const value::Cancelled&) {
    return "cancelled";
  } catch (const std::exception& error) {
    return error.what();
  }
}

// Runs `call` on a new thread whose stack is `stack_bytes` long and returns how it ended. A
// recursion that overflows that stack kills the test binary instead.
inline std::string outcome_on_stack(std::size_t stack_bytes, const std::function<void()>& call) {
  struct Job {
    const std::function<void()>* call;
    std::string outcome;
  } job{&call, {}};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, stack_bytes);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    auto* running = static_cast<Job*>(argument);
    running->outcome = outcome_of(*running->call);
    return nullptr;
  };
  if (pthread_create(&thread, &attributes, body, &job) != 0) return "thread not started";
  pthread_attr_destroy(&attributes);
  pthread_join(thread, nullptr);
  return job.outcome;
}

// A chain of `depth` one-item lists around `leaf`, built without recursion.
inline value::Node nested_lists(value::Arena& arena, std::size_t depth, value::Node leaf) {
  value::Node node = leaf;
  for (std::size_t level = 0; level < depth; ++level) {
    value::Node* items = arena.allocate_nodes(1);
    items[0] = node;
    node = value::make_list(items, 1);
  }
  return node;
}

// Installs a cancellation hook for the life of the object: it counts its calls and asks the call
// to stop from the `stop_at`-th call on (never when `stop_at` is 0).
class CountingHook {
 public:
  explicit CountingHook(std::size_t stop_at) {
    calls_ = 0;
    stop_at_ = stop_at;
    value::set_cancel_hook(&hook);
  }
  ~CountingHook() { value::set_cancel_hook(nullptr); }
  CountingHook(const CountingHook&) = delete;
  CountingHook& operator=(const CountingHook&) = delete;

  std::size_t calls() const { return calls_; }

 private:
  static bool hook() noexcept {
    ++calls_;
    return stop_at_ == 0 || calls_ < stop_at_;
  }
  static inline std::size_t calls_ = 0;
  static inline std::size_t stop_at_ = 0;
};

// Stack sizes of threads the guard must protect: small ones that Python programs set through
// threading.stack_size, and the default of many thread pools.
inline constexpr std::size_t kSmallStacks[] = {std::size_t{256} << 10, std::size_t{512} << 10,
                                               std::size_t{2} << 20};

// Deep enough to overflow each of those stacks in every recursion of the module.
inline constexpr std::size_t kOverflowDepth = 200000;

}  // namespace hexalume::testing
