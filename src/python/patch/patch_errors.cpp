#include "python/patch/patch_errors.hpp"

#include <cmath>
#include <string>

#include "python/errors.hpp"

namespace hexalume::python::patch {

namespace {

constexpr char kJsonTypes[] = "a document holds dict, list, tuple, str, int, float, bool and None";

void raise_text(PyObject* exception_type, const std::string& message) {
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (text) PyErr_SetObject(exception_type, text.get());
}

std::string at(std::string_view label, std::string_view what, std::string_view pointer) {
  std::string message(label);
  message.append(": ").append(what).append(" at \"").append(pointer).append("\"");
  return message;
}

}  // namespace

void raise_not_json_type(std::string_view label, std::string_view pointer, PyObject* object) {
  const std::optional<std::string> name = type_qualname(object);
  if (!name) return;
  raise_text(PyExc_TypeError,
             at(label, "'" + *name + "' object", pointer) + " is not JSON (" + kJsonTypes + ")");
}

void raise_not_json_key(std::string_view label, std::string_view pointer, PyObject* key) {
  const std::optional<std::string> name = type_qualname(key);
  if (!name) return;
  raise_text(PyExc_TypeError, at(label, "the dict", pointer) + " has a key of type '" + *name +
                                  "'; JSON object keys are str");
}

void raise_not_finite(std::string_view label, std::string_view pointer, double number) {
  const char* text = std::isnan(number) ? "nan" : number > 0 ? "inf" : "-inf";
  raise_text(PyExc_ValueError, at(label, std::string("float ") + text, pointer) +
                                   " is not JSON (NaN and infinities have no JSON form)");
}

void raise_lone_surrogate(std::string_view label, std::string_view pointer, bool in_key) {
  raise_text(PyExc_ValueError, at(label, in_key ? "a key of the dict" : "the str", pointer) +
                                   " holds a lone surrogate, which is not JSON text");
}

void raise_duplicate_key(std::string_view label, std::string_view pointer) {
  raise_text(PyExc_ValueError, at(label, "the dict", pointer) + " has two keys with the same text");
}

}  // namespace hexalume::python::patch
