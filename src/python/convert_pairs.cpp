// Walks two Python inputs side by side before (or instead of) converting them in full.

#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "python/converter.hpp"
#include "python/equal_inputs.hpp"
#include "value/inline_stack.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::python {

namespace {

// Deeper inputs are left to conversion, which has the guards and the errors for them. Ordinary
// documents are far shallower; the bound also keeps this walk's native stack small.
constexpr unsigned kMaxWalkDepth = 256;
static_assert(kMaxWalkDepth < value::kMaxDepth);

// The first block of a paired walk's tree: a difference in a document of a few dozen members
// needs a kilobyte or two of nodes.
constexpr std::size_t kFirstArenaBytes = std::size_t{4} << 10;

// Dicts of up to this many members are built from the keys the pairing pass noted.
constexpr std::size_t kNotedKeys = 16;
static_assert((kNotedKeys & (kNotedKeys - 1)) == 0, "a power of two: the slot is one mask");

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

bool exact_text(PyObject* key) { return Py_TYPE(key) == &PyUnicode_Type; }

// Whether every key of `dict` is an exact str, so that looking one up compares texts only and
// runs no Python code.
bool exact_text_keys(PyObject* dict) {
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* item = nullptr;
  while (PyDict_Next(dict, &position, &key, &item)) {
    if (!exact_text(key)) return false;
  }
  return true;
}

enum class Outcome : std::uint8_t {
  Same,   // equal, and both convert by the plain rules: one Deferred node stands for both
  Built,  // different: both sides converted, equal parts inside them Deferred
  Stop,   // the walk is over: something it does not follow, or failed()
};

// Two keys: the same text, different texts, or one the walk does not follow (not an exact str,
// or a text without UTF-8), which stops it.
enum class KeyMatch : std::uint8_t { Same, Different, Stop };

// A member or item whose two sides differ, kept until its container is built.
struct BuiltPair {
  std::size_t index;  // in the container's own order
  Node old_node;
  Node new_node;
};

// Not building, the walk only tells whether the inputs are equal, and stops at the first
// difference. Building, it makes both trees and converts only what differs, by the plain rules
// (which run no Python code): anything else stops it, and the inputs are converted as usual.
class PairWalk {
 public:
  explicit PairWalk(bool building) : building_(building) {}
  PairWalk(const PairWalk&) = delete;
  PairWalk& operator=(const PairWalk&) = delete;
  ~PairWalk() {
    for (unsigned level = 0; level < entered_; ++level) Py_LeaveRecursiveCall();
  }

  // True when an exception is set and must reach the caller.
  bool failed() const { return failed_; }

  // The list [t1, t2] of what a walk that built both gave, with the memory of both.
  value::Value take_tree(const Node (&both)[2]) {
    Node* items = arena().allocate_nodes(2);
    items[0] = both[0];
    items[1] = both[1];
    return value::Value(std::move(*arena_), value::make_list(items, 2));
  }

  // Both objects are borrowed; neither is used after a poll.
  Outcome pair(PyObject* old_object, PyObject* new_object, Node& old_out, Node& new_out) {
    if (old_object == new_object) return converts(old_object) ? Outcome::Same : Outcome::Stop;
    const ExactType plain = exact_type_of(old_object);
    const ExactType new_plain = exact_type_of(new_object);
    if (is_sequence(plain) && is_sequence(new_plain)) {
      return pair_sequences(old_object, plain, new_object, new_plain, old_out, new_out);
    }
    if (plain == new_plain) {
      switch (plain) {
        case ExactType::Other:
        case ExactType::Set:  // not followed: conversion orders the members
          return Outcome::Stop;
        case ExactType::Dict:
          return pair_dicts(old_object, new_object, old_out, new_out);
        case ExactType::Int:
          if (same_integers(old_object, new_object)) return Outcome::Same;
          break;
        case ExactType::Float: {
          const double old_number = PyFloat_AsDouble(old_object);
          if (std::isfinite(old_number) && old_number == PyFloat_AsDouble(new_object)) {
            return Outcome::Same;
          }
          break;
        }
        case ExactType::Str: {
          Py_ssize_t old_size = 0;
          Py_ssize_t new_size = 0;
          const char* old_bytes = text_of(old_object, old_size);
          const char* new_bytes = old_bytes != nullptr ? text_of(new_object, new_size) : nullptr;
          if (new_bytes == nullptr) return Outcome::Stop;
          if (old_size == new_size &&
              std::memcmp(old_bytes, new_bytes, static_cast<std::size_t>(old_size)) == 0) {
            return Outcome::Same;
          }
          break;
        }
        default:  // None and bool: only the identical object is equal
          break;
      }
    }
    return differing(old_object, new_object, old_out, new_out);
  }

