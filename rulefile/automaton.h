// The loaded automaton: the label and rule tables that "automaton.txt" is
// read into, and the lookup of short names derived from them once.
//
// Built by the loader and never changed afterwards: the record reader and
// every matcher read it through a const reference, from any number of
// threads.  A label, bond label or state name is handled as its 1-based slot
// position in its table; 0 means "not in the table".
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

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

// The codes of the names of one or two characters, looked up by their bytes:
// every atom and bond of every record is coded, and nearly all their names
// are that short.
class ShortNames {
 public:
  void build(const NameTable& table);
  // The code of a name of one or two bytes (no NUL), 0 when not listed.
  int find(std::string_view name) const { return codes_[index(name)]; }
  static bool fits(std::string_view name) {
    return !name.empty() && name.size() <= 2 && name[0] != '\0' && (name.size() == 1 || name[1] != '\0');
  }

 private:
  static size_t index(std::string_view name) {
    return static_cast<size_t>(static_cast<unsigned char>(name[0])) << 8 |
           (name.size() == 2 ? static_cast<unsigned char>(name[1]) : 0u);
  }
  std::vector<int> codes_;
};

struct Automaton {
  Automaton();
  ~Automaton();
  Automaton(const Automaton&) = delete;
  Automaton& operator=(const Automaton&) = delete;

  NameTable state_names{{}, 0, kStateSlots};
  NameTable atom_labels{{}, 0, kLabelSlots};
  NameTable bond_labels{{}, 0, kLabelSlots};

  Rule rules[kRuleSlots];
  int32_t rule_count = 0;
  // By rule, bit k: child k's label is written "?", the aromatic link
  // (between two aromatic atoms of the pattern); its code is that of "?".
  uint8_t aromatic_link[kRuleSlots];

  uint16_t apply_rule[kApplySlots];
  uint8_t apply_first[kApplySlots];
  uint8_t apply_second[kApplySlots];
  int32_t apply_count = 0;

  ShortNames short_atom_labels;
  ShortNames short_bond_labels;

  // 1-based position of the first slot whose text equals name, 0 when none.
  int find_state(std::string_view name) const;
  int find_atom_label(std::string_view name) const;
  int find_bond_label(std::string_view name) const;
};

}  // namespace tarnaxel
