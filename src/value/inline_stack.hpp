#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

namespace hexalume::value {

// A stack whose first `Kept` entries live inside it, so that the usual shallow use costs no
// heap; a deeper one moves to the heap and stays there. Entries are plain data, written when
// pushed: the kept ones are not made before.
template <typename T, std::size_t Kept>
class InlineStack {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  InlineStack() {}  // the kept entries stay unmade until pushed
  ~InlineStack() {}
  InlineStack(const InlineStack&) = delete;
  InlineStack& operator=(const InlineStack&) = delete;

  std::size_t size() const { return size_; }
  T& operator[](std::size_t at) { return entries_[at]; }
  const T& operator[](std::size_t at) const { return entries_[at]; }
  T& back() { return entries_[size_ - 1]; }
  const T& back() const { return entries_[size_ - 1]; }

  // A new entry on top, with its default fields, or a copy of `entry`.
  T& push() {
    if (size_ == capacity_) [[unlikely]]
      grow();
    return *new (&entries_[size_++]) T();
  }
  T& push(const T& entry) {
    if (size_ == capacity_) [[unlikely]]
      grow();
    return *new (&entries_[size_++]) T(entry);
  }
  void pop() { --size_; }
  // Drops the entries from `size` on (never adds any).
  void shrink_to(std::size_t size) { size_ = size; }

 private:
  void grow() {
    auto larger = std::make_unique<T[]>(capacity_ * 2);
    std::copy(entries_, entries_ + size_, larger.get());
    entries_ = larger.get();
    grown_ = std::move(larger);
    capacity_ *= 2;
  }

  T* entries_ = kept_;
  std::size_t size_ = 0;
  std::size_t capacity_ = Kept;
  std::unique_ptr<T[]> grown_;
  union {
    T kept_[Kept];
  };
};

}  // namespace hexalume::value
