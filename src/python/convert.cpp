#include "python/convert.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "python/errors.hpp"
#include "python/integers.hpp"
#include "value/canonical.hpp"

namespace hexalume::python {

namespace {

using value::Arena;
using value::Member;
using value::Node;

constexpr char kWhere[] = " while converting a Python object";
constexpr char kToPythonWhere[] = " while converting to a Python object";

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The UTF-8 text of a str, or nullptr with an exception set (lone surrogates).
const char* utf8_of(PyObject* text, Py_ssize_t& size) {
  return PyUnicode_AsUTF8AndSize(text, &size);
}

// The `__module__` of the object's type as text. False with an exception set when it is
// missing, not a str or not encodable.
bool module_name(PyObject* object, std::string& out) {
  PyRef module = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__module__"));
  if (!module) return false;
  if (!PyUnicode_Check(module.get())) {
    raise_cannot_convert(module.get(), "PyString");
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = utf8_of(module.get(), size);
  if (text == nullptr) return false;
  out.assign(text, static_cast<std::size_t>(size));
  return true;
}

// A numpy or pandas object of one or more dimensions. Such an object may answer __index__ or
// __float__ for its single element, but it is converted through its export methods like its
// longer siblings. Never leaves an exception set.
bool is_multi_dimensional(PyObject* object) {
  std::string module;
  if (!module_name(object, module)) {
    PyErr_Clear();
    return false;
  }
  if (!starts_with(module, "numpy") && !starts_with(module, "pandas")) return false;
  PyRef dimensions = PyRef::steal(PyObject_GetAttrString(object, "ndim"));
  if (!dimensions) {
    PyErr_Clear();
    return false;
  }
  if (!PyLong_Check(dimensions.get())) return false;
  int overflow = 0;
  long long count = PyLong_AsLongLongAndOverflow(dimensions.get(), &overflow);
  if (count == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  return overflow > 0 || (overflow == 0 && count >= 1);
}

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

class Converter {
 public:
  explicit Converter(Arena& arena) : arena_(arena) {}

  // Every rule, in order. False means a Python exception is set.
  bool convert(PyObject* object, Node& out) {
    value::poll_interrupt();
    // Exact built-in types by identity: ordinary data never raises or clears an exception.
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyUnicode_Type) {
      if (convert_text(object, out)) return true;
      PyErr_Clear();  // lone surrogates: only the library rules are left
      return convert_library(object, out);
    }
    if (type == &PyLong_Type) return convert_exact_int(object, out);
    if (type == &PyFloat_Type) return convert_float(PyFloat_AsDouble(object), out);
    if (type == &PyDict_Type) return convert_dict(object, out);
    if (type == &PyList_Type) return convert_list(object, out);
    if (object == Py_None) {
      out = value::make_null();
      return true;
    }
    if (type == &PyBool_Type) {
      out = value::make_bool(object == Py_True);
      return true;
    }
    if (type == &PyTuple_Type) return convert_tuple(object, out);
    if (type == &PySet_Type || type == &PyFrozenSet_Type) return convert_set(object, out);
    return convert_other(object, out);
  }

 private:
  bool convert_text(PyObject* text, Node& out) {
    Py_ssize_t size = 0;
    const char* bytes = utf8_of(text, size);
    if (bytes == nullptr) return false;
    out = value::make_string(arena_, {bytes, static_cast<std::size_t>(size)});
    return true;
  }

  bool convert_float(double number, Node& out) {
    if (!std::isfinite(number)) {
      raise_float_not_finite();
      return false;
    }
    out = value::make_float(number);
    return true;
  }

  bool convert_exact_int(PyObject* integer, Node& out) {
    return integer_from_py(integer, arena_, out);
  }

  // Everything that is not an exact built-in type, with the rules in their full order.
  bool convert_other(PyObject* object, Node& out) {
    PyTypeObject* type = Py_TYPE(object);
    if (is_numpy_bool_type(type)) {
      if (std::optional<bool> flag = bool_from_py(object)) {
        out = value::make_bool(*flag);
        return true;
      }
      PyErr_Clear();
    }
    // Without an index or float slot no number rule can apply: skip them rather than raise and
    // clear two exceptions for every dict subclass or model object.
    bool numeric = PyType_GetSlot(type, Py_nb_index) != nullptr ||
                   PyType_GetSlot(type, Py_nb_float) != nullptr;
    if (numeric && !is_multi_dimensional(object)) {
      PyRef integer =
          PyLong_Check(object) ? PyRef::borrow(object) : PyRef::steal(PyNumber_Index(object));
      if (!integer) {
        PyErr_Clear();
      } else {
        return integer_from_py(integer.get(), arena_, out);
      }
      double number = PyFloat_AsDouble(object);
      if (!(number == -1.0 && PyErr_Occurred())) return convert_float(number, out);
      PyErr_Clear();
    }
    return convert_after_numbers(object, out);
  }

  // The rules after the number rules: str subclasses, containers and their subclasses, then
  // library objects.
  bool convert_after_numbers(PyObject* object, Node& out) {
    if (PyUnicode_Check(object)) {
      if (convert_text(object, out)) return true;
      PyErr_Clear();
    }
    if (PyList_Check(object)) return convert_list(object, out);
    if (PyTuple_Check(object)) return convert_tuple(object, out);
    if (PyAnySet_Check(object)) return convert_set(object, out);
    if (PyDict_Check(object)) return convert_dict(object, out);
    return convert_library(object, out);
  }

  bool convert_list(PyObject* list, Node& out) {
    RecursionGuard guard(depth_, kWhere);
    if (!guard) return false;
    Py_ssize_t start = PyList_Size(list);
    Node* items = start > 0 ? arena_.allocate_nodes(static_cast<std::size_t>(start)) : nullptr;
    Py_ssize_t count = 0;
    // Python code run by an element may shrink or grow the list: visit only positions that
    // existed at the start and still exist now.
    for (; count < start && count < PyList_Size(list); ++count) {
      PyRef item = PyRef::borrow(PyList_GetItem(list, count));
      if (!item) return false;
      if (!convert(item.get(), items[count])) return false;
    }
    out = value::make_list(items, static_cast<std::size_t>(count));
    return true;
  }

  bool convert_tuple(PyObject* tuple, Node& out) {
    RecursionGuard guard(depth_, kWhere);
    if (!guard) return false;
    Py_ssize_t count = PyTuple_Size(tuple);
    Node* items = count > 0 ? arena_.allocate_nodes(static_cast<std::size_t>(count)) : nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
      // The tuple cannot change and holds its items while we hold the tuple.
      PyObject* item = PyTuple_GetItem(tuple, i);
      if (item == nullptr || !convert(item, items[i])) return false;
    }
    out = value::make_list(items, static_cast<std::size_t>(count));
    return true;
  }

  bool convert_set(PyObject* set, Node& out) {
    RecursionGuard guard(depth_, kWhere);
    if (!guard) return false;
    Py_ssize_t start = PySet_Size(set);
    if (start < 0) return false;
    Node* items = start > 0 ? arena_.allocate_nodes(static_cast<std::size_t>(start)) : nullptr;
    PyRef iterator = PyRef::steal(PyObject_GetIter(set));
    if (!iterator) return false;
    Py_ssize_t count = 0;
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
      if (count == start) throw value::InternalError("Set changed size during iteration");
      if (!convert(item.get(), items[count])) return false;
      ++count;
    }
    if (PyErr_Occurred()) {
      // The interpreter's set iterator reports a set changed under it with RuntimeError.
      if (PyErr_ExceptionMatches(PyExc_RuntimeError)) throw_pending_as_internal_error();
      return false;
    }
    sort_by_canonical_text(items, static_cast<std::size_t>(count));
    out = value::make_list(items, static_cast<std::size_t>(count));
    return true;
  }

