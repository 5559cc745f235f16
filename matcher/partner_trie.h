// The partners of a configuration in a large join.  The bit sets of
// PartnerIndex make every configuration of one side read a word per 64
// configurations of the other, which dominates once both tables are large.
// Here the other side is sorted into a trie by what the pair conditions read
// (rootedness, then per shared atom absent, or rule, used children and
// whether rooted there), so a configuration walks only the branches it can
// pair with; the configurations at the leaves it reaches are exactly the
// partners PartnerIndex finds, visited in the same ascending order, less
// those whose items at a shared atom would need more bonds than the atom has
// left outside the new bag.
#pragma once

#include <cstdint>
#include <vector>

#include "matcher/partners.h"

namespace tarnaxel {

class PartnerTrie {
 public:
  // Indexes configs by the atoms of shared (ascending); forget, when not 0,
  // is the atom the join forgets; left, when not null, by atom the bonds
  // outside the new bag (the forgotten atom has none).
  void build(const std::vector<Config>& configs, const std::vector<int>& shared, int forget, const Rule* rules,
             const int* left = nullptr);
  // The same over a table's configurations, decoded one at a time.
  void build(const Table& table, const std::vector<int>& shared, int forget, const Rule* rules,
             const int* left = nullptr);

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
  // What o brings to one shared atom.
  struct Side {
    int atom;
    bool present;
    Item item;
    int left;  // bonds outside the new bag: an item there may need no more
  };

  void start(const std::vector<int>& shared, int forget, const Rule* rules, const int* left, size_t size);
  void code(size_t position, const Config& c);
  void finish(size_t size);
  // Builds the children of the node at index (level: the code read next).
  void build_children(uint32_t index, size_t level);
  // The leaves o reaches, as ranges of order_.
  void collect(const Config& o);
  void walk(uint32_t index, size_t level);
  bool allows(const Side& side, uint32_t code) const;

  size_t levels_ = 0;  // rootedness, then one per shared atom
  std::vector<uint32_t> codes_;  // by configuration, levels_ codes
  std::vector<uint32_t> order_;  // configurations sorted by their codes
  std::vector<Node> nodes_;
  std::vector<int> shared_;
  std::vector<Side> sides_;  // of the configuration being walked
  bool rootless_ = false;
  std::vector<std::pair<uint32_t, uint32_t>> ranges_;
  std::vector<uint64_t> marks_;
  int forget_ = 0;
  const Rule* rules_ = nullptr;
  const int* left_ = nullptr;
};

}  // namespace tarnaxel
