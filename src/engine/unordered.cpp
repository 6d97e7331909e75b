#include "engine/unordered.hpp"

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "engine/path.hpp"
#include "value/canonical.hpp"
#include "value/interrupt.hpp"

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
      value::poll_interrupt();
      value::append_canonical_string(buffer_, list.items[i]);
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

// Counts per distinct text of the old list: open addressing with linear probing over a table
// sized once for every old item, so it never grows. Keys are views into the old list's texts;
// texts found only in the new list need no entry, since none of their items can be matched.
class TextCounts {
 public:
  explicit TextCounts(std::size_t max_texts) {
    std::size_t capacity = 8;
    while (capacity < max_texts + max_texts / 2 + 1) capacity *= 2;  // load stays below 2/3
    slots_.resize(capacity);
  }

  Counts& insert(std::string_view text) {
    const std::uint64_t hash = std::hash<std::string_view>{}(text);
    Slot& slot = slots_[probe(text, hash)];
    if (slot.text == nullptr) {
      slot.hash = hash;
      slot.text = text.data();
      slot.length = text.size();
    }
    return slot.counts;
  }

  // nullptr when the old list has no item with this text.
  Counts* find(std::string_view text) {
    Slot& slot = slots_[probe(text, std::hash<std::string_view>{}(text))];
    return slot.text == nullptr ? nullptr : &slot.counts;
  }

  bool counts_match() const {
    for (const Slot& slot : slots_) {
      if (slot.counts.in_old != slot.counts.in_new) return false;
    }
    return true;
  }

  void reset_seen() {
    for (Slot& slot : slots_) slot.counts.seen = 0;
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    const char* text = nullptr;  // nullptr marks a free slot; canonical texts are never empty
    std::size_t length = 0;
    Counts counts;
  };

  // The slot holding `text`, or the free slot where it belongs.
  std::size_t probe(std::string_view text, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = hash & mask;; index = (index + 1) & mask) {
      const Slot& slot = slots_[index];
      if (slot.text == nullptr) return index;
      if (slot.hash == hash && slot.length == text.size() &&
          std::memcmp(slot.text, text.data(), text.size()) == 0) {
        return index;
      }
    }
  }

  std::vector<Slot> slots_;
};

// Calls `visit(index, text)` for each item of `list`, building each text in one reused buffer.
template <typename Visit>
void for_each_text(const Node& list, std::string& scratch, Visit visit) {
  const std::size_t count = list.size();
  for (std::size_t i = 0; i < count; ++i) {
    value::poll_interrupt();
    scratch.clear();
    value::append_canonical_string(scratch, list.items[i]);
    visit(i, std::string_view(scratch));
  }
}

}  // namespace

void diff_unordered(const Node& t1, const Node& t2, std::string& path,
                    DiffAccumulator& accumulator) {
  // The old texts are kept as the keys; the new ones are built into a scratch buffer, counted
  // and dropped, and built once more only in the rare case that the lists differ.
  const ItemTexts old_texts(t1);
  TextCounts counts(old_texts.size());
  for (std::size_t i = 0; i < old_texts.size(); ++i) {
    value::poll_interrupt();
    ++counts.insert(old_texts[i]).in_old;
  }

  std::string scratch;
  bool same = t1.size() == t2.size();
  for_each_text(t2, scratch, [&](std::size_t, std::string_view text) {
    Counts* count = counts.find(text);
    if (count == nullptr) {
      same = false;
    } else {
      ++count->in_new;
    }
  });
  if (same && counts.counts_match()) return;

  // The earliest occurrences of a text are the matched ones, so the surplus of each side is
  // always its last occurrences.
  const std::size_t mark = path.size();
  for (std::size_t i = 0; i < old_texts.size(); ++i) {
    value::poll_interrupt();
    Counts& count = *counts.find(old_texts[i]);
    if (count.seen++ < count.in_new) continue;
    append_index_segment(path, i);
    accumulator.record_item_removed(path, t1.items[i]);
    path.resize(mark);
  }
  counts.reset_seen();
  for_each_text(t2, scratch, [&](std::size_t i, std::string_view text) {
    Counts* count = counts.find(text);
    if (count != nullptr && count->seen++ < count->in_old) return;
    append_index_segment(path, i);
    accumulator.record_item_added(path, t2.items[i]);
    path.resize(mark);
  });
}

}  // namespace hexalume::engine
