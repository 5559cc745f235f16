#include "driver/sdf_record.h"

#include <cstring>
#include <string_view>

#include "common/fatal.h"
#include "rulefile/automaton.h"

namespace tarnaxel {
namespace {

[[noreturn]] void fail_record(int record_number, const std::string& what) {
  fail(Stream::err, "Error: record " + std::to_string(record_number) + " of the SDF_file " + what + "\n");
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

}  // namespace

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
                 const CountsReport& report) {
  read_required(input, record_number, "header");
  read_required(input, record_number, "header");
  std::string_view line = read_required(input, record_number, "header");
  int atom_count = field3_value(line, 0);
  int bond_count = field3_value(line, 3);
  if (atom_count < 0 || bond_count < 0)
    fail_record(record_number, "has a negative atom or bond count.");

  molecule.v3000 = line.find("V3000") != std::string_view::npos;
  molecule.atom_count = static_cast<uint32_t>(atom_count);
  molecule.edge_count = static_cast<uint32_t>(bond_count) * 2;
  molecule.atoms.assign(molecule.atom_count + 1, Atom{0, 0.0});
  molecule.edges.assign(molecule.edge_count + 1, Edge{0, 0, 0, 0.0});
  report(atom_count, bond_count);

  for (int i = 1; i <= atom_count; ++i) {
    line = read_required(input, record_number, "atom block");
    molecule.atoms[i] = Atom{automaton.find_atom_label(atom_symbol(line)), 0.0};
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
  }
  // The tail: property lines and data items up to and including "$$$$".
  while (input.line(line))
    if (line.substr(0, 4) == "$$$$") break;
}

}  // namespace tarnaxel
