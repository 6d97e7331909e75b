#include "python/patch/patch_walk.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/alignment.hpp"
#include "python/patch/json_tree.hpp"
#include "value/interrupt.hpp"

namespace hexalume::python::patch {

namespace {

constexpr char kWhilePatching[] = " while making a patch";

enum class Same : std::uint8_t { Yes, No, NotJson };

// A str's UTF-8 text; nullopt (no exception left) when it holds a lone surrogate. Running out
// of memory leaves through the guarded entry point.
std::optional<std::string_view> text_of(PyObject* text) {
  std::optional<std::string_view> result = utf8_from_py(text);
  if (!result && !discard_ordinary_error()) throw value::Cancelled();
  return result;
}

class PatchWalk {
 public:
  PatchWalk(PyObject* old_root, PyObject* new_root, bool with_tests)
      : old_root_(old_root), new_root_(new_root), with_tests_(with_tests) {}

  PyRef run() {
    ops_ = PyRef::steal(PyList_New(0));
    op_key_ = PyRef::steal(PyUnicode_InternFromString("op"));
    path_key_ = PyRef::steal(PyUnicode_InternFromString("path"));
    value_key_ = PyRef::steal(PyUnicode_InternFromString("value"));
    if (!ops_ || !op_key_ || !path_key_ || !value_key_ || !diff(old_root_, new_root_)) return {};
    return std::move(ops_);
  }

 private:
  bool diff(PyObject* old_object, PyObject* new_object) {
    value::poll_interrupt();
    const JsonType old_type = classify(old_object);
    const JsonType new_type = classify(new_object);
    if (old_type == JsonType::Dict && new_type == JsonType::Dict) {
      return diff_dicts(old_object, new_object);
    }
    if (is_sequence(old_type) && is_sequence(new_type)) return diff_lists(old_object, new_object);
    switch (same(old_object, new_object)) {
      case Same::Yes:
        return true;
      case Same::No:
        return replace(old_object, new_object);
      case Same::NotJson:
        break;
    }
    return refuse();
  }

  // Strict JSON equality: 1, 1.0 and True differ, dict key order does not count. NotJson when
  // something met on the way is not JSON; after No, parts of both may not have been looked at.
  Same same(PyObject* left, PyObject* right) {
    const JsonType type = classify(left);
    const JsonType right_type = classify(right);
    if (type == JsonType::Other || right_type == JsonType::Other) return Same::NotJson;
    if (type != right_type && !(is_sequence(type) && is_sequence(right_type))) {
      return valid_scalar(left) && valid_scalar(right) ? Same::No : Same::NotJson;
    }
    switch (type) {
      case JsonType::Null:
        return Same::Yes;
      case JsonType::Bool:
        return left == right ? Same::Yes : Same::No;
      case JsonType::Int:
        return same_ints(left, right);
      case JsonType::Float: {
        const double left_number = PyFloat_AsDouble(left);
        const double right_number = PyFloat_AsDouble(right);
        if (!std::isfinite(left_number) || !std::isfinite(right_number)) return Same::NotJson;
        return left_number == right_number ? Same::Yes : Same::No;
      }
      case JsonType::Str: {
        const std::optional<std::string_view> left_text = text_of(left);
        if (left == right) return left_text ? Same::Yes : Same::NotJson;
        const std::optional<std::string_view> right_text = text_of(right);
        if (!left_text || !right_text) return Same::NotJson;
        return *left_text == *right_text ? Same::Yes : Same::No;
      }
      case JsonType::List:
      case JsonType::Tuple:
        return same_sequences(left, right);
      case JsonType::Dict:
        return same_dicts(left, right);
      case JsonType::Other:
        break;
    }
    return Same::NotJson;
  }

  // Whether a scalar can be told apart from another without looking further: containers are
  // looked at by the walk's later steps.
  static bool valid_scalar(PyObject* object) {
    switch (classify(object)) {
      case JsonType::Float:
        return std::isfinite(PyFloat_AsDouble(object));
      case JsonType::Str:
        return text_of(object).has_value();
      case JsonType::Other:
        return false;
      default:
        return true;
    }
  }

  Same same_ints(PyObject* left, PyObject* right) {
    if (left == right) return Same::Yes;
    if (!PyLong_CheckExact(left) || !PyLong_CheckExact(right)) note_python_code();
    const int equal = PyObject_RichCompareBool(left, right, Py_EQ);
    if (equal < 0) throw_pending();
    return equal != 0 ? Same::Yes : Same::No;
  }

