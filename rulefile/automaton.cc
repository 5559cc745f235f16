#include "rulefile/automaton.h"

#include <cstring>

namespace tarnaxel {
namespace {

int find_in(const NameTable& table, std::string_view name) {
  if (name.size() >= static_cast<size_t>(kNameBytes)) return 0;
  for (int i = 0; i < table.count; ++i) {
    const char* slot = table.names[i];
    if (std::strlen(slot) == name.size() && std::memcmp(slot, name.data(), name.size()) == 0)
      return i + 1;
  }
  return 0;
}

}  // namespace

void ShortNames::build(const NameTable& table) {
  codes_.assign(size_t{1} << 16, 0);
  for (int i = 0; i < table.count; ++i) {
    std::string_view name(table.names[i], strnlen(table.names[i], kNameBytes));
    if (name.empty() || name.size() > 2) continue;
    int& code = codes_[index(name)];
    if (code == 0) code = i + 1;  // the first slot holding the name
  }
}

Automaton::Automaton() {
  std::memset(rules, 0, sizeof rules);
  std::memset(aromatic_link, 0, sizeof aromatic_link);
  rules[0].state = 1;
  short_atom_labels.build(atom_labels);
  short_bond_labels.build(bond_labels);
}

Automaton::~Automaton() = default;

int Automaton::find_state(std::string_view name) const { return find_in(state_names, name); }

int Automaton::find_atom_label(std::string_view name) const {
  return ShortNames::fits(name) ? short_atom_labels.find(name) : find_in(atom_labels, name);
}

int Automaton::find_bond_label(std::string_view name) const {
  return ShortNames::fits(name) ? short_bond_labels.find(name) : find_in(bond_labels, name);
}

}  // namespace tarnaxel