 private:
  // Most members and items are scalars equal on both sides: those are recognised here without
  // a call of pair(). False means "not shown here", and pair() decides.
  [[gnu::always_inline]] bool quick_same(PyObject* old_object, PyObject* new_object) {
    PyTypeObject* type = Py_TYPE(old_object);
    if (type != Py_TYPE(new_object)) return false;
    if (type == &PyUnicode_Type) {
      Py_ssize_t old_size = 0;
      Py_ssize_t new_size = 0;
      const char* old_bytes = text_of(old_object, old_size);
      if (old_bytes == nullptr) return false;
      if (old_object == new_object) return true;
      const char* new_bytes = text_of(new_object, new_size);
      return new_bytes != nullptr && old_size == new_size &&
             std::memcmp(old_bytes, new_bytes, static_cast<std::size_t>(old_size)) == 0;
    }
    if (type == &PyLong_Type) {
      return old_object == new_object || same_integers(old_object, new_object);
    }
    if (type == &PyFloat_Type) {
      const double old_number = PyFloat_AsDouble(old_object);
      return std::isfinite(old_number) && old_number == PyFloat_AsDouble(new_object);
    }
    return old_object == new_object && (old_object == Py_None || type == &PyBool_Type);
  }

  // Two objects that differ (or are not both containers the walk follows): each converted on
  // its own.
  Outcome differing(PyObject* old_object, PyObject* new_object, Node& old_out, Node& new_out) {
    if (!building_) return Outcome::Stop;
    if (!convert_one(old_object, old_out) || !convert_one(new_object, new_out)) {
      return Outcome::Stop;
    }
    return Outcome::Built;
  }

  // Converts one object by the plain rules; false stops the walk. The common scalars are made
  // here, so that a walk that meets only those never sets up a converter.
  bool convert_one(PyObject* object, Node& out) {
    switch (exact_type_of(object)) {
      case ExactType::None:
        out = value::make_null();
        return true;
      case ExactType::Bool:
        out = value::make_bool(object == Py_True);
        return true;
      case ExactType::Int: {
        int overflow = 0;
        const long long number = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow != 0) break;  // beyond 64 bits: the converter's rule
        out = value::make_signed(number);
        return true;
      }
      case ExactType::Float: {
        const double number = PyFloat_AsDouble(object);
        if (!std::isfinite(number)) return false;  // conversion raises ValueError for it
        out = value::make_float(number);
        return true;
      }
      case ExactType::Str: {
        Py_ssize_t size = 0;
        const char* bytes = text_of(object, size);
        if (bytes == nullptr) return false;
        out = value::make_string(arena(), {bytes, static_cast<std::size_t>(size)});
        return true;
      }
      default:
        break;
    }
    const Attempt attempt = converter().convert_plain(object, out);
    if (attempt == Attempt::Raised) failed_ = true;
    return attempt == Attempt::Converted;
  }

  Node deferred() { return value::make_deferred(next_id_++); }

