#include "python/convert.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "python/converter.hpp"
#include "value/address_order.hpp"
#include "value/canonical.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::python {

namespace {

constexpr char kToPythonWhere[] = " while converting to a Python object";

}  // namespace

bool Converter::convert_list(PyObject* list, Node& out, const Node* base) {
  PyRef held = PyRef::borrow(list);
  RecursionGuard guard(depth_, kWhere);
  if (!entered(guard)) return false;
  Py_ssize_t start = PyList_Size(list);
  if (start >= static_cast<Py_ssize_t>(value::kScatteredMinItems) && !plain_only_) {
    switch (convert_scattered(list, start, base, out)) {
      case Scattered::Converted:
        return true;
      case Scattered::Failed:
        return false;
      case Scattered::InOrder:
        break;
    }
  }
  Items items = start_items(static_cast<std::size_t>(start), base);
  Py_ssize_t count = 0;
  // Python code run by an element may shrink or grow the list: visit only positions that
  // existed at the start and still exist now. A signal handler may already have shortened it
  // during an abandoned out-of-order read: the size is read afresh.
  Py_ssize_t size = PyList_Size(list);
  std::uint64_t runs = python_code_runs();
  for (; count < start; ++count) {
    if (runs != python_code_runs()) [[unlikely]] {
      runs = python_code_runs();
      size = PyList_Size(list);
    }
    if (count >= size) break;
    PyObject* item = PyList_GetItem(list, count);
    if (item == nullptr || !convert_item(item, static_cast<std::size_t>(count), items)) {
      return false;
    }
  }
  out = finish_items(items, static_cast<std::size_t>(count));
  return true;
}

Attempt Converter::convert_plain(PyObject* object, Node& out) {
  plain_only_ = true;
  bool converted = false;
  try {
    converted = convert(object, out);
  } catch (const value::StackExhausted&) {
    in_order_wanted_ = true;  // convert() raises RecursionError there in its turn
  } catch (...) {
    plain_only_ = false;
    throw;
  }
  plain_only_ = false;
  if (converted) return Attempt::Converted;
  if (!in_order_wanted_) return Attempt::Raised;
  in_order_wanted_ = false;
  return Attempt::NotApplied;
}

bool Converter::entered(const RecursionGuard& guard) {
  if (guard) return true;
  if (plain_only_ && PyErr_ExceptionMatches(PyExc_RecursionError)) {
    PyErr_Clear();
    return in_order_wanted(false);
  }
  return false;
}

bool Converter::convert_tuple(PyObject* tuple, Node& out, const Node* base) {
  PyRef held = PyRef::borrow(tuple);
  RecursionGuard guard(depth_, kWhere);
  if (!entered(guard)) return false;
  Py_ssize_t count = PyTuple_Size(tuple);
  Items items = start_items(static_cast<std::size_t>(count), base);
  for (Py_ssize_t i = 0; i < count; ++i) {
    // The tuple cannot change and holds its items while it is held.
    PyObject* item = PyTuple_GetItem(tuple, i);
    if (item == nullptr || !convert_item(item, static_cast<std::size_t>(i), items)) {
      return false;
    }
  }
  out = finish_items(items, static_cast<std::size_t>(count));
  return true;
}

bool Converter::convert_set(PyObject* set, Node& out) {
  if (plain_only_) return in_order_wanted(false);
  PyRef held = PyRef::borrow(set);
  RecursionGuard guard(depth_, kWhere);
  if (!entered(guard)) return false;
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
    if (PyErr_ExceptionMatches(PyExc_RuntimeError)) return internal_error_from_pending();
    return false;
  }
  sort_by_canonical_text(items, static_cast<std::size_t>(count));
  out = value::make_list(items, static_cast<std::size_t>(count));
  return true;
}

bool Converter::internal_error_from_pending() {
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
    std::optional<std::string_view> bytes = text ? utf8_from_py(text.get()) : std::nullopt;
    if (bytes) message.assign(*bytes);
    if (!bytes && !discard_ordinary_error()) return false;
  }
  throw value::InternalError(message);
}

