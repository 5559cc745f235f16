#include "matcher/rule_index.h"

#include <algorithm>

namespace tarnaxel {
namespace {

int children(const Rule& r) { return std::min(r.plain_count + r.star_count, kMaxChildren); }

bool in_range(int32_t state, size_t words) { return state >= 0 && static_cast<size_t>(state) < words * 64; }

}  // namespace

RuleIndex::RuleIndex(const Automaton& a) {
  list_rules(a);
  PerRule per_rule = sets_of_rules(a);
  list_by_label(a, per_rule);
  find_single_states(a);
}

// The rules of each atom label and the sizes of the sets.
void RuleIndex::list_rules(const Automaton& a) {
  by_symbol.assign(static_cast<size_t>(std::max(a.atom_labels.count, 0)) + 2, {});
  int32_t max_state = 1;
  for (int r = 1; r <= a.rule_count; ++r) {
    const Rule& rule = a.rules[r];
    const int children = std::min(rule.plain_count + rule.star_count, kMaxChildren);
    for (int k = 0; k < children; ++k) first_state_held = first_state_held || rule.child_state[k] == 1;
    max_state = std::max(max_state, rule.state);
    for (int k = 0; k < kMaxChildren; ++k) max_state = std::max(max_state, rule.child_state[k]);
    if (rule.symbol >= 0 && static_cast<size_t>(rule.symbol) + 1 < by_symbol.size())
      by_symbol[static_cast<size_t>(rule.symbol)].push_back(static_cast<uint16_t>(r));
  }
  state_words = static_cast<size_t>(max_state) / 64 + 1;
  label_slots = static_cast<size_t>(std::max(a.bond_labels.count, 0)) + 1;
  set_words = state_words * (label_slots + 1);
  mask_words = 1;
  for (const auto& list : by_symbol) mask_words = std::max(mask_words, (list.size() + 63) / 64);
}

// What each rule adds to the sets of its atom and asks of the neighbourhood.
RuleIndex::PerRule RuleIndex::sets_of_rules(const Automaton& a) const {
  const size_t sw = state_words;
  const size_t rule_slots = static_cast<size_t>(std::max(a.rule_count, 0)) + 1;
  // By rule, set_words words each.
  PerRule per_rule{std::vector<uint64_t>(rule_slots * set_words, 0), std::vector<uint64_t>(rule_slots * set_words, 0),
                   std::vector<uint8_t>(rule_slots, 0)};
  std::vector<uint64_t>& sets = per_rule.sets;
  std::vector<uint64_t>& need = per_rule.need;
  std::vector<uint8_t>& never = per_rule.never;
  auto add = [sw](uint64_t* set, int32_t state) {
    if (in_range(state, sw)) set[static_cast<size_t>(state) / 64] |= uint64_t{1} << (state % 64);
  };
  for (int r = 1; r <= a.rule_count; ++r) {
    const Rule& rule = a.rules[r];
    uint64_t* rule_sets = sets.data() + static_cast<size_t>(r) * set_words;
    add(rule_sets, rule.state);
    for (int l = 0; l < rule.plain_count && l < kMaxChildren; ++l)
      if (rule.child_label[l] == kWildcardLabel) add(rule_sets, rule.child_state[l]);
    for (int k = 0; k < children(rule); ++k) {
      const int32_t label = rule.child_label[k];
      if (label >= 0 && static_cast<size_t>(label) < label_slots)
        add(rule_sets + (static_cast<size_t>(label) + 1) * sw, rule.child_state[k]);
    }

    uint64_t* rule_need = need.data() + static_cast<size_t>(r) * set_words;
    uint64_t* rule_need_up = rule_need + label_slots * sw;
    for (int k = 0; k < rule.plain_count && k < kMaxChildren; ++k) {
      const int32_t state = rule.child_state[k];
      const int32_t label = rule.child_label[k];
      if (!in_range(state, sw)) never[static_cast<size_t>(r)] = 1;
      else if (label == kWildcardLabel) add(rule_need_up, state);
      else if (label >= 0 && static_cast<size_t>(label) < label_slots)
        add(rule_need + static_cast<size_t>(label) * sw, state);
      else never[static_cast<size_t>(r)] = 1;  // bonds carry listed labels or 0
    }
    if (rule.state != 1) {
      if (in_range(rule.state, sw)) add(rule_need_up, rule.state);
      else never[static_cast<size_t>(r)] = 1;
    }
  }
  return per_rule;
}

// The sets and needs in list order, and by label and neighbour count the
// rules that pass the bond count.
void RuleIndex::list_by_label(const Automaton& a, const PerRule& per_rule) {
  const std::vector<uint64_t>& sets = per_rule.sets;
  const std::vector<uint64_t>& need = per_rule.need;
  const std::vector<uint8_t>& never = per_rule.never;
  first_mask.assign(by_symbol.size() * kDegrees * mask_words, 0);
  listed_sets.clear();
  listed_need.clear();
  listed_start.assign(by_symbol.size(), 0);
  for (size_t label = 0; label < by_symbol.size(); ++label) {
    listed_start[label] = listed_sets.size();
    for (uint16_t r : by_symbol[label]) {
      listed_sets.insert(listed_sets.end(), sets.begin() + static_cast<long>(r * set_words),
                         sets.begin() + static_cast<long>((r + 1) * set_words));
      listed_need.insert(listed_need.end(), need.begin() + static_cast<long>(r * set_words),
                         need.begin() + static_cast<long>((r + 1) * set_words));
    }
  }
  first_sets.assign(by_symbol.size() * kDegrees * set_words, 0);
  for (size_t label = 0; label < by_symbol.size(); ++label) {
    const std::vector<uint16_t>& list = by_symbol[label];
    for (size_t degree = 0; degree < kDegrees; ++degree) {
      uint64_t* mask = first_mask.data() + (label * kDegrees + degree) * mask_words;
      uint64_t* set = first_sets.data() + (label * kDegrees + degree) * set_words;
      for (size_t c = 0; c < list.size(); ++c) {
        const Rule& rule = a.rules[list[c]];
        if (never[list[c]]) continue;
        if (rule.plain_count != 0 && degree < static_cast<size_t>(bonds_needed(rule))) continue;
        mask[c / 64] |= uint64_t{1} << (c % 64);
        const uint64_t* rule_sets = sets.data() + size_t{list[c]} * set_words;
        for (size_t w = 0; w < set_words; ++w) set[w] |= rule_sets[w];
      }
    }
  }
}

// How often state s can stand in one finished match, counted up to 2 (2:
// twice or more).  A match is one tree whose root takes the first state, and
// below an atom whose rule is r stand its plain children once each and its
// starred children any number of times; a plain child met over a ring
// closure adds no atom, and counting it anyway only makes a count larger.
// So the most atoms of state s in a tree below state p, most[p], is the
// largest over the rules of p of [its state is s] plus what its children
// add.  Counts only grow, and stop at 2; a state's rules are worked out
// again when a count of one of their children grows.
uint8_t RuleIndex::most_in_a_match(const Automaton& a, int32_t s, const std::vector<std::vector<int>>& holders,
                                   std::vector<uint8_t>& most) {
  std::fill(most.begin(), most.end(), 0);
  auto count = [&](const Rule& rule) {
    int total = rule.state == s ? 1 : 0;
    for (int k = 0; k < children(rule); ++k) {
      const int32_t c = rule.child_state[k];
      if (c <= 0 || static_cast<size_t>(c) >= most.size() || most[static_cast<size_t>(c)] == 0) continue;
      total += k < rule.plain_count ? most[static_cast<size_t>(c)] : 2;
    }
    return static_cast<uint8_t>(std::min(total, 2));
  };
  std::vector<int> work;
  for (int r = 1; r <= a.rule_count; ++r) work.push_back(r);
  while (!work.empty()) {
    const Rule& rule = a.rules[work.back()];
    work.pop_back();
    if (rule.state <= 0 || static_cast<size_t>(rule.state) >= most.size()) continue;
    uint8_t& m = most[static_cast<size_t>(rule.state)];
    const uint8_t c = count(rule);
    if (c <= m) continue;
    m = c;
    const std::vector<int>& up = holders[static_cast<size_t>(rule.state)];
    work.insert(work.end(), up.begin(), up.end());
  }
  return most[1];
}

// How a state is held as a child: the one state holding it over a bond (0
// none, -1 more than one), and whether a starred child holds it or a ring
// closure stands for it.
struct RuleIndex::HeldAs {
  int32_t parent = 0;
  bool starred = false;
  bool closure = false;
};

namespace {

std::vector<RuleIndex::HeldAs> held_as(const Automaton& a, size_t states) {
  std::vector<RuleIndex::HeldAs> held(states);
  for (int r = 1; r <= a.rule_count; ++r) {
    const Rule& rule = a.rules[r];
    for (int k = 0; k < children(rule); ++k) {
      const int32_t c = rule.child_state[k];
      if (c <= 0 || static_cast<size_t>(c) >= states) continue;
      RuleIndex::HeldAs& h = held[static_cast<size_t>(c)];
      if (k < rule.plain_count && rule.child_label[k] == kWildcardLabel) {
        h.closure = true;
        continue;
      }
      h.starred = h.starred || k >= rule.plain_count;
      h.parent = h.parent == 0 || h.parent == rule.state ? rule.state : -1;
    }
  }
  return held;
}

// Sets out[r], for every rule r, to the bit of its state.
void bits_by_rule(const Automaton& a, const std::vector<uint64_t>& bit_of, std::vector<uint64_t>& out) {
  for (int r = 1; r <= a.rule_count; ++r) {
    const int32_t s = a.rules[r].state;
    if (s > 0 && static_cast<size_t>(s) < bit_of.size()) out[static_cast<size_t>(r)] = bit_of[static_cast<size_t>(s)];
  }
}

}  // namespace

void RuleIndex::find_single_states(const Automaton& a) {
  once_bit.assign(static_cast<size_t>(std::max(a.rule_count, 0)) + 1, 0);
  above_start.assign(once_bit.size() + 1, 0);
  above_mask.assign(once_bit.size(), 0);
  needed_bit.assign(once_bit.size(), 0);
  holder_bit.assign(once_bit.size(), 0);
  hang_bit.assign(once_bit.size(), 0);
  // Every state named, also those only children take: a ring closure stands
  // for a state no rule has, and a child out of range could never finish.
  int32_t max_state = 1;
  for (int r = 1; r <= a.rule_count; ++r) {
    max_state = std::max(max_state, a.rules[r].state);
    for (int k = 0; k < children(a.rules[r]); ++k) max_state = std::max(max_state, a.rules[r].child_state[k]);
  }
  // Larger automata are not looked at: the work grows with states times rules.
  if (max_state > kOnceStatesLooked) return;
  const size_t states = static_cast<size_t>(max_state) + 1;
  // By state: the rules holding it as a child.
  std::vector<std::vector<int>> holders(states);
  for (int r = 1; r <= a.rule_count; ++r)
    for (int k = 0; k < children(a.rules[r]); ++k) {
      const int32_t c = a.rules[r].child_state[k];
      if (c > 0 && static_cast<size_t>(c) < states) holders[static_cast<size_t>(c)].push_back(r);
    }
  std::vector<uint64_t> bit_of(states, 0);
  std::vector<uint8_t> most(states, 0);
  int bits = 0;
  for (size_t s = 1; s < states && bits < 64; ++s)
    if (most_in_a_match(a, static_cast<int32_t>(s), holders, most) == 1) bit_of[s] = uint64_t{1} << bits++;
  bits_by_rule(a, bit_of, once_bit);
  const std::vector<HeldAs> held = held_as(a, states);
  find_parents(a, bit_of, held);
  find_holders(a, bit_of, held);
  find_needed_states(a, holders, held);
}

void RuleIndex::find_holders(const Automaton& a, const std::vector<uint64_t>& bit_of, const std::vector<HeldAs>& held) {
  const size_t states = bit_of.size();
  std::vector<uint64_t> group(states, 0);
  int bits = 0;
  for (size_t s = 2; s < states && bits < 64; ++s)
    if (bit_of[s] != 0 && held[s].parent != 0 && !held[s].starred && !held[s].closure)
      group[s] = uint64_t{1} << bits++;
  for (int r = 1; r <= a.rule_count; ++r) {
    const Rule& rule = a.rules[r];
    for (int k = 0; k < rule.plain_count && k < kMaxChildren; ++k) {
      const int32_t c = rule.child_state[k];
      if (c > 0 && static_cast<size_t>(c) < states && rule.child_label[k] != kWildcardLabel)
        holder_bit[static_cast<size_t>(r)] |= group[static_cast<size_t>(c)];
    }
  }
  bits_by_rule(a, group, hang_bit);
  for (int r = 1; r <= a.rule_count; ++r) any_above = any_above || hang_bit[static_cast<size_t>(r)] != 0;
}

// A state every finished match holds: the first state cannot finish a tree
// without it.  A state p finishes a tree without s when p is not s and some
// rule of p has each plain child finished without s, or met over a ring
// closure (a child whose state some rule holds over the closure label), and
// starred children may be none.  Finishing grows from nothing; a state's
// rules are looked at again when one of their children can finish.
void RuleIndex::find_needed_states(const Automaton& a, const std::vector<std::vector<int>>& holders,
                                   const std::vector<HeldAs>& held) {
  const size_t states = holders.size();
  std::vector<uint64_t> bit_of(states, 0);
  std::vector<uint8_t> finishes(states, 0);
  std::vector<int> work;
  int bits = 0;
  for (size_t s = 1; s < states && bits < 64; ++s) {
    std::fill(finishes.begin(), finishes.end(), 0);
    work.clear();
    for (int r = 1; r <= a.rule_count; ++r) work.push_back(r);
    while (!work.empty() && !finishes[1]) {
      const Rule& rule = a.rules[work.back()];
      work.pop_back();
      if (rule.state <= 0 || static_cast<size_t>(rule.state) >= states || static_cast<size_t>(rule.state) == s ||
          finishes[static_cast<size_t>(rule.state)])
        continue;
      bool all = true;
      for (int k = 0; k < rule.plain_count && k < kMaxChildren && all; ++k) {
        const int32_t c = rule.child_state[k];
        const bool known = c > 0 && static_cast<size_t>(c) < states;
        all = rule.child_label[k] == kWildcardLabel ||
              (known && (held[static_cast<size_t>(c)].closure || finishes[static_cast<size_t>(c)]));
      }
      if (!all) continue;
      finishes[static_cast<size_t>(rule.state)] = 1;
      const std::vector<int>& up = holders[static_cast<size_t>(rule.state)];
      work.insert(work.end(), up.begin(), up.end());
    }
    if (!finishes[1]) bit_of[s] = uint64_t{1} << bits++;
  }
  needed_count = bits;
  bits_by_rule(a, bit_of, needed_bit);
  for (int r = 1; r <= a.rule_count; ++r) needed_mask |= needed_bit[static_cast<size_t>(r)];
  needed_by_label.assign(static_cast<size_t>(a.atom_labels.count) + 1, 0);
  for (int r = 1; r <= a.rule_count; ++r) {
    const int32_t symbol = a.rules[r].symbol;
    if (symbol > 0 && symbol <= a.atom_labels.count)
      needed_by_label[static_cast<size_t>(symbol)] |= needed_bit[static_cast<size_t>(r)];
  }
}

bool RuleIndex::labels_suffice(const Molecule& molecule) const {
  if (needed_mask == 0) return true;
  uint64_t found = 0;
  for (size_t a = 1; a <= molecule.atom_count; ++a) {
    const size_t label = static_cast<size_t>(molecule.atoms[a].label);
    if (label < needed_by_label.size()) found |= needed_by_label[label];
  }
  return found == needed_mask;
}

// Where the one state holding a state over a bond is held once, the chain
// goes up to it, and on while it can.
void RuleIndex::find_parents(const Automaton& a, const std::vector<uint64_t>& bit_of, const std::vector<HeldAs>& held) {
  const size_t states = bit_of.size();
  for (int r = 1; r <= a.rule_count; ++r) {
    above_start[static_cast<size_t>(r)] = static_cast<uint32_t>(above_list.size());
    int32_t below = a.rules[r].state;
    uint64_t mask = 0;
    // States held once cannot repeat on the way up, so the chain ends.
    for (int32_t bonds = 1; below > 1 && static_cast<size_t>(below) < states; ++bonds) {
      const int32_t p = held[static_cast<size_t>(below)].parent;
      if (p <= 0 || bit_of[static_cast<size_t>(p)] == 0 || (mask & bit_of[static_cast<size_t>(p)]) != 0) break;
      above_list.push_back({bit_of[static_cast<size_t>(p)], bonds, below});
      mask |= bit_of[static_cast<size_t>(p)];
      below = p;
    }
    above_mask[static_cast<size_t>(r)] = mask;
    any_above = any_above || mask != 0;
  }
  above_start[static_cast<size_t>(a.rule_count) + 1] = static_cast<uint32_t>(above_list.size());
}

}  // namespace tarnaxel
