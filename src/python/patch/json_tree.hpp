#pragma once

// Python objects read as JSON documents, strictly: dict with str keys, list and tuple, str, int
// of any size, finite float, bool and None. Subclasses of these count as their base type.
// Anything else is refused with an error that names its position as a JSON Pointer.

#include "python/boundary.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "value/value.hpp"

namespace hexalume::python::patch {

enum class JsonType : std::uint8_t { Null, Bool, Int, Float, Str, List, Tuple, Dict, Other };

[[gnu::cold]] JsonType classify_subclass(PyObject* object);

// Exact built-in types by one pointer compare each; subclasses on the cold path.
inline JsonType classify(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyUnicode_Type) return JsonType::Str;
  if (type == &PyDict_Type) return JsonType::Dict;
  if (type == &PyLong_Type) return JsonType::Int;
  if (type == &PyFloat_Type) return JsonType::Float;
  if (type == &PyList_Type) return JsonType::List;
  if (type == &PyBool_Type) return JsonType::Bool;
  if (object == Py_None) return JsonType::Null;
  if (type == &PyTuple_Type) return JsonType::Tuple;
  return classify_subclass(object);
}

inline bool is_sequence(JsonType type) { return type == JsonType::List || type == JsonType::Tuple; }

// Item `index` of a list or tuple (borrowed).
inline PyObject* sequence_item(PyObject* sequence, Py_ssize_t index) {
  return PyList_Check(sequence) ? PyList_GetItem(sequence, index)
                                : PyTuple_GetItem(sequence, index);
}
inline Py_ssize_t sequence_size(PyObject* sequence) {
  return PyList_Check(sequence) ? PyList_Size(sequence) : PyTuple_Size(sequence);
}

// One step from a container to a child: a dict key (borrowed from the dict that holds it) or,
// when `key` is nullptr, a list index. A trail of steps names a position in a document.
struct TrailStep {
  PyObject* key;
  Py_ssize_t index;
};
using Trail = std::vector<TrailStep>;

// Appends the JSON Pointer of `trail` to `pointer`.
void append_pointer(std::string& pointer, const Trail& trail);
// Appends `key` to `pointer` as one token: "/" then the key with "~" written "~0" and "/" "~1".
void append_pointer_token(std::string& pointer, std::string_view key);

// Converts `object`, found at `at` in the document called `label` (e.g. "new"), into a tree
// whose memory lives in `arena`. False with an exception set: TypeError for a type or key JSON
// lacks, ValueError for NaN, infinities and lone surrogates (the message starts with `label`
// and names the position), RecursionError for nesting too deep.
bool json_from_py(PyObject* object, const char* label, const Trail& at, value::Arena& arena,
                  value::Node& out);

// A new copy of `object` made of new dicts and lists (tuples become lists, dict keys keep their
// order), sharing no container with it; subclass scalars become plain str, int and float. The
// same refusals and messages as json_from_py. Empty with an exception set on failure.
PyRef json_copy(PyObject* object, const char* label, const Trail& at);

}  // namespace hexalume::python::patch
