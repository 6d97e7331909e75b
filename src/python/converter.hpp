#pragma once

// The converter of Python objects into value trees, shared by the files that hold its parts:
// convert.cpp (containers and the entry points), convert_pairs.cpp (walking both inputs together
// and converting only where they differ), convert_rules.cpp (the choice of rule for
// subclasses and library objects, and the scalar rules), convert_shared.cpp (converting t2 against
// t1's nodes), convert_scattered.cpp (reading long lists in address order) and
// convert_library.cpp (frames, models and arrays through their export methods). Only those files
// include it.

#include "python/boundary.hpp"

#include <cstdint>

#include "python/errors.hpp"
#include "python/exact_types.hpp"
#include "python/integers.hpp"
#include "python/key_shapes.hpp"
#include "python/library_types.hpp"
#include "value/interrupt.hpp"
#include "value/value.hpp"

namespace hexalume::python {

using value::Arena;
using value::Member;
using value::Node;

inline constexpr char kWhere[] = " while converting a Python object";

// The conversion rules in the order in which they are tried; the first that applies decides.
// Exact built-in types select their rule by their type alone. The scalar rules (NumpyBool, Int,
// Number, Str) try a conversion, and where that fails with an ordinary error the rules after
// them are tried.
enum class Rule : std::uint8_t {
  Null,
  Bool,       // exactly True or False
  NumpyBool,  // numpy's boolean scalars, through their __bool__
  Refused,    // numpy complex, datetime64 and timedelta64 scalars: no number tells them exactly
  Int,        // exactly int
  Float,      // exactly float
  Number,     // anything else with __index__ or __float__: the integer rules, then the float rule
  Str,        // str and subclasses
  List,       // list and subclasses
  Tuple,      // tuple and subclasses
  Set,        // set, frozenset and subclasses
  Dict,       // dict and subclasses
  Library,    // frames, models and arrays, through their export methods
  Raised,     // choosing the rule raised an exception that must propagate
  Other,      // not an exact built-in type: classified on the cold path
};

// The outcome of trying a scalar rule or an export method.
enum class Attempt { Converted, NotApplied, Raised };

// After a failed try: NotApplied when the error was ordinary and is discarded, else Raised.
inline Attempt not_applied_or_raised() {
  return discard_ordinary_error() ? Attempt::NotApplied : Attempt::Raised;
}

class Converter {
 public:
  explicit Converter(Arena& arena) : arena_(arena) {}

  // Converts `object` into `out` by the first rule that applies. False means a Python exception
  // is set. `object` may be borrowed from a container: it is alive now, and every path that may
  // run Python code (objects of other types, containers, the signal poll) holds it first or is
  // done with it.
  bool convert(PyObject* object, Node& out) {
    const Rule rule = classify(object);
    const Attempt attempt = apply(rule, object, out);
    if (attempt == Attempt::Converted) [[likely]] {
      value::poll_interrupt();
      return true;
    }
    if (attempt == Attempt::NotApplied) return convert_after(rule, object, out);
    return false;
  }

  // Converts `object` exactly as convert() does, given `base`: the node at the same position of
  // a tree converted before. Where the result equals base it is base itself (same_node): equal
  // texts share base's bytes, and a list, tuple or dict whose items and members all come out
  // identical to base's is base, and what reading it wrote is given back to the arena. The
  // comparison then recognises those parts without looking inside. Only base's nodes are read,
  // never the Python objects they came from, so Python code run meanwhile cannot mislead it.
  bool convert_against(PyObject* object, const Node& base, Node& out);

  // Converts `object` as convert() does where that takes only the plain rules, which run no
  // Python code: Converted; NotApplied, with no exception set, where anything else would be
  // needed or an error raised (convert() then does both); Raised when an exception is set.
  Attempt convert_plain(PyObject* object, Node& out);

 private:
  // How many items in a row of a list or tuple may share nothing with base's items before the
  // rest are converted without looking at base (a reordered list has nothing to share).
  static constexpr unsigned kMaxMisses = 32;

  // The end of a conversion that did not go through convert().
  static bool settled(bool converted) {
    if (converted) value::poll_interrupt();
    return converted;
  }

  // An exact str against a String node.
  bool text_against(PyObject* text, const Node& base, Node& out);

  // The items of a list or tuple being converted, against base's items when there is a base.
  // Nothing is written while every item so far is identical to base's.
  struct Items {
    const Node* base;         // nullptr: no base, or no longer worth looking at
    std::size_t capacity;     // items allocated once they are written
    Node* written = nullptr;  // nullptr while the items are base's own
    unsigned misses = 0;      // items in a row that shared nothing with base's
  };

  Items start_items(std::size_t capacity, const Node* base);

