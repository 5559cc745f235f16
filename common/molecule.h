// The molecule graph of one SDF record, as the matcher reads it.
//
// Atoms and directed edges are numbered from 1; entry 0 holds nothing.  Bond k
// of the record is the pair of directed edges 2k-1 (first atom to second) and
// 2k (second to first); the bond of edge e is (e + 1) / 2.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnaxel {

struct Atom {
  int32_t label;     // code in the atom label table, 0 when not listed
  uint8_t aromatic;  // read with aromaticity perceived: the atom is aromatic
  double value;      // added to the score of a match for every matched atom
};

struct Edge {
  int32_t from;
  int32_t to;
  int32_t label;  // code in the bond label table, 0 when not listed
  double weight;  // added to the score of a match for every bond it uses
};

struct Molecule {
  uint32_t atom_count = 0;
  uint32_t edge_count = 0;
  std::vector<Atom> atoms;  // atom_count + 1 entries
  std::vector<Edge> edges;  // edge_count + 1 entries
  bool v3000 = false;       // the counts line says V3000: no atom or bond is read
};

}  // namespace tarnaxel
