#include "python/report_repr.hpp"

#include <charconv>
#include <string>
#include <string_view>

#include "python/convert.hpp"
#include "python/errors.hpp"
#include "value/interrupt.hpp"
#include "value/number_text.hpp"

namespace hexalume::python {

namespace {

using value::Kind;
using value::Node;

constexpr char kWhere[] = " while getting the repr of an object";

// True when the interpreter would print the text between single quotes unchanged: printable
// ASCII without backslash or single quote.
bool plain_text(std::string_view text) {
  for (std::size_t from = 0; from < text.size(); from += kTextSliceBytes) {
    for (char c : text.substr(from, kTextSliceBytes)) {
      if (c < 0x20 || c > 0x7e || c == '\\' || c == '\'') return false;
    }
    value::poll_interrupt(value::kPollInterval);
  }
  return true;
}

class ReprWriter {
 public:
  std::string& text() { return out_; }

  // False means an exception is set.
  bool write(const Node& node) {
    value::poll_interrupt();
    switch (node.kind) {
      case Kind::Null:
        out_ += "None";
        return true;
      case Kind::Bool:
        out_ += node.boolean ? "True" : "False";
        return true;
      case Kind::Number:
        if (node.rep == value::NumberRep::Unsigned) return write_integer(node.unsigned_int);
        if (node.rep == value::NumberRep::Signed) return write_integer(node.signed_int);
        if (node.rep == value::NumberRep::Big) {
          // The digits themselves: the interpreter's own repr refuses ints of more than its
          // digit limit (4300 by default), and a repr must not fail on a valid report.
          value::append_number_text(out_, node);
          return true;
        }
        return write_through_python(node);
      case Kind::String:
        return write_string(node);
      case Kind::List:
      case Kind::Object:
        return write_container(node);
      case Kind::Deferred:
        break;
    }
    return write_through_python(node);
  }

 private:
  template <typename Integer>
  bool write_integer(Integer number) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    out_.append(digits, result.ptr);
    return true;
  }

  bool write_string(const Node& node) {
    const std::string_view text = node.string();
    if (!plain_text(text)) return write_escaped(text);
    out_.push_back('\'');
    for (std::size_t from = 0; from < text.size(); from += kTextSliceBytes) {
      out_ += text.substr(from, kTextSliceBytes);
      value::poll_interrupt(value::kPollInterval);
    }
    out_.push_back('\'');
    return true;
  }

  // The interpreter's own repr of the text, slice by slice. A slice's repr may pick the other
  // quote than the whole text's: its single quotes are then escaped as the whole's would be.
  bool write_escaped(std::string_view text) {
    // The interpreter's choice: double quotes only for a text with single and no double quotes.
    const bool single =
        text.find('\'') == std::string_view::npos || text.find('"') != std::string_view::npos;
    out_.push_back(single ? '\'' : '"');
    for (std::size_t from = 0; from < text.size();) {
      const std::size_t to = utf8_slice_end(text, from);
      PyRef slice = PyRef::steal(
          PyUnicode_FromStringAndSize(text.data() + from, static_cast<Py_ssize_t>(to - from)));
      if (!slice) return false;
      PyRef repr = PyRef::steal(PyObject_Repr(slice.get()));
      if (!repr) return false;
      Py_ssize_t size = 0;
      const char* bytes = PyUnicode_AsUTF8AndSize(repr.get(), &size);
      if (bytes == nullptr) return false;
      const std::string_view inner(bytes + 1, static_cast<std::size_t>(size) - 2);
      if (single && bytes[0] == '"') {
        for (char c : inner) {
          if (c == '\'') out_.push_back('\\');
          out_.push_back(c);
        }
      } else {
        out_ += inner;
      }
      from = to;
      value::poll_interrupt(value::kPollInterval);
    }
    out_.push_back(single ? '\'' : '"');
    return true;
  }

  // The interpreter's own repr of the scalar, for floats.
  bool write_through_python(const Node& node) {
    PyRef object = value_to_py(node);
    if (!object) return false;
    PyRef text = PyRef::steal(PyObject_Repr(object.get()));
    if (!text) return false;
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (bytes == nullptr) return false;
    out_.append(bytes, static_cast<std::size_t>(size));
    return true;
  }

  // One level deeper, under the interpreter's recursion limit like its own repr of containers.
  bool write_container(const Node& node) {
    if (value::stack_exhausted()) {
      raise_depth_exceeded(kWhere);
      return false;
    }
    if (Py_EnterRecursiveCall(kWhere) != 0) return false;
    const bool written = node.kind == Kind::List ? write_items(node) : write_members(node);
    Py_LeaveRecursiveCall();
    return written;
  }

  bool write_items(const Node& list) {
    out_.push_back('[');
    bool first = true;
    for (const Node& item : list.list()) {
      if (!first) out_ += ", ";
      first = false;
      if (!write(item)) return false;
    }
    out_.push_back(']');
    return true;
  }

  bool write_members(const Node& object) {
    out_.push_back('{');
    bool first = true;
    for (const value::Member& member : object.object()) {
      if (!first) out_ += ", ";
      first = false;
      if (!write_string(member.key)) return false;
      out_ += ": ";
      if (!write(member.value)) return false;
    }
    out_.push_back('}');
    return true;
  }

  std::string out_;
};

}  // namespace

PyObject* comparison_repr(const Node& report) {
  ReprWriter writer;
  writer.text() = "Vesperon(";
  if (!writer.write(report)) return nullptr;
  writer.text().push_back(')');
  const std::string& text = writer.text();
  return str_from_utf8(text);
}

}  // namespace hexalume::python
