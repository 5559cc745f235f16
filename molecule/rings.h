// The rings of a molecule: a minimum cycle basis (the smallest set of
// smallest rings), found from the shortest cycles through each ring atom
// and kept shortest first while independent of those kept before.  Only
// rings of up to a given size are looked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnaxel {

struct RingBond {
  int a;  // atoms from 0
  int b;
};

struct Ring {
  std::vector<int> atoms;  // around the ring
  std::vector<int> bonds;  // bond indices, ascending
};

// The rings of at most max_size atoms of a minimum cycle basis of the graph
// of atom_count atoms and the given bonds, shortest first (ties broken by
// their bonds, so the result depends only on the input).  ring_bond[i]
// tells whether bond i lies on any ring at all.
void find_rings(int atom_count, const std::vector<RingBond>& bonds, size_t max_size, std::vector<Ring>& rings,
                std::vector<uint8_t>& ring_bond);

}  // namespace tarnaxel
