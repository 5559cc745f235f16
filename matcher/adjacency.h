// Neighbour lists for elimination: one ascending vector of atom numbers per
// atom, kept between molecules so that their storage is reused.
#pragma once

#include <algorithm>
#include <vector>

#include "common/molecule.h"

namespace tarnaxel {

class Adjacency {
 public:
  // The simple graph of the molecule's bonds (parallel bonds once).
  void build(const Molecule& molecule) {
    const size_t n = molecule.atom_count;
    if (lists_.size() < n + 1) lists_.resize(n + 1);
    for (size_t a = 0; a <= n; ++a) lists_[a].clear();
    for (uint32_t e = 1; e <= molecule.edge_count; e += 2) {
      insert(molecule.edges[e].from, molecule.edges[e].to);
      insert(molecule.edges[e].to, molecule.edges[e].from);
    }
  }
  const std::vector<int>& operator[](size_t atom) const { return lists_[atom]; }
  std::vector<int>& operator[](size_t atom) { return lists_[atom]; }

  // Adds b to a's list unless present.
  void insert(int a, int b) {
    std::vector<int>& list = lists_[static_cast<size_t>(a)];
    auto at = std::lower_bound(list.begin(), list.end(), b);
    if (at == list.end() || *at != b) list.insert(at, b);
  }
  // Removes b from a's list when present.
  void erase(int a, int b) {
    std::vector<int>& list = lists_[static_cast<size_t>(a)];
    auto at = std::lower_bound(list.begin(), list.end(), b);
    if (at != list.end() && *at == b) list.erase(at);
  }

 private:
  std::vector<std::vector<int>> lists_;
};

}  // namespace tarnaxel
