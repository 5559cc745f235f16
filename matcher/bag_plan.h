// Planning a molecule's bags, before any table is made: one leaf per bonded
// pair of atoms, then for each atom of the elimination order the joins of
// every bag that holds it into a new bag, the last join forgetting it, and
// each bag's kind.  Then the bags whose tables are asked for are marked: the
// root's, and below a bag whose table is made rather than copied, the bags
// it joins.  The matcher fills the tables in the order planned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "matcher/adjacency.h"
#include "matcher/bag_kinds.h"
#include "matcher/context.h"

namespace tarnaxel {

// A join that makes a bag: the bag joined, and the atom forgotten (0: none).
struct Join {
  Bag* bag;
  int forget;
};

class BagPlan {
 public:
  BagPlan();
  ~BagPlan();
  BagPlan(const BagPlan&) = delete;
  BagPlan& operator=(const BagPlan&) = delete;

  // Plans the bags of the molecule of context, eliminating its atoms in
  // order over graph (which is used up).
  void plan(const MatchContext& context, EliminationGraph& graph, const std::vector<int>& order);
  // Marks the bags whose tables are asked for; with every_table, no bag is
  // copied.  A copied bag and those below it take the costs kept with its kind.
  void mark_needed(bool every_table);

  // The bags planned, in order; the root (no atom left), or null.
  size_t size() const;
  Bag& at(size_t i) const;
  Bag* root() const;
  const Join& join(size_t j) const;
  // The directed edge of a bond leaf's i-th sorted edge key.
  int edge_at(size_t i) const;
  BagKinds& kinds();
  // A bag and every bag below it: the bag, then each bag it joins in order,
  // each followed by those below it.
  const std::vector<Bag*>& below(Bag& top);

  struct State;  // what the plan keeps from molecule to molecule

 private:
  std::unique_ptr<State> s_;
};

// Removes an atom a join has forgotten from a bag's atoms.
void drop_atom(Bag& bag, int atom);

}  // namespace tarnaxel
