#include "fuzz/checks.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "common/fatal.h"
#include "driver/compile.h"
#include "molecule/line_reader.h"
#include "driver/routing.h"
#include "molecule/sdf_record.h"
#include "molecule/smiles.h"
#include "matcher/matcher.h"
#include "rulefile/loader.h"
#include "rulefile/automaton.h"
#include "tests/reference/cases.h"

namespace tarnaxel::fuzz {
namespace {

// Ethanol, toluene (Kekulé ring with a substituent) and a bridged ring
// system of width 3, as V2000 records.
constexpr const char* kMolecules =
    "ethanol\n\n\n  3  2  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 O   0  0\n"
    "  1  2  1  0\n  2  3  1  0\nM  END\n$$$$\n"
    "toluene\n\n\n  7  7  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "  1  2  2  0\n  2  3  1  0\n  3  4  2  0\n  4  5  1  0\n  5  6  2  0\n  6  1  1  0\n  6  7  1  0\n"
    "M  END\n$$$$\n"
    "cage\n\n\n  6  9  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 N   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 O   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 S   0  0\n"
    "  1  2  1  0\n  2  3  2  0\n  3  4  1  0\n  4  1  1  0\n  1  5  1  0\n  5  3  1  0\n"
    "  5  6  1  0\n  6  2  1  0\n  6  4  1  0\n"
    "M  END\n$$$$\n";

// The three automata the record check screens with.
constexpr const char* kRecordPatterns[3] = {"CC(=O)O", "C1=CC=CC=C1C", "C{CO|N}*C"};

MatchOptions options_of(unsigned bits) { return match_options(bits & 1u, (bits >> 1) & 1u, (bits >> 2) & 1u); }

// The invariants of one matcher result for a molecule of `bonds` bonds.
std::string check_result(int result, const Molecule& m, const std::vector<int>& edges, int count, double score,
                         int width) {
  if (result < 0 || result > 2) return "result code " + std::to_string(result);
  if (width < 0) return "negative width";
  if (result == 2 && width <= kMaxWidth) return "too wide at width " + std::to_string(width);
  if (result != 1 && count != 0) return "match edges listed for a record not accepted";
  if (!std::isfinite(score)) return "score not finite";
  int bonds = static_cast<int>(m.edge_count / 2);
  if (count < 0 || count > bonds) return "match count " + std::to_string(count);
  for (int i = 0; i < count; ++i) {
    int e = edges[static_cast<size_t>(i)];
    if (e < 1 || e > static_cast<int>(m.edge_count)) return "match edge out of range";
    if (i > 0 && (edges[static_cast<size_t>(i - 1)] + 1) / 2 >= (e + 1) / 2) return "match edges not ascending";
  }
  return "";
}

// Reads every record of text and matches it under options (aromaticity
// perceived with options.aromatic); a reader refusal ends the file as it
// ends a run.
std::string match_all(const Automaton& automaton, const std::string& text, const MatchOptions& options) {
  std::unique_ptr<LineReader> input = LineReader::from_text(text);
  std::string record;
  Molecule molecule;
  Perceiver perceiver;
  Matcher matcher(automaton, default_table_memory_limit());
  int number = 0;
  try {
    while (input->begin_record()) {
      read_record(*input, automaton, ++number, molecule, [](int, int) {}, options.aromatic ? &perceiver : nullptr);
      record.assign(input->record());
      int bonds = static_cast<int>(molecule.edge_count / 2);
      const MatchResult& r = matcher.match(options, molecule);
      const int count = static_cast<int>(r.match_edges.size());
      std::string broken = check_result(r.result, molecule, r.match_edges, count, r.score, r.width);
      if (!broken.empty()) return "record " + std::to_string(number) + ": " + broken;
      if (r.result == 1) mark_unmatched_bonds(record, static_cast<int>(molecule.atom_count), bonds, r.match_edges, count);
    }
  } catch (const Fatal&) {
  }
  return "";
}

// Matches the fixed molecules under all eight option sets.
std::string match_fixed_molecules(const Automaton& automaton) {
  for (unsigned bits = 0; bits < 8; ++bits) {
    std::string broken = match_all(automaton, kMolecules, options_of(bits));
    if (!broken.empty()) return "options " + std::to_string(bits) + ", " + broken;
  }
  return "";
}

}  // namespace

std::string check_compile(const uint8_t* data, size_t size) {
  std::string pattern(reinterpret_cast<const char*>(data), size);
  pattern.resize(std::min(pattern.find('\0'), pattern.size()));
  // The command line refuses these before compiling.
  if (pattern.empty() || pattern.size() > 99) return "";
  std::string automaton;
  try {
    automaton = compile_pattern(pattern);
  } catch (const Fatal& fatal) {
    if (fatal.bytes().empty()) return "empty refusal";
    return "";
  }
  std::unique_ptr<const Automaton> loaded;
  try {
    loaded = load_rules_from_text(automaton);
  } catch (const Fatal& fatal) {
    // Unpaired ring-bond digits compile to rules naming unknown states,
    // and a long pattern can outgrow the tables: the loader refuses those.
    if (fatal.bytes().empty()) return "empty refusal";
    return "";
  }
  return match_fixed_molecules(*loaded);
}

std::string check_loader(const uint8_t* data, size_t size) {
  std::unique_ptr<const Automaton> loaded;
  try {
    loaded = load_rules_from_text(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const Fatal& fatal) {
    if (fatal.bytes().empty()) return "empty refusal";
    return "";
  }
  return match_fixed_molecules(*loaded);
}

std::string check_records(const uint8_t* data, size_t size) {
  if (size == 0) return "";
  // The automata are compiled and loaded once.
  static const std::vector<std::unique_ptr<const Automaton>> automata = [] {
    std::vector<std::unique_ptr<const Automaton>> loaded;
    for (const char* p : kRecordPatterns) {
      std::string pattern = p;
      loaded.push_back(load_rules_from_text(compile_pattern(pattern)));
    }
    return loaded;
  }();
  MatchOptions options = options_of(data[0] / 3u);
  options.aromatic = (data[0] & 0x80u) != 0;
  return match_all(*automata[data[0] % 3], std::string(reinterpret_cast<const char*>(data) + 1, size - 1), options);
}

std::string check_smiles(const uint8_t* data, size_t size) {
  if (size == 0) return "";
  static const std::vector<std::unique_ptr<const Automaton>> automata = [] {
    std::vector<std::unique_ptr<const Automaton>> loaded;
    for (const char* p : {"CC(=O)O", "c1ccccc1C", "C{CO|N}*C"}) {
      std::string pattern = p;
      loaded.push_back(load_rules_from_text(compile_pattern(pattern)));
    }
    return loaded;
  }();
  const Automaton& automaton = *automata[data[0] % 3];
  MatchOptions options = options_of(data[0] / 3u);
  options.aromatic = 1;
  const bool perceive = (data[0] & 0x80u) != 0;
  std::unique_ptr<LineReader> input =
      LineReader::from_text(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  Matcher matcher(automaton, default_table_memory_limit());
  Molecule molecule;
  Perceiver perceiver;
  SmilesReader reader;
  for (int number = 1; input->begin_smiles_record(); ++number) {
    try {
      reader.read(input->record(), automaton, number, molecule, perceive ? &perceiver : nullptr);
    } catch (const Fatal& fatal) {
      if (fatal.bytes().empty()) return "empty refusal";
      continue;
    }
    const MatchResult& r = matcher.match(options, molecule);
    const std::string broken = check_result(r.result, molecule, r.match_edges, static_cast<int>(r.match_edges.size()),
                                            r.score, r.width);
    if (!broken.empty()) return "line " + std::to_string(number) + ": " + broken;
  }
  return "";
}

std::string check_marking(const uint8_t* data, size_t size) {
  if (size < 3) return "";
  int atoms = static_cast<int8_t>(data[0]);
  int bonds = static_cast<int8_t>(data[1]);
  int count = std::clamp<int>(static_cast<int8_t>(data[2]), 0, static_cast<int>(size) - 3);
  std::vector<int> edges(data + 3, data + 3 + count);
  std::sort(edges.begin(), edges.end());
  std::string text(reinterpret_cast<const char*>(data) + 3 + count, size - 3 - static_cast<size_t>(count));
  std::string marked = text;
  mark_unmatched_bonds(marked, atoms, bonds, edges, count);
  if (marked.size() != text.size()) return "marking changed the record length";
  for (size_t i = 0; i < text.size(); ++i)
    if (marked[i] != text[i] && (marked[i] != '8' || text[i] == '\n')) return "marking wrote a byte other than 8";
  return "";
}

std::string check_reference(const uint8_t* data, size_t size) {
  if (size < 2) return "";
  const unsigned bits = reference::kOptionSets[data[0] % 7] | (data[0] % 14 >= 7 ? reference::kAromatic : 0u);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t end = rest.find('\n');
  if (end == std::string_view::npos || end == 0 || end > 99) return "";
  std::string pattern(rest.substr(0, end));
  if (pattern.find('\0') != std::string::npos) return "";
  std::unique_ptr<const Automaton> automaton;
  try {
    automaton = load_rules_from_text(compile_pattern(pattern));
  } catch (const Fatal&) {
    return "";
  }
  // The reference is slow on purpose: large automata are left to the other
  // targets.
  if (automaton->rule_count > 64) return "";
  // The molecule: an atom count, a symbol per atom, then bonds as pairs of
  // bytes (ends, and the type in the high bits of the first).
  const std::string_view m = rest.substr(end + 1);
  if (m.empty()) return "";
  static const char* const kSymbols[] = {"C", "C", "C", "N", "O", "S", "Cl", "c", "n"};
  const size_t atoms = 1 + static_cast<unsigned char>(m[0]) % 9;
  if (m.size() < 1 + atoms) return "";
  std::string compact;
  for (size_t i = 0; i < atoms; ++i) compact += std::string(kSymbols[static_cast<unsigned char>(m[1 + i]) % 9]) + " ";
  compact += ";";
  std::vector<std::pair<size_t, size_t>> seen;
  for (size_t i = 1 + atoms; i + 1 < m.size() && seen.size() < 16; i += 2) {
    const unsigned a = static_cast<unsigned char>(m[i]), b = static_cast<unsigned char>(m[i + 1]);
    const size_t x = 1 + (a & 15u) % atoms, y = 1 + b % atoms;
    // A pair bonded twice only when bit 5 asks for it: the reader takes it.
    const bool again =
        std::find(seen.begin(), seen.end(), std::make_pair(std::min(x, y), std::max(x, y))) != seen.end();
    if (x == y || (again && (a & 32u) == 0)) continue;
    seen.push_back({std::min(x, y), std::max(x, y)});
    compact.push_back(' ');
    compact.append(std::to_string(x)).push_back("-=#:"[a >> 6]);
    compact.append(std::to_string(y));
  }
  const Molecule molecule = reference::molecule_of(*automaton, reference::record_of(compact), bits & reference::kAromatic);
  const std::string differs = reference::compare(*automaton, molecule, bits);
  if (differs.empty() || differs == reference::kNotJudged) return "";
  return "pattern " + pattern + " on " + compact + ":" + differs;
}

}  // namespace tarnaxel::fuzz
