#pragma once

#include "python/boundary.hpp"

namespace hexalume::python {

// Keeps the interpreter's cyclic garbage collector from running while it lives, and restores
// its earlier state. For building large results that cannot hold a cycle and run no Python code
// (value_to_py): a collection there finds nothing, yet full collections over millions of new
// containers cost several times the build itself and cannot be interrupted.
class GcPause {
 public:
  GcPause() noexcept : was_enabled_(PyGC_Disable() != 0) {}
  ~GcPause() {
    if (was_enabled_) PyGC_Enable();
  }
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;

 private:
  bool was_enabled_;
};

}  // namespace hexalume::python
