// The label and rule tables that "automaton.txt" is loaded into.
//
// Filled once per run by load_rules and read by the record reader and the
// matcher.  A label, bond label or state name is handled as its 1-based slot
// position in its table; 0 means "not in the table".
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnaxel {

constexpr int kStateSlots = 1000;
constexpr int kLabelSlots = 100;
constexpr int kNameBytes = 80;  // 79 characters and a terminator
constexpr int kRuleSlots = 1000;  // record 0 is built in, so 999 rule lines
constexpr int kMaxChildren = 7;
constexpr int kApplySlots = 1000;
constexpr int kWildcardLabel = -2;  // the "@" bond label

struct Rule {
  int32_t state;
  int32_t child_state[kMaxChildren];
  int32_t symbol;
  int32_t child_label[kMaxChildren];
  int32_t plain_count;
  int32_t star_count;
};

// The bonds a rule needs at its atom: its plain children, plus the bond to
// its parent unless its state is the first state.
inline int bonds_needed(const Rule& r) { return r.plain_count + (r.state != 1 ? 1 : 0); }

struct NameTable {
  char names[kStateSlots][kNameBytes];
  int count;
  int capacity;
};

extern NameTable state_names;
extern NameTable atom_labels;
extern NameTable bond_labels;

extern Rule rules[kRuleSlots];
extern int32_t rule_count;

extern uint16_t apply_rule[kApplySlots];
extern uint8_t apply_first[kApplySlots];
extern uint8_t apply_second[kApplySlots];
extern int32_t apply_count;

// Changes with every reset_tables, so that what is derived from the tables
// can tell when they were loaded again.
extern uint32_t tables_generation;

// 1-based position of the first slot whose text equals name, 0 when none.
int find_state(std::string_view name);
int find_atom_label(std::string_view name);
int find_bond_label(std::string_view name);

// Empties every table and sets record 0; used before a load.
void reset_tables();

}  // namespace tarnaxel
