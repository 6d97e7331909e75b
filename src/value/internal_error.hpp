#pragma once

#include <stdexcept>

namespace hexalume::value {

// A broken invariant below the Python boundary. The boundary turns it into the module's internal
// exception (derived from BaseException); nothing else may throw across layers.
class InternalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace hexalume::value
