#include "python/boundary.hpp"

#include <algorithm>

#include "python/errors.hpp"
#include "python/library_types.hpp"

namespace hexalume::python {

namespace {

// The special method `name` of `type`, found in the dictionaries along the type's MRO (never on
// the instance) and bound to `object` through its descriptor protocol. An empty result with no
// exception set means the type does not define it.
PyRef lookup_special(PyObject* object, PyTypeObject* type, const char* name) {
  PyObject* type_object = reinterpret_cast<PyObject*>(type);
  PyRef mro = PyRef::steal(PyObject_GetAttrString(type_object, "__mro__"));
  if (!mro) return {};
  if (!PyTuple_Check(mro.get())) return {};
  Py_ssize_t count = PyTuple_Size(mro.get());
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* klass = PyTuple_GetItem(mro.get(), i);
    if (klass == nullptr) return {};
    PyRef namespace_ = PyRef::steal(PyObject_GetAttrString(klass, "__dict__"));
    if (!namespace_) return {};
    PyRef attribute = PyRef::steal(PyMapping_GetItemString(namespace_.get(), name));
    if (!attribute) {
      if (!PyErr_ExceptionMatches(PyExc_KeyError)) return {};
      PyErr_Clear();
      continue;
    }
    PyRef getter = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(attribute.get())), "__get__"));
    if (!getter) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return {};
      PyErr_Clear();
      return attribute;
    }
    return PyRef::steal(
        PyObject_CallFunctionObjArgs(getter.get(), attribute.get(), object, type_object, nullptr));
  }
  return {};
}

}  // namespace

std::size_t utf8_slice_end(std::string_view text, std::size_t from) {
  std::size_t to = std::min(text.size(), from + kTextSliceBytes);
  while (to < text.size() && (static_cast<unsigned char>(text[to]) & 0xc0u) == 0x80u) --to;
  return to;
}

PyObject* str_from_utf8(std::string_view text) {
  if (text.size() <= kTextSliceBytes) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
  }
  PyRef parts = PyRef::steal(PyList_New(0));
  if (!parts) return nullptr;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t to = utf8_slice_end(text, from);
    PyRef part = PyRef::steal(
        PyUnicode_DecodeUTF8(text.data() + from, static_cast<Py_ssize_t>(to - from), "strict"));
    if (!part || PyList_Append(parts.get(), part.get()) != 0) return nullptr;
    from = to;
    value::poll_interrupt(value::kPollInterval);
  }
  PyRef empty = PyRef::steal(PyUnicode_FromStringAndSize("", 0));
  if (!empty) return nullptr;
  return PyUnicode_Join(empty.get(), parts.get());
}

bool discard_ordinary_error() {
  if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError) ||
      PyErr_ExceptionMatches(PyExc_RecursionError)) {
    return false;
  }
  PyErr_Clear();
  return true;
}

std::optional<bool> bool_from_py(PyObject* object) {
  if (object == Py_True) return true;
  if (object == Py_False) return false;
  PyTypeObject* type = Py_TYPE(object);
  const int numpy_bool = is_numpy_bool_type(type);
  if (numpy_bool < 0) return std::nullopt;
  if (numpy_bool == 0) {
    raise_cannot_convert(object, "PyBool");
    return std::nullopt;
  }
  PyRef method = lookup_special(object, type, "__bool__");
  if (!method) {
    if (!PyErr_Occurred()) raise_no_bool_conversion(type);
    return std::nullopt;
  }
  PyRef result = PyRef::steal(PyObject_CallNoArgs(method.get()));
  if (!result) return std::nullopt;
  if (result.get() == Py_True) return true;
  if (result.get() == Py_False) return false;
  raise_cannot_convert(result.get(), "PyBool");
  return std::nullopt;
}

std::optional<std::uint64_t> uint64_from_py(PyObject* object) {
  PyRef integer =
      PyLong_Check(object) ? PyRef::borrow(object) : PyRef::steal(PyNumber_Index(object));
  if (!integer) return std::nullopt;
  unsigned long long result = PyLong_AsUnsignedLongLong(integer.get());
  if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
  return static_cast<std::uint64_t>(result);
}

RecursionGuard::RecursionGuard(unsigned& depth, const char* where) noexcept : depth_(depth) {
  if (depth_ >= value::kMaxDepth || value::stack_exhausted()) {
    raise_depth_exceeded(where);
    return;
  }
  if (Py_EnterRecursiveCall(where) != 0) return;
  ++depth_;
  entered_ = true;
}

RecursionGuard::~RecursionGuard() {
  if (!entered_) return;
  --depth_;
  Py_LeaveRecursiveCall();
}

}  // namespace hexalume::python
