#include "python/converter.hpp"

#include <optional>
#include <string>

namespace hexalume::python {

namespace {

// 1 if the attribute exists, 0 if looking it up raises AttributeError, -1 for any other error.
int has_attribute(PyObject* object, const char* name) {
  PyRef attribute = PyRef::steal(PyObject_GetAttrString(object, name));
  if (attribute) return 1;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
  PyErr_Clear();
  return 0;
}

PyRef call_with_keyword(PyObject* callable, const char* keyword, const char* text) {
  PyRef arguments = PyRef::steal(PyTuple_New(0));
  if (!arguments) return {};
  PyRef keywords = PyRef::steal(Py_BuildValue("{ss}", keyword, text));
  if (!keywords) return {};
  return PyRef::steal(PyObject_Call(callable, arguments.get(), keywords.get()));
}

// Looks the method up afresh and calls it, with one string keyword argument if given.
PyRef call_method(PyObject* object, const char* name, const char* keyword = nullptr,
                  const char* text = nullptr) {
  PyRef method = PyRef::steal(PyObject_GetAttrString(object, name));
  if (!method) return {};
  if (keyword == nullptr) return PyRef::steal(PyObject_CallNoArgs(method.get()));
  return call_with_keyword(method.get(), keyword, text);
}

}  // namespace

bool Converter::convert_returned(PyObject* returned, Node& out) {
  RecursionGuard guard(depth_, kWhere);
  if (!entered(guard)) return false;
  return convert(returned, out);
}

template <typename Fallback>
bool Converter::convert_export(PyRef result, Fallback&& fallback, Node& out) {
  if (!result) {
    if (!discard_ordinary_error()) return false;
    result = fallback();
    if (!result) return false;
  }
  return convert_returned(result.get(), out);
}

bool Converter::convert_library(PyObject* object, Node& out) {
  std::optional<std::string> module = module_name_of(Py_TYPE(object));
  if (!module) return false;
  if (data_library_of(*module) == DataLibrary::Pandas) {
    if (PyRef to_dict = PyRef::steal(PyObject_GetAttrString(object, "to_dict"))) {
      // A to_dict without `orient` gives its default shape.
      return convert_export(
          call_with_keyword(to_dict.get(), "orient", "list"),
          [&] { return PyRef::steal(PyObject_CallNoArgs(to_dict.get())); }, out);
    }
    if (!discard_ordinary_error()) return false;
    if (PyRef to_numpy = PyRef::steal(PyObject_GetAttrString(object, "to_numpy"))) {
      PyRef result = PyRef::steal(PyObject_CallNoArgs(to_numpy.get()));
      if (!result) return false;
      return convert_returned(result.get(), out);
    }
    if (!discard_ordinary_error()) return false;
  }
  int present = has_attribute(object, "model_dump");
  if (present < 0) return false;
  if (present > 0) {
    // A model_dump without `mode` is called again without arguments.
    return convert_export(
        call_method(object, "model_dump", "mode", "json"),
        [&] { return call_method(object, "model_dump"); }, out);
  }
  present = has_attribute(object, "dict");
  if (present < 0) return false;
  if (present > 0) {
    PyRef result = call_method(object, "dict");
    if (!result) return false;
    return convert_returned(result.get(), out);
  }
  // The module name is read again: the calls above may have run Python code.
  module = module_name_of(Py_TYPE(object));
  if (!module) return false;
  if (data_library_of(*module) == DataLibrary::Numpy) {
    if (PyRef result = call_method(object, "tolist")) {
      return convert_returned(result.get(), out);
    }
    if (!discard_ordinary_error()) return false;
  }
  raise_unsupported_type();
  return false;
}

}  // namespace hexalume::python
