// The matcher: decides whether the loaded automaton accepts a molecule and
// which bonds form the best match.  It builds an elimination order of the
// atoms, turns it into a tree decomposition of width at most 7 (one leaf bag
// per bond; eliminating an atom merges every bag that holds it), and runs
// the automaton over the decomposition as a dynamic programme over tables
// of partial matches.  Entry point: run_matcher().
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "common/molecule.h"

namespace tarnaxel {

struct MatchOptions {
  uint8_t span = 0;         // every atom must be matched
  uint8_t ind = 0;          // a bond between two matched atoms must be used
  uint8_t relaxed = 0;      // never set by the command line; not supported
  uint8_t min = 0;          // the smallest score wins
  uint8_t read_order = 0;   // never set by the command line; not supported
  uint8_t write_order = 0;  // never set by the command line; not supported
  uint8_t every_rule = 0;   // never set by the command line: tables from every rule,
                            // none removed beforehand (to check that removal changes nothing)
};

constexpr int kMaxWidth = 7;

// Thrown by run_matcher when the configuration tables of one molecule would
// hold more than the table memory limit: the run ends as if memory were
// exhausted, before the machine starts swapping.
struct TableLimitExceeded : std::bad_alloc {
  const char* what() const noexcept override { return "configuration tables over the memory limit"; }
};

// The bytes the configuration tables of one molecule may hold.  The default
// is half of the machine's physical memory.
void set_table_memory_limit(size_t bytes);
size_t table_memory_limit();

// Returns 0 (rejected), 1 (accepted) or 2 (width above 7).  match_edges
// receives match_count directed-edge numbers, ascending, one per used bond.
int run_matcher(const MatchOptions& options, const Molecule& molecule, std::vector<int>& match_edges,
                int& match_count, double& score, int& width);

}  // namespace tarnaxel
