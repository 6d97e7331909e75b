// Reads the parts that a comparison of paired inputs left unconverted, when they are drawn.

#include <vector>

#include "python/convert.hpp"
#include "python/converter.hpp"
#include "python/equal_inputs.hpp"

namespace hexalume::python {

namespace {

// The part of `root` at `position`, held, or empty when the object no longer has it (no
// exception set) or when failing raised one.
PyRef part_at(PyObject* root, const engine::Position& position) {
  std::vector<const engine::Position*> steps;
  for (const engine::Position* at = &position; at->step != engine::StepKind::Root;
       at = at->parent) {
    steps.push_back(at);
  }
  PyRef part = PyRef::borrow(root);
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    const engine::Position& next = **step;
    PyObject* found = nullptr;
    if (next.step == engine::StepKind::Member && exact_type_of(part.get()) == ExactType::Dict) {
      const std::string_view key = next.key.string();
      PyRef text = PyRef::steal(
          PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
      if (!text) return {};
      found = PyDict_GetItemWithError(part.get(), text.get());
    } else if (next.step == engine::StepKind::Index) {
      const auto index = static_cast<Py_ssize_t>(next.index);
      const ExactType plain = exact_type_of(part.get());
      if (plain == ExactType::List && index < PyList_Size(part.get())) {
        found = PyList_GetItem(part.get(), index);
      } else if (plain == ExactType::Tuple && index < PyTuple_Size(part.get())) {
        found = PyTuple_GetItem(part.get(), index);
      }
    }
    if (found == nullptr) return {};
    part = PyRef::borrow(found);
  }
  return part;
}

// Item `index` of a list or tuple, held, or empty when it has no such item.
PyRef item_at(const PyRef& sequence, std::uint64_t index) {
  if (!sequence) return {};
  const auto at = static_cast<Py_ssize_t>(index);
  const ExactType plain = exact_type_of(sequence.get());
  if (plain == ExactType::List && at < PyList_Size(sequence.get())) {
    return PyRef::borrow(PyList_GetItem(sequence.get(), at));
  }
  if (plain == ExactType::Tuple && at < PyTuple_Size(sequence.get())) {
    return PyRef::borrow(PyTuple_GetItem(sequence.get(), at));
  }
  return {};
}

[[noreturn]] void fail_with_inputs_changed() {
  if (PyErr_Occurred() == nullptr) raise_inputs_changed();
  throw value::Cancelled();
}

}  // namespace

value::Node deferred_item_from_py(PyObject* old_root, PyObject* new_root,
                                  const engine::Position& parent, std::uint64_t index,
                                  bool from_new, value::Arena& arena) {
  const PyRef old_item = item_at(part_at(old_root, parent), index);
  if (!old_item && PyErr_Occurred() == nullptr) fail_with_inputs_changed();
  const PyRef new_item = old_item ? item_at(part_at(new_root, parent), index) : PyRef();
  if (!new_item) fail_with_inputs_changed();
  // The two sides held equal items here when they were compared; they must still.
  switch (equal_inputs_from_py(old_item.get(), new_item.get())) {
    case InputEquality::Equal:
      break;
    case InputEquality::Failed:
      throw value::Cancelled();
    default:
      fail_with_inputs_changed();
  }
  Node item;
  Converter converter(arena);
  if (!converter.convert(from_new ? new_item.get() : old_item.get(), item)) {
    throw value::Cancelled();
  }
  return item;
}

}  // namespace hexalume::python
