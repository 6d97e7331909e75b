#include "python/library_types.hpp"

#include "python/errors.hpp"

namespace hexalume::python {

namespace {

bool text_equals(PyObject* text, const char* expected) {
  return PyUnicode_Check(text) && PyUnicode_CompareWithASCIIString(text, expected) == 0;
}

}  // namespace

std::optional<std::string> module_name_of(PyTypeObject* type) {
  PyRef module =
      PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module) return std::nullopt;
  if (!PyUnicode_Check(module.get())) {
    raise_cannot_convert(module.get(), "PyString");
    return std::nullopt;
  }
  std::optional<std::string_view> text = utf8_from_py(module.get());
  if (!text) return std::nullopt;
  return std::string(*text);
}

DataLibrary data_library_of(std::string_view module) {
  if (module.starts_with("numpy")) return DataLibrary::Numpy;
  if (module.starts_with("pandas")) return DataLibrary::Pandas;
  return DataLibrary::None;
}

int is_numpy_bool_type(PyTypeObject* type) {
  PyObject* type_object = reinterpret_cast<PyObject*>(type);
  PyRef module = PyRef::steal(PyObject_GetAttrString(type_object, "__module__"));
  if (!module) return discard_ordinary_error() ? 0 : -1;
  if (!text_equals(module.get(), "numpy")) return 0;
  PyRef name = PyRef::steal(PyObject_GetAttrString(type_object, "__name__"));
  if (!name) return discard_ordinary_error() ? 0 : -1;
  // numpy 2 renamed its scalar type from bool_ to bool.
  return text_equals(name.get(), "bool_") || text_equals(name.get(), "bool") ? 1 : 0;
}

bool NumpyTypes::resolve() {
  PyRef name = PyRef::steal(PyUnicode_FromString("numpy"));
  if (!name) return false;
  PyRef numpy = PyRef::steal(PyImport_GetModule(name.get()));
  if (!numpy) return !PyErr_Occurred() || discard_ordinary_error();
  if (!type_of(numpy.get(), "ndarray", ndarray_)) return false;
  const char* refused[] = {"complexfloating", "datetime64", "timedelta64"};
  for (std::size_t i = 0; i < std::size(refused); ++i) {
    if (!type_of(numpy.get(), refused[i], refused_[i])) return false;
  }
  resolved_ = true;
  return true;
}

bool NumpyTypes::type_of(PyObject* module, const char* name, PyRef& out) {
  out = PyRef::steal(PyObject_GetAttrString(module, name));
  if (!out) return discard_ordinary_error();
  if (!PyType_Check(out.get())) out = PyRef();
  return true;
}

}  // namespace hexalume::python
