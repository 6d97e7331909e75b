#include "python/equal_inputs.hpp"

#include <cmath>
#include <cstring>

#include "python/exact_types.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::python {

namespace {

// Deeper inputs are left to conversion, which has the guards and the errors for them. Ordinary
// documents are far shallower; the bound also keeps this walk's native stack small.
constexpr unsigned kMaxWalkDepth = 256;
static_assert(kMaxWalkDepth < value::kMaxDepth);

// Conversion's text for the same check, so that the interpreter sees the same calls.
constexpr char kWhere[] = " while converting a Python object";

// Lists and tuples are both sequences to the comparison, as conversion makes lists of both.
bool is_sequence(ExactType plain) { return plain == ExactType::List || plain == ExactType::Tuple; }

Py_ssize_t sequence_size(PyObject* sequence, ExactType plain) {
  return plain == ExactType::List ? PyList_Size(sequence) : PyTuple_Size(sequence);
}

// Borrowed, used before the next poll. nullptr when a list shrank under a signal handler (no
// exception is left set): the walk then stops and conversion sees the list as it is now.
PyObject* sequence_item(PyObject* sequence, ExactType plain, Py_ssize_t index) {
  if (plain == ExactType::Tuple) return PyTuple_GetItem(sequence, index);
  PyObject* item = PyList_GetItem(sequence, index);
  if (item == nullptr) [[unlikely]]
    PyErr_Clear();
  return item;
}

// A reference held on a container while the walk is inside it. The walk itself runs no Python
// code, but its polls run signal handlers, and a handler may take a container out of its parent
// or empty it: what is held stays alive, and every item is read again after a poll.
class Held {
 public:
  explicit Held(PyObject* object) noexcept : object_(object) { Py_INCREF(object); }
  ~Held() { Py_DECREF(object_); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  PyObject* object_;
};

// Every method returns true for "equal" (or "converts", for one object) and false for "stop":
// the walk is then over, whatever the depth, so nothing is unwound on the way out but the
// interpreter's recursion count (in the destructor).
class EqualityWalk {
 public:
  EqualityWalk() = default;
  EqualityWalk(const EqualityWalk&) = delete;
  EqualityWalk& operator=(const EqualityWalk&) = delete;
  ~EqualityWalk() {
    for (unsigned level = 0; level < entered_; ++level) Py_LeaveRecursiveCall();
  }

  // True when an exception is set and must reach the caller.
  bool failed() const { return failed_; }

  // Both objects are borrowed; neither is used after a poll.
  bool same(PyObject* old_object, PyObject* new_object) {
    if (old_object == new_object) return converts(old_object);
    const ExactType plain = exact_type_of(old_object);
    const ExactType new_plain = exact_type_of(new_object);
    if (plain != new_plain) {
      return is_sequence(plain) && is_sequence(new_plain) &&
             same_sequences(old_object, plain, new_object, new_plain);
    }
    switch (plain) {
      case ExactType::Other:
      case ExactType::Set:   // not followed: conversion orders the members
      case ExactType::None:  // the only None is identical to itself
      case ExactType::Bool:  // True and False, two distinct objects
        return false;
      case ExactType::Int: {
        long long old_number = 0;
        long long new_number = 0;
        return small_int(old_object, old_number) && small_int(new_object, new_number) &&
               old_number == new_number;
      }
      case ExactType::Float: {
        const double old_number = PyFloat_AsDouble(old_object);
        return std::isfinite(old_number) && old_number == PyFloat_AsDouble(new_object);
      }
      case ExactType::Str:
        return same_text(old_object, new_object);
      case ExactType::List:
      case ExactType::Tuple:
        return same_sequences(old_object, plain, new_object, new_plain);
      case ExactType::Dict:
        return same_dicts(old_object, new_object);
    }
    return false;
  }

