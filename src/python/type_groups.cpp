#include "python/type_groups.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "python/errors.hpp"
#include "python/library_types.hpp"

namespace hexalume::python {

namespace {

// What a group has seen so far: a group with both an integer and a float type makes numbers of
// either representation compare as one type, and str with bytes does the same for text.
struct GroupMarks {
  bool integer = false;
  bool floating = false;
  bool text = false;
  bool bytes = false;
};

enum class Mark { None, Integer, Float, Text, Bytes };

struct Classified {
  options::ValueType type;
  Mark mark;
};

// Everything imported once per keyword value.
struct Modules {
  PyObject* number = nullptr;   // numbers.Number
  PyObject* ndarray = nullptr;  // numpy.ndarray, or nullptr when numpy is absent or odd
};

bool is_numpy(std::string_view module) { return data_library_of(module) == DataLibrary::Numpy; }

// An attribute read as text. False with an exception set when it is missing, not a str, or not
// encodable.
bool text_attribute(PyObject* object, const char* name, std::string& out) {
  PyRef attribute = PyRef::steal(PyObject_GetAttrString(object, name));
  if (!attribute) return false;
  if (!PyUnicode_Check(attribute.get())) {
    raise_cannot_convert(attribute.get(), "PyString");
    return false;
  }
  std::optional<std::string_view> text = utf8_from_py(attribute.get());
  if (!text) return false;
  out.assign(*text);
  return true;
}

// str() of an attribute. False with an exception set.
bool str_of_attribute(PyObject* object, const char* name, std::string& out) {
  PyRef attribute = PyRef::steal(PyObject_GetAttrString(object, name));
  if (!attribute) return false;
  PyRef text = PyRef::steal(PyObject_Str(attribute.get()));
  if (!text) return false;
  std::optional<std::string_view> bytes = utf8_from_py(text.get());
  if (!bytes) return false;
  out.assign(*bytes);
  return true;
}

// "<module>.<name>" from str() of both attributes. False with an exception set.
bool qualified_name(PyObject* type, std::string& out) {
  std::string module;
  std::string name;
  if (!str_of_attribute(type, "__module__", module)) return false;
  if (!str_of_attribute(type, "__name__", name)) return false;
  out = module + "." + name;
  return true;
}

// numpy's scalar types are told apart by the words in their lower-cased qualified name.
Classified classify_numpy_name(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  auto has = [&name](std::string_view word) { return name.find(word) != std::string::npos; };
  if (has("ndarray")) return {options::ValueType::List, Mark::None};
  if (has("bool")) return {options::ValueType::Bool, Mark::None};
  if (has("float")) return {options::ValueType::Number, Mark::Float};
  if (has("int")) return {options::ValueType::Number, Mark::Integer};
  if (has("number")) return {options::ValueType::Number, Mark::Integer};
  return {options::ValueType::Number, Mark::Float};
}

// A type: built-ins by identity, numpy types by subclassing and name, other number classes
// through numbers.Number.
bool classify_type(PyObject* item, const Modules& modules, Classified& out) {
  struct Builtin {
    PyObject* type;
    Classified classified;
  };
  const Builtin builtins[] = {
      {reinterpret_cast<PyObject*>(&PyLong_Type), {options::ValueType::Number, Mark::Integer}},
      {reinterpret_cast<PyObject*>(&PyFloat_Type), {options::ValueType::Number, Mark::Float}},
      {reinterpret_cast<PyObject*>(&PyBool_Type), {options::ValueType::Bool, Mark::None}},
      {reinterpret_cast<PyObject*>(&PyUnicode_Type), {options::ValueType::String, Mark::Text}},
      {reinterpret_cast<PyObject*>(&PyBytes_Type), {options::ValueType::String, Mark::Bytes}},
      {reinterpret_cast<PyObject*>(Py_TYPE(Py_None)), {options::ValueType::Null, Mark::None}},
      {reinterpret_cast<PyObject*>(&PyList_Type), {options::ValueType::List, Mark::None}},
      {reinterpret_cast<PyObject*>(&PyTuple_Type), {options::ValueType::List, Mark::None}},
      {reinterpret_cast<PyObject*>(&PyDict_Type), {options::ValueType::Dict, Mark::None}},
  };
  for (const Builtin& builtin : builtins) {
    if (item == builtin.type) {
      out = builtin.classified;
      return true;
    }
  }
  std::string module;
  if (!text_attribute(item, "__module__", module)) return false;
  if (is_numpy(module)) {
    bool array_type = false;
    if (modules.ndarray != nullptr) {
      int subclass = PyObject_IsSubclass(item, modules.ndarray);
      // An odd type is simply not an array type.
      if (subclass < 0 && !discard_ordinary_error()) return false;
      array_type = subclass > 0;
    }
    std::string name;
    if (!qualified_name(item, name)) return false;
    out = array_type ? Classified{options::ValueType::List, Mark::None} : classify_numpy_name(name);
    return true;
  }
  int subclass = PyObject_IsSubclass(item, modules.number);
  if (subclass < 0) return false;
  if (subclass == 0) {
    raise_unsupported_group_type();
    return false;
  }
  std::string name;
  if (!text_attribute(item, "__module__", module) || !qualified_name(item, name)) return false;
  out = {options::ValueType::Number, Mark::Float};
  return true;
}

// An attribute that is a str; nullopt when an ordinary error prevents reading it (the error is
// discarded). False when another exception is pending.
bool optional_text_attribute(PyObject* object, const char* name, std::optional<std::string>& out) {
  std::string text;
  if (text_attribute(object, name, text)) {
    out = std::move(text);
    return true;
  }
  out.reset();
  return discard_ordinary_error();
}

// Not a type: only numpy's array-building function is accepted, as a list.
bool classify_other(PyObject* item, Classified& out) {
  std::optional<std::string> module;
  std::optional<std::string> name;
  if (!optional_text_attribute(item, "__module__", module) ||
      !optional_text_attribute(item, "__name__", name)) {
    return false;
  }
  if (module && is_numpy(*module) && name && *name == "array") {
    out = {options::ValueType::List, Mark::None};
    return true;
  }
  raise_unsupported_group_type();
  return false;
}

// The items of a list or tuple (or subclass), each held while `visit` runs. False when `visit`
// fails.
template <typename Visit>
bool for_each_item(PyObject* sequence, Visit&& visit) {
  bool is_list = PyList_Check(sequence);
  for (Py_ssize_t i = 0;; ++i) {
    Py_ssize_t size = is_list ? PyList_Size(sequence) : PyTuple_Size(sequence);
    if (i >= size) return true;
    PyRef item =
        PyRef::borrow(is_list ? PyList_GetItem(sequence, i) : PyTuple_GetItem(sequence, i));
    if (!item) return false;
    if (!visit(item.get())) return false;
  }
}

}  // namespace

bool parse_type_groups(PyObject* groups, options::VesperonOptions& options) {
  if (!PyList_Check(groups) && !PyTuple_Check(groups)) {
    raise_expected_type_groups();
    return false;
  }
  PyRef numbers = PyRef::steal(PyImport_ImportModule("numbers"));
  if (!numbers) return false;
  PyRef number = PyRef::steal(PyObject_GetAttrString(numbers.get(), "Number"));
  if (!number) return false;
  if (!PyType_Check(number.get())) {
    raise_cannot_convert(number.get(), "PyType");
    return false;
  }
  // numpy is optional: without it, numpy types cannot be named and the array test is skipped.
  PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
  PyRef ndarray;
  if (!numpy) {
    if (!discard_ordinary_error()) return false;
  } else {
    ndarray = PyRef::steal(PyObject_GetAttrString(numpy.get(), "ndarray"));
    if (!ndarray && !discard_ordinary_error()) return false;
    if (ndarray && !PyType_Check(ndarray.get())) ndarray = PyRef();
  }
  Modules modules{number.get(), ndarray.get()};

  std::vector<std::vector<options::ValueType>> result;
  bool numeric = false;
  bool string = false;
  bool read = for_each_item(groups, [&](PyObject* group) {
    if (!PyList_Check(group) && !PyTuple_Check(group)) {
      raise_type_group_entry();
      return false;
    }
    GroupMarks marks;
    std::vector<options::ValueType> types;
    bool complete = for_each_item(group, [&](PyObject* item) {
      Classified classified;
      bool ok = PyType_Check(item) ? classify_type(item, modules, classified)
                                   : classify_other(item, classified);
      if (!ok) return false;
      types.push_back(classified.type);
      switch (classified.mark) {
        case Mark::Integer:
          marks.integer = true;
          break;
        case Mark::Float:
          marks.floating = true;
          break;
        case Mark::Text:
          marks.text = true;
          break;
        case Mark::Bytes:
          marks.bytes = true;
          break;
        case Mark::None:
          break;
      }
      return true;
    });
    if (!complete) return false;
    numeric = numeric || (marks.integer && marks.floating);
    string = string || (marks.text && marks.bytes);
    result.push_back(std::move(types));
    return true;
  });
  if (!read) return false;
  options.ignore_type_in_groups = std::move(result);
  if (numeric) options.ignore_numeric_type_changes = true;
  if (string) options.ignore_string_type_changes = true;
  return true;
}

}  // namespace hexalume::python