  [[noreturn]] static void throw_pending_as_internal_error() {
    PyObject* type = nullptr;
    PyObject* error = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &error, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_error = PyRef::steal(error);
    PyRef owned_traceback = PyRef::steal(traceback);
    std::string message = "Set changed size during iteration";
    if (owned_error) {
      PyRef text = PyRef::steal(PyObject_Str(owned_error.get()));
      Py_ssize_t size = 0;
      const char* bytes = text ? utf8_of(text.get(), size) : nullptr;
      if (bytes != nullptr) message.assign(bytes, static_cast<std::size_t>(size));
      PyErr_Clear();
    }
    throw value::InternalError(message);
  }

  // Set members have no order of their own: sort them by canonical text bytes (stable), so
  // equal sets give equal lists.
  static void sort_by_canonical_text(Node* items, std::size_t count) {
    if (count < 2) return;
    struct Keyed {
      std::string text;
      Node node;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      keyed.push_back({value::canonical_string(items[i]), items[i]});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& left, const Keyed& right) {
      value::poll_interrupt();
      return left.text < right.text;
    });
    for (std::size_t i = 0; i < count; ++i) items[i] = keyed[i].node;
  }

  bool convert_dict(PyObject* dict, Node& out) {
    RecursionGuard guard(depth_, kWhere);
    if (!guard) return false;
    DictEntries entries(dict);
    const Py_ssize_t start = entries.size();
    Member* members =
        start > 0 ? arena_.allocate_members(static_cast<std::size_t>(start)) : nullptr;
    ShapeUse use;
    const std::size_t held_base = held_keys_.size();
    Py_ssize_t count = 0;
    PyRef owned_key;
    PyRef owned_item;
    // A key's __str__ or a value's conversion may run Python code that changes the dict.
    while (entries.next(owned_key, owned_item)) {
      PyObject* key = owned_key.get();
      PyObject* item = owned_item.get();
      Member& member = members[count];
      const auto index = static_cast<std::size_t>(count);
      if (index == 0) use = begin_shape(key, start);
      if (use.matches(index, key)) {
        member.key = use.shape->key_nodes[index];
      } else {
        use.shape = nullptr;
        use.remember = use.remember && Py_TYPE(key) == &PyUnicode_Type;
        if (!convert_key(key, member.key)) {
          held_keys_.resize(held_base);
          return false;
        }
      }
      if (use.remember) held_keys_.push_back(std::move(owned_key));
      if (!convert(item, member.value)) {
        held_keys_.resize(held_base);
        return false;
      }
      ++count;
    }
    const auto size = static_cast<std::size_t>(count);
    const KeyShape* shape = use.matches(size, nullptr) ? use.shape : nullptr;
    if (shape == nullptr && use.remember && count == start) {
      shape = &remember_shape(members, size, held_base);
    }
    held_keys_.resize(held_base);
    if (shape != nullptr && count == start) {
      if (shape == use.shape) ++shape_hits_;
      apply_order(members, shape->order);
      out = value::make_object(members, size);
      return true;
    }
    std::size_t kept = value::sort_members(members, size);
    out = value::make_object(members, kept);
    return true;
  }

