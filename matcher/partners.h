// The partners of a configuration in a join.  Two configurations pair only
// when they agree on the atoms both bags hold: the same rule where both
// match the atom, no plain child used twice, the atom the root of one side's
// tree, and not both sides holding a forgotten tree.  When the join forgets
// an atom, the pair must also leave the rule there with every plain child
// met, and not as the root of its tree unless its state is the first (a
// tree rooted there could never get the parent it needs).  Most pairs fail
// there, so one side of the join is indexed by these fields as bit sets over
// its table positions, and a configuration of the other side walks only the
// positions that pass, in table order.
#pragma once

#include <cstdint>
#include <vector>

#include "matcher/table.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

inline uint8_t full_mask(const Rule& rule) { return static_cast<uint8_t>((1u << rule.plain_count) - 1u); }

// Whether a rule at an atom being forgotten can leave with these children
// met and this root: every plain child met, and the tree rooted there only
// when the rule's state is the first.
inline bool can_leave(const Rule& rule, uint8_t used, bool rooted_here) {
  return used == full_mask(rule) && !(rooted_here && rule.state != 1);
}

// The bonds an item still needs at its atom before it can leave: a bond for
// each plain child not yet met, and one to its parent while it is the root
// of its tree and its state is not the first.  Each bond meets one of them.
inline int bonds_still_needed(const Rule& rule, uint8_t used, bool rooted_here) {
  unsigned x = static_cast<unsigned>(full_mask(rule) & ~used);  // bits set: children not met
  x = x - ((x >> 1) & 0x55u);
  x = (x & 0x33u) + ((x >> 2) & 0x33u);
  x = (x + (x >> 4)) & 0x0Fu;
  return static_cast<int>(x) + (rooted_here && rule.state != 1 ? 1 : 0);
}
inline int bonds_still_needed(const Rule& rule, const Item& item) {
  return bonds_still_needed(rule, item.used_children, item.root == item.atom);
}

// A stored configuration unpacked for the pair loop.
struct Config {
  uint8_t item_count = 0;
  bool rootless = false;  // some item has root 0
  int8_t forgotten = -1;  // the item of the atom the join forgets, or -1
  Item items[8];
  const uint8_t* counters = nullptr;
  const Table::Entry* entry = nullptr;
};

// Unpacks a configuration of a table; forget is the atom the join forgets
// (0: none).
void decode(const Table& table, const Table::Entry& e, int forget, Config& c);
// Unpacks every configuration of a table, in table order.
void decode_all(const Table& table, std::vector<Config>& out, int forget);

class PartnerIndex {
 public:
  // Indexes configs by the atoms of shared (ascending); forget, when not 0,
  // is the atom the join forgets, and rules the automaton's rules.
  void build(const std::vector<Config>& configs, const std::vector<int>& shared, int forget, const Rule* rules);

  // Calls visit(j) for every position j of the indexed configurations that
  // can pair with o, ascending.  A position passed may still fail on what
  // the index does not hold (counters, the joined trees).
  template <typename Visit>
  void for_each_partner(const Config& o, Visit visit) {
    if (o.item_count == 0) return;
    prepare(o);
    const uint64_t* base = words_.data();
    const uint64_t* excluded = base + (o.rootless ? rootless_or_empty_ : empty_);
    for (size_t w = 0; w < words_per_; ++w) {
      uint64_t m = ~excluded[w];
      for (const Lane& lane : lanes_) {
        if (m == 0) break;
        uint64_t take = lane.rule == kNone ? 0 : base[lane.rule + w];
        for (int b = 0; b < lane.used_count; ++b) take &= ~base[lane.used[b] + w];
        for (int b = 0; b < lane.needed_count; ++b) take &= base[lane.needed[b] + w];
        if (lane.rooted != kNone) take &= base[lane.rooted + w];
        if (lane.unrooted != kNone) take &= ~base[lane.unrooted + w];
        m &= (lane.absent == kNone ? 0 : base[lane.absent + w]) | take;
      }
      while (m != 0) {
        visit(w * 64 + static_cast<size_t>(__builtin_ctzll(m)));
        m &= m - 1;
      }
    }
  }

 private:
  static constexpr size_t kNone = SIZE_MAX;
  // What one shared atom of the visiting configuration asks of a partner,
  // as offsets of bit sets in words_.
  struct Lane {
    size_t absent;  // partners without the atom, or kNone when none may pair
    size_t rule;    // partners with the same rule at it, or kNone
    size_t used[8];
    int used_count;  // sets of partners using a child the visitor uses
    size_t needed[8];
    int needed_count;  // sets of partners using a child the visitor must have met
    size_t rooted;     // partners rooted at the atom, or kNone when the visitor is
    size_t unrooted;   // partners that must not be rooted at the atom, or kNone
  };
  // Bit sets of one shared atom.
  struct Atom {
    int atom;
    size_t absent;
    size_t rooted;
    size_t used[8];                                 // by plain child
    std::vector<std::pair<uint16_t, size_t>> rules;  // by rule, in order met
    size_t finished;  // at the forgotten atom: partners that can leave it as they are
  };

  size_t new_set();
  void set(size_t offset, size_t position) { words_[offset + position / 64] |= uint64_t{1} << (position % 64); }
  // The lanes of o, one per shared atom it matches, and one for the
  // forgotten atom.
  void prepare(const Config& o);
  Lane lane_of(const Atom& a, const Item& item) const;
  Lane forgotten_lane(const Atom& a, const Item& item) const;

  std::vector<uint64_t> words_;
  size_t words_per_ = 0;
  size_t size_ = 0;
  size_t empty_ = 0;
  size_t rootless_or_empty_ = 0;
  std::vector<Atom> atoms_;
  std::vector<Lane> lanes_;
  int forget_ = 0;
  const Rule* rules_ = nullptr;
};

}  // namespace tarnaxel
