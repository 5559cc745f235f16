// Reads one SDF record (an MDL V2000 connection table and its data items,
// closed by a "$$$$" line) into the molecule graph, keeping its text byte for
// byte for the output files.  Entry point: read_record().
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/molecule.h"
#include "molecule/aromaticity.h"
#include "molecule/line_reader.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

// Called once the counts line is parsed, with the atom and bond counts.
using CountsReport = std::function<void(int atom_count, int bond_count)>;

// Reads the rest of the record whose first line input.begin_record() has
// just read; input.record() is its whole text afterwards.  Atom and bond
// labels are coded through the automaton's label tables.  A record whose
// connection table cannot be read ends the run with a message naming
// record_number.  With a perceiver, aromaticity is perceived: an aromatic
// atom is coded by its symbol in lowercase and marked, an aromatic bond is
// coded as type 4.
void read_record(LineReader& input, const Automaton& automaton, int record_number, Molecule& molecule,
                 const CountsReport& report, Perceiver* perceiver = nullptr);

// Perceives the aromaticity of perceiver.structure (atoms and bonds as
// molecule holds them) and codes the aromatic atoms by their symbols in
// lowercase and the aromatic bonds as type 4.
void mark_aromatic(const Automaton& automaton, Perceiver& perceiver, Molecule& molecule);

// Value of a fixed-width field converted like atoi: leading blanks, an
// optional sign, digits up to the first non-digit; 0 without digits.
int field_value(std::string_view line, size_t column, size_t width);

// The same for a three-character field, reading the right-aligned number
// that nearly every counts and bond line holds ("  7", " 12", "123") directly.
inline int field3_value(std::string_view line, size_t column) {
  if (column + 3 <= line.size()) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const char a = line[column];
    const char b = line[column + 1];
    const char c = line[column + 2];
    if (digit(c)) {
      if (a == ' ' && b == ' ') return c - '0';
      if (a == ' ' && digit(b)) return (b - '0') * 10 + (c - '0');
      if (digit(a) && digit(b)) return (a - '0') * 100 + (b - '0') * 10 + (c - '0');
    }
  }
  return field_value(line, column, 3);
}

}  // namespace tarnaxel
