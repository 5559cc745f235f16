// The join rule: when two configurations pair in a join, when the atom a
// join forgets may leave, and when a configuration is dropped, written once.
//
// What it reads, and nothing else:
//  - for the run (MatchPlan): the rules (state, plain and starred children,
//    child labels), the counted rules and their bounds, the rule index
//    (states held once and their holders, where a tree must hang, whether
//    the first state is ever a child), the options span and ind, and
//    whether configurations are pruned at all;
//  - for the record: each atom's value, its bonds (degree), and, only when
//    the rules say where trees hang, how many bonds apart two atoms are;
//  - for the join: the atoms of the bag it makes, those both sides hold,
//    the atom it forgets, and by atom the bonds not below the new bag.
// A bag's kind is described from these inputs (bag_kinds.h), so two bags of
// one kind make every join alike.
//
// The partner indexes (partners.h, partner_trie.h) are built from the codes
// an item gets at a shared atom and from agrees(); they only leave out pairs
// agree_everywhere() refuses, and join() decides the rest.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "common/molecule.h"
#include "matcher/plan.h"
#include "matcher/table.h"

namespace tarnaxel {

inline uint8_t full_mask(const Rule& rule) { return static_cast<uint8_t>((1u << rule.plain_count) - 1u); }

// The bonds an item still needs at its atom before it can leave: a bond for
// each plain child not yet met, and one to its parent while it is the root
// of its tree and its state is not the first.  Each bond meets one of them.
inline int bonds_still_needed(const Rule& rule, uint8_t used, bool rooted_here) {
  unsigned x = static_cast<unsigned>(full_mask(rule) & ~used) & 0xFFu;  // bits set: children not met
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
  bool rootless = false;  // some item has root 0: it holds a finished tree's part
  Item items[8];
  const uint8_t* counters = nullptr;
  const Table::Entry* entry = nullptr;
};

// Unpacks a configuration of a table, and every configuration in table order.
void decode(const Table& table, const Table::Entry& e, Config& c);
void decode_all(const Table& table, std::vector<Config>& out);

// What a configuration brings to a join as a whole, to refuse at a glance
// pairs the full join would refuse: by shared atom (bit i for the i-th),
// whether it has an item there, and whether that item, left as it is, would
// be short of bonds in the new bag; and the states held once, and their
// holders, that its items carry at the shared atoms and at its own.
struct Brings {
  uint8_t present = 0;
  uint8_t short_alone = 0;
  bool rootless = false;    // an item of a tree whose root is forgotten
  bool root_apart = false;  // at its own atoms, a tree topped by the first state that cannot get a parent
  uint64_t once_own = 0;
  uint64_t once_shared = 0;
  uint64_t holds_own = 0;
  uint64_t holds_shared = 0;
};

// What a visiting configuration brings to one shared atom.
struct Side {
  int atom = 0;
  bool present = false;
  Item item;
  int left = INT_MAX;  // the bonds the joined item there may still need
};

class JoinRule {
 public:
  // An item's code at a shared atom: its rule, children met and whether it
  // is the root of its tree there; kAbsent for no item.
  static constexpr uint32_t kAbsent = 0;
  static uint32_t code(const Item& item, int atom) {
    return 1u + ((static_cast<uint32_t>(item.rule) << 9) | (static_cast<uint32_t>(item.used_children) << 1) |
                 (item.root == atom ? 1u : 0u));
  }

  void start_record(const MatchPlan& plan, const Molecule& molecule, const int* degree);
  // A join of bags with atoms n and k (ascending) into vertices (ascending,
  // met: the bonds below each), forgetting atom forget (0: none).
  void start_join(const std::vector<int>& n, const std::vector<int>& k, const std::vector<int>& vertices,
                  const uint16_t* met, int forget);

  const MatchPlan& plan() const { return *plan_; }
  const std::vector<int>& shared() const { return shared_; }
  int forgotten() const { return forget_; }

