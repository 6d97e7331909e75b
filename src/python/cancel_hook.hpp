#pragma once

#include "python/boundary.hpp"

namespace hexalume::python {

// Lets long calls answer signals: installs the core's cancellation hook, which runs the
// interpreter's pending signal handlers (only the main thread runs them) and stops the call when
// a handler raises. The call then fails with that exception, KeyboardInterrupt for Ctrl-C.
void install_cancel_hook() noexcept;

}  // namespace hexalume::python
