#include "molecule/smiles.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "common/limits.h"
#include "molecule/sdf_record.h"

namespace tarnaxel {
namespace {

constexpr const char* kElements[] = {
    "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",  "S",  "Cl", "Ar",
    "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As", "Se", "Br", "Kr",
    "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe",
    "Cs", "Ba", "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf",
    "Ta", "W",  "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac", "Th",
    "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf", "Db", "Sg", "Bh", "Hs",
    "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og"};
// Written in lowercase in a bracket: aromatic.
constexpr const char* kAromaticElements[] = {"b", "c", "n", "o", "p", "s", "se", "as", "te"};

bool is_element(std::string_view s) {
  for (const char* e : kElements)
    if (s == e) return true;
  return false;
}

bool is_aromatic_element(std::string_view s) {
  for (const char* e : kAromaticElements)
    if (s == e) return true;
  return false;
}

bool digit(char c) { return c >= '0' && c <= '9'; }
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct ParsedBond {
  int a;
  int b;
  char order;  // '1', '2', '3', '4', or 0 when not written
};

// The parse of one SMILES: atoms as written, bonds in written order.
}  // namespace

class SmilesParser {
 public:
  // Parses the SMILES at the start of text; the vectors keep their storage.
  void parse(std::string_view text, int record_number);

  std::vector<std::string> symbol;
  std::vector<int> charge;
  std::vector<uint8_t> aromatic;
  std::vector<ParsedBond> bonds;
  // The tree the SMILES writes: by atom its parent (-1 at the start of a
  // part), the bond to it, and its depth; and the ring-closure bonds.
  std::vector<int> parent, parent_bond, depth;
  std::vector<int> closures;

 private:
  [[noreturn]] void fail(size_t at, const std::string& what) const {
    throw BadRecord(Stream::err, "Error: record " + std::to_string(record_) +
                                     " of the SMILES_file cannot be read at character " + std::to_string(at + 1) +
                                     ": " + what + ".\n");
  }
  void atom(size_t& i);
  void bracket_atom(size_t& i);
  void add_atom(size_t at, std::string s, int q, bool arom);
  void ring_digit(size_t& i);
  void join(size_t at, int from, int to, char order, bool closure);

