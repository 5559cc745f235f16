// What the matcher's stages share for one molecule.
#pragma once

#include <vector>

#include "common/molecule.h"
#include "matcher/join_rule.h"
#include "matcher/matcher.h"
#include "matcher/partner_trie.h"
#include "matcher/partners.h"
#include "matcher/plan.h"
#include "matcher/table.h"
#include "matcher/viable.h"
#include "rulefile/automaton.h"

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

// Storage the stages reuse from molecule to molecule; owned by a Matcher.
struct JoinScratch {
  std::vector<int> degree;
  uint16_t met[kMaxBagAtoms] = {};  // of the bag a join makes, by its vertex
  JoinRule rule;
  Table spare;
  std::vector<Config> ks;  // the second side of a small join, decoded
  std::vector<Brings> brings;  // by configuration of the second side of a large join
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
};

struct MatchContext {
  MatchContext(const MatchPlan& p, const Molecule& m, JoinScratch& s, size_t limit);

  const MatchPlan& plan;
  const Automaton& automaton;
  const MatchOptions& options;
  const Molecule& molecule;
  JoinScratch& scratch;
  ConfigStore store;
  bool accepted = false;       // some configuration completed with a matched atom
  std::vector<int>& degree;    // distinct neighbours in the molecule, by atom
  const Viability* viable = nullptr;  // the rules that can stand at each atom
  Table& spare;                // the table a join fills, storage kept between joins
};

// Lists the surviving rules of every atom for the edge leaves.
void list_leaf_rules(MatchContext& context);

// Adds the leaf configurations of directed edge u to its leaf bag.
void add_leaf_configs(MatchContext& context, Bag& leaf, int u);

// The best configuration of a root table (the first in key order, replaced
// only by a strictly better score), or null; under "-min" only
// configurations that match some atom count.
const Table::Entry* best_config(const MatchContext& context, const Table& table);

// Joins bag joined into bag into, forgetting atom forget (0: none); joined
// is left empty.
void join_bags(MatchContext& context, Bag& into, Bag& joined, int forget);

}  // namespace tarnaxel
