#include "python/patch/json_tree.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "python/integers.hpp"
#include "python/patch/patch_errors.hpp"
#include "value/interrupt.hpp"

namespace hexalume::python::patch {

namespace {

constexpr char kWhileReading[] = " while reading a JSON document";

enum class JsonType : std::uint8_t { Null, Bool, Int, Float, Str, List, Tuple, Dict, Other };

[[gnu::cold]] JsonType classify_subclass(PyObject* object) {
  if (PyLong_Check(object)) return JsonType::Int;  // bool cannot be subclassed
  if (PyFloat_Check(object)) return JsonType::Float;
  if (PyUnicode_Check(object)) return JsonType::Str;
  if (PyDict_Check(object)) return JsonType::Dict;
  if (PyList_Check(object)) return JsonType::List;
  if (PyTuple_Check(object)) return JsonType::Tuple;
  return JsonType::Other;
}

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

// The way from the document's root to the object being read, for error messages only: the
// keys are borrowed from dicts that hold them while the walk is below them.
struct TrailStep {
  PyObject* key;  // nullptr for a list index
  Py_ssize_t index;
};

class JsonWalk {
 public:
  explicit JsonWalk(const char* label) : label_(label) {}

 protected:
  std::string pointer() const {
    std::string text;
    for (const TrailStep& step : trail_) {
      if (step.key == nullptr) {
        text.push_back('/');
        text.append(std::to_string(step.index));
      } else {
        const std::optional<std::string_view> key = utf8_from_py(step.key);
        if (!key) {
          PyErr_Clear();  // keys on the trail were read as UTF-8 already
          text.append("/?");
        } else {
          engine::append_pointer_token(text, *key);
        }
      }
    }
    return text;
  }

  // A key's text, or nullopt with the error raised.
  std::optional<std::string_view> key_text(PyObject* key) {
    if (!PyUnicode_Check(key)) {
      raise_not_json_key(label_, pointer(), key);
      return std::nullopt;
    }
    const std::optional<std::string_view> text = utf8_from_py(key);
    if (!text) {
      if (!discard_ordinary_error()) return std::nullopt;
      raise_lone_surrogate(label_, pointer(), true);
    }
    return text;
  }

  std::optional<std::string_view> str_text(PyObject* text_object) {
    const std::optional<std::string_view> text = utf8_from_py(text_object);
    if (!text && discard_ordinary_error()) raise_lone_surrogate(label_, pointer(), false);
    return text;
  }

  std::optional<double> finite_float(PyObject* number) {
    const double result = PyFloat_AsDouble(number);
    if (result == -1.0 && PyErr_Occurred()) return std::nullopt;
    if (!std::isfinite(result)) {
      raise_not_finite(label_, pointer(), result);
      return std::nullopt;
    }
    return result;
  }

  const char* label_;
  std::vector<TrailStep> trail_;
  unsigned depth_ = 0;
};

class JsonReader : JsonWalk {
 public:
  JsonReader(const char* label, value::Arena& arena) : JsonWalk(label), arena_(arena) {}

  bool read(PyObject* object, value::Node& out) {
    value::poll_interrupt();
    switch (classify(object)) {
      case JsonType::Null:
        out = value::make_null();
        return true;
      case JsonType::Bool:
        out = value::make_bool(object == Py_True);
        return true;
      case JsonType::Int:
        return integer_from_py(object, arena_, out);
      case JsonType::Float: {
        const std::optional<double> number = finite_float(object);
        if (!number) return false;
        out = value::make_float(*number);
        return true;
      }
      case JsonType::Str: {
        const std::optional<std::string_view> text = str_text(object);
        if (!text) return false;
        out = value::make_string(arena_, *text);
        return true;
      }
      case JsonType::List:
      case JsonType::Tuple:
        return read_sequence(object, out);
      case JsonType::Dict:
        return read_dict(object, out);
      case JsonType::Other:
        break;
    }
    raise_not_json_type(label_, pointer(), object);
    return false;
  }

 private:
  bool read_sequence(PyObject* sequence, value::Node& out) {
    RecursionGuard guard(depth_, kWhileReading);
    if (!guard) return false;
    const bool is_list = PyList_Check(sequence);
    const Py_ssize_t size = is_list ? PyList_Size(sequence) : PyTuple_Size(sequence);
    value::Node* items = arena_.allocate_nodes(static_cast<std::size_t>(size));
    trail_.push_back({nullptr, 0});
    for (Py_ssize_t i = 0; i < size; ++i) {
      trail_.back().index = i;
      PyObject* item = is_list ? PyList_GetItem(sequence, i) : PyTuple_GetItem(sequence, i);
      if (item == nullptr || !read(item, items[i])) return false;
    }
    trail_.pop_back();
    out = value::make_list(items, static_cast<std::size_t>(size));
    return true;
  }