void Converter::sort_by_canonical_text(Node* items, std::size_t count) {
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

bool Converter::convert_dict(PyObject* dict, Node& out, const Node* base) {
  PyRef held = PyRef::borrow(dict);
  RecursionGuard guard(depth_, kWhere);
  if (!entered(guard)) return false;
  const Arena::Mark mark = arena_.mark();
  DictReader entries(dict);
  const Py_ssize_t start = entries.size();
  Member* members = start > 0 ? arena_.allocate_members(static_cast<std::size_t>(start)) : nullptr;
  KeyShapes::Reading shape(key_shapes_, start);
  BaseMembers counterparts(base);
  bool identical = base != nullptr;  // every member so far is base's, identical
  std::size_t count = 0;
  PyObject* key = nullptr;
  PyObject* item = nullptr;
  // A key's __str__ or a value's conversion may run Python code that changes the dict; the
  // entries stepped to are borrowed until then.
  while (entries.next(key, item)) {
    Member& member = members[count];
    const Member* counterpart = nullptr;
    if (const Node* known = shape.known_key(count, key)) {
      member.key = *known;
      counterpart = counterparts.find(member.key.string());
    } else if (Py_TYPE(key) == &PyUnicode_Type) {
      if (!convert_text_key(key, member.key, counterparts, counterpart)) return false;
    } else {
      // The key's own __str__ may run: key and item are held through it and the item's
      // conversion. Such a dict is not remembered, so the key is not kept.
      PyRef held_key = PyRef::borrow(key);
      PyRef held_item = PyRef::borrow(item);
      if (!convert_key(key, member.key) || !convert(item, member.value)) return false;
      identical = false;
      ++count;
      continue;
    }
    shape.keep(key);
    if (counterpart == nullptr) {
      identical = false;
      if (!convert(item, member.value)) return false;
    } else {
      if (!convert_against(item, counterpart->value, member.value)) return false;
      identical = identical && value::same_node(member.value, counterpart->value);
    }
    ++count;
  }
  if (identical && count == base->size()) {
    // Every key of base, each once (exact str keys are distinct), with identical values.
    give_back(mark);
    out = *base;
    ++shared_;
    return true;
  }
  if (shape.sort(members, count)) {
    out = value::make_object(members, count);
    return true;
  }
  // Keys that convert to the same text (1 and "1") merge: the one visited later wins.
  out = value::make_object(members, value::sort_members(members, count));
  return true;
}

bool Converter::convert_key(PyObject* key, Node& out) {
  if (PyUnicode_Check(key)) {
    Attempt attempt = text_to_node(key, out);
    if (attempt != Attempt::NotApplied) return attempt == Attempt::Converted;
  }
  return key_from_str(key, out);
}

bool Converter::key_from_str(PyObject* key, Node& out) {
  if (plain_only_) return in_order_wanted(false);
  note_python_code();
  PyRef text = PyRef::steal(PyObject_Str(key));
  if (text) {
    Attempt attempt = text_to_node(text.get(), out);
    if (attempt != Attempt::NotApplied) return attempt == Attempt::Converted;
  } else if (!discard_ordinary_error()) {
    return false;
  }
  raise_unsupported_dict_key();
  return false;
}

std::optional<value::Value> inputs_from_py(PyObject* old_object, PyObject* new_object) {
  Arena arena;
  Converter converter(arena);
  Node* both = arena.allocate_nodes(2);
  if (!converter.convert(old_object, both[0])) return std::nullopt;
  if (!converter.convert_against(new_object, both[0], both[1])) return std::nullopt;
  return value::Value(std::move(arena), value::make_list(both, 2));
}

PyRef value_to_py(const Node& node) {
  value::poll_interrupt();
  switch (node.kind) {
    case value::Kind::Null:
      return PyRef::borrow(Py_None);
    case value::Kind::Bool:
      return PyRef::steal(PyBool_FromLong(node.boolean ? 1 : 0));
    case value::Kind::Number:
      if (node.rep == value::NumberRep::Float) {
        return PyRef::steal(PyFloat_FromDouble(node.floating));
      }
      return integer_to_py(node);
    case value::Kind::String:
      return PyRef::steal(
          PyUnicode_FromStringAndSize(node.chars, static_cast<Py_ssize_t>(node.size())));
    case value::Kind::List: {
      value::check_stack(kToPythonWhere);
      auto items = node.list();
      PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
      if (!list) return {};
      for (std::size_t i = 0; i < items.size(); ++i) {
        PyRef item = value_to_py(items[i]);
        if (!item) return {};
        // PyList_SetItem takes over the item's reference.
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
      }
      return list;
    }
    case value::Kind::Object: {
      value::check_stack(kToPythonWhere);
      PyRef dict = PyRef::steal(PyDict_New());
      if (!dict) return {};
      for (const Member& member : node.object()) {
        PyRef key = PyRef::steal(PyUnicode_FromStringAndSize(
            member.key.chars, static_cast<Py_ssize_t>(member.key.size())));
        if (!key) return {};
        PyRef item = value_to_py(member.value);
        if (!item) return {};
        if (PyDict_SetItem(dict.get(), key.get(), item.get()) != 0) return {};
      }
      return dict;
    }
    case value::Kind::Deferred:
      break;
  }
  throw value::InternalError("value node of unknown kind");
}

}  // namespace hexalume::python