  // Records, rows and API objects repeat one shape: the same key objects in the same order
  // (json.loads, for one, hands out one str object per distinct key). A dict whose keys are
  // exactly those of a remembered shape reuses their converted texts and their sorted order,
  // so it copies and sorts nothing. A shape is remembered only when a slot sees the same first
  // key and size twice in a row, so data without repeated shapes pays almost nothing. Only
  // dicts of exact str keys are remembered: their texts are distinct, so the order is a plain
  // permutation. A shape holds its keys, so their identity cannot pass to another object while
  // the conversion runs.
  struct KeyShape {
    std::vector<PyRef> keys;               // in dict order
    std::vector<Node> key_nodes;           // the converted keys, in dict order
    std::vector<std::uint32_t> order;      // dict positions in ascending key order
    std::uint64_t generation = 0;          // bumped whenever the slot takes a new shape
    const void* seen_first_key = nullptr;  // compared by address only, never dereferenced
    Py_ssize_t seen_size = 0;
  };

  // How the dict being read relates to a remembered shape.
  struct ShapeUse {
    KeyShape* shape = nullptr;  // the shape the keys so far match
    std::uint64_t generation = 0;
    bool remember = false;  // hold the keys and remember this dict's shape at the end

    // A nested dict may replace the shape while this one is read: then it no longer applies.
    bool matches(std::size_t index, PyObject* key) const {
      if (shape == nullptr || shape->generation != generation) return false;
      if (key == nullptr) return index == shape->keys.size();
      return shape->keys[index].get() == key;
    }
  };

