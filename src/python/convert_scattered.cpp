#include "python/converter.hpp"

#include <algorithm>
#include <vector>

#include "value/address_order.hpp"
#include "value/stack_limit.hpp"

namespace hexalume::python {

Converter::Scattered Converter::convert_scattered(PyObject* list, Py_ssize_t size, const Node* base,
                                                  Node& out) {
  // Taken before sorting: the sort polls for signals, and a handler may shorten the list.
  std::uint64_t runs = python_code_runs();
  const auto count = static_cast<std::size_t>(size);
  auto address = [&](std::size_t i) {
    return reinterpret_cast<std::uintptr_t>(PyList_GetItem(list, static_cast<Py_ssize_t>(i)));
  };
  if (!value::far_from_address_order(count, address)) return Scattered::InOrder;
  std::vector<value::Placed> placed(count);
  for (std::size_t i = 0; i < count; ++i) placed[i] = {address(i), i};
  value::sort_by_address(placed);
  const Arena::Mark mark = arena_.mark();
  Node* items = arena_.allocate_nodes(count);
  bool identical = base != nullptr && base->size() == count;
  unsigned misses = 0;
  // Items are converted into consecutive nodes and moved to their places at the end: a place
  // written at random between two conversions misses the cache each time.
  std::vector<Node> visited(count);
  // The items are taken from the list a window at a time: their slots lie anywhere in the list's
  // array, and taken one by one each would wait for its cache miss before its conversion starts.
  // Python code may change the list, so a window is taken again after it may have run.
  constexpr std::size_t kWindow = 256;
  PyObject* window[kWindow];
  std::size_t taken_until = 0;
  plain_only_ = true;
  try {
    for (std::size_t step = 0; step < count; ++step) {
      const value::Placed& next = placed[step];
      Node& converted = visited[step];
      // Only a signal handler can run Python code here. One that changed the list's length
      // sends it back to be read in order, which follows such changes.
      if (runs != python_code_runs()) [[unlikely]] {
        runs = python_code_runs();
        if (PyList_Size(list) != size) return abandon_scattered();
        taken_until = step;
      }
      if (step == taken_until) {
        taken_until = std::min(count, step + kWindow);
        for (std::size_t ahead = step; ahead < taken_until; ++ahead) {
          window[ahead % kWindow] =
              PyList_GetItem(list, static_cast<Py_ssize_t>(placed[ahead].index));
        }
      }
      PyObject* item = window[step % kWindow];
      const Node* counterpart =
          base != nullptr && next.index < base->size() ? &base->items[next.index] : nullptr;
      if (counterpart == nullptr) {
        identical = false;
        if (!convert(item, converted)) return failed_scattered();
        continue;
      }
      if (!convert_against(item, *counterpart, converted)) return failed_scattered();
      const bool same = value::same_node(converted, *counterpart);
      identical = identical && same;
      // Only identical items count here: items of a reordered list share common short texts
      // with base's items at their index, which never pays for comparing each with them.
      misses = same ? 0 : misses + 1;
      if (misses >= kMaxMisses) base = nullptr;
    }
  } catch (const value::StackExhausted&) {
    // Read in order, the same nesting fails where it should, after any earlier item's error.
    return abandon_scattered();
  } catch (...) {
    plain_only_ = false;
    throw;
  }
  plain_only_ = false;
  for (std::size_t step = 0; step < count; ++step) items[placed[step].index] = visited[step];
  if (identical) {
    give_back(mark);
    out = *base;
    ++shared_;
  } else {
    out = value::make_list(items, count);
  }
  return Scattered::Converted;
}

Converter::Scattered Converter::abandon_scattered() {
  plain_only_ = false;
  may_give_back_ = false;
  return Scattered::InOrder;
}

Converter::Scattered Converter::failed_scattered() {
  if (in_order_wanted_) {
    in_order_wanted_ = false;
    return abandon_scattered();
  }
  plain_only_ = false;
  return Scattered::Failed;
}

}  // namespace hexalume::python