  // A configuration's side at a shared atom, and whether a partner with
  // this code there agrees with it: the same rule where both have an item,
  // no plain child met twice, the atom the root of one side's tree, and the
  // item the pair leaves there needing no more bonds than are left (none at
  // the forgotten atom: it must be able to leave).
  Side side(const Config& o, int atom) const;
  bool agrees(const Side& side, uint32_t code) const {
    if (code == kAbsent) return !side.present || bonds_still_needed(rules_[side.item.rule], side.item) <= side.left;
    const uint32_t bits = code - 1;
    const uint16_t rule = static_cast<uint16_t>(bits >> 9);
    const uint8_t used = static_cast<uint8_t>(bits >> 1);
    const bool rooted = (bits & 1u) != 0;
    if (!side.present) return bonds_still_needed(rules_[rule], used, rooted) <= side.left;
    const Item& it = side.item;
    const bool visitor_rooted = it.root == side.atom;
    if (rule != it.rule || (used & it.used_children) != 0 || !(visitor_rooted || rooted)) return false;
    return bonds_still_needed(rules_[rule], static_cast<uint8_t>(used | it.used_children),
                              visitor_rooted && rooted) <= side.left;
  }

  // Whether two configurations may pair: both hold items, not both a
  // finished tree's part, and they agree at every shared atom.  What each
  // brings (brings(), cannot_pair()) refuses at a glance only pairs join()
  // or keeps() would refuse.
  bool agree_everywhere(const Config& o, const Config& c) const;
  Brings brings(const Config& c) const;
  static bool cannot_pair(const Brings& a, const Brings& b) {
    return ((a.short_alone & ~b.present) | (b.short_alone & ~a.present)) != 0 || (a.rootless && b.root_apart) ||
           (b.rootless && a.root_apart) ||
           ((a.once_own & (b.once_own | b.once_shared)) | (b.once_own & a.once_shared)) != 0 ||
           ((a.holds_own & (b.holds_own | b.holds_shared)) | (b.holds_own & a.holds_shared)) != 0;
  }

  // Joins a pair into out (its counters into sum): the items of both over
  // the new bag's atoms, counters added up, every tree's root found through
  // the pair's links.  False when the pair can never finish; with
  // look_above, also when a tree cannot hang where it must.
  bool join(const Config& o, const Config& c, bool look_above, ConfigKey& out, uint8_t* sum);

  // Forgets the forgotten atom of key into next (its counters into
  // counters), adding the atom's value to score when matched.  False when
  // the configuration must not go on; sets accepted when a match with a
  // matched atom is completed.
  bool forget(const ConfigKey& key, ConfigKey& next, uint8_t* counters, double& score, bool& accepted) const;

  // Whether a configuration of the new bag is kept: every item can still
  // get the bonds it needs, and with a finished tree's part in it, every
  // tree topped by the first state can still get a parent.
  bool keeps(const ConfigKey& key) const;
  bool fits(const Item& item) const {
    return item.rule == 0 || bonds_still_needed(rules_[item.rule], item) <= left_[item.atom];
  }

  // Atoms x and y this many bonds apart, or 255 for that many or more, or
  // no path; each row worked out the first time it is asked.
  uint8_t bonds_between(size_t a, size_t b);

 private:
  bool completes(const ConfigKey& key, int at) const;
  bool roots_resolve(const std::vector<int>& vertices);
  bool tops_can_hang(const ConfigKey& key, uint64_t held, uint64_t holding);
  bool hangs_below(const ConfigKey& key, const Item& top, const uint64_t* by_rule, uint64_t bit, int32_t bonds,
                   int32_t child);
  void list_bonds();

  const MatchPlan* plan_ = nullptr;
  const Rule* rules_ = nullptr;
  const Molecule* molecule_ = nullptr;
  const int* degree_ = nullptr;
  std::vector<int> left_;  // by atom of the new bag: the bonds not below it
  std::vector<int> shared_;
  const std::vector<int>* vertices_ = nullptr;
  int forget_ = 0;
  std::vector<int> link_;  // by atom, while a pair is joined: the root it links to
  // The bonds by atom (bond_start_[a] .. bond_start_[a + 1] in bond_to_)
  // and the rows of distances worked out.
  std::vector<uint32_t> bond_start_;
  std::vector<uint32_t> bond_to_;
  std::vector<uint8_t> distance_;
  std::vector<uint8_t> distance_known_;  // by atom; empty: no bond listed yet
  std::vector<uint32_t> queue_;
};

}  // namespace tarnaxel
