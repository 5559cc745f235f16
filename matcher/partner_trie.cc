#include "matcher/partner_trie.h"

#include <algorithm>

namespace tarnaxel {
namespace {

// Codes of the first level.
constexpr uint32_t kEmpty = 0;     // no item: pairs with nothing
constexpr uint32_t kRootless = 1;  // holds a finished tree's part
constexpr uint32_t kRooted = 2;

}  // namespace

void PartnerTrie::build(const JoinRule& rule, const Table& table) {
  rule_ = &rule;
  // The forgotten atom's level first: it turns most branches away.
  const int forget = rule.forgotten();
  shared_ = rule.shared();
  std::stable_partition(shared_.begin(), shared_.end(), [forget](int atom) { return atom == forget; });
  levels_ = shared_.size() + 1;
  codes_.assign(table.size() * levels_, 0);
  Config c;
  for (size_t j = 0; j < table.size(); ++j) {
    decode(table, table.entries()[j], c);
    code(j, c);
  }
  finish(table.size());
}

void PartnerTrie::code(size_t position, const Config& c) {
  uint32_t* code = codes_.data() + position * levels_;
  code[0] = c.item_count == 0 ? kEmpty : c.rootless ? kRootless : kRooted;
  for (size_t s = 0; s < shared_.size(); ++s) {
    for (int i = 0; i < c.item_count; ++i)
      if (c.items[i].atom == shared_[s]) code[s + 1] = JoinRule::code(c.items[i], shared_[s]);
  }
}

void PartnerTrie::finish(size_t n) {
  order_.resize(n);
  for (size_t j = 0; j < n; ++j) order_[j] = static_cast<uint32_t>(j);
  // Equal codes keep their table order: a leaf lists its positions ascending.
  std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) {
    const uint32_t* x = codes_.data() + size_t{a} * levels_;
    const uint32_t* y = codes_.data() + size_t{b} * levels_;
    for (size_t l = 0; l < levels_; ++l)
      if (x[l] != y[l]) return x[l] < y[l];
    return a < b;
  });
  nodes_.clear();
  nodes_.push_back(Node{0, 0, 0, 0, static_cast<uint32_t>(n)});
  build_children(0, 0);
  marks_.assign((n + 63) / 64, 0);
  // The codes are read only while building: large ones are given back
  // before the join fills its table.
  give_back_if_large(codes_);
}

void PartnerTrie::build_children(uint32_t index, size_t level) {
  if (level == levels_) return;
  const uint32_t begin = nodes_[index].begin;
  const uint32_t end = nodes_[index].end;
  const uint32_t first = static_cast<uint32_t>(nodes_.size());
  for (uint32_t i = begin; i < end;) {
    const uint32_t code = codes_[size_t{order_[i]} * levels_ + level];
    uint32_t j = i + 1;
    while (j < end && codes_[size_t{order_[j]} * levels_ + level] == code) ++j;
    nodes_.push_back(Node{code, 0, 0, i, j});
    i = j;
  }
  const uint32_t count = static_cast<uint32_t>(nodes_.size()) - first;
  nodes_[index].first_child = first;
  nodes_[index].child_count = count;
  for (uint32_t c = first; c < first + count; ++c) build_children(c, level + 1);
}

void PartnerTrie::collect(const Config& o) {
  ranges_.clear();
  sides_.resize(shared_.size());
  rootless_ = o.rootless;
  for (size_t s = 0; s < shared_.size(); ++s) sides_[s] = rule_->side(o, shared_[s]);
  walk(0, 0);
}

void PartnerTrie::walk(uint32_t index, size_t level) {
  const Node& node = nodes_[index];
  if (level == levels_) {
    ranges_.push_back({node.begin, node.end});
    return;
  }
  for (uint32_t c = node.first_child; c < node.first_child + node.child_count; ++c) {
    const uint32_t code = nodes_[c].code;
    const bool allowed =
        level == 0 ? (code == kRooted || (code == kRootless && !rootless_)) : rule_->agrees(sides_[level - 1], code);
    if (allowed) walk(c, level + 1);
  }
}

}  // namespace tarnaxel
