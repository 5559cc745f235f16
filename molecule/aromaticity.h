// Aromaticity perception: which atoms and bonds of a record lie in an
// aromatic ring.  A ring, or a union of up to three fused rings, of at most
// 24 atoms each, is aromatic when every atom can take part and the pi
// electrons they give add up to 4n + 2 (Hueckel):
//
//   1  an atom with a double bond along a ring (C, N, P, O+, S+, B, ...)
//   0  a carbon whose double bond leaves the ring to O, N or S (C=O), or a
//      carbocation with single bonds only
//   2  N, P or As with single bonds only and at most three neighbours
//      (pyrrole), N- with two; O, S, Se or Te with two single bonds; a
//      carbanion with single bonds only
//
// Any other atom (four neighbours, a triple bond, two double bonds, a double
// bond leaving the ring to carbon, boron with single bonds only) keeps its
// rings from being aromatic.  In a union of rings the bonds of one ring only
// are aromatic, not the bonds the rings share (azulene's middle bond).
// Aromaticity written in the record is kept: bonds of type 4 and their
// atoms, and atoms written in lowercase, are aromatic as written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "molecule/rings.h"

namespace tarnaxel {

struct Structure {
  std::vector<std::string> symbol;  // as written ("C", "Cl", "c", "Se")
  std::vector<int> charge;
  std::vector<RingBond> bonds;      // atoms from 0
  std::vector<char> order;          // the bond type character: '1', '2', '3', '4', ...
};

struct Aromaticity {
  std::vector<uint8_t> atom;
  std::vector<uint8_t> bond;
};

// Perceives aromaticity, keeping its working storage from one molecule to
// the next.
class Perceiver {
 public:
  void perceive(const Structure& s, Aromaticity& out);
  // Filled by a reader before perceive(structure, found).
  Structure structure;
  Aromaticity found;

 private:
  bool may_hold_a_ring(const Structure& s);
  int electrons(const Structure& s, int a) const;
  void try_unions(Aromaticity& out);
  void try_union(const Ring* const* rings, size_t count, Aromaticity& out);

  // An atom's bonds, as the model counts them.
  struct AtomBonds {
    int count = 0;
    int doubles = 0;
    int double_bond = -1;  // the last double bond
    bool triple = false;
    bool written = false;  // a bond of type 4
    bool may = false;      // the atom could take part in an aromatic ring
    int element = 0;       // what the model tells apart of its element
    bool ons = false;      // O, N or S: takes the electrons of a double bond to it
  };
  RingFinder finder_;
  std::vector<AtomBonds> bonds_;
  std::vector<int> pi_, seen_, count_, parts_;
  std::vector<const Ring*> able_;
  int stamp_ = 0;
};

void perceive_aromaticity(const Structure& s, Aromaticity& out);

// The symbol an aromatic atom is read with: its first letter in lowercase.
std::string aromatic_symbol(const std::string& symbol);

}  // namespace tarnaxel
