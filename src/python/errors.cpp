#include "python/errors.hpp"

#include <utility>

namespace hexalume::python {

namespace {

constexpr char kUnsupportedType[] = "Unsupported Python type for Vesperon";
constexpr char kUnsupportedDictKey[] = "Unsupported dict key type for Vesperon";
constexpr char kFloatNotFinite[] = "Float value is not finite";
constexpr char kCannotConvert[] = "'%s' object cannot be converted to '%s'";
constexpr char kNoBoolConversion[] = "object of type '%S' does not define a '__bool__' conversion";
constexpr char kFailedTypeName[] = "<failed to extract type name>";
constexpr char kUnsupportedOption[] = "Unsupported option: %U";
constexpr char kIntegralOutOfRange[] = "out of range integral type conversion attempted";
constexpr char kExpectedStringList[] = "Expected a list, tuple, or set of strings";
constexpr char kExpectedTypeGroups[] = "Expected a list or tuple of type groups";
constexpr char kTypeGroupEntry[] =
    "Each ignore_type_in_groups entry must be a list or tuple of types";
constexpr char kUnsupportedGroupType[] = "Unsupported type in ignore_type_in_groups";
constexpr char kTooManyPositional[] = "%s takes %zd positional arguments but %zd %s given";
constexpr char kMissingOne[] = "%s missing 1 required positional argument: '%s'";
constexpr char kMissingTwo[] = "%s missing 2 required positional arguments: '%s' and '%s'";
constexpr char kMultipleValues[] = "%s got multiple values for argument '%s'";
constexpr char kUnexpectedKeyword[] = "%s got an unexpected keyword argument '%U'";
constexpr char kArgumentPrefix[] = "argument '%s': %U";
constexpr char kPathCollision[] =
    "Two positions have the same path %U in %U: keys containing \"']\" make paths ambiguous";
constexpr char kInputsChanged[] =
    "Vesperon.pretty(): the compared objects changed after the comparison, so their unchanged "
    "list items cannot be shown for context";
constexpr char kDepthExceeded[] = "maximum recursion depth exceeded%s";
constexpr char kClassInitFailed[] = "An error occurred while initializing class %s";
constexpr char kSecondInitialisation[] =
    "hexalume may be initialized only once per process; it is already loaded in another "
    "interpreter";

// The pending exception, normalised, or an empty owner if none is pending; the indicator is
// cleared.
PyRef take_pending_exception() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return {};
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type);
  PyRef owned_traceback = PyRef::steal(traceback);
  PyRef exception = PyRef::steal(value);
  if (exception && owned_traceback) {
    PyException_SetTraceback(exception.get(), owned_traceback.get());
  }
  return exception;
}

// Makes `exception` the pending exception again.
void restore_exception(PyRef&& exception) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception.get()));
  PyObject* traceback = PyException_GetTraceback(exception.get());  // a new reference
  Py_INCREF(type);
  PyErr_Restore(type, exception.release(), traceback);  // takes over all three
}

}  // namespace

void raise_inputs_changed() { PyErr_SetString(PyExc_RuntimeError, kInputsChanged); }

std::optional<std::string> type_qualname(PyObject* object) {
  PyRef name = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
  if (name && PyUnicode_Check(name.get())) {
    if (std::optional<std::string_view> text = utf8_from_py(name.get())) return std::string(*text);
  }
  if (PyErr_Occurred() && !discard_ordinary_error()) return std::nullopt;
  return kFailedTypeName;
}

void raise_unsupported_type() { PyErr_SetString(PyExc_TypeError, kUnsupportedType); }

void raise_unsupported_dict_key() { PyErr_SetString(PyExc_TypeError, kUnsupportedDictKey); }

void raise_float_not_finite() { PyErr_SetString(PyExc_ValueError, kFloatNotFinite); }

void raise_cannot_convert(PyObject* object, const char* target) {
  std::optional<std::string> name = type_qualname(object);
  if (!name) return;
  PyErr_Format(PyExc_TypeError, kCannotConvert, name->c_str(), target);
}

void raise_no_bool_conversion(PyTypeObject* type) {
  PyErr_Format(PyExc_TypeError, kNoBoolConversion, reinterpret_cast<PyObject*>(type));
}

