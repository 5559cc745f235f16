// The rule index: what the loaded rules say once for every molecule, built
// once by each matcher and read by its viability pass and its joins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/molecule.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

// What the loaded rules say once for every molecule: the rules of each atom
// label, the range of states and bond labels they name, what each rule adds
// to the sets of an atom it stands at and asks of the atom's neighbourhood,
// and for every label and number of neighbours the rules that pass the bond
// count and their sets.
struct RuleIndex {
  explicit RuleIndex(const Automaton& automaton);

  static constexpr size_t kDegrees = kMaxChildren + 2;  // 0 .. plain children + parent

  // Atom label code -> its rules, ascending; the last list, empty, serves
  // labels outside the table.
  std::vector<std::vector<uint16_t>> by_symbol;
  size_t state_words = 1;
  size_t label_slots = 1;  // bond label codes 0 .. bond_labels.count
  size_t set_words = 2;
  size_t mask_words = 1;
  // By label slot and neighbour count (capped at kDegrees - 1): the rules
  // that can stand at such an atom before its neighbours are looked at, and
  // their sets.
  std::vector<uint64_t> first_mask;
  std::vector<uint64_t> first_sets;
  // The sets and needs of every label's rules in list order, set_words words
  // per rule, and where each label slot starts in them.  sets: the state of
  // the rule and of its wildcard children (a child met over a bond here may
  // take them), then by bond label the states of its children over such
  // bonds.  need: by bond label the states of its plain children over such
  // bonds, then the states the neighbours must hold as children over any
  // bond (its wildcard children and, unless it is the first state, its own
  // state).
  std::vector<uint64_t> listed_sets;
  std::vector<uint64_t> listed_need;
  std::vector<size_t> listed_start;
  // By rule: a bit of its own for each state that one finished match holds
  // at most once (the first 64 such states in state order); 0 for the other
  // rules and for rule 0.  A partial match holding such a state at two
  // atoms can never finish.
  std::vector<uint64_t> once_bit;
  // By rule, the states a tree whose top atom takes it must hang below, the
  // nearest first: while the state above is the only one that can hold the
  // one below as a child and is held once, its bit, how many bonds up it
  // stands and the state of its child on the way down.  Rule r's list is
  // above_list[above_start[r] .. above_start[r + 1]), above_mask[r] the
  // bits in it.
  struct Above {
    uint64_t bit;
    int32_t bonds;
    int32_t child;
  };
  std::vector<Above> above_list;
  std::vector<uint32_t> above_start;
  std::vector<uint64_t> above_mask;
  bool any_above = false;
  // The holders of a state held once that only atoms carry (no starred
  // child holds it, no ring closure stands for it): each holder rule holds
  // one such atom as a plain child, so one match has at most one atom whose
  // rule is among them, and a tree whose top takes that state hangs below
  // it.  By rule: holder_bit, a bit of its own for each such state it holds
  // (the first 64 such states); hang_bit, the bit of its own state's
  // holders if it is such a state.
  std::vector<uint64_t> holder_bit;
  std::vector<uint64_t> hang_bit;
  // By rule: a bit of its own for each state every finished match holds
  // (the first 64 such states in state order), else 0; needed_mask, all
  // those bits.  A molecule where such a state can stand at no atom, or
  // fewer atoms than there are such states can take one, is rejected before
  // any table is built.
  std::vector<uint64_t> needed_bit;
  uint64_t needed_mask = 0;
  int needed_count = 0;  // the bits in needed_mask: the atoms a match takes at least
  // By atom label code: the bits in needed_mask of the rules of that label.
  std::vector<uint64_t> needed_by_label;
  // Whether the labels of the molecule's atoms can carry every state every
  // match holds; when not, no match can finish.
  bool labels_suffice(const Molecule& molecule) const;
  // Whether some rule holds the first state as a child: when none does, a
  // tree topped by the first state can only be the root of the match.
  bool first_state_held = false;

  // The steps of the build, and what the second hands to the third: by rule,
  // its sets, its needs, and whether it can never stand anywhere.
  struct PerRule {
    std::vector<uint64_t> sets;
    std::vector<uint64_t> need;
    std::vector<uint8_t> never;
  };
  void list_rules(const Automaton& a);
  PerRule sets_of_rules(const Automaton& a) const;
  void list_by_label(const Automaton& a, const PerRule& per_rule);
  // How a state is held as a child, worked out once for the three below.
  struct HeldAs;
  void find_single_states(const Automaton& a);
  void find_parents(const Automaton& a, const std::vector<uint64_t>& bit_of, const std::vector<HeldAs>& held);
  void find_holders(const Automaton& a, const std::vector<uint64_t>& bit_of, const std::vector<HeldAs>& held);
  void find_needed_states(const Automaton& a, const std::vector<std::vector<int>>& holders,
                          const std::vector<HeldAs>& held);
  static uint8_t most_in_a_match(const Automaton& a, int32_t s, const std::vector<std::vector<int>>& holders,
                                 std::vector<uint8_t>& most);
  static constexpr int32_t kOnceStatesLooked = 256;

  size_t slot_of(int32_t label) const {
    return label >= 0 && static_cast<size_t>(label) + 1 < by_symbol.size() ? static_cast<size_t>(label)
                                                                           : by_symbol.size() - 1;
  }
};

}  // namespace tarnaxel
