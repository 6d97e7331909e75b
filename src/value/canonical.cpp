#include "value/canonical.hpp"

#include "value/internal_error.hpp"
#include "value/interrupt.hpp"
#include "value/number_text.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::value {

void append_canonical_string(std::string& out, const Node& node) {
  switch (node.kind) {
    case Kind::Null:
      out.append("null");
      return;
    case Kind::Bool:
      out.append(node.boolean ? "bool:true" : "bool:false");
      return;
    case Kind::Number:
      out.append("num:");
      append_number_text(out, node);
      return;
    case Kind::String:
      out.append("str:");
      out.append(node.string());
      return;
    case Kind::List: {
      check_stack(kInComparison);
      out.append("list:[");
      const std::size_t count = node.size();
      poll_interrupt(count);
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out.push_back(',');
        append_canonical_string(out, node.items[i]);
      }
      out.push_back(']');
      return;
    }
    case Kind::Object: {
      // Members are already in ascending byte order of their keys.
      check_stack(kInComparison);
      out.append("dict:{");
      const std::size_t count = node.size();
      poll_interrupt(count);
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out.push_back(',');
        out.append(node.members[i].key.string());
        out.push_back(':');
        append_canonical_string(out, node.members[i].value);
      }
      out.push_back('}');
      return;
    }
    case Kind::Deferred:
      throw InternalError("an unconverted part of the inputs has no canonical text");
  }
}

std::string canonical_string(const Node& node) {
  std::string out;
  append_canonical_string(out, node);
  return out;
}

}  // namespace hexalume::value
