#include "engine/patch.hpp"

#include <algorithm>
#include <charconv>
#include <optional>

#include "engine/alignment.hpp"
#include "value/interrupt.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::engine {

namespace {

using value::Kind;
using value::Node;

constexpr char kWhilePatching[] = " while making a patch";

class PatchWriter {
 public:
  explicit PatchWriter(bool with_tests) : with_tests_(with_tests) {}

  std::vector<PatchOp> take() { return std::move(ops_); }

  void diff(const Node& old_node, const Node& new_node) {
    value::check_stack(kWhilePatching);
    value::poll_interrupt();
    if (old_node.kind == Kind::Object && new_node.kind == Kind::Object) {
      diff_objects(old_node, new_node);
    } else if (old_node.kind == Kind::List && new_node.kind == Kind::List) {
      diff_lists(old_node, new_node);
    } else if (!value::equal(old_node, new_node)) {
      test_old(old_node);
      push(PatchOpKind::Replace, &new_node, true);
    }
  }

 private:
  // The path and both sources follow the walk: enter() before a child, leave() after it.
  struct Mark {
    std::size_t path_size;
  };
  Mark enter(PatchStep old_step, PatchStep new_step, std::string_view token) {
    const Mark mark{path_.size()};
    append_pointer_token(path_, token);
    old_steps_.push_back(old_step);
    new_steps_.push_back(new_step);
    return mark;
  }
  Mark enter_index(std::size_t old_index, std::size_t new_index, std::size_t patch_index) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, patch_index).ptr;
    return enter({nullptr, old_index}, {nullptr, new_index},
                 std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }
  void leave(Mark mark) {
    path_.resize(mark.path_size);
    old_steps_.pop_back();
    new_steps_.pop_back();
  }

  void push(PatchOpKind kind, const Node* node, bool from_new) {
    PatchSource source{from_new, from_new ? new_steps_ : old_steps_};
    ops_.push_back({kind, path_, node, std::move(source)});
  }
  void test_old(const Node& old_node) {
    if (with_tests_) push(PatchOpKind::Test, &old_node, false);
  }

  void diff_objects(const Node& old_node, const Node& new_node) {
    const auto old_members = old_node.object();
    const auto new_members = new_node.object();
    std::size_t i = 0;
    std::size_t j = 0;
    // Both member arrays are sorted by key: one merge pass.
    while (i < old_members.size() || j < new_members.size()) {
      const bool take_old =
          j == new_members.size() ||
          (i < old_members.size() && value::text_less(old_members[i].key, new_members[j].key));
      const bool take_new =
          i == old_members.size() ||
          (j < new_members.size() && value::text_less(new_members[j].key, old_members[i].key));
      if (take_old) {
        const Mark mark =
            enter({&old_members[i].key, 0}, {nullptr, 0}, old_members[i].key.string());
        test_old(old_members[i].value);
        push(PatchOpKind::Remove, nullptr, false);
        leave(mark);
        ++i;
      } else if (take_new) {
        const Mark mark =
            enter({nullptr, 0}, {&new_members[j].key, 0}, new_members[j].key.string());
        push(PatchOpKind::Add, &new_members[j].value, true);
        leave(mark);
        ++j;
      } else {
        const Mark mark =
            enter({&old_members[i].key, 0}, {&new_members[j].key, 0}, old_members[i].key.string());
        diff(old_members[i].value, new_members[j].value);
        leave(mark);
        ++i;
        ++j;
      }
    }
  }

  void diff_lists(const Node& old_node, const Node& new_node) {
    const auto old_items = old_node.list();
    const auto new_items = new_node.list();
    std::optional<std::vector<EditRun>> runs =
        align_items(old_items, new_items, alignment_budget(old_items.size(), new_items.size()));
    if (!runs) {
      // Over budget: pair the items by position.
      runs.emplace();
      const std::size_t common = std::min(old_items.size(), new_items.size());
      runs->push_back({EditKind::Remove, common});
      runs->push_back({EditKind::Insert, common});
      if (old_items.size() > common) runs->push_back({EditKind::Remove, old_items.size() - common});
      if (new_items.size() > common) runs->push_back({EditKind::Insert, new_items.size() - common});
    }
    std::size_t old_at = 0;
    std::size_t new_at = 0;
    std::size_t patch_at = 0;
    std::size_t removed = 0;
    std::size_t inserted = 0;
    for (const EditRun& run : *runs) {
      if (run.kind == EditKind::Keep) {
        write_gap(old_items, new_items, old_at, new_at, patch_at, removed, inserted);
        old_at += run.count;
        new_at += run.count;
        patch_at += run.count;
      } else if (run.kind == EditKind::Remove) {
        removed += run.count;
      } else {
        inserted += run.count;
      }
    }
    write_gap(old_items, new_items, old_at, new_at, patch_at, removed, inserted);
  }

  // Writes the operations of one gap between kept items: `removed` old items at old_at and
  // `inserted` new items at new_at, standing at patch_at in the patched list. Removed and
  // inserted items are paired up front and compared; the rest are removed or added.
  void write_gap(std::span<const Node> old_items, std::span<const Node> new_items,
                 std::size_t& old_at, std::size_t& new_at, std::size_t& patch_at,
                 std::size_t& removed, std::size_t& inserted) {
    const std::size_t paired = std::min(removed, inserted);
    for (std::size_t t = 0; t < paired; ++t) {
      const Mark mark = enter_index(old_at + t, new_at + t, patch_at + t);
      diff(old_items[old_at + t], new_items[new_at + t]);
      leave(mark);
    }
    patch_at += paired;
    for (std::size_t t = paired; t < removed; ++t) {
      const Mark mark = enter_index(old_at + t, 0, patch_at);
      test_old(old_items[old_at + t]);
      push(PatchOpKind::Remove, nullptr, false);
      leave(mark);
    }
    for (std::size_t t = paired; t < inserted; ++t) {
      const Mark mark = enter_index(0, new_at + t, patch_at);
      push(PatchOpKind::Add, &new_items[new_at + t], true);
      leave(mark);
      ++patch_at;
    }
    old_at += removed;
    new_at += inserted;
    removed = 0;
    inserted = 0;
  }

  bool with_tests_;
  std::string path_;
  std::vector<PatchStep> old_steps_;
  std::vector<PatchStep> new_steps_;
  std::vector<PatchOp> ops_;
};

}  // namespace

void append_pointer_token(std::string& pointer, std::string_view key) {
  pointer.push_back('/');
  for (const char c : key) {
    if (c == '~') {
      pointer.append("~0");
    } else if (c == '/') {
      pointer.append("~1");
    } else {
      pointer.push_back(c);
    }
  }
}

std::vector<PatchOp> make_patch_ops(const Node& old_root, const Node& new_root, bool with_tests) {
  PatchWriter writer(with_tests);
  writer.diff(old_root, new_root);
  return writer.take();
}

}  // namespace hexalume::engine