  static constexpr std::size_t kShapeSlots = 8;
  static constexpr std::size_t kMaxShapeKeys = 64;
  static constexpr std::uint64_t kShapeTrial = 4096;  // dicts looked up before giving up

  ShapeUse begin_shape(PyObject* first_key, Py_ssize_t size) {
    ShapeUse use;
    if (size < 2 || static_cast<std::size_t>(size) > kMaxShapeKeys) return use;
    // Data whose dicts do not repeat their shapes stops paying for the lookups.
    if (++shape_lookups_ > kShapeTrial && shape_hits_ * 16 < shape_lookups_) return use;
    auto bits = reinterpret_cast<std::uintptr_t>(first_key) >> 4;
    KeyShape& slot = shapes_[(bits ^ static_cast<std::uintptr_t>(size)) % kShapeSlots];
    if (slot.keys.size() == static_cast<std::size_t>(size)) {
      if (slot.keys[0].get() == first_key) {
        use.shape = &slot;
        use.generation = slot.generation;
      }
    } else if (slot.seen_first_key == first_key && slot.seen_size == size) {
      use.remember = true;
    }
    slot.seen_first_key = first_key;
    slot.seen_size = size;
    return use;
  }

  // Stores the shape of a dict just read, whose keys are held from `held_base` on, in the slot
  // of its first key.
  KeyShape& remember_shape(const Member* members, std::size_t size, std::size_t held_base) {
    auto bits = reinterpret_cast<std::uintptr_t>(held_keys_[held_base].get()) >> 4;
    KeyShape& shape = shapes_[(bits ^ size) % kShapeSlots];
    ++shape.generation;
    shape.keys.clear();
    shape.key_nodes.clear();
    shape.order.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
      shape.keys.push_back(std::move(held_keys_[held_base + i]));
      shape.key_nodes.push_back(members[i].key);
      shape.order[i] = static_cast<std::uint32_t>(i);
    }
    std::sort(shape.order.begin(), shape.order.end(), [&](std::uint32_t left, std::uint32_t right) {
      return value::text_less(members[left].key, members[right].key);
    });
    return shape;
  }

  static void apply_order(Member* members, const std::vector<std::uint32_t>& order) {
    static_assert(std::is_trivially_copyable_v<Member>);
    // Raw storage: default-constructing kMaxShapeKeys members would cost more than the copy.
    alignas(Member) unsigned char sorted[sizeof(Member) * kMaxShapeKeys];
    for (std::size_t i = 0; i < order.size(); ++i) {
      std::memcpy(sorted + i * sizeof(Member), &members[order[i]], sizeof(Member));
    }
    std::memcpy(static_cast<void*>(members), sorted, order.size() * sizeof(Member));
  }

  bool convert_key(PyObject* key, Node& out) {
    if (PyUnicode_Check(key)) {
      if (convert_text(key, out)) return true;
      PyErr_Clear();
    }
    PyRef text = PyRef::steal(PyObject_Str(key));
    if (text && convert_text(text.get(), out)) return true;
    PyErr_Clear();
    raise_unsupported_dict_key();
    return false;
  }

  // An object returned by an export method goes through every rule again, one level deeper.
  bool convert_returned(PyObject* returned, Node& out) {
    RecursionGuard guard(depth_, kWhere);
    if (!guard) return false;
    return convert(returned, out);
  }

  // Frames, models and arrays, through the methods they offer to export plain data.
  bool convert_library(PyObject* object, Node& out) {
    std::string module;
    if (!module_name(object, module)) return false;
    if (starts_with(module, "pandas")) {
      if (PyRef to_dict = PyRef::steal(PyObject_GetAttrString(object, "to_dict"))) {
        PyRef result = call_with_keyword(to_dict.get(), "orient", "list");
        if (!result) {
          PyErr_Clear();  // a to_dict without `orient`: ask for its default shape
          result = PyRef::steal(PyObject_CallNoArgs(to_dict.get()));
          if (!result) return false;
        }
        return convert_returned(result.get(), out);
      }
      PyErr_Clear();
      if (PyRef to_numpy = PyRef::steal(PyObject_GetAttrString(object, "to_numpy"))) {
        PyRef result = PyRef::steal(PyObject_CallNoArgs(to_numpy.get()));
        if (!result) return false;
        return convert_returned(result.get(), out);
      }
      PyErr_Clear();
    }
    int present = has_attribute(object, "model_dump");
    if (present < 0) return false;
    if (present > 0) {
      PyRef result = call_method(object, "model_dump", "mode", "json");
      if (!result) {
        PyErr_Clear();  // a model_dump without `mode`
        result = call_method(object, "model_dump");
        if (!result) return false;
      }
      return convert_returned(result.get(), out);
    }
    present = has_attribute(object, "dict");
    if (present < 0) return false;
    if (present > 0) {
      PyRef result = call_method(object, "dict");
      if (!result) return false;
      return convert_returned(result.get(), out);
    }
    // The module name is read again: the calls above may have run Python code.
    if (!module_name(object, module)) return false;
    if (starts_with(module, "numpy")) {
      if (PyRef result = call_method(object, "tolist")) {
        return convert_returned(result.get(), out);
      }
      PyErr_Clear();
    }
    raise_unsupported_type();
    return false;
  }

  Arena& arena_;
  unsigned depth_ = 0;
  KeyShape shapes_[kShapeSlots];
  std::vector<PyRef> held_keys_;  // keys of the dicts being read, innermost last
  std::uint64_t shape_lookups_ = 0;
  std::uint64_t shape_hits_ = 0;
};

}  // namespace

