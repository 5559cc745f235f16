#include "driver/pattern_set.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "common/fatal.h"
#include "driver/compile.h"
#include "driver/explain.h"
#include "rulefile/loader.h"

namespace tarnaxel {
namespace {

std::string_view name_of(const NameTable& table, int slot) {
  return std::string_view(table.names[slot], strnlen(table.names[slot], kNameBytes));
}

// Adds every name of from to into (once each), refusing past its capacity.
void gather(NameTable& into, const NameTable& from, const char* what) {
  for (int i = 0; i < from.count; ++i) {
    const std::string_view name = name_of(from, i);
    bool listed = false;
    for (int j = 0; j < into.count && !listed; ++j) listed = name_of(into, j) == name;
    if (listed) continue;
    if (into.count == into.capacity)
      fail(Stream::err, std::string("Error: the patterns name more than ") + std::to_string(into.capacity) + " " +
                            what + " together.\n");
    std::memcpy(into.names[into.count], from.names[i], kNameBytes);
    ++into.count;
  }
}

// By code in the set's table (0 and 1..count): the code in a pattern's.
std::vector<int> codes_in(const NameTable& set, const Automaton& a, bool atoms) {
  std::vector<int> codes(static_cast<size_t>(set.count) + 1, 0);
  for (int i = 0; i < set.count; ++i) {
    const std::string_view name = name_of(set, i);
    codes[static_cast<size_t>(i) + 1] = atoms ? a.find_atom_label(name) : a.find_bond_label(name);
  }
  return codes;
}

bool holds_space(const std::string& name) {
  for (char c : name)
    if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') return true;
  return false;
}

}  // namespace

std::unique_ptr<PatternSet> PatternSet::read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) fail(Stream::err, "Error: the pattern file \"" + path + "\" cannot be opened.\n");
  auto set = std::make_unique<PatternSet>();
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    std::string name = tab == std::string::npos ? std::to_string(number) : line.substr(0, tab);
    const std::string text = tab == std::string::npos ? line : line.substr(tab + 1);
    set->add(std::move(name), number, text, "line " + std::to_string(number) + " of \"" + path + "\"");
  }
  if (file.bad()) fail(Stream::err, "Error: the pattern file \"" + path + "\" cannot be read.\n");
  if (set->patterns_.empty()) fail(Stream::err, "Error: the pattern file \"" + path + "\" holds no pattern.\n");
  set->gather_labels();
  return set;
}

std::unique_ptr<PatternSet> PatternSet::from_pairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
  auto set = std::make_unique<PatternSet>();
  for (const auto& [name, text] : pairs) set->add(name, 0, text, "pattern \"" + name + "\"");
  if (set->patterns_.empty()) fail(Stream::err, "Error: the pattern set holds no pattern.\n");
  set->gather_labels();
  return set;
}

void PatternSet::add(std::string name, int line, const std::string& text, const std::string& where) {
  if (name.empty() || holds_space(name))
    fail(Stream::err, "Error: " + where + ": a pattern name must not be empty or hold white space.\n");
  for (const NamedPattern& p : patterns_)
    if (p.name == name) fail(Stream::err, "Error: " + where + ": the name \"" + name + "\" is used twice.\n");
  NamedPattern p;
  p.name = std::move(name);
  p.line = line;
  p.text = text;
  try {
    std::string pattern = text;
    check_pattern_text(pattern);
    p.automaton = load_rules_from_text(compile_pattern(pattern));
  } catch (const Fatal& refused) {
    // The usual refusal, after the line saying which pattern it is.
    throw Fatal(refused.stream(), "Error: " + where + " is refused:\n" + refused.bytes(),
                where + ": " + explain_pattern_refusal(text, refused.bytes()));
  }
  patterns_.push_back(std::move(p));
}

void PatternSet::gather_labels() {
  labels_ = std::make_unique<Automaton>();
  for (const NamedPattern& p : patterns_) {
    gather(labels_->atom_labels, p.automaton->atom_labels, "atom labels");
    gather(labels_->bond_labels, p.automaton->bond_labels, "bond labels");
  }
  labels_->short_atom_labels.build(labels_->atom_labels);
  labels_->short_bond_labels.build(labels_->bond_labels);
  for (NamedPattern& p : patterns_) {
    p.atom_code = codes_in(labels_->atom_labels, *p.automaton, true);
    p.bond_code = codes_in(labels_->bond_labels, *p.automaton, false);
  }
}

int PatternSet::rule_count() const {
  int rules = 0;
  for (const NamedPattern& p : patterns_) rules += p.automaton->rule_count;
  return rules;
}

void PatternSet::relabel(size_t i, const Molecule& read, Molecule& out) const {
  const NamedPattern& p = patterns_[i];
  for (size_t a = 1; a < out.atoms.size(); ++a) out.atoms[a].label = p.atom_code[static_cast<size_t>(read.atoms[a].label)];
  for (size_t e = 1; e < out.edges.size(); ++e) out.edges[e].label = p.bond_code[static_cast<size_t>(read.edges[e].label)];
}

}  // namespace tarnaxel
