// Reads one line of a SMILES file into the molecule graph: the SMILES, then
// optional blanks and a title (the rest of the line).  Atoms are numbered in
// the order the SMILES writes them, bonds in the order it writes them (a
// ring bond where its closing digit stands), and coded through the
// automaton's label tables as an SDF record's would be: the symbol as
// written ('c' stays 'c'), a written bond by its type (- 1, = 2, # 3, : 4,
// / and \ 1), an unwritten bond between two atoms written aromatic as type
// 4 when it lies on a ring, else 1.  Hydrogens in brackets are no atoms;
// isotope, chirality, charge and atom class are read, and the charge kept
// for perception only.  Entry point: read_smiles().
#pragma once

#include <memory>
#include <string>
#include <vector>
#include <string_view>

#include "common/molecule.h"
#include "molecule/aromaticity.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

constexpr size_t kLongestSmilesLine = 100000;

// Reads the SMILES of line (its line feed included or not) into molecule;
// atoms written aromatic are marked.  With a perceiver, aromaticity is
// perceived as for an SDF record (written aromaticity kept).  A line that
// cannot be read ends the run: "Error: record N of the SMILES_file cannot
// be read at character K: <what>." on standard error.
void read_smiles(std::string_view line, const Automaton& automaton, int record_number, Molecule& molecule,
                 Perceiver* perceiver = nullptr);

class SmilesParser;

// The same, keeping its working storage from one line to the next.
class SmilesReader {
 public:
  SmilesReader();
  ~SmilesReader();
  void read(std::string_view line, const Automaton& automaton, int record_number, Molecule& molecule,
            Perceiver* perceiver = nullptr);

 private:
  std::unique_ptr<SmilesParser> parser_;
  std::vector<uint8_t> ring_bond_;
  std::vector<char> order_;
};

// The title of a SMILES line: what follows the SMILES and its blanks, line
// end taken off.
std::string_view smiles_title(std::string_view line);

}  // namespace tarnaxel
