// The reference matcher: the plainest reading of what the automaton accepts,
// kept beside the engine to judge it.  It shares nothing with matcher/ but
// the Automaton and the molecule graph: its own elimination order (minimum
// degree with the touch-score tie-break and the 20 seeded restarts), one
// leaf bag per bonded pair of atoms with every configuration its directed
// edges give, and every join and forget written out over ordered maps, with
// no pruning, no index, no kinds and no copies.  Slow on purpose; meant for
// molecules of a dozen atoms.  Built only for the tests and the fuzz targets.
#pragma once

#include <vector>

#include "common/molecule.h"
#include "rulefile/automaton.h"

namespace tarnaxel::reference {

struct Options {
  bool span = false;
  bool ind = false;
  bool min = false;
  bool aromatic = false;  // the molecule was read with aromaticity perceived
};

struct Verdict {
  int result = 0;  // 0 rejected, 1 accepted, 2 too wide; kTooLarge: not judged
  int width = 0;
  double score = 0.0;
  std::vector<int> match_edges;  // directed edges, one per used bond, ascending
};

// A table of the reference grew past kMostConfigs configurations: the
// molecule is not judged (the reference stays slow but bounded).
constexpr int kTooLarge = -1;
constexpr size_t kMostConfigs = 20000;

// The elimination order the matcher uses and its width.
int choose_order(const Molecule& molecule, std::vector<int>& order);

Verdict judge(const Automaton& automaton, const Options& options, const Molecule& molecule);

}  // namespace tarnaxel::reference
