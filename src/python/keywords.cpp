#include "python/keywords.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "python/errors.hpp"
#include "python/type_groups.hpp"
#include "value/internal_error.hpp"

namespace hexalume::python {

namespace {

enum class Keyword {
  IgnoreOrder,
  IgnoreNumericTypeChanges,
  IgnoreStringTypeChanges,
  IgnoreTypeInGroups,
  SignificantDigits,
  MathEpsilon,
  Atol,
  Rtol,
  IncludePaths,
  ExcludePaths,
  VerboseLevel,
  Unknown,
};

// Exact, case-sensitive names. math_absilon is another name for math_epsilon.
Keyword keyword_of(std::string_view name) {
  if (name == "ignore_order") return Keyword::IgnoreOrder;
  if (name == "ignore_numeric_type_changes") return Keyword::IgnoreNumericTypeChanges;
  if (name == "ignore_string_type_changes") return Keyword::IgnoreStringTypeChanges;
  if (name == "ignore_type_in_groups") return Keyword::IgnoreTypeInGroups;
  if (name == "significant_digits") return Keyword::SignificantDigits;
  if (name == "math_epsilon" || name == "math_absilon") return Keyword::MathEpsilon;
  if (name == "atol") return Keyword::Atol;
  if (name == "rtol") return Keyword::Rtol;
  if (name == "include_paths") return Keyword::IncludePaths;
  if (name == "exclude_paths") return Keyword::ExcludePaths;
  if (name == "verbose_level") return Keyword::VerboseLevel;
  return Keyword::Unknown;
}

// The text of a str (or subclass); otherwise TypeError "'<type>' object cannot be converted to
// 'PyString'". False means an exception is set.
bool text_from_py(PyObject* object, std::string_view& out) {
  if (!PyUnicode_Check(object)) {
    raise_cannot_convert(object, "PyString");
    return false;
  }
  std::optional<std::string_view> text = utf8_from_py(object);
  if (!text) return false;
  out = *text;
  return true;
}

// An int (bool included) or an object with __index__, below `limit` and not negative.
std::optional<std::uint64_t> bounded_unsigned_from_py(PyObject* object, std::uint64_t limit) {
  PyRef integer =
      PyLong_Check(object) ? PyRef::borrow(object) : PyRef::steal(PyNumber_Index(object));
  if (!integer) return std::nullopt;
  long number = PyLong_AsLong(integer.get());
  if (number == -1 && PyErr_Occurred()) return std::nullopt;
  if (number < 0 || static_cast<std::uint64_t>(number) >= limit) {
    raise_integral_out_of_range();
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(number);
}

std::optional<double> float_from_py(PyObject* object) {
  double number = PyFloat_AsDouble(object);
  if (number == -1.0 && PyErr_Occurred()) return std::nullopt;
  return number;
}

// A list, tuple, set or frozenset (or subclass) of str, in the container's iteration order.
bool string_list_from_py(PyObject* object, std::vector<std::string>& out) {
  if (!PyList_Check(object) && !PyTuple_Check(object) && !PyAnySet_Check(object)) {
    raise_expected_string_list();
    return false;
  }
  PyRef iterator = PyRef::steal(PyObject_GetIter(object));
  if (!iterator) return false;
  std::vector<std::string> texts;
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    std::string_view text;
    if (!text_from_py(item.get(), text)) return false;
    texts.emplace_back(text);
  }
  if (PyErr_Occurred()) return false;
  out = std::move(texts);
  return true;
}

// Converts one keyword's value into its field. False means an exception is set.
bool apply_keyword(Keyword keyword, PyObject* value, options::VesperonOptions& options) {
  switch (keyword) {
    case Keyword::IgnoreOrder:
    case Keyword::IgnoreNumericTypeChanges:
    case Keyword::IgnoreStringTypeChanges: {
      std::optional<bool> flag = bool_from_py(value);
      if (!flag) return false;
      if (keyword == Keyword::IgnoreOrder) options.ignore_order = *flag;
      if (keyword == Keyword::IgnoreNumericTypeChanges) {
        options.ignore_numeric_type_changes = *flag;
      }
      if (keyword == Keyword::IgnoreStringTypeChanges) options.ignore_string_type_changes = *flag;
      return true;
    }
    case Keyword::IgnoreTypeInGroups:
      return parse_type_groups(value, options);
    case Keyword::SignificantDigits: {
      if (value == Py_None) {
        options.significant_digits.reset();
        return true;
      }
      auto digits = bounded_unsigned_from_py(value, std::uint64_t{1} << 32);
      if (!digits) return false;
      options.significant_digits = static_cast<std::uint32_t>(*digits);
      return true;
    }
    case Keyword::MathEpsilon:
    case Keyword::Atol:
    case Keyword::Rtol: {
      std::optional<double>& field = keyword == Keyword::MathEpsilon ? options.math_epsilon
                                     : keyword == Keyword::Atol      ? options.atol
                                                                     : options.rtol;
      if (value == Py_None) {
        field.reset();
        return true;
      }
      std::optional<double> number = float_from_py(value);
      if (!number) return false;
      field = *number;
      return true;
    }
    case Keyword::IncludePaths:
      return string_list_from_py(value, options.include_paths);
    case Keyword::ExcludePaths:
      return string_list_from_py(value, options.exclude_paths);
    case Keyword::VerboseLevel: {
      auto level = bounded_unsigned_from_py(value, 256);
      if (!level) return false;
      options.verbose_level = static_cast<std::uint8_t>(*level);
      return true;
    }
    case Keyword::Unknown:
      break;
  }
  throw value::InternalError("keyword dispatched without a rule");
}

}  // namespace

std::optional<options::VesperonOptions> parse_options(PyObject* kwargs) {
  options::VesperonOptions options;
  if (kwargs == nullptr) return options;
  DictEntries entries(kwargs);
  PyRef key;
  PyRef value;
  // Conversions may run Python code (__index__, __float__, imports).
  while (entries.next(key, value)) {
    std::string_view name;
    if (!text_from_py(key.get(), name)) return std::nullopt;
    Keyword keyword = keyword_of(name);
    if (keyword == Keyword::Unknown) {
      raise_unsupported_option(name);
      return std::nullopt;
    }
    if (!apply_keyword(keyword, value.get(), options)) return std::nullopt;
  }
  return options;
}

}  // namespace hexalume::python