  Same same_sequences(PyObject* left, PyObject* right) {
    const Py_ssize_t size = sequence_size(left);
    if (size != sequence_size(right)) return Same::No;
    RecursionGuard guard(depth_, kWhilePatching);
    if (!guard) throw_pending();
    for (Py_ssize_t i = 0; i < size; ++i) {
      const Same result = same(sequence_item(left, i), sequence_item(right, i));
      if (result != Same::Yes) return result;
    }
    return Same::Yes;
  }

  Same same_dicts(PyObject* left, PyObject* right) {
    if (PyDict_Size(left) != PyDict_Size(right)) return Same::No;
    RecursionGuard guard(depth_, kWhilePatching);
    if (!guard) throw_pending();
    DictReader entries(left);
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    while (entries.next(key, item)) {
      if (!PyUnicode_Check(key) || !text_of(key)) return Same::NotJson;
      PyObject* other = PyDict_GetItemWithError(right, key);
      if (other == nullptr) {
        if (PyErr_Occurred()) throw_pending();
        return Same::No;
      }
      const Same result = same(item, other);
      if (result != Same::Yes) return result;
    }
    return Same::Yes;
  }

  // An error the interpreter raised inside same(): leaves through the guarded entry point.
  [[noreturn]] static void throw_pending() { throw value::Cancelled(); }

  // Something is not JSON: names the first such position of old, else of new.
  bool refuse() {
    value::Arena scratch;
    value::Node ignored;
    if (json_from_py(old_root_, "old", {}, scratch, ignored) &&
        json_from_py(new_root_, "new", {}, scratch, ignored)) {
      throw value::InternalError("a document changed while a patch was made from it");
    }
    return false;
  }

  bool diff_dicts(PyObject* old_dict, PyObject* new_dict) {
    RecursionGuard guard(depth_, kWhilePatching);
    if (!guard) return false;
    {
      DictReader entries(old_dict);
      PyObject* key = nullptr;
      PyObject* item = nullptr;
      while (entries.next(key, item)) {
        const Step step = enter_member(key, key);
        if (!step.valid) return refuse();
        PyObject* other = PyDict_GetItemWithError(new_dict, key);
        const bool done = other != nullptr   ? diff(item, other)
                          : PyErr_Occurred() ? false
                                             : remove(item);
        leave(step);
        if (!done) return false;
      }
    }
    DictReader entries(new_dict);
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    while (entries.next(key, item)) {
      const int known = PyDict_Contains(old_dict, key);
      if (known < 0) return false;
      if (known == 1) continue;
      const Step step = enter_member(nullptr, key);
      if (!step.valid) return refuse();
      const bool done = add(item);
      leave(step);
      if (!done) return false;
    }
    return true;
  }

  bool diff_lists(PyObject* old_list, PyObject* new_list) {
    RecursionGuard guard(depth_, kWhilePatching);
    if (!guard) return false;
    const Py_ssize_t old_size = sequence_size(old_list);
    const Py_ssize_t new_size = sequence_size(new_list);
    Py_ssize_t prefix = 0;
    for (; prefix < old_size && prefix < new_size; ++prefix) {
      const Same result = same(sequence_item(old_list, prefix), sequence_item(new_list, prefix));
      if (result == Same::NotJson) return refuse();
      if (result == Same::No) break;
    }
    Py_ssize_t suffix = 0;
    for (; prefix + suffix < old_size && prefix + suffix < new_size; ++suffix) {
      const Same result = same(sequence_item(old_list, old_size - 1 - suffix),
                               sequence_item(new_list, new_size - 1 - suffix));
      if (result == Same::NotJson) return refuse();
      if (result == Same::No) break;
    }
    const Middle old_middle{old_list, prefix, old_size - suffix};
    const Middle new_middle{new_list, prefix, new_size - suffix};
    if (old_middle.size() == 0 && new_middle.size() == 0) return true;
    std::optional<std::vector<engine::EditRun>> runs = edited_in_place(old_middle, new_middle);
    if (!runs) runs = align(old_middle, new_middle);
    if (!runs) return refuse();
    Gap gap{old_middle.begin, new_middle.begin, prefix, 0, 0};
    for (const engine::EditRun& run : *runs) {
      if (run.kind == engine::EditKind::Keep) {
        if (!write_gap(old_list, new_list, gap)) return false;
        const auto count = static_cast<Py_ssize_t>(run.count);
        gap.old_at += count;
        gap.new_at += count;
        gap.patch_at += count;
      } else if (run.kind == engine::EditKind::Remove) {
        gap.removed += static_cast<Py_ssize_t>(run.count);
      } else {
        gap.inserted += static_cast<Py_ssize_t>(run.count);
      }
    }
    return write_gap(old_list, new_list, gap);
  }

