#pragma once

// Helpers shared by every file that talks to the interpreter: the reference owner, the readers of
// dicts, texts, booleans and unsigned integers, and the recursion guard.
// Include this header before any standard header (Python.h must come first).

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "value/internal_error.hpp"
#include "value/interrupt.hpp"
#include "value/limits.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::python {

// Move-only owner of one strong reference (or of nothing). A raw PyObject* elsewhere is borrowed.
class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference, typically the result of a C API call; nullptr gives an empty owner.
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Adds a reference of its own to a borrowed pointer.
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(other.release()) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      PyObject* previous = object_;
      object_ = other.release();
      Py_XDECREF(previous);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  // Hands the reference to the caller; the owner is left empty.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

// Counts the points at which Python code may have run (a signal handler, a method of an object
// that is not of an exact built-in type), so that loops over borrowed containers know when to
// look again. Every call into this module holds the GIL, so no count is lost.
namespace detail {
inline constinit std::atomic<std::uint64_t> python_code_runs{0};
}  // namespace detail
inline std::uint64_t python_code_runs() {
  return detail::python_code_runs.load(std::memory_order_relaxed);
}
inline void note_python_code() {
  detail::python_code_runs.store(python_code_runs() + 1, std::memory_order_relaxed);
}

// Steps through a dict's entries in its own order, holding each key and value while the caller
// works on them. Python code run between steps (a key's __str__, a value's __index__) may change
// the dict, and stepping on through a changed dict is not safe: the next step then throws
// value::InternalError instead.
class DictEntries {
 public:
  explicit DictEntries(PyObject* dict) : dict_(dict), start_(PyDict_Size(dict)) {}

  // The number of entries when the iteration began.
  Py_ssize_t size() const { return start_; }

  // Moves to the next entry and holds it in `key` and `value`; false at the end.
  bool next(PyRef& key, PyRef& value) {
    if (PyDict_Size(dict_) != start_) {
      throw value::InternalError("dictionary changed size during iteration");
    }
    PyObject* borrowed_key = nullptr;
    PyObject* borrowed_value = nullptr;
    if (!PyDict_Next(dict_, &position_, &borrowed_key, &borrowed_value)) return false;
    if (taken_++ == start_) throw value::InternalError("dictionary keys changed during iteration");
    key = PyRef::borrow(borrowed_key);
    value = PyRef::borrow(borrowed_value);
    return true;
  }

 private:
  PyObject* dict_;
  Py_ssize_t start_;
  Py_ssize_t position_ = 0;
  Py_ssize_t taken_ = 0;
};

// As DictEntries, for a caller that notes every place where Python code may run
// (note_python_code()): the entries are borrowed, and the dict's size is read again only when
// Python code may have run since the previous step.
class DictReader {
 public:
  explicit DictReader(PyObject* dict)
      : dict_(dict), start_(PyDict_Size(dict)), runs_(python_code_runs()) {}

  // The number of entries when the iteration began.
  Py_ssize_t size() const { return start_; }

  // Moves to the next entry: `key` and `value` are borrowed from the dict, valid until Python
  // code runs. False at the end.
  bool next(PyObject*& key, PyObject*& value) {
    if (runs_ != python_code_runs()) [[unlikely]] {
      runs_ = python_code_runs();
      if (PyDict_Size(dict_) != start_) {
        throw value::InternalError("dictionary changed size during iteration");
      }
    }
    if (!PyDict_Next(dict_, &position_, &key, &value)) return false;
    if (taken_++ == start_) throw value::InternalError("dictionary keys changed during iteration");
    return true;
  }

 private:
  PyObject* dict_;
  Py_ssize_t start_;
  std::uint64_t runs_;
  Py_ssize_t position_ = 0;
  Py_ssize_t taken_ = 0;
};

// Where a rule says an error "is discarded": discards the pending exception and returns true
// when it is an ordinary error (an Exception other than MemoryError and RecursionError). Anything
// else (KeyboardInterrupt, SystemExit, GeneratorExit, MemoryError, RecursionError, the internal
// error) stays pending and the result is false: the caller then fails with it, and calls nothing
// again. Running out of memory or stack is never a reason to try the next rule.
bool discard_ordinary_error();

// The UTF-8 text of a str (or subclass), valid while the object lives. nullopt with the
// interpreter's UnicodeEncodeError set when it holds a lone surrogate.
inline std::optional<std::string_view> utf8_from_py(PyObject* text) {
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
  if (bytes == nullptr) return std::nullopt;
  return std::string_view(bytes, static_cast<std::size_t>(size));
}

// Long texts are read and written a slice of this many bytes at a time, with a look for an
// interrupt between slices, so that a text of hundreds of megabytes answers Ctrl-C at once.
inline constexpr std::size_t kTextSliceBytes = std::size_t{1} << 20;

// The end of the slice of UTF-8 `text` that starts at `from`: at most kTextSliceBytes further,
// and never inside a character.
std::size_t utf8_slice_end(std::string_view text, std::size_t from);

// A new str of UTF-8 `text` (null with an exception set when it is not UTF-8), decoded a slice
// at a time; throws value::Cancelled when an interrupt asks the call to stop.
PyObject* str_from_utf8(std::string_view text);

// Accepts exactly True, False and numpy booleans (through their type's __bool__). Anything else
// raises TypeError "'<type>' object cannot be converted to 'PyBool'"; nullopt means an exception
// is set.
std::optional<bool> bool_from_py(PyObject* object);

// An int, or any object with __index__, as an unsigned 64-bit integer. Negative or too large
// values raise the interpreter's OverflowError; nullopt means an exception is set.
std::optional<std::uint64_t> uint64_from_py(PyObject* object);

// One level of a recursive traversal. Enters the interpreter's recursion check and counts the
// level in `depth`; past the interpreter's limit, past value::kMaxDepth or when the thread's
// native stack runs short it sets RecursionError and converts to false. `where` completes the
// message, e.g. " while converting a Python object".
class RecursionGuard {
 public:
  RecursionGuard(unsigned& depth, const char* where) noexcept;
  ~RecursionGuard();
  RecursionGuard(const RecursionGuard&) = delete;
  RecursionGuard& operator=(const RecursionGuard&) = delete;

  explicit operator bool() const noexcept { return entered_; }

 private:
  unsigned& depth_;
  bool entered_ = false;
};

}  // namespace hexalume::python
