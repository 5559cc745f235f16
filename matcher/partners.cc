#include "matcher/partners.h"

namespace tarnaxel {

size_t PartnerIndex::new_set() {
  const size_t offset = words_.size();
  words_.resize(offset + words_per_, 0);
  return offset;
}

void PartnerIndex::build(const JoinRule& rule, const std::vector<Config>& configs) {
  rule_ = &rule;
  const size_t size = configs.size();
  words_per_ = (size + 63) / 64;
  words_.clear();
  empty_ = new_set();
  rootless_or_empty_ = new_set();
  const std::vector<int>& shared = rule.shared();
  atoms_.resize(shared.size());
  for (size_t s = 0; s < shared.size(); ++s) {
    atoms_[s].atom = shared[s];
    atoms_[s].held.clear();
    atoms_[s].accepted.clear();
  }
  for (size_t j = 0; j < size; ++j) {
    const Config& c = configs[j];
    if (c.item_count == 0) set(empty_, j);
    if (c.item_count == 0 || c.rootless) set(rootless_or_empty_, j);
    int i = 0;
    for (SharedAtom& a : atoms_) {
      while (i < c.item_count && c.items[i].atom < a.atom) ++i;
      const uint32_t code =
          i < c.item_count && c.items[i].atom == a.atom ? JoinRule::code(c.items[i], a.atom) : JoinRule::kAbsent;
      size_t offset = SIZE_MAX;
      for (const auto& [held, at] : a.held)
        if (held == code) offset = at;
      if (offset == SIZE_MAX) {
        offset = new_set();
        a.held.push_back({code, offset});
      }
      set(offset, j);
    }
  }
  // Positions past the last configuration never pair.
  if (size % 64 != 0) {
    for (size_t offset : {empty_, rootless_or_empty_}) words_[offset + words_per_ - 1] |= ~uint64_t{0} << (size % 64);
  }
}

// The positions that agree with o at shared atom a, worked out the first
// time o's code there is met.
size_t PartnerIndex::accepted_by(SharedAtom& a, const Config& o) {
  const Side side = rule_->side(o, a.atom);
  const uint32_t code = side.present ? JoinRule::code(side.item, a.atom) : JoinRule::kAbsent;
  for (const auto& [visiting, at] : a.accepted)
    if (visiting == code) return at;
  const size_t offset = new_set();
  for (const auto& [held, at] : a.held) {
    if (!rule_->agrees(side, held)) continue;
    for (size_t w = 0; w < words_per_; ++w) words_[offset + w] |= words_[at + w];
  }
  a.accepted.push_back({code, offset});
  return offset;
}

void PartnerIndex::prepare(const Config& o) {
  accepted_.clear();
  for (SharedAtom& a : atoms_) accepted_.push_back(accepted_by(a, o));
}

}  // namespace tarnaxel
