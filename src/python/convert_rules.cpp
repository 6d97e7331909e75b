#include "python/converter.hpp"

namespace hexalume::python {

namespace {

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

}  // namespace

bool Converter::convert_other(PyObject* object, Node& out) {
  PyRef held = PyRef::borrow(object);
  const Rule rule = classify_other(object, Rule::NumpyBool);
  const Attempt attempt = apply(rule, object, out);
  if (attempt == Attempt::NotApplied) return convert_after(rule, object, out);
  return attempt == Attempt::Converted;
}

bool Converter::convert_after(Rule failed, PyObject* object, Node& out) {
  PyRef held = PyRef::borrow(object);
  for (Rule rule = failed;;) {
    rule = classify_other(object, rule_after(rule));
    const Attempt attempt = apply(rule, object, out);
    if (attempt != Attempt::NotApplied) return attempt == Attempt::Converted;
  }
}

Rule Converter::classify_other(PyObject* object, Rule first) {
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
      const int multi_dimensional = library == DataLibrary::None ? 0 : is_multi_dimensional(object);
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

Attempt Converter::numpy_bool_to_node(PyObject* object, Node& out) {
  std::optional<bool> flag = bool_from_py(object);
  if (!flag) return not_applied_or_raised();
  out = value::make_bool(*flag);
  return Attempt::Converted;
}

Attempt Converter::number_to_node(PyObject* object, Node& out) {
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

Attempt Converter::float_to_node(PyObject* object, Node& out) {
  double number = PyFloat_AsDouble(object);
  if (number == -1.0 && PyErr_Occurred()) return not_applied_or_raised();
  return finite_float_to_node(number, out) ? Attempt::Converted : Attempt::Raised;
}

}  // namespace hexalume::python
