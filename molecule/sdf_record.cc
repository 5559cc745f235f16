#include "molecule/sdf_record.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/fatal.h"
#include "molecule/aromaticity.h"
#include "rulefile/automaton.h"

namespace tarnaxel {
namespace {

[[noreturn]] void fail_record(int record_number, const std::string& what) {
  throw BadRecord(Stream::err, "Error: record " + std::to_string(record_number) + " of the SDF_file " + what + "\n");
}

bool field_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

[[noreturn]] __attribute__((noinline, cold)) void fail_ends_inside(int record_number, const char* where) {
  fail_record(record_number, std::string("ends inside the ") + where + ".");
}

// A line that the record cannot do without.
inline std::string_view read_required(LineReader& input, int record_number, const char* where) {
  std::string_view line;
  if (!input.line(line)) fail_ends_inside(record_number, where);
  return line;
}

// The atom symbol: the first blank-delimited token at or after column 32.
std::string_view atom_symbol(std::string_view line) {
  size_t pos = 31;
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) ++pos;
  size_t end = pos;
  while (end < line.size() && !field_blank(line[end])) ++end;
  if (pos >= line.size()) return {};
  return line.substr(pos, end - pos);
}

// The charge of an atom block's charge field: 1, 2, 3 for +3, +2, +1 and
// 5, 6, 7 for -1, -2, -3 (4 is a radical).
int charge_of_field(int field) {
  switch (field) {
    case 1: return 3;
    case 2: return 2;
    case 3: return 1;
    case 5: return -1;
    case 6: return -2;
    case 7: return -3;
    default: return 0;
  }
}

// "M  CHG" lines give every charge of the record: the first one met clears
// the atom block's.
void read_charges(std::string_view line, Structure& s, bool& listed) {
  if (!listed) std::fill(s.charge.begin(), s.charge.end(), 0);
  listed = true;
  const int entries = field_value(line, 6, 3);
  for (int i = 0; i < entries && i < 8; ++i) {
    const int atom = field_value(line, 10 + 8 * static_cast<size_t>(i), 3);
    const int charge = field_value(line, 14 + 8 * static_cast<size_t>(i), 3);
    if (atom >= 1 && static_cast<size_t>(atom) <= s.charge.size()) s.charge[static_cast<size_t>(atom - 1)] = charge;
  }
}

}  // namespace

void mark_aromatic(const Automaton& automaton, Perceiver& perceiver, Molecule& molecule) {
  const Structure& s = perceiver.structure;
  Aromaticity& found = perceiver.found;
  perceiver.perceive(s, found);
  for (size_t a = 0; a < found.atom.size(); ++a) {
    if (!found.atom[a]) continue;
    Atom& atom = molecule.atoms[a + 1];
    atom.aromatic = 1;
    atom.label = automaton.find_atom_label(aromatic_symbol(s.symbol[a]));
  }
  const int type4 = automaton.find_bond_label("4");
  for (size_t b = 0; b < found.bond.size(); ++b) {
    if (!found.bond[b]) continue;
    molecule.edges[2 * b + 1].label = molecule.edges[2 * b + 2].label = type4;
  }
}


int field_value(std::string_view line, size_t column, size_t width) {
  size_t end = std::min(line.size(), column + width);
  size_t pos = column;
  while (pos < end && field_blank(line[pos])) ++pos;
  bool negative = false;
  if (pos < end && (line[pos] == '+' || line[pos] == '-')) negative = line[pos++] == '-';
  int value = 0;
  while (pos < end && line[pos] >= '0' && line[pos] <= '9') value = value * 10 + (line[pos++] - '0');
  return negative ? -value : value;
}

void read_record(LineReader& input, const Automaton& automaton, int record_number, Molecule& molecule,
                 const CountsReport& report, Perceiver* perceiver) {
  read_required(input, record_number, "header");
  read_required(input, record_number, "header");
  std::string_view line = read_required(input, record_number, "header");
  int atom_count = field3_value(line, 0);
  int bond_count = field3_value(line, 3);
  if (atom_count < 0 || bond_count < 0)
    fail_record(record_number, "has a negative atom or bond count.");

  // A V3000 counts line gives no atoms; its table follows in "M  V30" lines.
  molecule.v3000 = atom_count == 0 && line.find("V3000") != std::string_view::npos;
  molecule.atom_count = static_cast<uint32_t>(atom_count);
  molecule.edge_count = static_cast<uint32_t>(bond_count) * 2;
  molecule.atoms.assign(molecule.atom_count + 1, Atom{0, 0, 0.0});
  molecule.edges.assign(molecule.edge_count + 1, Edge{0, 0, 0, 0.0});
  report(atom_count, bond_count);

  Structure* structure = perceiver != nullptr ? &perceiver->structure : nullptr;
  if (structure != nullptr) {
    structure->symbol.resize(static_cast<size_t>(atom_count));
    structure->charge.assign(static_cast<size_t>(atom_count), 0);
    structure->bonds.clear();
    structure->order.clear();
  }
  for (int i = 1; i <= atom_count; ++i) {
    line = read_required(input, record_number, "atom block");
    molecule.atoms[i] = Atom{automaton.find_atom_label(atom_symbol(line)), 0, 0.0};
    if (structure == nullptr) continue;
    structure->symbol[static_cast<size_t>(i - 1)] = atom_symbol(line);
    structure->charge[static_cast<size_t>(i - 1)] = charge_of_field(field_value(line, 36, 3));
  }
  for (int k = 1; k <= bond_count; ++k) {
    line = read_required(input, record_number, "bond block");
    int first = field3_value(line, 0);
    int second = field3_value(line, 3);
    if (first < 1 || first > atom_count || second < 1 || second > atom_count)
      fail_record(record_number, "has bond " + std::to_string(k) + " naming an atom outside 1.." +
                                     std::to_string(atom_count) + ".");
    if (first == second)
      fail_record(record_number, "has bond " + std::to_string(k) + " joining atom " + std::to_string(first) +
                                     " to itself.");
    // Column 9 is the bond type; a shorter line has none.
    std::string_view type = line.size() > 8 && line[8] != '\n' ? line.substr(8, 1) : "";
    int code = automaton.find_bond_label(type);
    molecule.edges[2 * k - 1] = Edge{first, second, code, 1.0};
    molecule.edges[2 * k] = Edge{second, first, code, 1.0};
    if (structure == nullptr) continue;
    structure->bonds.push_back({first - 1, second - 1});
    structure->order.push_back(type.empty() ? '\0' : type[0]);
  }
  // The tail: property lines and data items up to and including "$$$$".
  bool charges_listed = false;
  while (input.line(line)) {
    if (line.substr(0, 4) == "$$$$") break;
    if (structure != nullptr && line.substr(0, 6) == "M  CHG") read_charges(line, *structure, charges_listed);
  }
  if (perceiver != nullptr) mark_aromatic(automaton, *perceiver, molecule);
}

}  // namespace tarnaxel
