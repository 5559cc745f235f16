#include "molecule/aromaticity.h"

#include <cctype>

namespace tarnaxel {
namespace {

constexpr size_t kLargestRing = 24;
constexpr int kNotAromatic = -1;

using Adjacency = std::vector<std::vector<std::pair<int, int>>>;  // (neighbour, bond) by atom

std::string element_of(const std::string& symbol) {
  std::string e = symbol;
  if (!e.empty()) e[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(e[0])));
  return e;
}

bool one_of(const std::string& e, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (e == name) return true;
  return false;
}

// The pi electrons an atom gives a ring it lies on, or kNotAromatic.
int electrons(const Structure& s, const Adjacency& adj, const std::vector<uint8_t>& ring_bond, int a) {
  const auto& near = adj[static_cast<size_t>(a)];
  if (near.size() > 3) return kNotAromatic;
  const std::string e = element_of(s.symbol[static_cast<size_t>(a)]);
  const int q = s.charge[static_cast<size_t>(a)];
  int doubles = 0;
  int double_bond = -1;
  int double_to = -1;
  bool written = false;
  for (const auto& [to, bond] : near) {
    const char order = s.order[static_cast<size_t>(bond)];
    if (order == '3') return kNotAromatic;
    if (order == '4') written = true;
    if (order == '2') {
      ++doubles;
      double_bond = bond;
      double_to = to;
    }
  }
  if (written) return one_of(e, {"O", "S", "Se", "Te"}) ? 2 : 1;
  if (doubles > 1) return kNotAromatic;
  if (doubles == 1) {
    if (ring_bond[static_cast<size_t>(double_bond)]) return 1;
    // A double bond leaving the ring: its electrons belong to an O, N or S.
    const std::string partner = element_of(s.symbol[static_cast<size_t>(double_to)]);
    return e == "C" && one_of(partner, {"O", "N", "S"}) ? 0 : kNotAromatic;
  }
  if (e == "C") return q == -1 ? 2 : q == 1 ? 0 : kNotAromatic;
  if (one_of(e, {"N", "P", "As"})) return q == 0 || (q == -1 && near.size() == 2) ? 2 : kNotAromatic;
  if (one_of(e, {"O", "S", "Se", "Te"})) return q == 0 && near.size() == 2 ? 2 : kNotAromatic;
  return kNotAromatic;
}

bool share_a_bond(const Ring& x, const Ring& y) {
  size_t i = 0, j = 0;
  while (i < x.bonds.size() && j < y.bonds.size()) {
    if (x.bonds[i] == y.bonds[j]) return true;
    if (x.bonds[i] < y.bonds[j]) ++i;
    else ++j;
  }
  return false;
}

// Tries the union of the given rings: aromatic when its atoms' electrons
// add up to 4n + 2; then its atoms are, and the bonds of one ring only.
void try_union(const std::vector<const Ring*>& rings, const std::vector<int>& pi, std::vector<int>& seen, int stamp,
               std::vector<int>& count, Aromaticity& out) {
  int total = 0;
  for (const Ring* r : rings)
    for (int a : r->atoms) {
      if (seen[static_cast<size_t>(a)] == stamp) continue;
      seen[static_cast<size_t>(a)] = stamp;
      total += pi[static_cast<size_t>(a)];
    }
  if (total % 4 != 2) return;
  for (const Ring* r : rings) {
    for (int a : r->atoms) out.atom[static_cast<size_t>(a)] = 1;
    for (int b : r->bonds) ++count[static_cast<size_t>(b)];
  }
  for (const Ring* r : rings)
    for (int b : r->bonds) {
      if (count[static_cast<size_t>(b)] == 1) out.bond[static_cast<size_t>(b)] = 1;
    }
  for (const Ring* r : rings)
    for (int b : r->bonds) count[static_cast<size_t>(b)] = 0;
}

}  // namespace

std::string aromatic_symbol(const std::string& symbol) {
  std::string s = symbol;
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

void perceive_aromaticity(const Structure& s, Aromaticity& out) {
  const size_t n = s.symbol.size();
  out.atom.assign(n, 0);
  out.bond.assign(s.bonds.size(), 0);
  // As written: lowercase atoms, and bonds of type 4 with their atoms.
  for (size_t a = 0; a < n; ++a)
    if (!s.symbol[a].empty() && std::islower(static_cast<unsigned char>(s.symbol[a][0]))) out.atom[a] = 1;
  for (size_t b = 0; b < s.bonds.size(); ++b) {
    if (s.order[b] != '4') continue;
    out.bond[b] = 1;
    out.atom[static_cast<size_t>(s.bonds[b].a)] = out.atom[static_cast<size_t>(s.bonds[b].b)] = 1;
  }
  std::vector<Ring> rings;
  std::vector<uint8_t> ring_bond;
  find_rings(static_cast<int>(n), s.bonds, kLargestRing, rings, ring_bond);
  if (rings.empty()) return;
  Adjacency adj(n);
  for (size_t b = 0; b < s.bonds.size(); ++b) {
    adj[static_cast<size_t>(s.bonds[b].a)].push_back({s.bonds[b].b, static_cast<int>(b)});
    adj[static_cast<size_t>(s.bonds[b].b)].push_back({s.bonds[b].a, static_cast<int>(b)});
  }
  std::vector<int> pi(n, kNotAromatic);
  std::vector<const Ring*> able;  // rings whose every atom can take part
  for (const Ring& r : rings) {
    bool all = true;
    for (int a : r.atoms) {
      int& e = pi[static_cast<size_t>(a)];
      if (e == kNotAromatic) e = electrons(s, adj, ring_bond, a);
      all = all && e != kNotAromatic;
    }
    if (all) able.push_back(&r);
  }
  // Each ring, each two fused rings, each three fused rings.
  std::vector<int> seen(n, -1), count(s.bonds.size(), 0);
  int stamp = 0;
  const size_t k = able.size();
  for (size_t i = 0; i < k; ++i) {
    try_union({able[i]}, pi, seen, stamp++, count, out);
    for (size_t j = i + 1; j < k; ++j) {
      const bool ij = share_a_bond(*able[i], *able[j]);
      if (ij) try_union({able[i], able[j]}, pi, seen, stamp++, count, out);
      for (size_t l = j + 1; l < k; ++l) {
        const bool il = share_a_bond(*able[i], *able[l]);
        const bool jl = share_a_bond(*able[j], *able[l]);
        if ((ij && (il || jl)) || (il && jl)) try_union({able[i], able[j], able[l]}, pi, seen, stamp++, count, out);
      }
    }
  }
}

}  // namespace tarnaxel
