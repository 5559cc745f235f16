// The rings of a molecule: a minimum cycle basis (the smallest set of
// smallest rings), found from the shortest cycles through each ring atom
// (Horton's candidates) and kept shortest first while independent of those
// kept before.  Only rings of up to a given size are looked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tarnaxel {

struct RingBond {
  int a;  // atoms from 0
  int b;
};

// A ring as ranges of the finder's pools: its atoms around it, and its
// bonds ascending.
struct Ring {
  uint32_t atoms;  // start in atom_pool
  uint32_t bonds;  // start in bond_pool
  uint32_t size;   // atoms, and as many bonds
};

// Finds rings, keeping its working storage from one molecule to the next.
class RingFinder {
 public:
  // The rings of at most max_size atoms of a minimum cycle basis of the
  // graph, shortest first (ties broken by their bonds, so the result
  // depends only on the input).  ring_bond()[i]: bond i lies on a ring.
  void find(int atom_count, const std::vector<RingBond>& bonds, size_t max_size);

  const std::vector<Ring>& rings() const { return rings_; }
  const std::vector<uint8_t>& ring_bond() const { return ring_bond_; }
  const int* atoms(const Ring& r) const { return atom_pool_.data() + r.atoms; }
  const int* bonds(const Ring& r) const { return bond_pool_.data() + r.bonds; }

 private:
  void mark_ring_bonds();
  void candidates(size_t max_size);
  void keep_independent();

  using Adjacency = std::vector<std::vector<std::pair<int, int>>>;  // (neighbour, bond) by atom
  size_t bond_count_ = 0;
  Adjacency adj_;
  Adjacency ring_adj_;
  std::vector<uint8_t> ring_bond_;
  std::vector<int> order_, low_, parent_, via_, depth_, mark_, queue_, slot_;
  std::vector<Ring> found_;
  std::vector<uint32_t> sorted_;
  std::vector<Ring> rings_;
  std::vector<int> atom_pool_;
  std::vector<int> bond_pool_;
  std::vector<uint64_t> pivots_;
  std::vector<uint8_t> has_pivot_;
  std::vector<uint64_t> row_;
};

}  // namespace tarnaxel
