#pragma once

// Every exception this module raises with a text of its own. Each text is written once, in
// errors.cpp, and raised by exactly one function here. Each function sets the interpreter's error
// indicator and returns; callers then return their own failure value.

#include "python/boundary.hpp"

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace hexalume::python {

// "__qualname__" of the object's type, or "<failed to extract type name>" if an ordinary error
// prevents reading it. nullopt only when another exception (KeyboardInterrupt, ...) is pending.
std::optional<std::string> type_qualname(PyObject* object);

// Conversion of inputs.
void raise_unsupported_type();      // TypeError "Unsupported Python type for Vesperon"
void raise_unsupported_dict_key();  // TypeError "Unsupported dict key type for Vesperon"
void raise_float_not_finite();      // ValueError "Float value is not finite"

// TypeError "'<qualname of object's type>' object cannot be converted to '<target>'", with target
// "PyBool", "PyString" or "PyType".
void raise_cannot_convert(PyObject* object, const char* target);
// TypeError "object of type '<str(type)>' does not define a '__bool__' conversion".
void raise_no_bool_conversion(PyTypeObject* type);

// Keyword options.
void raise_unsupported_option(std::string_view keyword);  // ValueError "Unsupported option: <kw>"
void raise_integral_out_of_range();  // OverflowError "out of range integral type conversion ..."
void raise_expected_string_list();   // TypeError "Expected a list, tuple, or set of strings"
void raise_expected_type_groups();   // TypeError "Expected a list or tuple of type groups"
void raise_type_group_entry();  // TypeError "Each ignore_type_in_groups entry must be a list ..."
void raise_unsupported_group_type();  // TypeError "Unsupported type in ignore_type_in_groups"

// Argument binding. `function` is the full name, e.g. "Vesperon.__new__()".
// "<function> takes <allowed> positional arguments but <given> was/were given"
void raise_too_many_positional(const char* function, Py_ssize_t allowed, Py_ssize_t given);
// "<function> missing 1 required positional argument: 't2'" and the two-name form joined by
// " and ". `names` holds one or two parameter names.
void raise_missing_arguments(const char* function, const char* const* names, int count);
// "<function> got multiple values for argument '<name>'"
void raise_multiple_values(const char* function, const char* name);
// "<function> got an unexpected keyword argument '<keyword>'"
void raise_unexpected_keyword(const char* function, PyObject* keyword);
// If the pending exception is exactly TypeError, replaces it by TypeError "argument '<keyword>':
// <message of the original>" whose cause is the original's own cause. Other exceptions are left
// as they are.
void prefix_argument_error(const char* keyword);

// Construction. ValueError "Two positions have the same path <path> in <section>: keys containing
// "']" make paths ambiguous".
void raise_path_collision(std::string_view path, std::string_view section);

// RuntimeError for pretty(context=...) when the objects a comparison keeps to show unchanged list
// items no longer hold them as they did.
void raise_inputs_changed();

// RecursionError "maximum recursion depth exceeded<where>" for nesting beyond value::kMaxDepth.
void raise_depth_exceeded(const char* where);

// The module's internal exception class (derived directly from BaseException), created on first
// use and kept for the life of the process. nullptr (with an exception set) only if creation fails.
PyObject* internal_error_class();
// Sets the internal exception with `message` as its single argument.
void raise_internal_error(const char* message);

// Runs the body of a C entry point. value::InternalError becomes the internal exception,
// std::bad_alloc becomes MemoryError, value::StackExhausted becomes RecursionError, and
// value::Cancelled keeps the exception its hook has set; the entry point then returns its failure
// value (nullptr for pointers, -1 for integers). No C++ exception ever reaches the interpreter.
template <typename Body>
auto call_guarded(Body&& body) noexcept -> std::invoke_result_t<Body&> {
  using Result = std::invoke_result_t<Body&>;
  try {
    return body();
  } catch (const value::Cancelled&) {
    if (!PyErr_Occurred()) raise_internal_error("call cancelled without an exception");
  } catch (const value::StackExhausted& error) {
    raise_depth_exceeded(error.where());
  } catch (const value::InternalError& error) {
    raise_internal_error(error.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    // Only a broken invariant can get here (the code below throws nothing else).
    raise_internal_error(error.what());
  }
  if constexpr (std::is_pointer_v<Result>) {
    return nullptr;
  } else {
    return static_cast<Result>(-1);
  }
}

// Module initialisation.
// RuntimeError "An error occurred while initializing class <name>", caused by the pending error.
void raise_class_init_failed(const char* class_name);
// ImportError for a second initialisation from another interpreter in the same process.
void raise_second_initialisation();

}  // namespace hexalume::python
