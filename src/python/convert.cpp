#include "python/convert.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "python/errors.hpp"
#include "python/exact_types.hpp"
#include "python/integers.hpp"
#include "python/key_shapes.hpp"
#include "python/library_types.hpp"
#include "value/address_order.hpp"
#include "value/canonical.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::python {

namespace {

using value::Arena;
using value::Member;
using value::Node;

constexpr char kWhere[] = " while converting a Python object";
constexpr char kToPythonWhere[] = " while converting to a Python object";

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

// Where the rules go on after a scalar rule did not apply.
Rule rule_after(Rule failed) {
  switch (failed) {
    case Rule::NumpyBool:
      return Rule::Refused;
    case Rule::Int:
    case Rule::Number:
      return Rule::Str;
    case Rule::Str:
      return Rule::List;
    default:
      throw value::InternalError("a rule that cannot fall through did not apply");
  }
}

// The outcome of trying a scalar rule or an export method.
enum class Attempt { Converted, NotApplied, Raised };

// After a failed try: NotApplied when the error was ordinary and is discarded, else Raised.
Attempt not_applied_or_raised() {
  return discard_ordinary_error() ? Attempt::NotApplied : Attempt::Raised;
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

// 1 for an object of one or more dimensions (its `ndim`), 0 otherwise or when an ordinary error
// prevents reading it, -1 when another exception is pending. Arrays and frames may answer
// __index__ or __float__ for their single element, but they are converted through their export
// methods like their longer siblings.
int is_multi_dimensional(PyObject* object) {
  PyRef dimensions = PyRef::steal(PyObject_GetAttrString(object, "ndim"));
  if (!dimensions) return discard_ordinary_error() ? 0 : -1;
  if (!PyLong_Check(dimensions.get())) return 0;
  int overflow = 0;
  long long count = PyLong_AsLongLongAndOverflow(dimensions.get(), &overflow);
  return overflow > 0 || (overflow == 0 && count >= 1) ? 1 : 0;
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
  bool convert_against(PyObject* object, const Node& base, Node& out) {
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
  bool text_against(PyObject* text, const Node& base, Node& out) {
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

  // The items of a list or tuple being converted, against base's items when there is a base.
  // Nothing is written while every item so far is identical to base's.
  struct Items {
    const Node* base;         // nullptr: no base, or no longer worth looking at
    std::size_t capacity;     // items allocated once they are written
    Node* written = nullptr;  // nullptr while the items are base's own
    unsigned misses = 0;      // items in a row that shared nothing with base's
  };

  Items start_items(std::size_t capacity, const Node* base) {
    Items items{base, capacity};
    if (base == nullptr && capacity > 0) items.written = arena_.allocate_nodes(capacity);
    return items;
  }

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
  bool worth_sharing(bool identical, std::uint64_t shared_before, unsigned& misses) const {
    misses = identical || shared_ != shared_before ? 0 : misses + 1;
    return misses < kMaxMisses;
  }

  // From item `index` on the items are written: the ones before are base's.
  void write_items(Items& items, std::size_t index) {
    items.written = arena_.allocate_nodes(items.capacity);
    if (index > 0) std::memcpy(items.written, items.base->items, index * sizeof(Node));
  }

  Node finish_items(const Items& items, std::size_t count) {
    if (items.written != nullptr || items.base == nullptr) {
      return value::make_list(items.written, count);
    }
    ++shared_;
    // Base itself, or its first `count` items when the sequence is shorter.
    return count == items.base->size() ? *items.base : value::make_list(items.base->items, count);
  }

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
  [[gnu::noinline]] bool convert_other(PyObject* object, Node& out) {
    PyRef held = PyRef::borrow(object);
    const Rule rule = classify_other(object, Rule::NumpyBool);
    const Attempt attempt = apply(rule, object, out);
    if (attempt == Attempt::NotApplied) return convert_after(rule, object, out);
    return attempt == Attempt::Converted;
  }

  // A scalar rule did not apply: the rules after it, in order.
  [[gnu::noinline]] bool convert_after(Rule failed, PyObject* object, Node& out) {
    PyRef held = PyRef::borrow(object);
    for (Rule rule = failed;;) {
      rule = classify_other(object, rule_after(rule));
      const Attempt attempt = apply(rule, object, out);
      if (attempt != Attempt::NotApplied) return attempt == Attempt::Converted;
    }
  }

  // Subclasses and library objects: the first rule, from `first` on, that the object's type
  // selects.
  [[gnu::noinline]] Rule classify_other(PyObject* object, Rule first) {
    if (plain_only_) return in_order_wanted(Rule::Raised);
    // From here on the object's own methods may run: dicts being read look at their size again.
    note_python_code();
    if (first <= Rule::Number) {
      PyTypeObject* type = Py_TYPE(object);
      // A module name that cannot be read selects no library here; the library rule reads it
      // again and raises.
      std::optional<std::string> module = module_name_of(type);
      if (!module && !discard_ordinary_error()) return Rule::Raised;
      const DataLibrary library = module ? data_library_of(*module) : DataLibrary::None;
      if (library == DataLibrary::Numpy) {
        if (first <= Rule::NumpyBool) {
          const int numpy_bool = is_numpy_bool_type(type);
          if (numpy_bool < 0) return Rule::Raised;
          if (numpy_bool > 0) return Rule::NumpyBool;
        }
        switch (numpy_types_.kind_of(type)) {
          case NumpyTypes::Kind::Array:
            return Rule::Library;  // every array, zero dimensions too, exports through tolist()
          case NumpyTypes::Kind::Refused:
            return Rule::Refused;
          case NumpyTypes::Kind::Raised:
            return Rule::Raised;
          case NumpyTypes::Kind::Other:
            break;
        }
      }
      // Without an index or float slot no number rule can apply: skip them rather than raise
      // and discard two exceptions for every dict subclass or model object.
      if (PyType_GetSlot(type, Py_nb_index) != nullptr ||
          PyType_GetSlot(type, Py_nb_float) != nullptr) {
        const int multi_dimensional =
            library == DataLibrary::None ? 0 : is_multi_dimensional(object);
        if (multi_dimensional < 0) return Rule::Raised;
        if (multi_dimensional == 0) return Rule::Number;
      }
    }
    if (first <= Rule::Str && PyUnicode_Check(object)) return Rule::Str;
    if (PyList_Check(object)) return Rule::List;
    if (PyTuple_Check(object)) return Rule::Tuple;
    if (PyAnySet_Check(object)) return Rule::Set;
    if (PyDict_Check(object)) return Rule::Dict;
    return Rule::Library;
  }

  [[gnu::noinline]] Attempt numpy_bool_to_node(PyObject* object, Node& out) {
    std::optional<bool> flag = bool_from_py(object);
    if (!flag) return not_applied_or_raised();
    out = value::make_bool(*flag);
    return Attempt::Converted;
  }

  // The integer rule on the object itself when it is an int, else on what its __index__
  // returns; the float rule when there is no __index__.
  [[gnu::noinline]] Attempt number_to_node(PyObject* object, Node& out) {
    PyRef index;
    PyObject* integer = object;
    if (!PyLong_Check(object)) {
      index = PyRef::steal(PyNumber_Index(object));
      integer = index.get();
      if (integer == nullptr && !discard_ordinary_error()) return Attempt::Raised;
    }
    if (integer != nullptr) return integer_to_node(integer, out);
    return float_to_node(object, out);
  }

  // The interpreter's float conversion of any object: float, __float__ or __index__.
  [[gnu::noinline]] Attempt float_to_node(PyObject* object, Node& out) {
    double number = PyFloat_AsDouble(object);
    if (number == -1.0 && PyErr_Occurred()) return not_applied_or_raised();
    return finite_float_to_node(number, out) ? Attempt::Converted : Attempt::Raised;
  }

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

  [[gnu::noinline]] bool convert_list(PyObject* list, Node& out, const Node* base = nullptr) {
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

  // A long list whose items lie scattered in memory (shuffled or sorted after it was built) is
  // read in the order of the items' addresses: their memory, and usually that of everything
  // inside them, is then read front to back instead of at random. Items convert to the same
  // nodes in any order as long as no Python code runs and nothing fails; at the first item
  // that would run Python code or raise (see in_order_wanted), the list is read again in its own
  // order, so calls and errors happen exactly as they would have.
  enum class Scattered { Converted, Failed, InOrder };

  [[gnu::noinline]] Scattered convert_scattered(PyObject* list, Py_ssize_t size, const Node* base,
                                                Node& out) {
    // Taken before sorting: the sort polls for signals, and a handler may shorten the list.
    std::uint64_t runs = python_code_runs();
    const auto count = static_cast<std::size_t>(size);
    auto address = [&](std::size_t i) {
      return reinterpret_cast<std::uintptr_t>(PyList_GetItem(list, static_cast<Py_ssize_t>(i)));
    };
    if (!value::far_from_address_order(count, address)) return Scattered::InOrder;
    std::vector<value::Placed> placed(count);
    for (std::size_t i = 0; i < count; ++i) placed[i] = {address(i), i};
    value::sort_by_address(placed);
    const Arena::Mark mark = arena_.mark();
    Node* items = arena_.allocate_nodes(count);
    bool identical = base != nullptr && base->size() == count;
    unsigned misses = 0;
    plain_only_ = true;
    try {
      for (const value::Placed& next : placed) {
        // Only a signal handler can run Python code here. One that changed the list's length
        // sends it back to be read in order, which follows such changes.
        if (runs != python_code_runs()) [[unlikely]] {
          runs = python_code_runs();
          if (PyList_Size(list) != size) return abandon_scattered();
        }
        PyObject* item = PyList_GetItem(list, static_cast<Py_ssize_t>(next.index));
        const Node* counterpart =
            base != nullptr && next.index < base->size() ? &base->items[next.index] : nullptr;
        if (counterpart == nullptr) {
          identical = false;
          if (!convert(item, items[next.index])) return failed_scattered();
          continue;
        }
        const std::uint64_t shared_before = shared_;
        if (!convert_against(item, *counterpart, items[next.index])) return failed_scattered();
        const bool same = value::same_node(items[next.index], *counterpart);
        identical = identical && same;
        if (!worth_sharing(same, shared_before, misses)) base = nullptr;
      }
    } catch (const value::StackExhausted&) {
      // Read in order, the same nesting fails where it should, after any earlier item's error.
      return abandon_scattered();
    } catch (...) {
      plain_only_ = false;
      throw;
    }
    plain_only_ = false;
    if (identical) {
      give_back(mark);
      out = *base;
      ++shared_;
    } else {
      out = value::make_list(items, count);
    }
    return Scattered::Converted;
  }

  // What the abandoned read wrote stays unused, but a shape remembered meanwhile may point into
  // it, and may do so from a part that the read in order then finds identical to base: from here
  // on nothing is given back to the arena.
  Scattered abandon_scattered() {
    plain_only_ = false;
    may_give_back_ = false;
    return Scattered::InOrder;
  }

  // Gives back what was written since `mark` for a part found identical to base. Sound because
  // a part not identical to base makes every part around it not identical either, so nothing
  // written since the mark is in use; an abandoned out-of-order read is the one exception, and
  // stops it.
  void give_back(Arena::Mark mark) {
    if (may_give_back_) arena_.rewind(mark);
  }

  // A failed item: an exception is set, or the item asked to be read in order (in_order_wanted).
  Scattered failed_scattered() {
    if (in_order_wanted_) {
      in_order_wanted_ = false;
      return abandon_scattered();
    }
    plain_only_ = false;
    return Scattered::Failed;
  }

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
  bool entered(const RecursionGuard& guard) {
    if (guard) return true;
    if (plain_only_ && PyErr_ExceptionMatches(PyExc_RecursionError)) {
      PyErr_Clear();
      return in_order_wanted(false);
    }
    return false;
  }

  [[gnu::noinline]] bool convert_tuple(PyObject* tuple, Node& out, const Node* base = nullptr) {
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

  [[gnu::noinline]] bool convert_set(PyObject* set, Node& out) {
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

  // Throws the pending exception as value::InternalError with the same message. Returns (false)
  // only when reading the message raised an exception that must propagate instead.
  static bool internal_error_from_pending() {
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

  // Against a base object, a member whose key base has too is converted against base's member,
  // and a dict whose members all come out identical to base's is base itself.
  [[gnu::noinline]] bool convert_dict(PyObject* dict, Node& out, const Node* base = nullptr) {
    PyRef held = PyRef::borrow(dict);
    RecursionGuard guard(depth_, kWhere);
    if (!entered(guard)) return false;
    const Arena::Mark mark = arena_.mark();
    DictReader entries(dict);
    const Py_ssize_t start = entries.size();
    Member* members =
        start > 0 ? arena_.allocate_members(static_cast<std::size_t>(start)) : nullptr;
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

  // A str key gives its text; any other key the text of its str(). A key without UTF-8 text
  // raises TypeError "Unsupported dict key type for Vesperon".
  bool convert_key(PyObject* key, Node& out) {
    if (PyUnicode_Check(key)) {
      Attempt attempt = text_to_node(key, out);
      if (attempt != Attempt::NotApplied) return attempt == Attempt::Converted;
    }
    return key_from_str(key, out);
  }

  // A key without text of its own: the text of its str().
  bool key_from_str(PyObject* key, Node& out) {
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

  // An object returned by an export method goes through every rule again, one level deeper.
  bool convert_returned(PyObject* returned, Node& out) {
    RecursionGuard guard(depth_, kWhere);
    if (!entered(guard)) return false;
    return convert(returned, out);
  }

  // Converts what an export method returned (`result`). Where the method raised an ordinary
  // error, that error is discarded and `fallback()` is called instead; its error propagates.
  template <typename Fallback>
  bool convert_export(PyRef result, Fallback&& fallback, Node& out) {
    if (!result) {
      if (!discard_ordinary_error()) return false;
      result = fallback();
      if (!result) return false;
    }
    return convert_returned(result.get(), out);
  }

  // Frames, models and arrays, through the methods they offer to export plain data.
  [[gnu::noinline]] bool convert_library(PyObject* object, Node& out) {
    std::optional<std::string> module = module_name_of(Py_TYPE(object));
    if (!module) return false;
    if (data_library_of(*module) == DataLibrary::Pandas) {
      if (PyRef to_dict = PyRef::steal(PyObject_GetAttrString(object, "to_dict"))) {
        // A to_dict without `orient` gives its default shape.
        return convert_export(
            call_with_keyword(to_dict.get(), "orient", "list"),
            [&] { return PyRef::steal(PyObject_CallNoArgs(to_dict.get())); }, out);
      }
      if (!discard_ordinary_error()) return false;
      if (PyRef to_numpy = PyRef::steal(PyObject_GetAttrString(object, "to_numpy"))) {
        PyRef result = PyRef::steal(PyObject_CallNoArgs(to_numpy.get()));
        if (!result) return false;
        return convert_returned(result.get(), out);
      }
      if (!discard_ordinary_error()) return false;
    }
    int present = has_attribute(object, "model_dump");
    if (present < 0) return false;
    if (present > 0) {
      // A model_dump without `mode` is called again without arguments.
      return convert_export(
          call_method(object, "model_dump", "mode", "json"),
          [&] { return call_method(object, "model_dump"); }, out);
    }
    present = has_attribute(object, "dict");
    if (present < 0) return false;
    if (present > 0) {
      PyRef result = call_method(object, "dict");
      if (!result) return false;
      return convert_returned(result.get(), out);
    }
    // The module name is read again: the calls above may have run Python code.
    module = module_name_of(Py_TYPE(object));
    if (!module) return false;
    if (data_library_of(*module) == DataLibrary::Numpy) {
      if (PyRef result = call_method(object, "tolist")) {
        return convert_returned(result.get(), out);
      }
      if (!discard_ordinary_error()) return false;
    }
    raise_unsupported_type();
    return false;
  }

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

}  // namespace

std::optional<value::Value> inputs_from_py(PyObject* old_object, PyObject* new_object) {
  auto arena = std::make_unique<Arena>();
  Converter converter(*arena);
  Node* both = arena->allocate_nodes(2);
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
  }
  throw value::InternalError("value node of unknown kind");
}

}  // namespace hexalume::python
