// Elimination ordering: the order in which the matcher eliminates the atoms.
// A minimum-degree rule with a tie-break of its own (touch_score); the width
// of an order is the largest minimum degree met.  Entry point: compute_order().
#pragma once

#include <cstdint>
#include <vector>

#include "common/molecule.h"

namespace tarnaxel {

class EliminationGraph;

// Computes an order of atoms 1..atom_count under the given priorities
// (1-based, entry 0 unused); returns its width.
int compute_order(const Molecule& molecule, const std::vector<int32_t>& priority, std::vector<int>& order);
// The same on the molecule's graph, already built.
int compute_order(const EliminationGraph& graph, const std::vector<int32_t>& priority, std::vector<int>& order);

// The order the matcher uses: neutral priorities first, then, when that
// width is above 3, 20 restarts with pseudo-random priorities from a fresh
// MT19937 seeded 1234567; a restart replaces the order only when strictly
// narrower.  Returns the width.
int choose_order(const Molecule& molecule, std::vector<int>& order);
int choose_order(const EliminationGraph& graph, std::vector<int>& order);

}  // namespace tarnaxel