  struct Middle {
    PyObject* list;
    Py_ssize_t begin;
    Py_ssize_t end;
    std::size_t size() const { return static_cast<std::size_t>(end - begin); }
    PyObject* item(std::size_t offset) const {
      return sequence_item(list, begin + static_cast<Py_ssize_t>(offset));
    }
  };

  // The runs that pair the items by position, when the two middles are as long as each other
  // and their items differ only in place: no differing item equals its neighbour on the other
  // side, which is what a shift looks like. nullopt otherwise (also when something is not JSON:
  // the alignment finds it).
  std::optional<std::vector<engine::EditRun>> edited_in_place(const Middle& old_middle,
                                                              const Middle& new_middle) {
    if (old_middle.size() != new_middle.size()) return std::nullopt;
    std::vector<engine::EditRun> runs;
    for (Py_ssize_t i = old_middle.begin; i < old_middle.end; ++i) {
      const Same result =
          same(sequence_item(old_middle.list, i), sequence_item(new_middle.list, i));
      if (result == Same::NotJson) return std::nullopt;
      if (result == Same::Yes) {
        add_run(runs, engine::EditKind::Keep);
        continue;
      }
      if ((i + 1 < old_middle.end && (same(sequence_item(old_middle.list, i),
                                           sequence_item(new_middle.list, i + 1)) != Same::No ||
                                      same(sequence_item(old_middle.list, i + 1),
                                           sequence_item(new_middle.list, i)) != Same::No))) {
        return std::nullopt;
      }
      add_run(runs, engine::EditKind::Remove);
      add_run(runs, engine::EditKind::Insert);
    }
    return runs;
  }

  static void add_run(std::vector<engine::EditRun>& runs, engine::EditKind kind) {
    if (!runs.empty() && runs.back().kind == kind && kind == engine::EditKind::Keep) {
      ++runs.back().count;
    } else {
      runs.push_back({kind, 1});
    }
  }

  // Aligns the middles by their items' hashes (by position when that runs over its budget).
  // nullopt when an item is not JSON.
  std::optional<std::vector<engine::EditRun>> align(const Middle& old_middle,
                                                    const Middle& new_middle) {
    std::vector<std::uint64_t> old_hashes(old_middle.size());
    std::vector<std::uint64_t> new_hashes(new_middle.size());
    for (std::size_t i = 0; i < old_hashes.size(); ++i) {
      if (!hash_of(old_middle.item(i), old_hashes[i])) return std::nullopt;
    }
    for (std::size_t j = 0; j < new_hashes.size(); ++j) {
      if (!hash_of(new_middle.item(j), new_hashes[j])) return std::nullopt;
    }
    const std::function<bool(std::size_t, std::size_t)> equal = [&](std::size_t i, std::size_t j) {
      return same(old_middle.item(i), new_middle.item(j)) == Same::Yes;
    };
    std::optional<std::vector<engine::EditRun>> runs =
        engine::align_items(old_hashes, new_hashes, equal,
                            engine::alignment_budget(old_hashes.size(), new_hashes.size()));
    if (!runs) runs = by_position(old_hashes.size(), new_hashes.size());
    return runs;
  }

