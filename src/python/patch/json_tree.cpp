#include "python/patch/json_tree.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "python/integers.hpp"
#include "python/patch/patch_errors.hpp"
#include "value/interrupt.hpp"

namespace hexalume::python::patch {

namespace {

constexpr char kWhileReading[] = " while reading a JSON document";

class JsonWalk {
 public:
  JsonWalk(const char* label, const Trail& at) : label_(label), trail_(at) {}

 protected:
  std::string pointer() const {
    std::string text;
    append_pointer(text, trail_);
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
  JsonReader(const char* label, const Trail& at, value::Arena& arena)
      : JsonWalk(label, at), arena_(arena) {}

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
        // The digits of a subclass are read through its own methods.
        if (!PyLong_CheckExact(object)) note_python_code();
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
    DictReader entries(dict);
    value::Member* members = arena_.allocate_members(static_cast<std::size_t>(entries.size()));
    std::size_t count = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    while (entries.next(key, item)) {
      const std::optional<std::string_view> text = key_text(key);
      if (!text) return false;
      trail_.push_back({key, 0});
      members[count].key = value::make_string(arena_, *text);
      if (!read(item, members[count].value)) return false;
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
  // A container is copied whole first (one shallow copy, no growth), then the items that are
  // not immutable scalars of exact type are replaced by their own copies.
  PyRef copy_sequence(PyObject* sequence) {
    RecursionGuard guard(depth_, kWhileReading);
    if (!guard) return {};
    PyRef result = PyRef::steal(PySequence_List(sequence));
    if (!result) return {};
    trail_.push_back({nullptr, 0});
    const Py_ssize_t size = PyList_Size(result.get());
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* item = PyList_GetItem(result.get(), i);
      if (item == nullptr) return {};
      if (kept_as_is(item)) continue;
      trail_.back().index = i;
      PyRef copied = copy(item);
      if (!copied) return {};
      PyList_SetItem(result.get(), i, copied.release());  // steals; releases the original
    }
    trail_.pop_back();
    return result;
  }

  PyRef copy_dict(PyObject* dict) {
    RecursionGuard guard(depth_, kWhileReading);
    if (!guard) return {};
    PyRef result = PyRef::steal(PyDict_New());
    if (!result || PyDict_Update(result.get(), dict) != 0) return {};
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    std::vector<std::pair<PyRef, PyRef>> replaced;
    // `result` is private to this call and nothing below runs Python code that could see it.
    while (PyDict_Next(result.get(), &position, &key, &item)) {
      const std::optional<std::string_view> text = key_text(key);
      if (!text) return {};
      if (!PyUnicode_CheckExact(key)) {
        replaced.emplace_back(PyRef::borrow(key), PyRef());
      } else if (kept_as_is(item)) {
        continue;
      }
      trail_.push_back({key, 0});
      PyRef copied = copy(item);
      trail_.pop_back();
      if (!copied) return {};
      if (!PyUnicode_CheckExact(key)) {
        replaced.back().second = std::move(copied);
      } else if (PyDict_SetItem(result.get(), key, copied.get()) != 0) {
        return {};  // an existing key: the dict does not change size
      }
    }
    // Keys of str subclasses become plain str, in their place in the key order.
    if (!replaced.empty() && !plain_keys(result, replaced)) return {};
    return result;
  }

  // True for an object the copy may share: an exact str, int, float (finite), bool or None.
  bool kept_as_is(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyUnicode_Type) {
      if (utf8_from_py(object)) return true;
      PyErr_Clear();  // copy() reports the lone surrogate with its position
      return false;
    }
    if (type == &PyLong_Type || type == &PyBool_Type || object == Py_None) return true;
    return type == &PyFloat_Type && std::isfinite(PyFloat_AsDouble(object));
  }

  bool plain_keys(PyRef& result, std::vector<std::pair<PyRef, PyRef>>& replaced) {
    PyRef rebuilt = PyRef::steal(PyDict_New());
    if (!rebuilt) return false;
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    std::size_t next = 0;
    while (PyDict_Next(result.get(), &position, &key, &item)) {
      if (next < replaced.size() && key == replaced[next].first.get()) {
        const std::optional<std::string_view> text = utf8_from_py(key);
        if (!text) return false;
        PyRef plain = PyRef::steal(
            PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size())));
        if (!plain ||
            PyDict_SetItem(rebuilt.get(), plain.get(), replaced[next].second.get()) != 0) {
          return false;
        }
        ++next;
      } else if (PyDict_SetItem(rebuilt.get(), key, item) != 0) {
        return false;
      }
    }
    if (PyDict_Size(rebuilt.get()) != PyDict_Size(result.get())) {
      raise_duplicate_key(label_, pointer());
      return false;
    }
    result = std::move(rebuilt);
    return true;
  }
};

}  // namespace

JsonType classify_subclass(PyObject* object) {
  if (PyLong_Check(object)) return JsonType::Int;  // bool cannot be subclassed
  if (PyFloat_Check(object)) return JsonType::Float;
  if (PyUnicode_Check(object)) return JsonType::Str;
  if (PyDict_Check(object)) return JsonType::Dict;
  if (PyList_Check(object)) return JsonType::List;
  if (PyTuple_Check(object)) return JsonType::Tuple;
  return JsonType::Other;
}

void append_pointer_token(std::string& pointer, std::string_view key) {
  pointer.push_back('/');
  for (const char c : key) {
    if (c == '~') {
      pointer.append("~0");
    } else if (c == '/') {
      pointer.append("~1");
    } else {
      pointer.push_back(c);
    }
  }
}

void append_pointer(std::string& pointer, const Trail& trail) {
  for (const TrailStep& step : trail) {
    if (step.key == nullptr) {
      pointer.push_back('/');
      pointer.append(std::to_string(step.index));
      continue;
    }
    const std::optional<std::string_view> key = utf8_from_py(step.key);
    if (key) {
      append_pointer_token(pointer, *key);
    } else {
      PyErr_Clear();  // only a key that is being refused for it is not UTF-8
      pointer.append("/?");
    }
  }
}

bool json_from_py(PyObject* object, const char* label, const Trail& at, value::Arena& arena,
                  value::Node& out) {
  return JsonReader(label, at, arena).read(object, out);
}

PyRef json_copy(PyObject* object, const char* label, const Trail& at) {
  return JsonCopier(label, at).copy(object);
}

}  // namespace hexalume::python::patch
