// The partners of a configuration in a join, found through an index of the
// other side's table built from the join rule's per-atom codes: for each
// shared atom, the positions holding each code there as a bit set; for a
// visiting code, the union of the sets of the codes agrees() accepts, worked
// out once per visiting code.  A visitor walks only the positions every
// shared atom accepts, in table order.  What the index passes may still be
// refused by the whole join (JoinRule::join).
#pragma once

#include <cstdint>
#include <vector>

#include "matcher/join_rule.h"

namespace tarnaxel {

class PartnerIndex {
 public:
  // Indexes configs by the shared atoms of the rule's join.
  void build(const JoinRule& rule, const std::vector<Config>& configs);

  // Calls visit(j) for every position j of the indexed configurations that
  // agrees with o at every shared atom, ascending.
  template <typename Visit>
  void for_each_partner(const Config& o, Visit visit) {
    if (o.item_count == 0) return;
    prepare(o);
    const uint64_t* base = words_.data();
    const uint64_t* excluded = base + (o.rootless ? rootless_or_empty_ : empty_);
    for (size_t w = 0; w < words_per_; ++w) {
      uint64_t m = ~excluded[w];
      for (size_t offset : accepted_) m &= base[offset + w];
      while (m != 0) {
        visit(w * 64 + static_cast<size_t>(__builtin_ctzll(m)));
        m &= m - 1;
      }
    }
  }

 private:
  // By shared atom: the positions holding each code there, and for each
  // visiting code met, the positions it agrees with (offsets of bit sets).
  struct SharedAtom {
    int atom;
    std::vector<std::pair<uint32_t, size_t>> held;
    std::vector<std::pair<uint32_t, size_t>> accepted;
  };

  size_t new_set();
  void set(size_t offset, size_t position) { words_[offset + position / 64] |= uint64_t{1} << (position % 64); }
  size_t accepted_by(SharedAtom& a, const Config& o);
  void prepare(const Config& o);

  const JoinRule* rule_ = nullptr;
  std::vector<uint64_t> words_;
  size_t words_per_ = 0;
  size_t empty_ = 0;
  size_t rootless_or_empty_ = 0;
  std::vector<SharedAtom> atoms_;
  std::vector<size_t> accepted_;  // of the visitor being walked, by shared atom
};

}  // namespace tarnaxel