void raise_unsupported_option(std::string_view keyword) {
  PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(
      keyword.data(), static_cast<Py_ssize_t>(keyword.size()), "surrogatepass"));
  if (!text) return;
  PyErr_Format(PyExc_ValueError, kUnsupportedOption, text.get());
}

void raise_integral_out_of_range() { PyErr_SetString(PyExc_OverflowError, kIntegralOutOfRange); }

void raise_expected_string_list() { PyErr_SetString(PyExc_TypeError, kExpectedStringList); }

void raise_expected_type_groups() { PyErr_SetString(PyExc_TypeError, kExpectedTypeGroups); }

void raise_type_group_entry() { PyErr_SetString(PyExc_TypeError, kTypeGroupEntry); }

void raise_unsupported_group_type() { PyErr_SetString(PyExc_TypeError, kUnsupportedGroupType); }

void raise_too_many_positional(const char* function, Py_ssize_t allowed, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, kTooManyPositional, function, allowed, given,
               given == 1 ? "was" : "were");
}

void raise_missing_arguments(const char* function, const char* const* names, int count) {
  if (count == 1) {
    PyErr_Format(PyExc_TypeError, kMissingOne, function, names[0]);
  } else {
    PyErr_Format(PyExc_TypeError, kMissingTwo, function, names[0], names[1]);
  }
}

void raise_multiple_values(const char* function, const char* name) {
  PyErr_Format(PyExc_TypeError, kMultipleValues, function, name);
}

void raise_unexpected_keyword(const char* function, PyObject* keyword) {
  PyRef text = PyRef::steal(PyObject_Str(keyword));
  if (!text) return;
  PyErr_Format(PyExc_TypeError, kUnexpectedKeyword, function, text.get());
}

void prefix_argument_error(const char* keyword) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyRef original = take_pending_exception();
  if (!original) return;
  if (Py_TYPE(original.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    restore_exception(std::move(original));
    return;
  }
  PyRef message = PyRef::steal(PyObject_Str(original.get()));
  if (!message) return;
  PyErr_Format(PyExc_TypeError, kArgumentPrefix, keyword, message.get());
  PyRef replacement = take_pending_exception();
  if (!replacement) return;
  // PyException_SetCause steals the cause; a missing cause stays missing.
  PyException_SetCause(replacement.get(), PyException_GetCause(original.get()));
  restore_exception(std::move(replacement));
}

void raise_path_collision(std::string_view path, std::string_view section) {
  // Paths hold keys byte for byte; surrogatepass gives back any text a key came from.
  PyRef path_text = PyRef::steal(
      PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "surrogatepass"));
  if (!path_text) return;
  PyRef section_text = PyRef::steal(
      PyUnicode_FromStringAndSize(section.data(), static_cast<Py_ssize_t>(section.size())));
  if (!section_text) return;
  PyErr_Format(PyExc_ValueError, kPathCollision, path_text.get(), section_text.get());
}

void raise_depth_exceeded(const char* where) {
  PyErr_Format(PyExc_RecursionError, kDepthExceeded, where);
}

void raise_class_init_failed(const char* class_name) {
  PyRef cause = take_pending_exception();
  PyErr_Format(PyExc_RuntimeError, kClassInitFailed, class_name);
  if (!cause) return;
  PyRef error = take_pending_exception();
  if (!error) return;
  // Both setters take over a reference of their own.
  PyException_SetContext(error.get(), PyRef::borrow(cause.get()).release());
  PyException_SetCause(error.get(), cause.release());
  restore_exception(std::move(error));
}

void raise_second_initialisation() { PyErr_SetString(PyExc_ImportError, kSecondInitialisation); }

PyObject* internal_error_class() {
  // Created once and kept for the life of the process, like the module itself.
  static PyObject* error_class = nullptr;
  if (error_class == nullptr) {
    error_class = PyErr_NewExceptionWithDoc(
        "hexalume.InternalError",
        "A broken invariant inside hexalume, such as a container changed while it was read.",
        PyExc_BaseException, nullptr);
  }
  return error_class;
}

void raise_internal_error(const char* message) {
  PyObject* error_class = internal_error_class();
  if (error_class == nullptr) return;
  PyErr_SetString(error_class, message);
}

}  // namespace hexalume::python
