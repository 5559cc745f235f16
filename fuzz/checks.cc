#include "fuzz/checks.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "common/fatal.h"
#include "driver/compile.h"
#include "driver/line_reader.h"
#include "driver/routing.h"
#include "driver/sdf_record.h"
#include "matcher/matcher.h"
#include "rulefile/loader.h"
#include "rulefile/tables.h"

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

MatchOptions options_of(unsigned bits) {
  MatchOptions options;
  options.span = bits & 1u;
  options.ind = (bits >> 1) & 1u;
  options.min = (bits >> 2) & 1u;
  return options;
}

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

// Reads every record of text and matches it under options; a reader
// refusal ends the file as it ends a run.
std::string match_all(const std::string& text, const MatchOptions& options) {
  std::unique_ptr<LineReader> input = LineReader::from_text(text);
  std::string record;
  Molecule molecule;
  std::vector<int> edges;
  int number = 0;
  try {
    while (input->begin_record()) {
      read_record(*input, ++number, molecule, [](int, int) {});
      record.assign(input->record());
      int bonds = static_cast<int>(molecule.edge_count / 2);
      edges.assign(static_cast<size_t>(bonds) + 1, 0);
      int count = 0;
      double score = 0.0;
      int width = 0;
      int result = run_matcher(options, molecule, edges, count, score, width);
      std::string broken = check_result(result, molecule, edges, count, score, width);
      if (!broken.empty()) return "record " + std::to_string(number) + ": " + broken;
      if (result == 1) mark_unmatched_bonds(record, static_cast<int>(molecule.atom_count), bonds, edges, count);
    }
  } catch (const Fatal&) {
  }
  return "";
}

// Matches the fixed molecules under all eight option sets.
std::string match_fixed_molecules() {
  for (unsigned bits = 0; bits < 8; ++bits) {
    std::string broken = match_all(kMolecules, options_of(bits));
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
  try {
    load_rules_from_text(automaton);
  } catch (const Fatal& fatal) {
    // Unpaired ring-bond digits compile to rules naming unknown states,
    // and a long pattern can outgrow the tables: the loader refuses those.
    if (fatal.bytes().empty()) return "empty refusal";
    return "";
  }
  return match_fixed_molecules();
}

std::string check_loader(const uint8_t* data, size_t size) {
  try {
    load_rules_from_text(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const Fatal& fatal) {
    if (fatal.bytes().empty()) return "empty refusal";
    return "";
  }
  return match_fixed_molecules();
}

std::string check_records(const uint8_t* data, size_t size) {
  if (size == 0) return "";
  // The automata are compiled once; each input reloads the one it uses.
  static const std::vector<std::string> automata = [] {
    std::vector<std::string> texts;
    for (const char* p : kRecordPatterns) {
      std::string pattern = p;
      texts.push_back(compile_pattern(pattern));
    }
    return texts;
  }();
  load_rules_from_text(automata[data[0] % 3]);
  return match_all(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), options_of(data[0] / 3u));
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

}  // namespace tarnaxel::fuzz
