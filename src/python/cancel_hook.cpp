#include "python/cancel_hook.hpp"

namespace hexalume::python {

namespace {

// Every call of the core runs with the GIL held, so the hook may run Python code.
bool run_signal_handlers() noexcept {
  note_python_code();
  return PyErr_CheckSignals() == 0;
}

}  // namespace

void install_cancel_hook() noexcept { value::set_cancel_hook(&run_signal_handlers); }

}  // namespace hexalume::python