  // Converts item `index` (the items before it are converted).
  bool convert_item(PyObject* object, std::size_t index, Items& items) {
    const Node* base =
        items.base != nullptr && index < items.base->size() ? &items.base->items[index] : nullptr;
    if (base == nullptr) {
      if (items.written == nullptr) write_items(items, index);
      return convert(object, items.written[index]);
    }
    const std::uint64_t shared_before = shared_;
    Node converted;
    if (!convert_against(object, *base, converted)) return false;
    if (items.written == nullptr) {
      if (value::same_node(converted, *base)) return true;
      write_items(items, index);
    }
    items.written[index] = converted;
    if (!worth_sharing(value::same_node(converted, *base), shared_before, items.misses)) {
      items.base = nullptr;
    }
    return true;
  }

  // After an item was converted against base's: false once kMaxMisses items in a row were
  // neither identical to base's nor took anything over from it.
  bool worth_sharing(bool identical, std::uint64_t shared_before, unsigned& misses) const;

  // From item `index` on the items are written: the ones before are base's.
  void write_items(Items& items, std::size_t index);

  Node finish_items(const Items& items, std::size_t count);

  // Exact built-in types select their rule by their type alone.
  static Rule classify(PyObject* object) {
    switch (exact_type_of(object)) {
      case ExactType::Str:
        return Rule::Str;
      case ExactType::Int:
        return Rule::Int;
      case ExactType::Float:
        return Rule::Float;
      case ExactType::Dict:
        return Rule::Dict;
      case ExactType::List:
        return Rule::List;
      case ExactType::None:
        return Rule::Null;
      case ExactType::Bool:
        return Rule::Bool;
      case ExactType::Tuple:
        return Rule::Tuple;
      case ExactType::Set:
        return Rule::Set;
      case ExactType::Other:
        break;
    }
    return Rule::Other;
  }

  // Applies one rule. Written once and inlined into both callers: in convert() each exact-type
  // test of classify() then branches straight to its case, with no jump through a table.
  [[gnu::always_inline]] Attempt apply(Rule rule, PyObject* object, Node& out) {
    switch (rule) {
      case Rule::Null:
        out = value::make_null();
        return Attempt::Converted;
      case Rule::Bool:
        out = value::make_bool(object == Py_True);
        return Attempt::Converted;
      case Rule::NumpyBool:
        return numpy_bool_to_node(object, out);
      case Rule::Refused:
        raise_unsupported_type();
        return Attempt::Raised;
      case Rule::Int:
        return integer_to_node(object, out);
      case Rule::Float:
        return done(finite_float_to_node(PyFloat_AsDouble(object), out));
      case Rule::Number:
        return number_to_node(object, out);
      case Rule::Str:
        return text_to_node(object, out);
      case Rule::List:
        return done(convert_list(object, out));
      case Rule::Tuple:
        return done(convert_tuple(object, out));
      case Rule::Set:
        return done(convert_set(object, out));
      case Rule::Dict:
        return done(convert_dict(object, out));
      case Rule::Library:
        return done(convert_library(object, out));
      case Rule::Raised:
        return Attempt::Raised;
      case Rule::Other:
        return done(convert_other(object, out));
    }
    throw value::InternalError("conversion rule out of range");
  }

  static Attempt done(bool converted) { return converted ? Attempt::Converted : Attempt::Raised; }

  // Subclasses and library objects, whose methods may run Python code.
  [[gnu::noinline]] bool convert_other(PyObject* object, Node& out);

  // A scalar rule did not apply: the rules after it, in order.
  [[gnu::noinline]] bool convert_after(Rule failed, PyObject* object, Node& out);

  // Subclasses and library objects: the first rule, from `first` on, that the object's type
  // selects.
  [[gnu::noinline]] Rule classify_other(PyObject* object, Rule first);

  [[gnu::noinline]] Attempt numpy_bool_to_node(PyObject* object, Node& out);

  // The integer rule on the object itself when it is an int, else on what its __index__
  // returns; the float rule when there is no __index__.
  [[gnu::noinline]] Attempt number_to_node(PyObject* object, Node& out);

  // The interpreter's float conversion of any object: float, __float__ or __index__.
  [[gnu::noinline]] Attempt float_to_node(PyObject* object, Node& out);

  // A Python int (or subclass) as a number node, exactly, whatever its size: 64-bit when it fits,
  // else a Big node.
  Attempt integer_to_node(PyObject* integer, Node& out) {
    return done(big_integers_.convert(integer, arena_, out));
  }

  bool finite_float_to_node(double number, Node& out) {
    if (!std::isfinite(number)) {
      if (plain_only_) return in_order_wanted(false);
      raise_float_not_finite();
      return false;
    }
    out = value::make_float(number);
    return true;
  }

  // A str that holds a lone surrogate has no UTF-8 text and does not apply.
  Attempt text_to_node(PyObject* text, Node& out) {
    std::optional<std::string_view> bytes = utf8_from_py(text);
    if (!bytes) return not_applied_or_raised();
    out = value::make_string(arena_, *bytes);
    return Attempt::Converted;
  }

