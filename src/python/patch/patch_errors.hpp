#pragma once

// Every exception the patch module raises with a text of its own, each text written once in
// patch_errors.cpp. Each function sets the interpreter's error indicator and returns.

#include "python/boundary.hpp"

#include <string_view>

namespace hexalume::python::patch {

// `label` names the document ("old", "new", "doc", "operation 2 (add \"/a\") value"), `pointer`
// the position inside it as a JSON Pointer.

// TypeError "<label>: '<type>' object at "<pointer>" is not JSON (a document holds dict, list,
// tuple, str, int, float, bool and None)".
void raise_not_json_type(std::string_view label, std::string_view pointer, PyObject* object);
// TypeError "<label>: the dict at "<pointer>" has a key of type '<type>'; JSON object keys are
// str".
void raise_not_json_key(std::string_view label, std::string_view pointer, PyObject* key);
// ValueError "<label>: float <nan|inf|-inf> at "<pointer>" is not JSON (NaN and infinities
// have no JSON form)".
void raise_not_finite(std::string_view label, std::string_view pointer, double number);
// ValueError "<label>: the str at "<pointer>" holds a lone surrogate, which is not JSON text",
// or "a key of the dict at ..." when `in_key`.
void raise_lone_surrogate(std::string_view label, std::string_view pointer, bool in_key);
// ValueError "<label>: the dict at "<pointer>" has two keys with the same text".
void raise_duplicate_key(std::string_view label, std::string_view pointer);

}  // namespace hexalume::python::patch