std::optional<value::Value> value_from_py(PyObject* object) {
  auto arena = std::make_unique<Arena>();
  Converter converter(*arena);
  Node root;
  if (!converter.convert(object, root)) return std::nullopt;
  return value::Value(std::move(arena), root);
}

PyObject* value_to_py(const Node& node) {
  value::poll_interrupt();
  switch (node.kind) {
    case value::Kind::Null:
      return Py_NewRef(Py_None);
    case value::Kind::Bool:
      return PyBool_FromLong(node.boolean ? 1 : 0);
    case value::Kind::Number:
      if (node.rep == value::NumberRep::Float) return PyFloat_FromDouble(node.floating);
      return integer_to_py(node).release();
    case value::Kind::String:
      return PyUnicode_FromStringAndSize(node.chars, static_cast<Py_ssize_t>(node.size()));
    case value::Kind::List: {
      value::check_stack(kToPythonWhere);
      auto items = node.list();
      PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
      if (!list) return nullptr;
      for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = value_to_py(items[i]);
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals `item`
      }
      return list.release();
    }
    case value::Kind::Object: {
      value::check_stack(kToPythonWhere);
      PyRef dict = PyRef::steal(PyDict_New());
      if (!dict) return nullptr;
      for (const Member& member : node.object()) {
        PyRef key = PyRef::steal(PyUnicode_FromStringAndSize(
            member.key.chars, static_cast<Py_ssize_t>(member.key.size())));
        if (!key) return nullptr;
        PyRef item = PyRef::steal(value_to_py(member.value));
        if (!item) return nullptr;
        if (PyDict_SetItem(dict.get(), key.get(), item.get()) != 0) return nullptr;
      }
      return dict.release();
    }
  }
  throw value::InternalError("value node of unknown kind");
}

}  // namespace hexalume::python