  // Containers hold themselves while their items are converted; the items are borrowed.

  [[gnu::noinline]] bool convert_list(PyObject* list, Node& out, const Node* base = nullptr);

  // A long list whose items lie scattered in memory (shuffled or sorted after it was built) is
  // read in the order of the items' addresses: their memory, and usually that of everything
  // inside them, is then read front to back instead of at random. Items convert to the same
  // nodes in any order as long as no Python code runs and nothing fails; at the first item
  // that would run Python code or raise (see in_order_wanted), the list is read again in its own
  // order, so calls and errors happen exactly as they would have.
  enum class Scattered { Converted, Failed, InOrder };

  [[gnu::noinline]] Scattered convert_scattered(PyObject* list, Py_ssize_t size, const Node* base,
                                                Node& out);

  // What the abandoned read wrote stays unused, but a shape remembered meanwhile may point into
  // it, and may do so from a part that the read in order then finds identical to base: from here
  // on nothing is given back to the arena.
  Scattered abandon_scattered();

  // Gives back what was written since `mark` for a part found identical to base. Sound because
  // a part not identical to base makes every part around it not identical either, so nothing
  // written since the mark is in use; an abandoned out-of-order read is the one exception, and
  // stops it.
  void give_back(Arena::Mark mark);

  // A failed item: an exception is set, or the item asked to be read in order (in_order_wanted).
  Scattered failed_scattered();

  // While a list is read out of order, an item that would run Python code or raise gives up with
  // `failure` and no exception set, through every level up to convert_scattered, which then
  // reads the list again in its own order.
  template <typename Failure>
  Failure in_order_wanted(Failure failure) {
    in_order_wanted_ = true;
    return failure;
  }

  // A container entered one level deeper, or false with RecursionError set. While items are read
  // out of order, hitting the limit sends the list back to be read in order instead.
  bool entered(const RecursionGuard& guard);

  [[gnu::noinline]] bool convert_tuple(PyObject* tuple, Node& out, const Node* base = nullptr);

  [[gnu::noinline]] bool convert_set(PyObject* set, Node& out);

  // Throws the pending exception as value::InternalError with the same message. Returns (false)
  // only when reading the message raised an exception that must propagate instead.
  static bool internal_error_from_pending();

  // Set members have no order of their own: sort them by canonical text bytes (stable), so
  // equal sets give equal lists.
  static void sort_by_canonical_text(Node* items, std::size_t count);

  // Against a base object, a member whose key base has too is converted against base's member,
  // and a dict whose members all come out identical to base's is base itself.
  [[gnu::noinline]] bool convert_dict(PyObject* dict, Node& out, const Node* base = nullptr);

  // The members of a base object, looked up by key. Dicts often list their keys in the order of
  // a base sorted by key (or a sorted base in their own order): the member after the last one
  // found is tried first.
  class BaseMembers {
   public:
    explicit BaseMembers(const Node* base) : base_(base) {}

    const Member* find(std::string_view key) {
      if (base_ == nullptr) return nullptr;
      const std::size_t size = base_->size();
      if (next_ < size && value::text_equals(base_->members[next_].key, key)) {
        return &base_->members[next_++];
      }
      const Member* found = value::find_entry(*base_, key);
      if (found != nullptr) next_ = static_cast<std::size_t>(found - base_->members) + 1;
      return found;
    }

   private:
    const Node* base_;
    std::size_t next_ = 0;
  };

  // An exact str key not met in a remembered shape: base's own key node when base has the key.
  bool convert_text_key(PyObject* key, Node& out, BaseMembers& counterparts,
                        const Member*& counterpart);

  // A str key gives its text; any other key the text of its str(). A key without UTF-8 text
  // raises TypeError "Unsupported dict key type for Vesperon".
  bool convert_key(PyObject* key, Node& out);

  // A key without text of its own: the text of its str().
  bool key_from_str(PyObject* key, Node& out);

  // An object returned by an export method goes through every rule again, one level deeper.
  bool convert_returned(PyObject* returned, Node& out);

  // Converts what an export method returned (`result`). Where the method raised an ordinary
  // error, that error is discarded and `fallback()` is called instead; its error propagates.
  template <typename Fallback>
  bool convert_export(PyRef result, Fallback&& fallback, Node& out);

  // Frames, models and arrays, through the methods they offer to export plain data.
  [[gnu::noinline]] bool convert_library(PyObject* object, Node& out);

  Arena& arena_;
  unsigned depth_ = 0;
  bool plain_only_ = false;       // reading a list out of order: see convert_scattered
  bool in_order_wanted_ = false;  // an item read out of order gave up: see in_order_wanted
  bool may_give_back_ = true;     // see give_back
  std::uint64_t shared_ = 0;      // texts and containers taken from a base so far
  KeyShapes key_shapes_;
  NumpyTypes numpy_types_;
  BigIntegers big_integers_;
};

}  // namespace hexalume::python
