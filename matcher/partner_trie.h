// The partners of a configuration in a large join.  The bit sets of
// PartnerIndex make every configuration of one side read a word per 64
// configurations of the other, which dominates once both tables are large.
// Here the other side is sorted into a trie by the join rule's codes (first
// whether it holds a finished tree's part, then its code at each shared atom,
// the forgotten atom first), so a configuration walks only the branches the
// rule's agrees() accepts; the leaves it reaches hold exactly the partners
// PartnerIndex finds, visited in the same ascending order.
#pragma once

#include <cstdint>
#include <vector>

#include "matcher/join_rule.h"

namespace tarnaxel {

class PartnerTrie {
 public:
  // Indexes a table's configurations by the shared atoms of the rule's join.
  void build(const JoinRule& rule, const Table& table);

  // Calls visit(j) for every position j of the indexed configurations that
  // can pair with o, ascending.
  template <typename Visit>
  void for_each_partner(const Config& o, Visit visit) {
    if (o.item_count == 0) return;
    collect(o);
    if (ranges_.size() == 1) {
      for (uint32_t i = ranges_[0].first; i < ranges_[0].second; ++i) visit(order_[i]);
      return;
    }
    // Several leaves: their positions marked, then read back in order.
    size_t low = SIZE_MAX;
    size_t high = 0;
    for (const auto& [begin, end] : ranges_) {
      for (uint32_t i = begin; i < end; ++i) {
        const uint32_t j = order_[i];
        marks_[j / 64] |= uint64_t{1} << (j % 64);
        low = j / 64 < low ? j / 64 : low;
        high = j / 64 > high ? j / 64 : high;
      }
    }
    for (size_t w = low; w <= high && low != SIZE_MAX; ++w) {
      for (uint64_t m = marks_[w]; m != 0; m &= m - 1) visit(w * 64 + static_cast<size_t>(__builtin_ctzll(m)));
      marks_[w] = 0;
    }
  }

 private:
  struct Node {
    uint32_t code;         // of its level: see code_of
    uint32_t first_child;  // children are consecutive nodes
    uint32_t child_count;
    uint32_t begin;  // its configurations in order_
    uint32_t end;
  };
  void code(size_t position, const Config& c);
  void finish(size_t size);
  // Builds the children of the node at index (level: the code read next).
  void build_children(uint32_t index, size_t level);
  // The leaves o reaches, as ranges of order_.
  void collect(const Config& o);
  void walk(uint32_t index, size_t level);

  size_t levels_ = 0;  // rootedness, then one per shared atom
  std::vector<uint32_t> codes_;  // by configuration, levels_ codes
  std::vector<uint32_t> order_;  // configurations sorted by their codes
  std::vector<Node> nodes_;
  std::vector<int> shared_;  // the forgotten atom first
  std::vector<Side> sides_;  // of the configuration being walked
  bool rootless_ = false;
  std::vector<std::pair<uint32_t, uint32_t>> ranges_;
  std::vector<uint64_t> marks_;
  const JoinRule* rule_ = nullptr;
};

}  // namespace tarnaxel