 private:
  // One object (both sides at once when they are identical): true when conversion takes it by
  // the plain rules alone.
  bool converts(PyObject* object) {
    const ExactType plain = exact_type_of(object);
    switch (plain) {
      case ExactType::Other:
      case ExactType::Set:
        return false;
      case ExactType::None:
      case ExactType::Bool:
        return true;
      case ExactType::Int: {
        long long number = 0;
        return small_int(object, number);
      }
      case ExactType::Float:
        return std::isfinite(PyFloat_AsDouble(object));
      case ExactType::Str: {
        Py_ssize_t size = 0;
        return text_of(object, size) != nullptr;
      }
      case ExactType::List:
      case ExactType::Tuple: {
        if (!enter()) return false;
        Held held(object);
        const Py_ssize_t count = sequence_size(object, plain);
        for (Py_ssize_t i = 0; i < count; ++i) {
          value::poll_interrupt();
          PyObject* item = sequence_item(object, plain, i);
          if (item == nullptr || !converts(item)) return false;
        }
        --depth_;
        return true;
      }
      case ExactType::Dict: {
        if (!enter()) return false;
        Held held(object);
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* item = nullptr;
        while (value::poll_interrupt(), PyDict_Next(object, &position, &key, &item)) {
          Py_ssize_t size = 0;
          if (Py_TYPE(key) != &PyUnicode_Type || text_of(key, size) == nullptr) return false;
          if (!converts(item)) return false;
        }
        --depth_;
        return true;
      }
    }
    return false;
  }

  // An exact int within the signed 64-bit range (wider ones take conversion's own rules).
  static bool small_int(PyObject* integer, long long& number) {
    int overflow = 0;
    number = PyLong_AsLongLongAndOverflow(integer, &overflow);
    return overflow == 0;
  }

  // The UTF-8 bytes of an exact str, or nullptr for a text conversion refuses (a lone
  // surrogate), which leaves no exception set, or when failed() tells otherwise. The text is
  // cached in the object, where conversion finds it again.
  const char* text_of(PyObject* text, Py_ssize_t& size) {
    const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
    if (bytes == nullptr) {
      // Rare and final: the walk ends here, and conversion meets the same error and discards it.
      if (PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) {
        PyErr_Clear();
      } else {
        failed_ = true;
      }
    }
    return bytes;
  }

  bool same_text(PyObject* old_text, PyObject* new_text) {
    Py_ssize_t old_size = 0;
    Py_ssize_t new_size = 0;
    const char* old_bytes = text_of(old_text, old_size);
    if (old_bytes == nullptr) return false;
    const char* new_bytes = text_of(new_text, new_size);
    if (new_bytes == nullptr) return false;
    return old_size == new_size &&
           std::memcmp(old_bytes, new_bytes, static_cast<std::size_t>(old_size)) == 0;
  }

  bool same_sequences(PyObject* old_sequence, ExactType old_plain, PyObject* new_sequence,
                      ExactType new_plain) {
    const Py_ssize_t count = sequence_size(old_sequence, old_plain);
    if (count != sequence_size(new_sequence, new_plain)) return false;
    if (!enter()) return false;
    Held old_held(old_sequence);
    Held new_held(new_sequence);
    for (Py_ssize_t i = 0; i < count; ++i) {
      value::poll_interrupt();
      PyObject* old_item = sequence_item(old_sequence, old_plain, i);
      PyObject* new_item = sequence_item(new_sequence, new_plain, i);
      if (old_item == nullptr || new_item == nullptr || !same(old_item, new_item)) return false;
    }
    --depth_;
    // A handler may have grown a list: equal only as they are now.
    return sequence_size(old_sequence, old_plain) == count &&
           sequence_size(new_sequence, new_plain) == count;
  }

