#include "python/pretty_method.hpp"

#include <array>
#include <cstddef>
#include <string>

#include "pretty/change_tree.hpp"
#include "pretty/options.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"

namespace hexalume::python {

namespace {

constexpr const char* kFunction = "Vesperon.pretty()";

// The keywords in the order in which they are declared and converted.
enum Keyword : std::size_t { Compact, MaxDepth, Context, NoColor, PathHeader, KeywordCount };
constexpr std::array<const char*, KeywordCount> kKeywords = {"compact", "max_depth", "context",
                                                             "no_color", "path_header"};

// Every keyword must be one of ours; the values are kept (owned) by position.
bool bind_keywords(PyObject* kwargs, std::array<PyRef, KeywordCount>& given) {
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(kwargs, &position, &key, &value)) {
    std::size_t found = KeywordCount;
    if (PyUnicode_Check(key)) {
      for (std::size_t at = 0; at < KeywordCount; ++at) {
        if (PyUnicode_CompareWithASCIIString(key, kKeywords[at]) == 0) {
          found = at;
          break;
        }
      }
    }
    if (found == KeywordCount) {
      raise_unexpected_keyword(kFunction, key);
      return false;
    }
    given[found] = PyRef::borrow(value);
  }
  return true;
}

bool read_bool(const std::array<PyRef, KeywordCount>& given, Keyword keyword, bool& field) {
  if (!given[keyword]) return true;
  std::optional<bool> converted = bool_from_py(given[keyword].get());
  if (!converted) {
    prefix_argument_error(kKeywords[keyword]);
    return false;
  }
  field = *converted;
  return true;
}

bool read_unsigned(const std::array<PyRef, KeywordCount>& given, Keyword keyword,
                   std::uint64_t& field) {
  if (!given[keyword]) return true;
  std::optional<std::uint64_t> converted = uint64_from_py(given[keyword].get());
  if (!converted) {
    // Only a TypeError gets the argument name; an OverflowError passes unchanged.
    prefix_argument_error(kKeywords[keyword]);
    return false;
  }
  field = *converted;
  return true;
}

}  // namespace

PyRef pretty_method(engine::Vesperon& comparison, PyObject* const (&inputs)[2], PyObject* args,
                    PyObject* kwargs) {
  const Py_ssize_t positional = args != nullptr ? PyTuple_Size(args) : 0;
  if (positional < 0) return {};
  if (positional > 0) {
    raise_too_many_positional(kFunction, 0, positional);
    return {};
  }
  pretty::PrettyOptions options;
  if (kwargs != nullptr) {
    std::array<PyRef, KeywordCount> given;
    if (!bind_keywords(kwargs, given)) return {};
    if (!read_bool(given, Compact, options.compact) ||
        !read_unsigned(given, MaxDepth, options.max_depth) ||
        !read_unsigned(given, Context, options.context) ||
        !read_bool(given, NoColor, options.no_color) ||
        !read_bool(given, PathHeader, options.path_header)) {
      return {};
    }
  }
  // The records in report order, which the drawing follows.
  engine::finish_report(comparison);
  // Unchanged list items that the comparison did not convert are read from the inputs it kept.
  value::Arena arena;
  const pretty::DeferredItem deferred = [&](const engine::Position& parent, std::uint64_t index,
                                            bool from_new) {
    return deferred_item_from_py(inputs[0], inputs[1], parent, index, from_new, arena);
  };
  const bool paired = inputs[0] != nullptr;
  const std::string text =
      pretty::render_pretty(comparison.changes, options, paired ? &deferred : nullptr);
  return PyRef::steal(str_from_utf8(text));
}

}  // namespace hexalume::python
