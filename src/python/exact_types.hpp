#pragma once

#include "python/boundary.hpp"

#include <cstdint>

namespace hexalume::python {

// The built-in types whose exact instances conversion takes by their type alone; Other for
// every other object, subclasses of these included.
enum class ExactType : std::uint8_t { Other, None, Bool, Int, Float, Str, List, Tuple, Set, Dict };

// The object's exact type, tested by identity, the most frequent first: ordinary data never
// raises or clears an exception here.
inline ExactType exact_type_of(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyUnicode_Type) return ExactType::Str;
  if (type == &PyLong_Type) return ExactType::Int;
  if (type == &PyFloat_Type) return ExactType::Float;
  if (type == &PyDict_Type) return ExactType::Dict;
  if (type == &PyList_Type) return ExactType::List;
  if (object == Py_None) return ExactType::None;
  if (type == &PyBool_Type) return ExactType::Bool;
  if (type == &PyTuple_Type) return ExactType::Tuple;
  if (type == &PySet_Type || type == &PyFrozenSet_Type) return ExactType::Set;
  return ExactType::Other;
}

}  // namespace hexalume::python