  // Entries are compared pairwise in insertion order while their keys agree, which is the
  // common case and needs no hashing. At the first pair of different keys the rest of the new
  // dict's keys are checked to be exact str (so that a lookup compares only texts and runs no
  // Python code), and the remaining old entries are looked up by key.
  bool same_dicts(PyObject* old_dict, PyObject* new_dict) {
    const Py_ssize_t size = PyDict_Size(old_dict);
    if (size != PyDict_Size(new_dict)) return false;
    if (!enter()) return false;
    Held old_held(old_dict);
    Held new_held(new_dict);
    Py_ssize_t old_position = 0;
    Py_ssize_t new_position = 0;
    PyObject* old_key = nullptr;
    PyObject* old_item = nullptr;
    PyObject* new_key = nullptr;
    PyObject* new_item = nullptr;
    while (value::poll_interrupt(), PyDict_Next(old_dict, &old_position, &old_key, &old_item)) {
      if (!PyDict_Next(new_dict, &new_position, &new_key, &new_item)) return false;
      if (Py_TYPE(old_key) != &PyUnicode_Type || Py_TYPE(new_key) != &PyUnicode_Type) {
        return false;
      }
      if (old_key == new_key) {
        Py_ssize_t size = 0;
        if (text_of(old_key, size) == nullptr) return false;
      } else if (!same_text(old_key, new_key)) {
        if (failed_ || !exact_text_keys(new_dict, new_position)) return false;
        if (!found_in(new_dict, old_key, old_item)) return false;
        while (value::poll_interrupt(), PyDict_Next(old_dict, &old_position, &old_key, &old_item)) {
          if (!found_in(new_dict, old_key, old_item)) return false;
        }
        break;
      }
      if (!same(old_item, new_item)) return false;
    }
    --depth_;
    // A handler may have changed either dict.
    return PyDict_Size(old_dict) == size && PyDict_Size(new_dict) == size;
  }

  // Whether every key from `position` on is an exact str.
  static bool exact_text_keys(PyObject* dict, Py_ssize_t position) {
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    while (PyDict_Next(dict, &position, &key, &item)) {
      if (Py_TYPE(key) != &PyUnicode_Type) return false;
    }
    return true;
  }

  // The old entry has an equal entry in `new_dict`, whose keys are all exact str. The sizes are
  // equal and keys are distinct, so finding every old key accounts for every new one.
  bool found_in(PyObject* new_dict, PyObject* old_key, PyObject* old_item) {
    Py_ssize_t size = 0;
    if (Py_TYPE(old_key) != &PyUnicode_Type || text_of(old_key, size) == nullptr) return false;
    PyObject* new_item = PyDict_GetItemWithError(new_dict, old_key);
    if (new_item == nullptr) {
      failed_ = PyErr_Occurred() != nullptr;
      return false;
    }
    return same(old_item, new_item);
  }

  // One more level of nesting. The interpreter's recursion count is raised once per new
  // deepest level and held until the walk ends: no Python code runs meanwhile, so a level that
  // was allowed once stays allowed, and conversion, raising it once per level, would pass too.
  // On a thread whose native stack runs short the walk stops as well: conversion, which checks
  // the stack the same way, then raises RecursionError or finds room to finish.
  bool enter() {
    if (depth_ == kMaxWalkDepth || value::stack_exhausted()) return false;
    ++depth_;
    if (depth_ > entered_) {
      if (Py_EnterRecursiveCall(kWhere) != 0) {
        // Too deep for the interpreter here: conversion raises the same error in its turn.
        if (PyErr_ExceptionMatches(PyExc_RecursionError)) {
          PyErr_Clear();
        } else {
          failed_ = true;
        }
        return false;
      }
      ++entered_;
    }
    return true;
  }

  unsigned depth_ = 0;
  unsigned entered_ = 0;  // levels of the interpreter's recursion count held by this walk
  bool failed_ = false;
};

}  // namespace

InputEquality equal_inputs_from_py(PyObject* old_object, PyObject* new_object) {
  EqualityWalk walk;
  if (walk.same(old_object, new_object)) return InputEquality::Equal;
  return walk.failed() ? InputEquality::Failed : InputEquality::Undecided;
}

}  // namespace hexalume::python
