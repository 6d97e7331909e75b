#include "python/converter.hpp"

#include <cstring>

namespace hexalume::python {

bool Converter::convert_against(PyObject* object, const Node& base, Node& out) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyUnicode_Type && base.kind == value::Kind::String) {
    return text_against(object, base, out);
  }
  if (type == &PyDict_Type && base.kind == value::Kind::Object) {
    return settled(convert_dict(object, out, &base));
  }
  if (type == &PyList_Type && base.kind == value::Kind::List) {
    return settled(convert_list(object, out, &base));
  }
  if (type == &PyTuple_Type && base.kind == value::Kind::List) {
    return settled(convert_tuple(object, out, &base));
  }
  if (type == &PyLong_Type && base.kind == value::Kind::Number) {
    if (!convert(object, out)) return false;
    if (out.rep == value::NumberRep::Big && value::equal(out, base)) {
      out = base;
      ++shared_;
    }
    return true;
  }
  return convert(object, out);
}

bool Converter::text_against(PyObject* text, const Node& base, Node& out) {
  std::optional<std::string_view> bytes = utf8_from_py(text);
  if (!bytes) {
    if (!discard_ordinary_error()) return false;
    return convert_after(Rule::Str, text, out);
  }
  if (value::text_equals(base, *bytes)) {
    out = base;
    ++shared_;
  } else {
    out = value::make_string(arena_, *bytes);
  }
  value::poll_interrupt();
  return true;
}

Converter::Items Converter::start_items(std::size_t capacity, const Node* base) {
  Items items{base, capacity};
  if (base == nullptr && capacity > 0) items.written = arena_.allocate_nodes(capacity);
  return items;
}

bool Converter::worth_sharing(bool identical, std::uint64_t shared_before, unsigned& misses) const {
  misses = identical || shared_ != shared_before ? 0 : misses + 1;
  return misses < kMaxMisses;
}

void Converter::write_items(Items& items, std::size_t index) {
  items.written = arena_.allocate_nodes(items.capacity);
  if (index > 0) std::memcpy(items.written, items.base->items, index * sizeof(Node));
}

Node Converter::finish_items(const Items& items, std::size_t count) {
  if (items.written != nullptr || items.base == nullptr) {
    return value::make_list(items.written, count);
  }
  ++shared_;
  // Base itself, or its first `count` items when the sequence is shorter.
  return count == items.base->size() ? *items.base : value::make_list(items.base->items, count);
}

void Converter::give_back(Arena::Mark mark) {
  if (may_give_back_) arena_.rewind(mark);
}

bool Converter::convert_text_key(PyObject* key, Node& out, BaseMembers& counterparts,
                                 const Member*& counterpart) {
  std::optional<std::string_view> bytes = utf8_from_py(key);
  if (!bytes) {
    if (!discard_ordinary_error()) return false;
    return key_from_str(key, out);
  }
  counterpart = counterparts.find(*bytes);
  out = counterpart != nullptr ? counterpart->key : value::make_string(arena_, *bytes);
  return true;
}

}  // namespace hexalume::python