  bool read_dict(PyObject* dict, value::Node& out) {
    RecursionGuard guard(depth_, kWhileReading);
    if (!guard) return false;
    DictEntries entries(dict);
    value::Member* members = arena_.allocate_members(static_cast<std::size_t>(entries.size()));
    std::size_t count = 0;
    PyRef key;
    PyRef item;
    while (entries.next(key, item)) {
      const std::optional<std::string_view> text = key_text(key.get());
      if (!text) return false;
      trail_.push_back({key.get(), 0});
      members[count].key = value::make_string(arena_, *text);
      if (!read(item.get(), members[count].value)) return false;
      trail_.pop_back();
      ++count;
    }
    if (value::sort_members(members, count) != count) {
      raise_duplicate_key(label_, pointer());
      return false;
    }
    out = value::make_object(members, count);
    return true;
  }

  value::Arena& arena_;
};

class JsonCopier : JsonWalk {
 public:
  using JsonWalk::JsonWalk;

  PyRef copy(PyObject* object) {
    value::poll_interrupt();
    switch (classify(object)) {
      case JsonType::Null:
      case JsonType::Bool:
        return PyRef::borrow(object);
      case JsonType::Int:
        return PyLong_CheckExact(object) ? PyRef::borrow(object)
                                         : PyRef::steal(PyNumber_Long(object));
      case JsonType::Float: {
        const std::optional<double> number = finite_float(object);
        if (!number) return {};
        return PyFloat_CheckExact(object) ? PyRef::borrow(object)
                                          : PyRef::steal(PyFloat_FromDouble(*number));
      }
      case JsonType::Str: {
        const std::optional<std::string_view> text = str_text(object);
        if (!text) return {};
        if (PyUnicode_CheckExact(object)) return PyRef::borrow(object);
        return PyRef::steal(
            PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size())));
      }
      case JsonType::List:
      case JsonType::Tuple:
        return copy_sequence(object);
      case JsonType::Dict:
        return copy_dict(object);
      case JsonType::Other:
        break;
    }
    raise_not_json_type(label_, pointer(), object);
    return {};
  }

 private:
  PyRef copy_sequence(PyObject* sequence) {
    RecursionGuard guard(depth_, kWhileReading);
    if (!guard) return {};
    const bool is_list = PyList_Check(sequence);
    const Py_ssize_t size = is_list ? PyList_Size(sequence) : PyTuple_Size(sequence);
    PyRef result = PyRef::steal(PyList_New(size));
    if (!result) return {};
    trail_.push_back({nullptr, 0});
    for (Py_ssize_t i = 0; i < size; ++i) {
      trail_.back().index = i;
      PyObject* item = is_list ? PyList_GetItem(sequence, i) : PyTuple_GetItem(sequence, i);
      if (item == nullptr) return {};
      PyRef copied = copy(item);
      if (!copied) return {};
      PyList_SetItem(result.get(), i, copied.release());  // steals the reference
    }
    trail_.pop_back();
    return result;
  }

  PyRef copy_dict(PyObject* dict) {
    RecursionGuard guard(depth_, kWhileReading);
    if (!guard) return {};
    PyRef result = PyRef::steal(PyDict_New());
    if (!result) return {};
    DictEntries entries(dict);
    PyRef key;
    PyRef item;
    while (entries.next(key, item)) {
      const std::optional<std::string_view> text = key_text(key.get());
      if (!text) return {};
      PyRef plain_key = PyUnicode_CheckExact(key.get())
                            ? PyRef::borrow(key.get())
                            : PyRef::steal(PyUnicode_FromStringAndSize(
                                  text->data(), static_cast<Py_ssize_t>(text->size())));
      if (!plain_key) return {};
      trail_.push_back({key.get(), 0});
      PyRef copied = copy(item.get());
      if (!copied) return {};
      trail_.pop_back();
      if (PyDict_SetItem(result.get(), plain_key.get(), copied.get()) != 0) return {};
    }
    if (PyDict_Size(result.get()) != entries.size()) {
      raise_duplicate_key(label_, pointer());
      return {};
    }
    return result;
  }
};

}  // namespace

bool json_from_py(PyObject* object, const char* label, value::Arena& arena, value::Node& out) {
  return JsonReader(label, arena).read(object, out);
}

PyRef json_copy(PyObject* object, const char* label) { return JsonCopier(label).copy(object); }

PyRef json_child(PyObject* root, std::span<const engine::PatchStep> steps) {
  PyRef at = PyRef::borrow(root);
  for (const engine::PatchStep& step : steps) {
    PyObject* child = nullptr;
    if (step.key != nullptr && PyDict_Check(at.get())) {
      const std::string_view text = step.key->string();
      PyRef key = PyRef::steal(
          PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
      if (!key) return {};
      child = PyDict_GetItemWithError(at.get(), key.get());
      if (child == nullptr && PyErr_Occurred()) return {};
    } else if (step.key == nullptr && PyList_Check(at.get())) {
      child = PyList_GetItem(at.get(), static_cast<Py_ssize_t>(step.index));
    } else if (step.key == nullptr && PyTuple_Check(at.get())) {
      child = PyTuple_GetItem(at.get(), static_cast<Py_ssize_t>(step.index));
    }
    if (child == nullptr) {
      PyErr_Clear();
      throw value::InternalError("a document changed while a patch was made from it");
    }
    at = PyRef::borrow(child);
  }
  return at;
}

}  // namespace hexalume::python::patch