  struct Open {
    int atom = -1;
    char order = 0;
    size_t at = 0;
  };
  std::string_view text_;
  int record_ = 0;
  int previous_ = -1;
  char pending_ = 0;  // a bond written and not yet used
  size_t pending_at_ = 0;
  std::vector<std::pair<int, size_t>> branches_;
  std::array<Open, 100> rings_{};
};

void SmilesParser::parse(std::string_view text, int record_number) {
  text_ = text;
  record_ = record_number;
  previous_ = -1;
  pending_ = 0;
  branches_.clear();
  rings_.fill(Open{});
  symbol.clear();
  charge.clear();
  aromatic.clear();
  bonds.clear();
  parent.clear();
  parent_bond.clear();
  depth.clear();
  closures.clear();
  size_t i = 0;
  while (i < text_.size() && !blank(text_[i])) {
    const char c = text_[i];
    if (c == '(') {
      if (previous_ < 0) fail(i, "a branch opens before any atom");
      if (pending_) fail(i, "a bond stands before a branch");
      branches_.push_back({previous_, i++});
    } else if (c == ')') {
      if (branches_.empty()) fail(i, "')' closes no branch");
      if (pending_) fail(pending_at_, "a bond leads to no atom");
      previous_ = branches_.back().first;
      branches_.pop_back();
      ++i;
    } else if (std::strchr("-=#:/\\", c) != nullptr) {
      if (pending_) fail(i, "two bonds in a row");
      if (previous_ < 0) fail(i, "a bond stands before any atom");
      pending_ = c == '=' ? '2' : c == '#' ? '3' : c == ':' ? '4' : '1';
      pending_at_ = i++;
    } else if (c == '.') {
      if (pending_) fail(pending_at_, "a bond leads to no atom");
      if (previous_ < 0) fail(i, "'.' stands before any atom");
      previous_ = -1;
      ++i;
    } else if (digit(c) || c == '%') {
      ring_digit(i);
    } else {
      atom(i);
    }
  }
  if (pending_) fail(pending_at_, "a bond leads to no atom");
  if (!branches_.empty()) fail(branches_.back().second, "'(' is never closed");
  for (int n = 0; n < 100; ++n)
    if (rings_[static_cast<size_t>(n)].atom >= 0) fail(rings_[static_cast<size_t>(n)].at, "ring-bond number " + std::to_string(n) + " is never closed");
}

void SmilesParser::atom(size_t& i) {
  const char c = text_[i];
  if (c == '[') {
    bracket_atom(i);
    return;
  }
  const size_t at = i;
  // The organic subset: B C N O P S F Cl Br I, b c n o p s, and *.
  const char next = i + 1 < text_.size() ? text_[i + 1] : '\0';
  if ((c == 'C' && next == 'l') || (c == 'B' && next == 'r')) {
    i += 2;
    add_atom(at, std::string{c, next}, 0, false);
    return;
  }
  if (c != '\0' && std::strchr("BCNOPSFI*bcnops", c) != nullptr) {
    ++i;
    add_atom(at, std::string(1, c), 0, c >= 'a' && c <= 'z');
    return;
  }
  std::string what = "'";
  what.push_back(c);
  fail(at, what.append("' starts no atom, bond, branch or ring bond"));
}

// [isotope? symbol chirality? hydrogens? charge? class?]
void SmilesParser::bracket_atom(size_t& i) {
  const size_t at = i;
  const size_t close = text_.find(']', i);
  const size_t stop = text_.find_first_of(" \t\r\n", i);
  if (close == std::string_view::npos || (stop != std::string_view::npos && stop < close))
    fail(at, "'[' is never closed by ']'");
  size_t k = i + 1;
  while (k < close && digit(text_[k])) ++k;  // isotope
  std::string s;
  if (k < close && text_[k] == '*') {
    s = "*";
    ++k;
  } else if (k < close && text_[k] >= 'A' && text_[k] <= 'Z') {
    s = text_[k++];
    if (k < close && text_[k] >= 'a' && text_[k] <= 'z' && is_element(s + text_[k])) s += text_[k++];
    if (!is_element(s)) fail(at, "'" + s + "' is no element");
  } else if (k < close && text_[k] >= 'a' && text_[k] <= 'z') {
    s = text_[k++];
    if (k < close && text_[k] >= 'a' && text_[k] <= 'z' && is_aromatic_element(s + text_[k])) s += text_[k++];
    if (!is_aromatic_element(s)) fail(at, "'" + s + "' is no aromatic element");
  } else {
    fail(at, "the bracket holds no element");
  }
  while (k < close && text_[k] == '@') ++k;  // chirality, @TH1 and the like
  if (k < close && text_[k - 1] == '@' && text_[k] >= 'A' && text_[k] <= 'Z' && text_[k] != 'H') {
    k += 2;
    while (k < close && digit(text_[k])) ++k;
  }
  if (k < close && text_[k] == 'H') {  // hydrogens on it: no atoms of their own
    ++k;
    while (k < close && digit(text_[k])) ++k;
  }
  int q = 0;
  if (k < close && (text_[k] == '+' || text_[k] == '-')) {
    const char sign = text_[k++];
    int n = 1;
    if (k < close && digit(text_[k])) {
      n = 0;
      while (k < close && digit(text_[k]) && n <= 15) n = n * 10 + (text_[k++] - '0');
      if (n > 15) fail(k - 1, "a charge of more than 15");
    } else {
      while (k < close && text_[k] == sign) ++n, ++k;
    }
    q = sign == '+' ? n : -n;
  }
  if (k < close && text_[k] == ':') {  // atom class
    ++k;
    while (k < close && digit(text_[k])) ++k;
  }
  if (k != close) fail(k, "'" + std::string(1, text_[k]) + "' has no place in a bracket atom");
  i = close + 1;
  add_atom(at, s, q, s[0] >= 'a' && s[0] <= 'z');
}

void SmilesParser::add_atom(size_t at, std::string s, int q, bool arom) {
  if (symbol.size() >= kMaxAtoms) fail(at, "more than 999 atoms");
  symbol.push_back(std::move(s));
  charge.push_back(q);
  aromatic.push_back(arom ? 1 : 0);
  const int atom = static_cast<int>(symbol.size()) - 1;
  // The bond from the atom before: the tree the SMILES writes.
  parent.push_back(previous_);
  depth.push_back(previous_ >= 0 ? depth[static_cast<size_t>(previous_)] + 1 : 0);
  parent_bond.push_back(previous_ >= 0 ? static_cast<int>(bonds.size()) : -1);
  if (previous_ >= 0) join(at, previous_, atom, pending_, false);
  pending_ = 0;
  previous_ = atom;
}

void SmilesParser::ring_digit(size_t& i) {
  const size_t at = i;
  if (previous_ < 0) fail(i, "a ring-bond number stands before any atom");
  int n;
  if (text_[i] == '%') {
    if (i + 2 >= text_.size() || !digit(text_[i + 1]) || !digit(text_[i + 2]))
      fail(i, "'%' is not followed by two digits");
    n = (text_[i + 1] - '0') * 10 + (text_[i + 2] - '0');
    i += 3;
  } else {
    n = text_[i++] - '0';
  }
  Open& open = rings_[static_cast<size_t>(n)];
  if (open.atom < 0) {
    open = {previous_, pending_, at};
    pending_ = 0;
    return;
  }
  if (pending_ && open.order && pending_ != open.order)
    fail(at, "ring-bond number " + std::to_string(n) + " is closed with another bond");
  if (open.atom == previous_) fail(at, "ring-bond number " + std::to_string(n) + " joins an atom to itself");
  closures.push_back(static_cast<int>(bonds.size()));
  join(at, open.atom, previous_, pending_ ? pending_ : open.order, true);
  open = Open{};
  pending_ = 0;
}

// Only a ring closure can bond two atoms bonded before.
void SmilesParser::join(size_t at, int from, int to, char order, bool closure) {
  if (closure)
    for (const ParsedBond& b : bonds)
      if ((b.a == from && b.b == to) || (b.a == to && b.b == from)) fail(at, "two atoms are bonded twice");
  if (bonds.size() >= kMaxAtoms) fail(at, "more than 999 bonds");
  bonds.push_back({from, to, order});
}

std::string_view smiles_title(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && !blank(line[i])) ++i;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  size_t end = line.size();
  while (end > i && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
  return line.substr(i, end - i);
}

SmilesReader::SmilesReader() : parser_(std::make_unique<SmilesParser>()) {}
SmilesReader::~SmilesReader() = default;

void read_smiles(std::string_view line, const Automaton& automaton, int record_number, Molecule& molecule,
                 Perceiver* perceiver) {
  SmilesReader reader;
  reader.read(line, automaton, record_number, molecule, perceiver);
}

void SmilesReader::read(std::string_view line, const Automaton& automaton, int record_number, Molecule& molecule,
                        Perceiver* perceiver) {
  if (line.size() > kLongestSmilesLine)
    throw BadRecord(Stream::err, "Error: record " + std::to_string(record_number) +
                                     " of the SMILES_file cannot be read at character " +
                                     std::to_string(kLongestSmilesLine + 1) + ": the line is longer than " +
                                     std::to_string(kLongestSmilesLine) + " characters.\n");
  SmilesParser& p = *parser_;
  p.parse(line, record_number);
  const size_t n = p.symbol.size();
  // An unwritten bond between two aromatic atoms is aromatic on a ring: a
  // ring closure, or a bond of the written tree between the ends of one.
  std::vector<uint8_t>& ring = ring_bond_;
  ring.assign(p.bonds.size(), 0);
  for (const int k : p.closures) {
    ring[static_cast<size_t>(k)] = 1;
    int a = p.bonds[static_cast<size_t>(k)].a, b = p.bonds[static_cast<size_t>(k)].b;
    while (a != b) {
      int& deeper = p.depth[static_cast<size_t>(a)] >= p.depth[static_cast<size_t>(b)] ? a : b;
      if (p.parent[static_cast<size_t>(deeper)] < 0) break;  // in another part: cannot happen
      ring[static_cast<size_t>(p.parent_bond[static_cast<size_t>(deeper)])] = 1;
      deeper = p.parent[static_cast<size_t>(deeper)];
    }
  }
  molecule.v3000 = false;
  molecule.atom_count = static_cast<uint32_t>(n);
  molecule.edge_count = static_cast<uint32_t>(p.bonds.size() * 2);
  molecule.atoms.assign(n + 1, Atom{0, 0, 0.0});
  molecule.edges.assign(molecule.edge_count + 1, Edge{0, 0, 0, 0.0});
  for (size_t a = 0; a < n; ++a)
    molecule.atoms[a + 1] = Atom{automaton.find_atom_label(p.symbol[a]), p.aromatic[a], 0.0};
  std::vector<char>& order = order_;
  order.assign(p.bonds.size(), 0);
  int codes[5] = {0};
  for (char t = '1'; t <= '4'; ++t) codes[t - '0'] = automaton.find_bond_label(std::string_view(&t, 1));
  for (size_t k = 0; k < p.bonds.size(); ++k) {
    const ParsedBond& b = p.bonds[k];
    char o = b.order;
    if (o == 0)
      o = ring[k] && p.aromatic[static_cast<size_t>(b.a)] && p.aromatic[static_cast<size_t>(b.b)] ? '4' : '1';
    order[k] = o;
    const int code = codes[o >= '1' && o <= '4' ? o - '0' : 0];
    molecule.edges[2 * k + 1] = Edge{b.a + 1, b.b + 1, code, 1.0};
    molecule.edges[2 * k + 2] = Edge{b.b + 1, b.a + 1, code, 1.0};
  }
  if (perceiver == nullptr) return;
  Structure& s = perceiver->structure;
  s.symbol = p.symbol;
  s.charge = p.charge;
  s.bonds.clear();
  for (const ParsedBond& b : p.bonds) s.bonds.push_back({b.a, b.b});
  s.order = order;
  mark_aromatic(automaton, *perceiver, molecule);
}

}  // namespace tarnaxel
