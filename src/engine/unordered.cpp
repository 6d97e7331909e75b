#include "engine/unordered.hpp"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/walk.hpp"
#include "value/number_text.hpp"

namespace hexalume::engine {

namespace {

using value::Kind;
using value::Node;

// The canonical texts of every item of one list, in one buffer.
class ItemTexts {
 public:
  explicit ItemTexts(const Node& list) {
    const std::size_t count = list.size();
    ends_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      append_canonical_string(buffer_, list.items[i]);
      ends_.push_back(buffer_.size());
    }
  }

  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t index) const {
    std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(buffer_).substr(begin, ends_[index] - begin);
  }

 private:
  std::string buffer_;
  std::vector<std::size_t> ends_;
};

struct Counts {
  std::size_t in_old = 0;
  std::size_t in_new = 0;
  std::size_t seen = 0;  // occurrences met so far by the pass that records the surplus
};

using CountMap = std::unordered_map<std::string_view, Counts>;

// Records the items of one side beyond the number of matching items on the other side: the
// earliest occurrences of a text are the matched ones, so the surplus is always the last.
template <typename Record>
void record_surplus(const Node& list, const ItemTexts& texts, CountMap& counts,
                    std::size_t Counts::*matches, std::string& path, Record record) {
  for (auto& entry : counts) entry.second.seen = 0;
  const std::size_t mark = path.size();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    Counts& count = counts.find(texts[i])->second;
    if (count.seen++ < count.*matches) continue;
    append_index_segment(path, i);
    record(path, list.items[i]);
    path.resize(mark);
  }
}

}  // namespace

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
      value::append_number_text(out, node);
      return;
    case Kind::String:
      out.append("str:");
      out.append(node.string());
      return;
    case Kind::List: {
      out.append("list:[");
      const std::size_t count = node.size();
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out.push_back(',');
        append_canonical_string(out, node.items[i]);
      }
      out.push_back(']');
      return;
    }
    case Kind::Object: {
      // Members are already in ascending byte order of their keys.
      out.append("dict:{");
      const std::size_t count = node.size();
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) out.push_back(',');
        out.append(node.members[i].key.string());
        out.push_back(':');
        append_canonical_string(out, node.members[i].value);
      }
      out.push_back('}');
      return;
    }
  }
}

std::string canonical_string(const Node& node) {
  std::string out;
  append_canonical_string(out, node);
  return out;
}

void diff_unordered(const Node& t1, const Node& t2, std::string& path,
                    DiffAccumulator& accumulator) {
  const ItemTexts old_texts(t1);
  const ItemTexts new_texts(t2);
  CountMap counts;
  counts.reserve(old_texts.size() + new_texts.size());
  for (std::size_t i = 0; i < old_texts.size(); ++i) ++counts[old_texts[i]].in_old;
  for (std::size_t i = 0; i < new_texts.size(); ++i) ++counts[new_texts[i]].in_new;

  bool same = old_texts.size() == new_texts.size();
  for (auto it = counts.begin(); same && it != counts.end(); ++it) {
    same = it->second.in_old == it->second.in_new;
  }
  if (same) return;

  record_surplus(
      t1, old_texts, counts, &Counts::in_new, path,
      [&](std::string_view at, const Node& item) { accumulator.record_item_removed(at, item); });
  record_surplus(
      t2, new_texts, counts, &Counts::in_old, path,
      [&](std::string_view at, const Node& item) { accumulator.record_item_added(at, item); });
}

}  // namespace hexalume::engine
