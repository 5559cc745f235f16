// What the matcher's stages share for one molecule.
#pragma once

#include <vector>

#include "common/molecule.h"
#include "matcher/matcher.h"
#include "matcher/partner_trie.h"
#include "matcher/partners.h"
#include "matcher/table.h"
#include "matcher/viable.h"
#include "rulefile/automaton.h"
#include "rulefile/rule_index.h"

namespace tarnaxel {

// A configuration a join has made, held back to be stored in order.
struct PendingConfig {
  ConfigKey key;
  bool has_counters;  // its counters are in JoinScratch::pending_counters
  BitsRef first;
  BitsRef second;
  double score;
  uint64_t hash;
};

// What a configuration brings to a large join, to refuse at a glance pairs
// the full pairing would refuse: by shared atom (bit i for the i-th), whether
// it has an item there, and whether that item, left as it is, would be short
// of bonds in the new bag; and the states held once, and the holders, that
// its items carry at the shared atoms and at its own.
struct Brings {
  uint8_t present = 0;
  uint8_t short_alone = 0;
  bool rootless = false;       // an item of a tree whose root is forgotten
  bool root_apart = false;     // at its own atoms, a tree topped by the first state that cannot get a parent
  uint64_t once_own = 0;
  uint64_t once_shared = 0;
  uint64_t holds_own = 0;
  uint64_t holds_shared = 0;
};

// Whether a pair is sure to fail: an item short of bonds with no partner
// item to meet them, a state held once (or two holders of one) at two atoms,
// or a second root beside a tree whose root is forgotten.
inline bool refused(const Brings& a, const Brings& b) {
  return ((a.short_alone & ~b.present) | (b.short_alone & ~a.present)) != 0 ||
         (a.rootless && b.root_apart) || (b.rootless && a.root_apart) ||
         ((a.once_own & (b.once_own | b.once_shared)) | (b.once_own & a.once_shared)) != 0 ||
         ((a.holds_own & (b.holds_own | b.holds_shared)) | (b.holds_own & a.holds_shared)) != 0;
}

// Storage the stages reuse from molecule to molecule; owned by a Matcher.
struct JoinScratch {
  std::vector<int> link;
  std::vector<int> degree;
  uint16_t met[kMaxBagAtoms] = {};  // of the bag a join makes, by its vertex
  // By atom of the bag a join makes: the bonds not below it (degree - met);
  // with check_left, a configuration whose items need more is dropped.
  std::vector<int> left;
  bool check_left = false;
  Table spare;
  std::vector<Config> ks;  // the second side of a small join, decoded
  std::vector<Brings> brings;  // by configuration of the second side of a large join
  std::vector<int> shared;
  std::vector<int> vertices;
  PartnerIndex index;
  PartnerTrie trie;
  ConfigKey next;
  std::vector<PendingConfig> pending;  // pending_count held back
  size_t pending_count = 0;
  std::vector<uint8_t> pending_counters;  // counter_count bytes each
  std::vector<int> at_v;  // the rules of a bond's two ends
  std::vector<int> at_w;
  // By atom, ascending: its surviving rules, then of those the ones with
  // enough bonds at the atom (list_start[a], ready_start[a], list_start[a + 1]).
  std::vector<uint16_t> rule_list;
  std::vector<uint32_t> list_start;
  std::vector<uint32_t> ready_start;
  SealScratch seal;
  std::vector<uint64_t> no_once;  // by rule, all 0: nothing dropped for states held twice
  // For the joins that look where a tree can hang (only when the rules say
  // where): the bonds by atom (bond_start[a] .. bond_start[a + 1] in
  // bond_to) and, row by row as asked, the fewest bonds between two atoms
  // (255: that many or more, or no path).
  bool look_above = false;
  std::vector<uint32_t> bond_start;
  std::vector<uint32_t> bond_to;
  std::vector<uint8_t> distance;
  std::vector<uint8_t> distance_known;  // by atom: its row is worked out; empty: nothing listed yet
  std::vector<uint32_t> queue;
};

struct MatchContext {
  MatchContext(const Automaton& a, const MatchOptions& o, const Molecule& m, JoinScratch& s, size_t limit);

  const Automaton& automaton;
  const MatchOptions& options;
  const Molecule& molecule;
  JoinScratch& scratch;
  ConfigStore store;
  bool accepted = false;       // some configuration completed with a matched atom
  std::vector<int>& link;      // root resolution of one pair, by atom
  std::vector<int>& degree;    // distinct neighbours in the molecule, by atom
  const Viability* viable = nullptr;  // the rules that can stand at each atom
  Table& spare;                // the table a merge fills, storage kept between merges
};

// Whether an item of a configuration of the bag being made can still get
// what it needs before it leaves (bonds_still_needed) over the bonds of its
// atom not below that bag (JoinScratch::left).
inline bool item_fits(const MatchContext& context, const Item& item) {
  return item.rule == 0 ||
         bonds_still_needed(context.automaton.rules[item.rule], item) <= context.scratch.left[item.atom];
}
// Whether every item of a configuration fits, and, when it holds a tree whose
// root is forgotten (the root of the match), every tree topped by the first
// state can still get a parent too.  Always true when check_left is off.
inline bool bonds_suffice(const MatchContext& context, const ConfigKey& key) {
  if (!context.scratch.check_left) return true;
  bool rootless = false;
  for (int i = 0; i < key.item_count; ++i) {
    if (!item_fits(context, key.items[i])) return false;
    rootless = rootless || key.items[i].root == 0;
  }
  if (!rootless) return true;
  // The root of the match is in the forgotten tree: a tree topped by the
  // first state here needs a parent too.
  for (int i = 0; i < key.item_count; ++i) {
    const Item& item = key.items[i];
    if (item.rule == 0 || item.root != item.atom || context.automaton.rules[item.rule].state != 1) continue;
    if (!context.automaton.index->first_state_held ||
        bonds_still_needed(context.automaton.rules[item.rule], item) + 1 > context.scratch.left[item.atom])
      return false;
  }
  return true;
}

// Lists the surviving rules of every atom for the edge leaves.
void list_leaf_rules(MatchContext& context);

// Lists the bonds by atom, for the joins that look where a tree can hang.
void list_bonds(MatchContext& context);

// Adds the leaf configurations of directed edge u to its leaf bag.
void add_leaf_configs(MatchContext& context, Bag& leaf, int u);

// The best configuration of a root table (the first in key order, replaced
// only by a strictly better score), or null; under "-min" only
// configurations that match some atom count.
const Table::Entry* best_config(const MatchContext& context, const Table& table);

// The atoms of the bag that merges n and k (both ascending) into vertices,
// and by each of them the bonds below it into the scratch's met.
void unite(MatchContext& context, const Bag& n, const Bag& k, std::vector<int>& vertices);

// Merges bag k into bag n, forgetting atom f (0: none).  k is consumed.
void merge_bags(MatchContext& context, Bag& n, Bag& k, int f);

}  // namespace tarnaxel
