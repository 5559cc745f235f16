#include "rulefile/tables.h"

#include <cstring>
#include <vector>

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

// The codes of the names of one or two characters, looked up by their bytes:
// every atom and bond of every record is coded, and nearly all their names
// are that short.  Rebuilt when the table was loaded again or has grown.
class ShortNames {
 public:
  int find(const NameTable& table, std::string_view name) {
    if (name.empty() || name.size() > 2 || name[0] == '\0' || (name.size() == 2 && name[1] == '\0'))
      return find_in(table, name);
    if (!built_ || generation_ != tables_generation || count_ != table.count) rebuild(table);
    return codes_[index(name)];
  }

 private:
  static size_t index(std::string_view name) {
    return static_cast<size_t>(static_cast<unsigned char>(name[0])) << 8 |
           (name.size() == 2 ? static_cast<unsigned char>(name[1]) : 0u);
  }
  void rebuild(const NameTable& table) {
    built_ = true;
    generation_ = tables_generation;
    count_ = table.count;
    codes_.assign(size_t{1} << 16, 0);
    for (int i = 0; i < table.count; ++i) {
      std::string_view name(table.names[i], strnlen(table.names[i], kNameBytes));
      if (name.empty() || name.size() > 2) continue;
      int& code = codes_[index(name)];
      if (code == 0) code = i + 1;  // the first slot holding the name
    }
  }

  bool built_ = false;
  uint32_t generation_ = 0;
  int count_ = 0;
  std::vector<int> codes_;
};

ShortNames short_atom_labels;
ShortNames short_bond_labels;

}  // namespace

int find_state(std::string_view name) { return find_in(state_names, name); }
int find_atom_label(std::string_view name) { return short_atom_labels.find(atom_labels, name); }
int find_bond_label(std::string_view name) { return short_bond_labels.find(bond_labels, name); }

void reset_tables() {
  state_names.count = atom_labels.count = bond_labels.count = 0;
  std::memset(rules, 0, sizeof rules);
  rules[0].state = 1;
  rule_count = 0;
  apply_count = 0;
  ++tables_generation;
}

}  // namespace tarnaxel
