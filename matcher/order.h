// Elimination ordering: the order in which the matcher eliminates the atoms.
// A minimum-degree rule with a tie-break of its own (touch_score); the width
// of an order is the largest minimum degree met.  Entry point: OrderFinder::choose().
#pragma once

#include <cstdint>
#include <vector>

#include "common/molecule.h"
#include "matcher/adjacency.h"

namespace tarnaxel {

// Finds elimination orders on a molecule's graph, keeping its working
// storage from one molecule to the next.
class OrderFinder {
 public:
  // Computes an order of atoms 1..atom_count under the given priorities
  // (1-based, entry 0 unused); returns its width.
  int compute(const EliminationGraph& graph, const std::vector<int32_t>& priority, std::vector<int>& order);
  // The order the matcher uses: neutral priorities first, then, when that
  // width is above 3, 20 restarts with pseudo-random priorities from a fresh
  // MT19937 seeded 1234567; a restart replaces the order only when strictly
  // narrower.  Returns the width.
  int choose(const EliminationGraph& graph, std::vector<int>& order);

 private:
  // By atom: its scan position, touch_score, the index of its key, and
  // whether it was touched since it last lost a neighbour.
  struct State {
    uint32_t position;
    int32_t touch_score;
    uint32_t slot;
    uint32_t touched;
  };
  void start_scan(size_t n, const std::vector<int32_t>& priority);

  EliminationGraph graph_;
  std::vector<int> scan_;
  std::vector<State> state_;
  std::vector<uint64_t> keys_;
  std::vector<int32_t> priority_;
  std::vector<int> trial_;
};

}  // namespace tarnaxel
