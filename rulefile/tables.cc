#include "rulefile/tables.h"

#include <cstring>

namespace tarnaxel {

NameTable state_names{{}, 0, kStateSlots};
NameTable atom_labels{{}, 0, kLabelSlots};
NameTable bond_labels{{}, 0, kLabelSlots};

Rule rules[kRuleSlots];
int32_t rule_count = 0;

uint16_t apply_rule[kApplySlots];
uint8_t apply_first[kApplySlots];
uint8_t apply_second[kApplySlots];
int32_t apply_count = 0;
uint32_t tables_generation = 0;

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

int find_state(std::string_view name) { return find_in(state_names, name); }
int find_atom_label(std::string_view name) { return find_in(atom_labels, name); }
int find_bond_label(std::string_view name) { return find_in(bond_labels, name); }

void reset_tables() {
  state_names.count = atom_labels.count = bond_labels.count = 0;
  std::memset(rules, 0, sizeof rules);
  rules[0].state = 1;
  rule_count = 0;
  apply_count = 0;
  ++tables_generation;
}

}  // namespace tarnaxel
