#include "python/patch/patch_walk.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
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

// A str's UTF-8 text; nullopt (no exception left) when it holds a lone surrogate.
std::optional<std::string_view> text_of(PyObject* text) {
  std::optional<std::string_view> result = utf8_from_py(text);
  if (!result) PyErr_Clear();
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
    // The middle is read into trees, hashed and aligned.
    value::Arena arena;
    std::vector<value::Node> old_items;
    std::vector<value::Node> new_items;
    if (!read_items(old_middle, "old", old_trail_, arena, old_items) ||
        !read_items(new_middle, "new", new_trail_, arena, new_items)) {
      return false;
    }
    std::optional<std::vector<engine::EditRun>> runs = engine::align_items(
        old_items, new_items, engine::alignment_budget(old_items.size(), new_items.size()));
    if (!runs) runs = by_position(old_items.size(), new_items.size());
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
  };

  bool read_items(const Middle& middle, const char* label, Trail& trail, value::Arena& arena,
                  std::vector<value::Node>& items) {
    items.resize(middle.size());
    trail.push_back({nullptr, 0});
    for (Py_ssize_t i = middle.begin; i < middle.end; ++i) {
      trail.back().index = i;
      if (!json_from_py(sequence_item(middle.list, i), label, trail, arena,
                        items[static_cast<std::size_t>(i - middle.begin)])) {
        return false;
      }
    }
    trail.pop_back();
    return true;
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
