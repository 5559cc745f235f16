#include "molecule/aromaticity.h"

#include <cctype>
#include <cstring>
#include <numeric>

namespace tarnaxel {
namespace {

constexpr size_t kLargestRing = 24;
constexpr int kNotAromatic = -1;

size_t at(int i) { return static_cast<size_t>(i); }

enum Element { kOther, kCarbon, kPnictogen, kChalcogen };  // N P As; O S Se Te

// What the model tells apart: carbon, N/P/As, O/S/Se/Te, and for the
// partner of a double bond leaving a ring, whether it is O, N or S.
Element element_of(const std::string& symbol, bool& takes_electrons) {
  char e[3] = {0, 0, 0};
  for (size_t i = 0; i < symbol.size() && i < 2; ++i) e[i] = symbol[i];
  e[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(e[0])));
  auto is = [&e](const char* name) { return std::strcmp(e, name) == 0; };
  takes_electrons = is("O") || is("N") || is("S");
  if (is("C")) return kCarbon;
  if (is("N") || is("P") || is("As")) return kPnictogen;
  if (is("O") || is("S") || is("Se") || is("Te")) return kChalcogen;
  return kOther;
}

}  // namespace

std::string aromatic_symbol(const std::string& symbol) {
  std::string s = symbol;
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

// Whether some cycle runs through atoms that could all take part: when
// none does, no ring is looked for.  Taking part needs at most three
// neighbours, no triple bond and at most one double bond; then a double
// bond, a charge, or N, P, As, O, S, Se, Te.
bool Perceiver::may_hold_a_ring(const Structure& s) {
  const size_t n = s.symbol.size();
  bonds_.assign(n, AtomBonds{});
  for (size_t b = 0; b < s.bonds.size(); ++b)
    for (int a : {s.bonds[b].a, s.bonds[b].b}) {
      AtomBonds& x = bonds_[at(a)];
      ++x.count;
      const char order = s.order[b];
      x.triple = x.triple || order == '3';
      x.written = x.written || order == '4';
      if (order == '2') ++x.doubles, x.double_bond = static_cast<int>(b);
    }
  parts_.resize(n);
  for (size_t a = 0; a < n; ++a) {
    AtomBonds& x = bonds_[a];
    const Element e = element_of(s.symbol[a], x.ons);
    x.element = e;
    x.may = x.written || (x.count <= 3 && !x.triple && x.doubles <= 1 &&
                          (x.doubles == 1 || s.charge[a] != 0 || e == kPnictogen || e == kChalcogen));
    parts_[a] = static_cast<int>(a);
  }
  // A cycle among such atoms: a bond that joins two atoms already joined.
  auto root = [this](int a) {
    while (parts_[at(a)] != a) a = parts_[at(a)] = parts_[at(parts_[at(a)])];
    return a;
  };
  for (const RingBond& b : s.bonds) {
    if (!bonds_[at(b.a)].may || !bonds_[at(b.b)].may) continue;
    const int x = root(b.a), y = root(b.b);
    if (x == y) return true;
    parts_[at(x)] = y;
  }
  return false;
}

namespace {

}  // namespace

// The pi electrons an atom gives a ring it lies on, or kNotAromatic.
int Perceiver::electrons(const Structure& s, int a) const {
  const AtomBonds& x = bonds_[at(a)];
  if (!x.may) return kNotAromatic;
  const Element e = static_cast<Element>(x.element);
  const int q = s.charge[at(a)];
  const int degree = x.count;
  const int double_bond = x.double_bond;
  const std::vector<uint8_t>& ring_bond = finder_.ring_bond();
  if (x.written) return e == kChalcogen ? 2 : 1;
  if (x.doubles == 1) {
    if (ring_bond[at(double_bond)]) return 1;
    // A double bond leaving the ring: its electrons belong to an O, N or S.
    const RingBond& d = s.bonds[at(double_bond)];
    return e == kCarbon && bonds_[at(d.a == a ? d.b : d.a)].ons ? 0 : kNotAromatic;
  }
  if (e == kCarbon) return q == -1 ? 2 : q == 1 ? 0 : kNotAromatic;
  if (e == kPnictogen) return q == 0 || (q == -1 && degree == 2) ? 2 : kNotAromatic;
  if (e == kChalcogen) return q == 0 && degree == 2 ? 2 : kNotAromatic;
  return kNotAromatic;
}

namespace {

bool share_a_bond(const RingFinder& f, const Ring& x, const Ring& y) {
  const int* a = f.bonds(x);
  const int* b = f.bonds(y);
  size_t i = 0, j = 0;
  while (i < x.size && j < y.size) {
    if (a[i] == b[j]) return true;
    if (a[i] < b[j]) ++i;
    else ++j;
  }
  return false;
}

}  // namespace

void Perceiver::perceive(const Structure& s, Aromaticity& out) {
  const size_t n = s.symbol.size();
  out.atom.assign(n, 0);
  out.bond.assign(s.bonds.size(), 0);
  // As written: lowercase atoms, and bonds of type 4 with their atoms.
  for (size_t a = 0; a < n; ++a)
    if (!s.symbol[a].empty() && std::islower(static_cast<unsigned char>(s.symbol[a][0]))) out.atom[a] = 1;
  for (size_t b = 0; b < s.bonds.size(); ++b) {
    if (s.order[b] != '4') continue;
    out.bond[b] = 1;
    out.atom[at(s.bonds[b].a)] = out.atom[at(s.bonds[b].b)] = 1;
  }
  if (!may_hold_a_ring(s)) return;
  finder_.find(static_cast<int>(n), s.bonds, kLargestRing);
  pi_.assign(n, kNotAromatic - 1);  // not worked out yet
  able_.clear();
  for (const Ring& r : finder_.rings()) {
    bool all = true;
    for (uint32_t i = 0; i < r.size && all; ++i) {
      const int a = finder_.atoms(r)[i];
      int& e = pi_[at(a)];
      if (e == kNotAromatic - 1) e = electrons(s, a);
      all = e != kNotAromatic;
    }
    if (all) able_.push_back(&r);
  }
  seen_.assign(n, -1);
  count_.assign(s.bonds.size(), 0);
  try_unions(out);
}

// Each ring, each two fused rings, each three fused rings.
void Perceiver::try_unions(Aromaticity& out) {
  const size_t k = able_.size();
  for (size_t i = 0; i < k; ++i) {
    const Ring* one[1] = {able_[i]};
    try_union(one, 1, out);
    for (size_t j = i + 1; j < k; ++j) {
      const bool ij = share_a_bond(finder_, *able_[i], *able_[j]);
      const Ring* two[2] = {able_[i], able_[j]};
      if (ij) try_union(two, 2, out);
      for (size_t l = j + 1; l < k; ++l) {
        const bool il = share_a_bond(finder_, *able_[i], *able_[l]);
        const bool jl = share_a_bond(finder_, *able_[j], *able_[l]);
        const Ring* three[3] = {able_[i], able_[j], able_[l]};
        if ((ij && (il || jl)) || (il && jl)) try_union(three, 3, out);
      }
    }
  }
}

// The union of the rings is aromatic when its atoms' electrons add up to
// 4n + 2: then its atoms are, and the bonds of one ring only.
void Perceiver::try_union(const Ring* const* rings, size_t count, Aromaticity& out) {
  const int stamp = stamp_++;
  int total = 0;
  for (size_t r = 0; r < count; ++r)
    for (uint32_t i = 0; i < rings[r]->size; ++i) {
      const int a = finder_.atoms(*rings[r])[i];
      if (seen_[at(a)] == stamp) continue;
      seen_[at(a)] = stamp;
      total += pi_[at(a)];
    }
  if (total % 4 != 2) return;
  for (size_t r = 0; r < count; ++r)
    for (uint32_t i = 0; i < rings[r]->size; ++i) {
      out.atom[at(finder_.atoms(*rings[r])[i])] = 1;
      ++count_[at(finder_.bonds(*rings[r])[i])];
    }
  for (size_t r = 0; r < count; ++r)
    for (uint32_t i = 0; i < rings[r]->size; ++i)
      if (count_[at(finder_.bonds(*rings[r])[i])] == 1) out.bond[at(finder_.bonds(*rings[r])[i])] = 1;
  for (size_t r = 0; r < count; ++r)
    for (uint32_t i = 0; i < rings[r]->size; ++i) count_[at(finder_.bonds(*rings[r])[i])] = 0;
}

void perceive_aromaticity(const Structure& s, Aromaticity& out) {
  Perceiver perceiver;
  perceiver.perceive(s, out);
}

}  // namespace tarnaxel
