#include "python/integers.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace hexalume::python {

namespace {

// Limbs are copied to and from the little-endian bytes of int.to_bytes/int.from_bytes.
static_assert(std::endian::native == std::endian::little);

// The magnitude of an int beyond 64 bits as 32-bit limbs, least significant first, through
// int.to_bytes: the interpreter's byte export is linear in the size and, unlike decimal text,
// not limited. The methods are int's own, called unbound, so a subclass cannot change them.
bool limbs_from_py(PyObject* integer, bool negative, std::vector<std::uint32_t>& limbs) {
  auto* int_type = reinterpret_cast<PyObject*>(&PyLong_Type);
  PyRef magnitude = negative ? PyRef::steal(PyObject_CallMethod(int_type, "__neg__", "O", integer))
                             : PyRef::borrow(integer);
  if (!magnitude) return false;
  PyRef bits = PyRef::steal(PyObject_CallMethod(int_type, "bit_length", "O", magnitude.get()));
  if (!bits) return false;
  const std::size_t bit_count = PyLong_AsSize_t(bits.get());
  if (bit_count == static_cast<std::size_t>(-1) && PyErr_Occurred()) return false;
  const std::size_t byte_count = (bit_count + 31) / 32 * 4;  // whole limbs
  PyRef bytes = PyRef::steal(PyObject_CallMethod(int_type, "to_bytes", "Ons", magnitude.get(),
                                                 static_cast<Py_ssize_t>(byte_count), "little"));
  if (!bytes) return false;
  const char* data = PyBytes_AsString(bytes.get());
  if (data == nullptr) return false;
  limbs.resize(byte_count / 4);
  std::memcpy(limbs.data(), data, byte_count);
  return true;
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
  std::vector<std::uint32_t> limbs;
  if (!limbs_from_py(integer, overflow < 0, limbs)) return false;
  out = value::make_big_integer(arena, overflow < 0, limbs);
  return true;
}

bool BigIntegers::convert(PyObject* integer, value::Arena& arena, value::Node& out) {
  if (!seen_.empty()) {
    const auto found = seen_.find(integer);
    if (found != seen_.end()) {
      out = found->second;
      return true;
    }
  }
  if (!integer_from_py(integer, arena, out)) return false;
  if (out.rep == value::NumberRep::Big) {
    held_.push_back(PyRef::borrow(integer));
    seen_.emplace(integer, out);
  }
  return true;
}

PyRef integer_to_py(const value::Node& integer) {
  switch (integer.rep) {
    case value::NumberRep::Unsigned:
      return PyRef::steal(PyLong_FromUnsignedLongLong(integer.unsigned_int));
    case value::NumberRep::Signed:
      return PyRef::steal(PyLong_FromLongLong(integer.signed_int));
    case value::NumberRep::Big: {
      // Back through int.from_bytes, linear for the same reason as above.
      std::uint32_t buffer[2];
      const value::IntegerParts parts = value::integer_parts(integer, buffer);
      PyRef bytes = PyRef::steal(
          PyBytes_FromStringAndSize(reinterpret_cast<const char*>(parts.magnitude.data()),
                                    static_cast<Py_ssize_t>(parts.magnitude.size_bytes())));
      if (!bytes) return {};
      PyRef magnitude = PyRef::steal(PyObject_CallMethod(
          reinterpret_cast<PyObject*>(&PyLong_Type), "from_bytes", "Os", bytes.get(), "little"));
      if (!magnitude || !parts.negative) return magnitude;
      return PyRef::steal(PyNumber_Negative(magnitude.get()));
    }
    case value::NumberRep::Float:
      break;
  }
  throw value::InternalError("integer node expected");
}

}  // namespace hexalume::python
