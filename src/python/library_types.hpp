#pragma once

// How objects of data libraries are told apart: by the module their type comes from, never by
// importing the library.

#include "python/boundary.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace hexalume::python {

// The `__module__` of a type as text. nullopt with an exception set when it is missing, not a
// str (TypeError "'<type>' object cannot be converted to 'PyString'") or not encodable.
std::optional<std::string> module_name_of(PyTypeObject* type);

// The data library a module belongs to, by the prefix of its name: "numpy" (so numpy.core and
// numpyro too) or "pandas" (pandas.core.frame, ...).
enum class DataLibrary { None, Numpy, Pandas };
DataLibrary data_library_of(std::string_view module);

// 1 for the type of numpy's boolean scalars (qualified name "numpy.bool_" in numpy 1,
// "numpy.bool" in numpy 2), 0 for any other type. An ordinary error while reading the type's
// __module__ and __name__ is discarded and counts as 0; -1 means another exception is pending.
int is_numpy_bool_type(PyTypeObject* type);

// numpy's array type and the scalar types that no plain value stands for exactly, found in the
// modules already loaded (numpy is never imported here) the first time a numpy object is seen.
class NumpyTypes {
 public:
  enum class Kind { Other, Array, Refused, Raised };

  Kind kind_of(PyTypeObject* type) {
    if (!resolved_ && !resolve()) return Kind::Raised;
    if (is_subtype(type, ndarray_)) return Kind::Array;
    for (const PyRef& refused : refused_) {
      if (is_subtype(type, refused)) return Kind::Refused;
    }
    return Kind::Other;
  }

 private:
  static bool is_subtype(PyTypeObject* type, const PyRef& base) {
    return base && PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(base.get())) != 0;
  }

  // False when an exception that must propagate is pending. Without numpy loaded there is
  // nothing to look for yet: a later object may find it.
  bool resolve();
  // The type named `name` in `module`; left empty when missing or not a type.
  static bool type_of(PyObject* module, const char* name, PyRef& out);

  bool resolved_ = false;
  PyRef ndarray_;
  PyRef refused_[3];
};

}  // namespace hexalume::python
