#include "python/integers.hpp"

#include <cstdint>
#include <string>
#include <string_view>

#include "value/big_unsigned.hpp"

namespace hexalume::python {

namespace {

// 16 hex digits hold any 64-bit value.
constexpr std::size_t kHexDigits64 = 16;

std::uint64_t hex_to_uint64(std::string_view digits) {
  std::uint64_t value = 0;
  for (char c : digits) {
    unsigned digit =
        c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>((c | 0x20) - 'a' + 10);
    value = (value << 4) | digit;
  }
  return value;
}

}  // namespace

bool integer_from_py(PyObject* integer, value::Arena& arena, value::Node& out) {
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(integer, &overflow);
  if (overflow == 0) {
    if (number == -1 && PyErr_Occurred()) return false;
    out = value::make_signed(number);
    return true;
  }
  // Outside the signed 64-bit range. Hexadecimal text is never limited by the interpreter's
  // int/str digit limit (it applies to bases that are not powers of two), and costs linear time.
  PyRef text = PyRef::steal(PyNumber_ToBase(integer, 16));
  if (!text) return false;
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (bytes == nullptr) return false;
  std::string_view digits(bytes, static_cast<std::size_t>(size));
  const bool negative = digits.starts_with('-');
  if (negative) digits.remove_prefix(1);
  if (!digits.starts_with("0x")) throw value::InternalError("hexadecimal text of an int expected");
  digits.remove_prefix(2);
  if (!negative && digits.size() <= kHexDigits64) {
    out = value::make_unsigned(hex_to_uint64(digits));
    return true;
  }
  std::string decimal;
  if (negative) decimal.push_back('-');
  value::BigUnsigned::from_hex(digits).append_decimal(decimal);
  out = value::make_big_integer(arena, decimal);
  return true;
}

PyRef integer_to_py(const value::Node& integer) {
  switch (integer.rep) {
    case value::NumberRep::Unsigned:
      return PyRef::steal(PyLong_FromUnsignedLongLong(integer.unsigned_int));
    case value::NumberRep::Signed:
      return PyRef::steal(PyLong_FromLongLong(integer.signed_int));
    case value::NumberRep::Big: {
      // Back through hexadecimal text, for the same reason as above.
      std::string_view digits = integer.digits();
      std::string hex;
      if (digits.starts_with('-')) {
        hex.push_back('-');
        digits.remove_prefix(1);
      }
      value::BigUnsigned::from_decimal(digits).append_hex(hex);
      return PyRef::steal(PyLong_FromString(hex.c_str(), nullptr, 16));
    }
    case value::NumberRep::Float:
      break;
  }
  throw value::InternalError("integer node expected");
}

}  // namespace hexalume::python