  // A hash that values same() finds equal share: kinds apart, dict key order ignored. False
  // when something in `object` is not JSON.
  bool hash_of(PyObject* object, std::uint64_t& out) {
    value::poll_interrupt();
    switch (classify(object)) {
      case JsonType::Null:
        out = mix(1);
        return true;
      case JsonType::Bool:
        out = mix(object == Py_True ? 2 : 3);
        return true;
      case JsonType::Int: {
        // A subclass hashes as the plain int of its value, as it compares.
        if (!PyLong_CheckExact(object)) note_python_code();
        const PyRef plain = PyLong_CheckExact(object) ? PyRef::borrow(object)
                                                      : PyRef::steal(PyNumber_Index(object));
        if (!plain) throw_pending();
        out = mix(python_hash(plain.get()) ^ kIntKind);
        return true;
      }
      case JsonType::Float: {
        double number = PyFloat_AsDouble(object);
        if (!std::isfinite(number)) return false;
        if (number == 0) number = 0;  // -0.0 equals 0.0
        std::uint64_t bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        out = mix(bits ^ kFloatKind);
        return true;
      }
      case JsonType::Str: {
        const std::optional<std::string_view> text = text_of(object);
        if (!text) return false;
        out = mix(text_hash(object, *text) ^ kStrKind);
        return true;
      }
      case JsonType::List:
      case JsonType::Tuple: {
        RecursionGuard guard(depth_, kWhilePatching);
        if (!guard) throw_pending();
        const Py_ssize_t size = sequence_size(object);
        std::uint64_t hash = mix(kListKind ^ static_cast<std::uint64_t>(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
          std::uint64_t item = 0;
          if (!hash_of(sequence_item(object, i), item)) return false;
          hash = mix(hash ^ item);
        }
        out = hash;
        return true;
      }
      case JsonType::Dict: {
        RecursionGuard guard(depth_, kWhilePatching);
        if (!guard) throw_pending();
        std::uint64_t sum = 0;
        DictReader entries(object);
        PyObject* key = nullptr;
        PyObject* item = nullptr;
        while (entries.next(key, item)) {
          if (!PyUnicode_Check(key)) return false;
          const std::optional<std::string_view> text = text_of(key);
          std::uint64_t item_hash = 0;
          if (!text || !hash_of(item, item_hash)) return false;
          sum += mix(text_hash(key, *text) + 0x9e3779b97f4a7c15 * item_hash);
        }
        out = mix(sum ^ kDictKind ^ static_cast<std::uint64_t>(entries.size()));
        return true;
      }
      case JsonType::Other:
        break;
    }
    return false;
  }

  static constexpr std::uint64_t kIntKind = 0x1000;
  static constexpr std::uint64_t kFloatKind = 0x2000;
  static constexpr std::uint64_t kStrKind = 0x3000;
  static constexpr std::uint64_t kListKind = 0x4000;
  static constexpr std::uint64_t kDictKind = 0x5000;

  // The finaliser of splitmix64 (Steele, Lea and Flood 2014): every input bit moves every
  // output bit.
  static constexpr std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9;
    x ^= x >> 27;
    x *= 0x94d049bb133111eb;
    x ^= x >> 31;
    return x;
  }

  static std::uint64_t python_hash(PyObject* object) {
    const Py_hash_t hash = PyObject_Hash(object);
    if (hash == -1 && PyErr_Occurred()) throw_pending();
    return static_cast<std::uint64_t>(hash);
  }

  // The interpreter's (cached) hash of an exact str; a subclass by its text, as it compares.
  static std::uint64_t text_hash(PyObject* text_object, std::string_view text) {
    if (PyUnicode_CheckExact(text_object)) return python_hash(text_object);
    const PyRef plain = PyRef::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!plain) throw_pending();
    return python_hash(plain.get());
  }

  // Over the budget: items paired by position, then the longer list's tail.
  static std::vector<engine::EditRun> by_position(std::size_t old_count, std::size_t new_count) {
    const std::size_t common = std::min(old_count, new_count);
    return {{engine::EditKind::Remove, common},
            {engine::EditKind::Insert, common},
            {engine::EditKind::Remove, old_count - common},
            {engine::EditKind::Insert, new_count - common}};
  }

  // The items between two kept runs: `removed` old items at old_at and `inserted` new items at
  // new_at, standing at patch_at in the list as the patch has it so far.
  struct Gap {
    Py_ssize_t old_at;
    Py_ssize_t new_at;
    Py_ssize_t patch_at;
    Py_ssize_t removed;
    Py_ssize_t inserted;
  };

  // Pairs removed and inserted items up front and compares them; removes or adds the rest.
  bool write_gap(PyObject* old_list, PyObject* new_list, Gap& gap) {
    const Py_ssize_t paired = std::min(gap.removed, gap.inserted);
    for (Py_ssize_t t = 0; t < paired; ++t) {
      const Step step = enter_index(gap.old_at + t, gap.new_at + t, gap.patch_at + t);
      const bool done =
          diff(sequence_item(old_list, gap.old_at + t), sequence_item(new_list, gap.new_at + t));
      leave(step);
      if (!done) return false;
    }
    gap.patch_at += paired;
    for (Py_ssize_t t = paired; t < gap.removed; ++t) {
      const Step step = enter_index(gap.old_at + t, -1, gap.patch_at);
      const bool done = remove(sequence_item(old_list, gap.old_at + t));
      leave(step);
      if (!done) return false;
    }
    for (Py_ssize_t t = paired; t < gap.inserted; ++t) {
      const Step step = enter_index(-1, gap.new_at + t, gap.patch_at);
      const bool done = add(sequence_item(new_list, gap.new_at + t));
      leave(step);
      if (!done) return false;
      ++gap.patch_at;
    }
    gap.old_at += gap.removed;
    gap.new_at += gap.inserted;
    gap.removed = 0;
    gap.inserted = 0;
    return true;
  }

