#include "python/pretty_method.hpp"

namespace hexalume::python {

PyObject* pretty_method(const engine::Vesperon&, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "pretty() is not available yet");
  return nullptr;
}

}  // namespace hexalume::python
