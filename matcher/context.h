// What the matcher's stages share for one molecule.
#pragma once

#include <vector>

#include "common/molecule.h"
#include "matcher/matcher.h"
#include "matcher/table.h"
#include "matcher/viable.h"

namespace tarnaxel {

struct MatchContext {
  MatchContext(const MatchOptions& o, const Molecule& m);

  const MatchOptions& options;
  const Molecule& molecule;
  ConfigStore store;
  bool accepted = false;       // some configuration completed with a matched atom
  std::vector<int>& link;      // root resolution of one pair, by atom
  std::vector<int>& degree;    // distinct neighbours in the molecule, by atom
  const Viability* viable = nullptr;  // the rules that can stand at each atom
  Table& spare;                // the table a merge fills, storage kept between merges
};

// Adds the leaf configurations of directed edge u to its leaf bag.
void add_leaf_configs(MatchContext& context, Bag& leaf, int u);

// The best configuration of a root table (the first in key order, replaced
// only by a strictly better score), or null; under "-min" only
// configurations that match some atom count.
const Table::Entry* best_config(const MatchContext& context, const Table& table);

// Gives back the storage the joins keep between molecules.
void release_join_storage();

// Merges bag k into bag n, forgetting atom f (0: none).  k is consumed.
void merge_bags(MatchContext& context, Bag& n, Bag& k, int f);

}  // namespace tarnaxel