  // The patch path and the trails of both documents follow the walk: enter before a child,
  // leave after it. A side the child does not exist on gets no step.
  struct Step {
    std::size_t path_size;
    bool old_side;
    bool new_side;
    bool valid;
  };
  Step enter_member(PyObject* old_key, PyObject* new_key) {
    PyObject* key = old_key != nullptr ? old_key : new_key;
    Step step{path_.size(), old_key != nullptr, new_key != nullptr, false};
    if (!PyUnicode_Check(key)) return step;
    const std::optional<std::string_view> text = text_of(key);
    if (!text) return step;
    append_pointer_token(path_, *text);
    if (step.old_side) old_trail_.push_back({old_key, 0});
    if (step.new_side) new_trail_.push_back({new_key, 0});
    step.valid = true;
    return step;
  }
  Step enter_index(Py_ssize_t old_index, Py_ssize_t new_index, Py_ssize_t patch_index) {
    Step step{path_.size(), old_index >= 0, new_index >= 0, true};
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, patch_index).ptr;
    path_.push_back('/');
    path_.append(digits, end);
    if (step.old_side) old_trail_.push_back({nullptr, old_index});
    if (step.new_side) new_trail_.push_back({nullptr, new_index});
    return step;
  }
  void leave(const Step& step) {
    if (!step.valid) return;
    path_.resize(step.path_size);
    if (step.old_side) old_trail_.pop_back();
    if (step.new_side) new_trail_.pop_back();
  }

  bool add(PyObject* new_object) {
    const PyRef copy = json_copy(new_object, "new", new_trail_);
    return copy && push("add", copy.get());
  }

  bool remove(PyObject* old_object) { return check_or_test(old_object) && push("remove", nullptr); }

  bool replace(PyObject* old_object, PyObject* new_object) {
    if (!check_or_test(old_object)) return false;
    const PyRef copy = json_copy(new_object, "new", new_trail_);
    return copy && push("replace", copy.get());
  }

  // A test of the old value when asked for, else only the check that it is JSON.
  bool check_or_test(PyObject* old_object) {
    if (with_tests_) {
      const PyRef copy = json_copy(old_object, "old", old_trail_);
      return copy && push("test", copy.get());
    }
    value::Arena scratch;
    value::Node ignored;
    return json_from_py(old_object, "old", old_trail_, scratch, ignored);
  }

  // Appends {"op": name, "path": <the current path>, "value": value}, without "value" when it
  // is nullptr.
  bool push(const char* name, PyObject* value) {
    const bool has_value = value != nullptr;
    PyRef entry = PyRef::steal(PyDict_New());
    PyRef op = PyRef::steal(PyUnicode_InternFromString(name));
    PyRef path = PyRef::steal(
        PyUnicode_DecodeUTF8(path_.data(), static_cast<Py_ssize_t>(path_.size()), "strict"));
    if (!entry || !op || !path || PyDict_SetItem(entry.get(), op_key_.get(), op.get()) != 0 ||
        PyDict_SetItem(entry.get(), path_key_.get(), path.get()) != 0 ||
        (has_value && PyDict_SetItem(entry.get(), value_key_.get(), value) != 0)) {
      return false;
    }
    return PyList_Append(ops_.get(), entry.get()) == 0;
  }

  PyObject* old_root_;
  PyObject* new_root_;
  bool with_tests_;
  unsigned depth_ = 0;
  std::string path_;
  Trail old_trail_;
  Trail new_trail_;
  PyRef ops_;
  PyRef op_key_;
  PyRef path_key_;
  PyRef value_key_;
};

}  // namespace

PyRef make_patch_from_py(PyObject* old_root, PyObject* new_root, bool with_tests) {
  return PatchWalk(old_root, new_root, with_tests).run();
}

}  // namespace hexalume::python::patch
