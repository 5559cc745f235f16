// Random patterns and small molecules for judging the matcher against the
// reference, and the comparison itself; shared by the tests and the fuzz
// target.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "common/molecule.h"
#include "matcher/matcher.h"
#include "rulefile/automaton.h"

namespace tarnaxel::reference {

// A pattern of the notation: chains, branches, bonds '-', '=', '#', ':',
// ring closures (some spanning groups, some written with their bond at the
// closing digit), groups of alternatives of different lengths, repeated or
// not, nested, whole rings as alternatives, single atoms.  Most compile;
// the rest are refused by the front end.  With plain, no group at all and
// only symbols a SMILES reader takes the same way.
std::string random_pattern(std::mt19937& rng, bool plain = false);

// A molecule of 1 to max_atoms atoms as an SDF record: chains, rings of 3 to
// 8 atoms, fused, bridged and spiro ring systems, several parts; carbon
// mostly, some N, O, S, Cl and aromatic 'c' and 'n'; bond types 1 to 4
// (with plain, only 1 to 3 and uppercase symbols).
std::string random_molecule(std::mt19937& rng, int max_atoms, bool plain = false);

// A molecule holding one path through the pattern (each group replaced by
// one of its alternatives), sometimes with one atom or bond changed, with
// more atoms hung on and its atoms numbered afresh.
std::string planted_molecule(std::mt19937& rng, const std::string& pattern, int max_atoms);

// A record written shortly: symbols separated by blanks, a ';', then bonds
// like "1-2 2=3 3#4 4:5" ('-' type 1, '=' 2, '#' 3, ':' 4).
std::string record_of(std::string_view compact);

// The seven option sets the command line allows (at most two of -span,
// -ind, -min): bit 0 span, bit 1 ind, bit 2 min; each also with
// --aromatic, bit 3.
constexpr unsigned kOptionSets[7] = {0, 1, 2, 4, 3, 5, 6};
constexpr unsigned kAromatic = 8;
std::string option_names(unsigned bits);

// The molecule of a record, read with aromaticity perceived when asked.
Molecule molecule_of(const Automaton& automaton, const std::string& record, bool aromatic);

// Judges the molecule with the matcher and with the reference under the
// option bits (the molecule read with aromaticity perceived for bit 3); ""
// when they agree on result, width, score and bonds, else what differs.  A
// matcher kept from one call to the next (on the same automaton) also
// judges the tables it copies from kinds met before.
// kNotJudged when the reference's tables grew too large.
inline constexpr const char* kNotJudged = "(not judged: too large for the reference)";
std::string compare(const Automaton& automaton, const Molecule& molecule, unsigned bits);
std::string compare(Matcher& matcher, const Automaton& automaton, const Molecule& molecule, unsigned bits);

}  // namespace tarnaxel::reference
