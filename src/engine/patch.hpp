#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "value/value.hpp"

namespace hexalume::engine {

enum class PatchOpKind : std::uint8_t { Add, Remove, Replace, Test };

// One step from a container to a child: a member's key (a String node) or a list index.
struct PatchStep {
  const value::Node* key;  // nullptr for a list index
  std::size_t index;
};

// Where an operation's value lives: the tree it comes from and the steps from that tree's root.
struct PatchSource {
  bool from_new = true;
  std::vector<PatchStep> steps;
};

// One operation of a patch. `path` is a JSON Pointer into the document as it stands when the
// operation runs (list indices shifted by the operations before it). `value` points into the
// old tree (Test) or the new tree (Add, Replace) and is nullptr for Remove; `source` says where.
struct PatchOp {
  PatchOpKind kind;
  std::string path;
  const value::Node* value;
  PatchSource source;
};

// The operations that turn `old_root` into a tree equal to `new_root`, in the order they must
// be applied: members in key order, lists aligned by align_items (position by position when
// the alignment runs over its budget), an item removed and another inserted at the same place
// compared member by member. With `with_tests`, a Test of the old value comes before every
// Remove and Replace. The ops point into both trees, which must outlive them. Throws
// value::StackExhausted on trees too deep for the thread's stack.
std::vector<PatchOp> make_patch_ops(const value::Node& old_root, const value::Node& new_root,
                                    bool with_tests);

// Appends `key` to `pointer` as one JSON Pointer token: "/" then the key with "~" written "~0"
// and "/" written "~1".
void append_pointer_token(std::string& pointer, std::string_view key);

}  // namespace hexalume::engine