  // Exact ints: equal by value. A comparison of two exact ints runs no Python code.
  static bool same_integers(PyObject* old_integer, PyObject* new_integer) {
    int old_overflow = 0;
    int new_overflow = 0;
    const long long old_number = PyLong_AsLongLongAndOverflow(old_integer, &old_overflow);
    const long long new_number = PyLong_AsLongLongAndOverflow(new_integer, &new_overflow);
    if (old_overflow == 0 && new_overflow == 0) return old_number == new_number;
    return old_overflow == new_overflow &&
           PyObject_RichCompareBool(old_integer, new_integer, Py_EQ) == 1;
  }

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
      case ExactType::Int:
        return true;
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
          if (!exact_text(key) || text_of(key, size) == nullptr) return false;
          if (!converts(item)) return false;
        }
        --depth_;
        return true;
      }
    }
    return false;
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

  // Whether two keys are exact str of the same text. Documents repeat their keys, and a parser
  // usually makes one object per distinct key: pairs found equal are remembered, so that most keys
  // are compared without reading their texts. Python code run by a signal handler may free a key
  // and reuse its memory, so it forgets them all.
  KeyMatch same_key(PyObject* old_key, PyObject* new_key) {
    if (known_runs_ != python_code_runs()) [[unlikely]] {
      // A small document meets each key once: the table is emptied and used only once the
      // walk has compared more keys than such a document has.
      if (keys_before_table_ > 0) {
        --keys_before_table_;
        return same_key_text(old_key, new_key);
      }
      std::memset(known_keys_.data(), 0, sizeof known_keys_);
      known_runs_ = python_code_runs();
    }
    KeyPair& known = known_keys_[slot_of(old_key)];
    if (known.old_key == old_key && known.new_key == new_key) [[likely]] {
      return KeyMatch::Same;
    }
    const KeyMatch match = same_key_text(old_key, new_key);
    if (match == KeyMatch::Same) known = {old_key, new_key};
    return match;
  }

  // Key objects lie in the allocator's size classes, whose strides make low address bits
  // collide: a multiplicative hash spreads them over the table.
  static std::size_t slot_of(PyObject* key) {
    constexpr unsigned kSlotBits = 6;
    static_assert(std::size_t{1} << kSlotBits == std::tuple_size_v<decltype(known_keys_)>);
    return static_cast<std::size_t>(
        (reinterpret_cast<std::uintptr_t>(key) * std::uint64_t{0x9E3779B97F4A7C15}) >>
        (64 - kSlotBits));
  }

  KeyMatch same_key_text(PyObject* old_key, PyObject* new_key) {
    if (!exact_text(old_key) || !exact_text(new_key)) return KeyMatch::Stop;
    Py_ssize_t old_size = 0;
    Py_ssize_t new_size = 0;
    const char* old_bytes = text_of(old_key, old_size);
    if (old_bytes == nullptr) return KeyMatch::Stop;
    if (old_key == new_key) return KeyMatch::Same;
    const char* new_bytes = text_of(new_key, new_size);
    if (new_bytes == nullptr) return KeyMatch::Stop;
    const bool same = old_size == new_size &&
                      std::memcmp(old_bytes, new_bytes, static_cast<std::size_t>(old_size)) == 0;
    return same ? KeyMatch::Same : KeyMatch::Different;
  }

  Outcome pair_sequences(PyObject* old_sequence, ExactType old_plain, PyObject* new_sequence,
                         ExactType new_plain, Node& old_out, Node& new_out) {
    const Py_ssize_t old_count = sequence_size(old_sequence, old_plain);
    const Py_ssize_t new_count = sequence_size(new_sequence, new_plain);
    if (!building_ && old_count != new_count) return Outcome::Stop;
    if (!enter()) return Outcome::Stop;
    const std::uint64_t runs = python_code_runs();
    Held old_held(old_sequence);
    Held new_held(new_sequence);
    const Py_ssize_t common = old_count < new_count ? old_count : new_count;
    const std::size_t first_built = built_.size();
    for (Py_ssize_t i = 0; i < common; ++i) {
      value::poll_interrupt();
      PyObject* old_item = sequence_item(old_sequence, old_plain, i);
      PyObject* new_item = sequence_item(new_sequence, new_plain, i);
      if (old_item == nullptr || new_item == nullptr) return Outcome::Stop;
      if (quick_same(old_item, new_item)) continue;
      Node old_node;
      Node new_node;
      const Outcome outcome = pair(old_item, new_item, old_node, new_node);
      if (outcome == Outcome::Stop) return Outcome::Stop;
      if (outcome == Outcome::Built) {
        built_.push({static_cast<std::size_t>(i), old_node, new_node});
      }
    }
    --depth_;
    // A handler may have changed a list: what was read stands only if the lengths are as read.
    if (runs != python_code_runs() && (sequence_size(old_sequence, old_plain) != old_count ||
                                       sequence_size(new_sequence, new_plain) != new_count)) {
      return Outcome::Stop;
    }
    if (old_count == new_count && built_.size() == first_built) return Outcome::Same;
    const std::uint64_t first_id = next_id_;
    next_id_ += static_cast<std::uint64_t>(common);
    if (!build_items(old_sequence, old_plain, old_count, common, first_built, first_id, true,
                     old_out) ||
        !build_items(new_sequence, new_plain, new_count, common, first_built, first_id, false,
                     new_out)) {
      return Outcome::Stop;
    }
    built_.shrink_to(first_built);
    return Outcome::Built;
  }

  // One side of a sequence pair: the built items where its two sides differ, a Deferred node
  // (the same on both sides) where they agree, and its own items past the common length.
  bool build_items(PyObject* sequence, ExactType plain, Py_ssize_t count, Py_ssize_t common,
                   std::size_t first_built, std::uint64_t first_id, bool old_side, Node& out) {
    Node* items = count > 0 ? arena().allocate_nodes(static_cast<std::size_t>(count)) : nullptr;
    std::size_t next = first_built;
    for (Py_ssize_t i = 0; i < count; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (next < built_.size() && built_[next].index == at) {
        items[at] = old_side ? built_[next].old_node : built_[next].new_node;
        ++next;
      } else if (i < common) {
        items[at] = value::make_deferred(first_id + at);
      } else if (PyObject* item = sequence_item(sequence, plain, i);
                 item == nullptr || !convert_one(item, items[at])) {
        return false;
      }
    }
    out = value::make_list(items, static_cast<std::size_t>(count));
    return true;
  }

  // Members are paired in insertion order while the keys of both dicts agree, which is the
  // common case and needs no hashing; otherwise by looking each key up in the other dict.
  Outcome pair_dicts(PyObject* old_dict, PyObject* new_dict, Node& old_out, Node& new_out) {
    const Py_ssize_t size = PyDict_Size(old_dict);
    if (!building_ && size != PyDict_Size(new_dict)) return Outcome::Stop;
    if (!enter()) return Outcome::Stop;
    const std::uint64_t runs = python_code_runs();
    Held old_held(old_dict);
    Held new_held(new_dict);
    const std::size_t first_built = built_.size();
    bool in_order = size == PyDict_Size(new_dict);
    // The keys of a small dict, noted in order: building it then needs no second pass over it.
    PyObject* keys[kNotedKeys];
    Py_ssize_t old_position = 0;
    Py_ssize_t new_position = 0;
    PyObject* old_key = nullptr;
    PyObject* old_item = nullptr;
    PyObject* new_key = nullptr;
    PyObject* new_item = nullptr;
    for (std::size_t index = 0;
         in_order &&
         (value::poll_interrupt(), PyDict_Next(old_dict, &old_position, &old_key, &old_item));
         ++index) {
      if (!PyDict_Next(new_dict, &new_position, &new_key, &new_item)) return Outcome::Stop;
      keys[index % kNotedKeys] = old_key;  // only a dict that fits keeps them all
      const KeyMatch match = same_key(old_key, new_key);
      if (match == KeyMatch::Stop) return Outcome::Stop;
      if (match == KeyMatch::Different) {
        in_order = false;
        break;
      }
      if (quick_same(old_item, new_item)) continue;
      Node old_node;
      Node new_node;
      const Outcome outcome = pair(old_item, new_item, old_node, new_node);
      if (outcome == Outcome::Stop) return Outcome::Stop;
      if (outcome == Outcome::Built) built_.push({index, old_node, new_node});
    }
    if (in_order) {
      --depth_;
      // A handler may have changed either dict.
      if (runs != python_code_runs() &&
          (PyDict_Size(old_dict) != size || PyDict_Size(new_dict) != size)) {
        return Outcome::Stop;
      }
      if (built_.size() == first_built) return Outcome::Same;
      // Keys noted before Python code ran may be gone from the dict.
      const bool noted = size <= Py_ssize_t{kNotedKeys} && runs == python_code_runs();
      if (!build_in_order(old_dict, new_dict, size, noted ? keys : nullptr, first_built, old_out,
                          new_out)) {
        return Outcome::Stop;
      }
      built_.shrink_to(first_built);
      return Outcome::Built;
    }
    built_.shrink_to(first_built);
    if (!exact_text_keys(old_dict) || !exact_text_keys(new_dict)) return Outcome::Stop;
    const Py_ssize_t new_size = PyDict_Size(new_dict);
    const Outcome outcome = !building_ ? same_by_lookup(old_dict, new_dict)
                                       : build_by_lookup(old_dict, new_dict, old_out, new_out);
    if (outcome == Outcome::Stop) return outcome;
    --depth_;
    // A handler may have changed either dict.
    if (PyDict_Size(old_dict) != size || PyDict_Size(new_dict) != new_size) return Outcome::Stop;
    return outcome;
  }

  // Without a converter: the dicts have the same size and every key is an exact str, so finding
  // each old key with an equal value accounts for every new one.
  Outcome same_by_lookup(PyObject* old_dict, PyObject* new_dict) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* old_item = nullptr;
    while (value::poll_interrupt(), PyDict_Next(old_dict, &position, &key, &old_item)) {
      Py_ssize_t size = 0;
      if (text_of(key, size) == nullptr) return Outcome::Stop;
      PyObject* new_item = PyDict_GetItemWithError(new_dict, key);
      if (new_item == nullptr) {
        failed_ = PyErr_Occurred() != nullptr;
        return Outcome::Stop;
      }
      Node unused;
      if (pair(old_item, new_item, unused, unused) != Outcome::Same) return Outcome::Stop;
    }
    return Outcome::Same;
  }

  // Both dicts' keys agree in order, and the members at `built_[first_built...]` differ.
  // `noted` holds the old dict's keys in order when the pairing pass kept them.
  bool build_in_order(PyObject* old_dict, PyObject* new_dict, Py_ssize_t size,
                      PyObject* const* noted, std::size_t first_built, Node& old_out,
                      Node& new_out) {
    const auto count = static_cast<std::size_t>(size);
    Member* old_members = arena().allocate_members(count);
    Member* new_members = arena().allocate_members(count);
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    std::size_t next = first_built;
    for (std::size_t index = 0; index < count; ++index) {
      if (noted != nullptr) {
        key = noted[index];
      } else if (!PyDict_Next(old_dict, &position, &key, &item)) {
        return false;
      }
      if (!key_of(key, old_members[index].key)) return false;
      new_members[index].key = old_members[index].key;
      if (next < built_.size() && built_[next].index == index) {
        old_members[index].value = built_[next].old_node;
        new_members[index].value = built_[next].new_node;
        ++next;
      } else {
        const Node shared = deferred();
        old_members[index].value = shared;
        new_members[index].value = shared;
      }
    }
    sort_by_key(old_members, new_members, count);
    old_out = value::make_object(old_members, count);
    new_out = value::make_object(new_members, count);
    return PyDict_Size(new_dict) == size;
  }

  // Sorts two member arrays whose keys agree one for one (and are distinct, as the keys of a
  // dict are) by key bytes, in one sort.
  static void sort_by_key(Member* old_members, Member* new_members, std::size_t count) {
    constexpr std::size_t kInsertionLimit = 16;
    if (count <= kInsertionLimit) {
      for (std::size_t i = 1; i < count; ++i) {
        const Member old_member = old_members[i];
        const Member new_member = new_members[i];
        std::size_t j = i;
        for (; j > 0 && value::text_less(old_member.key, old_members[j - 1].key); --j) {
          old_members[j] = old_members[j - 1];
          new_members[j] = new_members[j - 1];
        }
        old_members[j] = old_member;
        new_members[j] = new_member;
      }
      return;
    }
    value::sort_members(old_members, count);
    value::sort_members(new_members, count);
  }

  // Keys in a different order or not the same keys: each old member is paired with the new
  // member of the same key, if any; members of one side only are converted on their own.
  Outcome build_by_lookup(PyObject* old_dict, PyObject* new_dict, Node& old_out, Node& new_out) {
    const auto old_size = static_cast<std::size_t>(PyDict_Size(old_dict));
    const auto new_size = static_cast<std::size_t>(PyDict_Size(new_dict));
    Member* old_members = old_size > 0 ? arena().allocate_members(old_size) : nullptr;
    Member* new_members = new_size > 0 ? arena().allocate_members(new_size) : nullptr;
    std::size_t old_count = 0;
    std::size_t new_count = 0;
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    while (value::poll_interrupt(), PyDict_Next(old_dict, &position, &key, &item)) {
      if (old_count == old_size) return Outcome::Stop;
      Member& old_member = old_members[old_count++];
      if (!key_of(key, old_member.key)) return Outcome::Stop;
      PyObject* new_item = PyDict_GetItemWithError(new_dict, key);
      if (new_item == nullptr) {
        if (PyErr_Occurred() != nullptr) return stop_failed();
        if (!convert_one(item, old_member.value)) return Outcome::Stop;
        continue;
      }
      if (new_count == new_size) return Outcome::Stop;
      Member& new_member = new_members[new_count++];
      new_member.key = old_member.key;
      const Outcome outcome = pair(item, new_item, old_member.value, new_member.value);
      if (outcome == Outcome::Stop) return Outcome::Stop;
      if (outcome == Outcome::Same) {
        const Node shared = deferred();
        old_member.value = shared;
        new_member.value = shared;
      }
    }
    position = 0;
    while (value::poll_interrupt(), PyDict_Next(new_dict, &position, &key, &item)) {
      PyObject* old_item = PyDict_GetItemWithError(old_dict, key);
      if (old_item != nullptr) continue;
      if (PyErr_Occurred() != nullptr) return stop_failed();
      if (new_count == new_size) return Outcome::Stop;
      Member& new_member = new_members[new_count++];
      if (!key_of(key, new_member.key) || !convert_one(item, new_member.value)) {
        return Outcome::Stop;
      }
    }
    old_out = value::make_object(old_members, value::sort_members(old_members, old_count));
    new_out = value::make_object(new_members, value::sort_members(new_members, new_count));
    return Outcome::Built;
  }

  Outcome stop_failed() {
    failed_ = true;
    return Outcome::Stop;
  }

  // The key node of an exact str key; false stops the walk (a key without UTF-8 text).
  bool key_of(PyObject* key, Node& out) {
    Py_ssize_t size = 0;
    const char* bytes = text_of(key, size);
    if (bytes == nullptr) return false;
    out = value::make_string(arena(), {bytes, static_cast<std::size_t>(size)});
    return true;
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

  // Made when the first difference is met: equal inputs need neither.
  Arena& arena() {
    if (!arena_) arena_.emplace(kFirstArenaBytes);
    return *arena_;
  }
  Converter& converter() {
    if (!converter_) converter_.emplace(arena());
    return *converter_;
  }

  struct KeyPair {  // plain, so that the table is emptied in one memset
    PyObject* old_key;
    PyObject* new_key;
  };
  std::array<KeyPair, 64> known_keys_;  // valid while known_runs_ is python_code_runs()
  std::uint64_t known_runs_ = python_code_runs() - 1;
  unsigned keys_before_table_ = 64;

  const bool building_;
  std::optional<Arena> arena_;
  std::optional<Converter> converter_;
  // The pairs found different and not yet placed in their containers, innermost last. Most
  // walks keep a few at a time: those need no heap.
  value::InlineStack<BuiltPair, 8> built_;
  std::uint64_t next_id_ = 0;
  unsigned depth_ = 0;
  unsigned entered_ = 0;  // levels of the interpreter's recursion count held by this walk
  bool failed_ = false;
};

}  // namespace

InputEquality equal_inputs_from_py(PyObject* old_object, PyObject* new_object) {
  PairWalk walk(false);
  Node unused;
  if (walk.pair(old_object, new_object, unused, unused) == Outcome::Same) {
    return InputEquality::Equal;
  }
  return walk.failed() ? InputEquality::Failed : InputEquality::Undecided;
}

InputEquality paired_inputs_from_py(PyObject* old_object, PyObject* new_object,
                                    std::optional<value::Value>& inputs) {
  PairWalk walk(true);
  Node both[2];
  switch (walk.pair(old_object, new_object, both[0], both[1])) {
    case Outcome::Same:
      return InputEquality::Equal;
    case Outcome::Stop:
      return walk.failed() ? InputEquality::Failed : InputEquality::Undecided;
    case Outcome::Built:
      break;
  }
  inputs.emplace(walk.take_tree(both));
  return InputEquality::Paired;
}

}  // namespace hexalume::python
