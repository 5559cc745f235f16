// Aromaticity perceived on small molecules drawn in Kekule form, one line a
// molecule: its SMILES-like drawing (uppercase atoms, explicit bonds) and
// which atoms (from 0) come out aromatic.
#include "molecule/aromaticity.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tarnaxel {
namespace {

// A drawing without aromatic atoms: atoms (two-letter ones and [X+]/[X-]
// in brackets), bonds - = #, branches, ring digits.
Structure drawn(const std::string& text) {
  Structure s;
  std::vector<int> branch;
  int previous = -1;
  char bond = '1';
  std::map<char, std::pair<int, char>> open;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '(') {
      branch.push_back(previous);
    } else if (c == ')') {
      previous = branch.back();
      branch.pop_back();
    } else if (c == '-' || c == '=' || c == '#' || c == ':') {
      bond = c == '-' ? '1' : c == '=' ? '2' : c == '#' ? '3' : '4';
    } else if (c >= '0' && c <= '9') {
      auto at = open.find(c);
      if (at == open.end()) {
        open[c] = {previous, bond};
      } else {
        s.bonds.push_back({at->second.first, previous});
        s.order.push_back(bond != '1' ? bond : at->second.second);
        open.erase(at);
      }
      bond = '1';
    } else {
      std::string symbol(1, c);
      int charge = 0;
      if (c == '[') {
        const size_t close = text.find(']', i);
        symbol = text.substr(i + 1, close - i - 1);
        if (symbol.back() == '+' || symbol.back() == '-') {
          charge = symbol.back() == '+' ? 1 : -1;
          symbol.pop_back();
        }
        i = close;
      } else if (i + 1 < text.size() && ((c == 'C' && text[i + 1] == 'l') || (c == 'S' && text[i + 1] == 'e'))) {
        symbol += text[++i];
      }
      s.symbol.push_back(symbol);
      s.charge.push_back(charge);
      const int atom = static_cast<int>(s.symbol.size()) - 1;
      if (previous >= 0) {
        s.bonds.push_back({previous, atom});
        s.order.push_back(bond);
      }
      previous = atom;
      bond = '1';
    }
  }
  return s;
}

std::string aromatic_atoms(const std::string& text) {
  Aromaticity found;
  perceive_aromaticity(drawn(text), found);
  std::string out;
  for (size_t a = 0; a < found.atom.size(); ++a)
    if (found.atom[a]) {
      if (!out.empty()) out.push_back(' ');
      out.append(std::to_string(a));
    }
  return out;
}

TEST(Aromaticity, SmallMolecules) {
  const std::pair<const char*, const char*> cases[] = {
      {"C1=CC=CC=C1", "0 1 2 3 4 5"},                      // benzene
      {"C1C=CC=CC=1", "0 1 2 3 4 5"},                      // drawn the other way
      {"C1=CC=C2C=CC=CC2=C1", "0 1 2 3 4 5 6 7 8 9"},      // naphthalene, three Kekule forms
      {"C1=CC2=CC=CC=C2C=C1", "0 1 2 3 4 5 6 7 8 9"},
      {"C1=CC=C2C(=C1)C=CC=C2", "0 1 2 3 4 5 6 7 8 9"},
      {"C1=CC=C2C(=C1)C=CC=N2", "0 1 2 3 4 5 6 7 8 9"},    // quinoline
      {"C1=CC=C2C(=C1)C=CN2", "0 1 2 3 4 5 6 7 8"},        // indole
      {"C1=CNC=C1", "0 1 2 3 4"},                          // pyrrole
      {"C1=COC=C1", "0 1 2 3 4"},                          // furan
      {"C1=CSC=C1", "0 1 2 3 4"},                          // thiophene
      {"C1=C[Se]C=C1", "0 1 2 3 4"},                       // selenophene
      {"O=C1C=CC=CN1", "1 2 3 4 5 6"},                     // 2-pyridone, not its oxygen
      {"C1=CC=C2C=CC=C2C=C1", "0 1 2 3 4 5 6 7 8 9"},      // azulene
      {"C1=CC=CC=CC=C1", ""},                              // cyclooctatetraene
      {"C1=CC=C[CH2]1", ""},                               // cyclopentadiene
      {"C1=CC=C[C-]1", "0 1 2 3 4"},                       // its anion
      {"[C+]1C=CC=CC=C1", "0 1 2 3 4 5 6"},                // tropylium
      {"C1=CC=[N+]C=C1", "0 1 2 3 4 5"},                   // pyridinium
      {"C1=CC=[O+]C=C1", "0 1 2 3 4 5"},                   // pyrylium
      {"C=C1C=CC=C1", ""},                                 // fulvene
      {"O=C1C=CC(=O)C=C1", ""},                            // benzoquinone
      {"C1=CC=C2C(=C1)C1=CC=CC=C21", "0 1 2 3 4 5 6 7 8 9 10 11"},  // biphenylene
      {"C1CC2=CC=CC=C2C1", "2 3 4 5 6 7"},                 // indane: the benzene ring only
      {"C1=CC2=CC=C1CC2", "0 1 2 3 4 5"},                  // a bridged benzene
      {"ClP1(Cl)=NP(Cl)(Cl)=NP(Cl)(Cl)=N1", ""},           // no atom of four neighbours
      {"C1CCCCC1", ""},
  };
  for (const auto& [molecule, atoms] : cases) EXPECT_EQ(aromatic_atoms(molecule), atoms) << molecule;
}

// Aromaticity written in the record stays, whatever the model says.
TEST(Aromaticity, WrittenAromaticityIsKept) {
  EXPECT_EQ(aromatic_atoms("C1:C:C:C:C:C:C:C:1"), "0 1 2 3 4 5 6 7");
  EXPECT_EQ(aromatic_atoms("C:CC"), "0 1");
}

// Azulene's rings are aromatic only together: the bond they share is not.
TEST(Aromaticity, SharedBondOfAUnion) {
  Aromaticity found;
  const Structure s = drawn("C1=CC=C2C=CC=C2C=C1");
  perceive_aromaticity(s, found);
  for (size_t b = 0; b < s.bonds.size(); ++b) {
    const bool shared = (s.bonds[b].a == 3 && s.bonds[b].b == 7) || (s.bonds[b].a == 7 && s.bonds[b].b == 3);
    EXPECT_EQ(found.bond[b] != 0, !shared) << b;
  }
}

}  // namespace
}  // namespace tarnaxel
