#include "pretty/change_tree.hpp"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "pretty/compact.hpp"
#include "pretty/layout.hpp"
#include "pretty/tree_node.hpp"
#include "value/interrupt.hpp"

namespace hexalume::pretty {

namespace {

constexpr std::string_view kRoot = "root";
// Bytes reserved per record for its change lines in the flat listing, and for all its lines in
// the tree; only first guesses.
constexpr std::size_t kChangeLinesGuess = 48;
constexpr std::size_t kBytesPerEntryGuess = 64;
constexpr std::size_t kMostReserved = std::size_t{64} << 20;

// The flat listing: one header per record, sorted by header bytes (stable).
class FlatListing {
 public:
  FlatListing(const engine::ChangeLog& log, const PrettyOptions& options)
      : records_(gather_records(log)), options_(options) {}

  std::string render() {
    if (records_.empty()) return {};
    listed_.reserve(records_.size());
    for (std::size_t at = 0; at < records_.size(); ++at) write_header(at);
    sort_by_header();
    Lines lines;
    lines.reserve(headers_.size() + listed_.size() * kChangeLinesGuess);
    const Ancestors none;
    for (const Listed& listed : listed_) {
      value::poll_interrupt();
      lines.add(header(listed));
      append_change_lines(lines, 0, none, false, resolve(*records_[listed.change]),
                          options_.no_color);
    }
    return lines.take();
  }

 private:
  struct Listed {
    std::size_t change;
    std::size_t header_from;  // the header is headers_[header_from, header_to)
    std::size_t header_to;
  };

  // The header of a record: "root" for the root, else the compact text of its whole path.
  void write_header(std::size_t at) {
    value::poll_interrupt();
    const std::size_t header_from = headers_.size();
    chain_.clear();
    for (const engine::Position* position = records_[at]->position; position->parent != nullptr;
         position = position->parent) {
      chain_.push_back(position);
    }
    if (chain_.empty()) headers_ += kRoot;
    for (auto level = chain_.rbegin(); level != chain_.rend(); ++level) {
      append_compact_segment(headers_, **level, level == chain_.rbegin());
    }
    listed_.push_back({at, header_from, headers_.size()});
  }

  std::string_view header(const Listed& listed) const {
    return std::string_view(headers_).substr(listed.header_from,
                                             listed.header_to - listed.header_from);
  }

  // A natural merge sort: report sections are sorted by path, so headers mostly come in a few
  // sorted runs, and each merge pass compares every header with about one neighbour. The cost
  // stays proportional to the text printed times the (small) number of passes. Stable.
  void sort_by_header() {
    auto less = [this](const Listed& left, const Listed& right) {
      value::poll_interrupt();
      return header(left) < header(right);
    };
    std::vector<std::size_t> runs{0};
    for (std::size_t at = 1; at < listed_.size(); ++at) {
      if (less(listed_[at], listed_[at - 1])) runs.push_back(at);
    }
    runs.push_back(listed_.size());
    std::vector<Listed> merged(listed_.size());
    while (runs.size() > 2) {
      std::vector<std::size_t> next_runs{0};
      for (std::size_t run = 0; run + 1 < runs.size(); run += 2) {
        const auto from = listed_.begin() + static_cast<std::ptrdiff_t>(runs[run]);
        const auto middle = listed_.begin() + static_cast<std::ptrdiff_t>(runs[run + 1]);
        const std::size_t end_at = run + 2 < runs.size() ? runs[run + 2] : runs[run + 1];
        const auto to = listed_.begin() + static_cast<std::ptrdiff_t>(end_at);
        std::merge(from, middle, middle, to,
                   merged.begin() + static_cast<std::ptrdiff_t>(runs[run]), less);
        next_runs.push_back(end_at);
      }
      listed_.swap(merged);
      runs.swap(next_runs);
    }
  }

  const std::vector<const engine::ChangeRecord*> records_;
  const PrettyOptions& options_;
  std::string headers_;  // every header, one after the other
  std::vector<Listed> listed_;
  std::vector<const engine::Position*> chain_;
};

}  // namespace

std::string render_pretty(const engine::ChangeLog& changes, const PrettyOptions& options,
                          const DeferredItem* deferred) {
  if (options.path_header) return FlatListing(changes, options).render();
  const ChangeTree tree(changes);
  if (tree.empty()) return {};

  RenderContext context{options, tree, deferred, {}, {}, {}};
  Lines lines;
  // Address space only: pages never written cost nothing, and most reports fit in one go.
  lines.reserve(std::min(tree.change_count() * kBytesPerEntryGuess, kMostReserved));
  Ancestors ancestors;
  const PrettyNode& root = tree.root();
  if (root.has_changes()) {
    lines.add(kRoot);
    for (std::size_t change = root.first_change; change != kNone;
         change = tree.next_change(change)) {
      append_change_lines(lines, 0, ancestors, false, resolve(tree.change(change)),
                          options.no_color);
    }
  }
  render_children(0, 0, ancestors, context, lines);
  return lines.take();
}

}  // namespace hexalume::pretty
