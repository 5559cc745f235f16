// What one fuzz input is run through, shared by the libFuzzer targets and the
// test that replays the corpora.
//
// Each check feeds the bytes to one stage of the tool in-process.  A refusal
// (a Fatal) is a normal outcome; a crash, a sanitizer report or a broken
// invariant of the result is a finding.  Every check returns "" when the
// input was handled soundly, or a description of the broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnaxel::fuzz {

// The pattern compiler, as the command line feeds it (text up to the first
// NUL byte); a compiled automaton is loaded and matched against a few fixed
// molecules under every option.
std::string check_compile(const uint8_t* data, size_t size);

// The loader on arbitrary "automaton.txt" content; a loaded automaton is
// matched against the fixed molecules under every option.
std::string check_loader(const uint8_t* data, size_t size);

// Byte 0 picks one of three fixed automata (plain, ring, repeated group) and
// the options (bit 7: aromaticity perceived); the rest is an SDF file whose
// records are read and matched.
std::string check_records(const uint8_t* data, size_t size);

// Byte 0 picks one of three automata, the options and whether aromaticity
// is perceived; the rest is a SMILES file whose lines are read (a refused
// line is a normal outcome) and matched.
std::string check_smiles(const uint8_t* data, size_t size);

// Bytes 0-2: atom count, bond count and match count (signed); then one byte
// per matched directed edge; the rest is the record text to mark.
std::string check_marking(const uint8_t* data, size_t size);

// Byte 0 picks the options (and --aromatic); then a pattern ended by a line feed, then a
// molecule of up to 9 atoms (a count, a symbol per atom, bonds as pairs of
// bytes); automata of more than 64 rules are skipped.  The matcher and the reference must agree on the verdict, the
// score and the bonds.
std::string check_reference(const uint8_t* data, size_t size);

}  // namespace tarnaxel::fuzz
