// The elimination graph of a molecule: one bit row of neighbours per atom
// (parallel bonds once), with the degrees kept beside it.  Eliminating an atom
// joins its neighbours to one another.  Rows are reused between molecules.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/molecule.h"

namespace tarnaxel {

class EliminationGraph {
 public:
  void build(const Molecule& molecule) {
    n_ = molecule.atom_count;
    words_ = (n_ + 1) / 64 + 1;
    rows_.assign((n_ + 1) * words_, 0);
    degree_.assign(n_ + 1, 0);
    last_.assign(words_, 0);
    for (uint32_t e = 1; e <= molecule.edge_count; e += 2) {
      set(molecule.edges[e].from, molecule.edges[e].to);
      set(molecule.edges[e].to, molecule.edges[e].from);
    }
    for (size_t a = 1; a <= n_; ++a) degree_[a] = count(row(a));
  }
  size_t atoms() const { return n_; }
  int degree(size_t a) const { return degree_[a]; }
  const std::vector<int>& degrees() const { return degree_; }  // by atom, entry 0 unused
  const uint64_t* row(size_t a) const { return rows_.data() + a * words_; }
  size_t words() const { return words_; }

  // Calls visit(b) for every neighbour b of a, ascending.
  template <typename Visit>
  void for_each(size_t a, Visit visit) const {
    visit_bits(row(a), visit);
  }

  // Removes a, joining its neighbours to one another.
  void eliminate(size_t a) {
    uint64_t* around = rows_.data() + a * words_;
    if (words_ == 1) {  // fewer than 63 atoms: one word per row
      const uint64_t joined = around[0];
      for (uint64_t bits = joined; bits != 0; bits &= bits - 1) {
        const size_t u = static_cast<size_t>(__builtin_ctzll(bits));
        uint64_t& r = rows_[u];
        r = (r | joined) & ~((uint64_t{1} << u) | (uint64_t{1} << a));
        degree_[u] = ones(r);
      }
      last_[0] = joined;
      around[0] = 0;
      degree_[a] = 0;
      return;
    }
    for_each(a, [&](size_t u) {
      uint64_t* r = rows_.data() + u * words_;
      for (size_t w = 0; w < words_; ++w) r[w] |= around[w];
      r[u / 64] &= ~(uint64_t{1} << (u % 64));
      r[a / 64] &= ~(uint64_t{1} << (a % 64));
      degree_[u] = count(r);
    });
    std::copy_n(around, words_, last_.data());
    std::fill(around, around + words_, 0);
    degree_[a] = 0;
  }
  // Calls visit(u) for every neighbour u the last eliminated atom had.
  template <typename Visit>
  void for_each_of_last(Visit visit) const {
    visit_bits(last_.data(), visit);
  }

 private:
  // Calls visit(b) for every bit b set in a row, ascending.
  template <typename Visit>
  void visit_bits(const uint64_t* r, Visit visit) const {
    if (words_ == 1) {
      for (uint64_t bits = r[0]; bits != 0; bits &= bits - 1) visit(static_cast<size_t>(__builtin_ctzll(bits)));
      return;
    }
    for (size_t w = 0; w < words_; ++w)
      for (uint64_t bits = r[w]; bits != 0; bits &= bits - 1)
        visit(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
  }

  void set(int a, int b) {
    rows_[static_cast<size_t>(a) * words_ + static_cast<size_t>(b) / 64] |= uint64_t{1} << (b % 64);
  }
  int count(const uint64_t* r) const {
    if (words_ == 1) return ones(r[0]);
    int total = 0;
    for (size_t w = 0; w < words_; ++w) total += ones(r[w]);
    return total;
  }
  // Set bits of a word, without relying on a population-count instruction.
  static int ones(uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555u);
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((x * 0x0101010101010101u) >> 56);
  }

  size_t n_ = 0;
  size_t words_ = 1;
  std::vector<uint64_t> rows_;
  std::vector<uint64_t> last_;
  std::vector<int> degree_;
};

}  // namespace tarnaxel
