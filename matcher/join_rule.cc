#include "matcher/join_rule.h"

#include <algorithm>
#include <iterator>

namespace tarnaxel {
namespace {

// Whether a rule can still take a child of this state: a starred one, or a
// plain one over a bond not yet used.
bool child_free(const Rule& rule, uint8_t used, int32_t state) {
  const int children = std::min(rule.plain_count + rule.star_count, kMaxChildren);
  for (int k = 0; k < children; ++k) {
    if (rule.child_state[k] != state) continue;
    if (k >= rule.plain_count) return true;
    if (rule.child_label[k] != kWildcardLabel && ((used >> k) & 1u) == 0) return true;
  }
  return false;
}

const Item* item_at(const Config& c, int atom) {
  for (int i = 0; i < c.item_count; ++i)
    if (c.items[i].atom == atom) return &c.items[i];
  return nullptr;
}

}  // namespace

void decode(const Table& table, const Table::Entry& e, Config& c) {
  c.item_count = e.item_count;
  c.rootless = false;
  for (int i = 0; i < e.item_count; ++i) {
    c.items[i] = unpack(e.items[i]);
    c.rootless = c.rootless || c.items[i].root == 0;
  }
  c.counters = table.counters(e);
  c.entry = &e;
}

void decode_all(const Table& table, std::vector<Config>& out) {
  out.resize(table.size());
  for (size_t j = 0; j < table.size(); ++j) decode(table, table.entries()[j], out[j]);
}

void JoinRule::start_record(const MatchPlan& plan, const Molecule& molecule, const int* degree) {
  plan_ = &plan;
  rules_ = plan.automaton.rules;
  molecule_ = &molecule;
  degree_ = degree;
  left_.resize(molecule.atom_count + 1);
  link_.resize(molecule.atom_count + 1);  // every link read in a join is written first in that join
  distance_known_.clear();
}

void JoinRule::start_join(const std::vector<int>& n, const std::vector<int>& k, const std::vector<int>& vertices,
                          const uint16_t* met, int forget) {
  vertices_ = &vertices;
  forget_ = forget;
  for (size_t i = 0; i < vertices.size(); ++i) {
    const size_t x = static_cast<size_t>(vertices[i]);
    left_[x] = degree_[x] - met[i];
  }
  shared_.clear();
  std::set_intersection(n.begin(), n.end(), k.begin(), k.end(), std::back_inserter(shared_));
}

Side JoinRule::side(const Config& o, int atom) const {
  Side s;
  s.atom = atom;
  const Item* item = item_at(o, atom);
  s.present = item != nullptr;
  if (item != nullptr) s.item = *item;
  s.left = atom == forget_ ? 0 : plan_->prune ? left_[static_cast<size_t>(atom)] : INT_MAX;
  return s;
}

bool JoinRule::agree_everywhere(const Config& o, const Config& c) const {
  if (o.item_count == 0 || c.item_count == 0 || (o.rootless && c.rootless)) return false;
  int i = 0;
  int j = 0;
  Side side;
  for (int atom : shared_) {
    while (i < o.item_count && o.items[i].atom < atom) ++i;
    while (j < c.item_count && c.items[j].atom < atom) ++j;
    side.atom = atom;
    side.present = i < o.item_count && o.items[i].atom == atom;
    if (side.present) side.item = o.items[i];
    side.left = atom == forget_ ? 0 : plan_->prune ? left_[static_cast<size_t>(atom)] : INT_MAX;
    const bool there = j < c.item_count && c.items[j].atom == atom;
    if (!agrees(side, there ? code(c.items[j], atom) : kAbsent)) return false;
  }
  return true;
}

Brings JoinRule::brings(const Config& c) const {
  Brings b;
  size_t s = 0;
  const bool first_state_free = plan_->prune && !plan_->index.first_state_held;
  for (int i = 0; i < c.item_count; ++i) {
    const Item& item = c.items[i];
    while (s < shared_.size() && shared_[s] < item.atom) ++s;
    const uint64_t once = plan_->once[item.rule];
    const uint64_t holds = plan_->holder[item.rule];
    b.rootless = b.rootless || item.root == 0;
    if (s == shared_.size() || shared_[s] != item.atom) {
      b.once_own |= once;
      b.holds_own |= holds;
      b.root_apart = b.root_apart || (first_state_free && item.rule != 0 && item.root == item.atom &&
                                      rules_[item.rule].state == 1);
      continue;
    }
    const uint8_t bit = static_cast<uint8_t>(1u << s);
    b.present |= bit;
    b.once_shared |= once;
    b.holds_shared |= holds;
    if (plan_->prune && !fits(item)) b.short_alone |= bit;
  }
  return b;
}

bool JoinRule::join(const Config& o, const Config& c, bool look_above, ConfigKey& out, uint8_t* sum) {
  const Automaton& a = plan_->automaton;
  const int counter_count = a.apply_count;
  uint8_t check[kApplySlots];
  for (int k = 0; k < counter_count; ++k) check[k] = sum[k] = static_cast<uint8_t>(o.counters[k] + c.counters[k]);
  int count = 0;
  uint64_t held = 0;
  uint64_t holding = 0;
  int oi = 0;
  int ci = 0;
  for (int x : *vertices_) {
    Item taken;
    const bool in_o = oi < o.item_count && o.items[oi].atom == x;
    const bool in_c = ci < c.item_count && c.items[ci].atom == x;
    if (in_o && in_c) {
      const Item& p = o.items[oi++];
      const Item& q = c.items[ci++];
      if (p.rule != q.rule || (p.used_children & q.used_children) != 0 || (p.root != x && q.root != x)) return false;
      link_[x] = p.root == x ? q.root : p.root;
      taken = p;
      taken.used_children = static_cast<uint8_t>(p.used_children | q.used_children);
    } else if (in_o || in_c) {
      taken = in_o ? o.items[oi++] : c.items[ci++];
      link_[x] = taken.root;
    } else {
      link_[x] = 0;
      continue;
    }
    // A state a match holds once, or two holders of one, at two atoms: the
    // pair can never finish.
    const uint64_t once = plan_->once[taken.rule];
    const uint64_t holds = plan_->holder[taken.rule];
    if ((held & once) != 0 || (holding & holds) != 0) return false;
    held |= once;
    holding |= holds;
    for (int k = 0; k < counter_count; ++k) {
      if (a.apply_rule[k] == taken.rule) {
        ++check[k];
        break;
      }
    }
    out.items[count++] = taken;
  }
  for (int k = 0; k < counter_count; ++k)
    if (check[k] > a.apply_second[k]) return false;
  if (!roots_resolve(*vertices_)) return false;
  for (int i = 0; i < count; ++i) out.items[i].root = static_cast<uint16_t>(link_[out.items[i].atom]);
  out.item_count = static_cast<uint8_t>(count);
  if (look_above && !tops_can_hang(out, held, holding)) return false;
  out.counters = sum;
  out.matched = static_cast<uint8_t>(o.entry->matched | c.entry->matched);
  return true;
}

// Resolves every atom's link to the root at the end of its chain; false
// when the links run in a circle.
bool JoinRule::roots_resolve(const std::vector<int>& vertices) {
  const size_t limit = vertices.size();
  for (int x : vertices) {
    int y = link_[x];
    if (y == 0 || y == x) continue;
    int z = y;
    size_t steps = 0;
    while (z != 0 && link_[z] != z) {
      z = link_[z];
      if (++steps >= limit) return false;
    }
    link_[x] = z;
  }
  return true;
}

// A tree whose top atom's state can only hang below states held once must
// hang below the atom holding the nearest of them in the bag, over as many
// bonds as the states between, atoms not yet met; and when only atoms carry
// its state held once, below the one atom whose rule can hold it, if in the
// bag.  False when a top stands further from that atom, or no child of the
// state on the way is free there.
bool JoinRule::tops_can_hang(const ConfigKey& key, uint64_t held, uint64_t holding) {
  const RuleIndex& index = plan_->index;
  for (int i = 0; i < key.item_count; ++i) {
    const Item& top = key.items[i];
    if (top.root != top.atom) continue;
    const uint64_t hang = index.hang_bit[top.rule];
    if ((holding & hang) != 0 && !hangs_below(key, top, plan_->holder, hang, 1, rules_[top.rule].state)) return false;
    if ((held & index.above_mask[top.rule]) == 0) continue;
    for (uint32_t u = index.above_start[top.rule]; u < index.above_start[top.rule + 1u]; ++u) {
      const RuleIndex::Above& up = index.above_list[u];
      if ((held & up.bit) == 0) continue;
      if (!hangs_below(key, top, plan_->once, up.bit, up.bonds, up.child)) return false;
      break;
    }
  }
  return true;
}

// Whether top can hang below the item whose rule carries bit in by_rule,
// within bonds bonds, with a child of state child still free there.
bool JoinRule::hangs_below(const ConfigKey& key, const Item& top, const uint64_t* by_rule, uint64_t bit,
                           int32_t bonds, int32_t child) {
  int j = 0;
  while (j + 1 < key.item_count && (by_rule[key.items[j].rule] & bit) == 0) ++j;
  const Item& holder = key.items[j];
  return bonds_between(holder.atom, top.atom) <= bonds && child_free(rules_[holder.rule], holder.used_children, child);
}

// Whether forgetting item at of key completes the match: no other part of
// it is left to join this one.
bool JoinRule::completes(const ConfigKey& key, int at) const {
  const MatchOptions& options = plan_->options;
  if (vertices_->size() == 1 || (!options.span && key.item_count == 1)) return true;
  if (!options.ind) return false;
  bool others_unmatched = true;
  bool others_unmatched_rooted = true;
  for (int i = 0; i < key.item_count; ++i) {
    if (i == at) continue;
    if (key.items[i].rule != 0) others_unmatched = others_unmatched_rooted = false;
    if (key.items[i].root == 0) others_unmatched_rooted = false;
  }
  const Item& item = key.items[at];
  return (item.rule != 0 && others_unmatched_rooted) || (item.rule == 0 && item.root == 0 && others_unmatched);
}

bool JoinRule::forget(const ConfigKey& key, ConfigKey& next, uint8_t* counters, double& score, bool& accepted) const {
  const MatchOptions& options = plan_->options;
  const Automaton& a = plan_->automaton;
  const int count = key.item_count;
  int at = -1;
  for (int i = 0; i < count; ++i)
    if (key.items[i].atom == forget_) at = i;
  if (at < 0) {
    if (options.span) return false;
    next = key;
    return true;
  }
  const Item& item = key.items[at];
  const int r = item.rule;
  const int t = item.root;
  if (item.used_children != full_mask(rules_[r])) return false;
  const bool complete = completes(key, at);
  bool other_rootless = false;
  bool other_rooted_at_f = false;
  for (int i = 0; i < count; ++i) {
    if (i == at) continue;
    other_rootless = other_rootless || key.items[i].root == 0;
    other_rooted_at_f = other_rooted_at_f || key.items[i].root == forget_;
  }
  for (int k = 0; k < a.apply_count; ++k)
    counters[k] = static_cast<uint8_t>((key.counters ? key.counters[k] : 0) + (a.apply_rule[k] == r ? 1 : 0));
  if (complete) {
    if (t == forget_ && rules_[r].state != 1) return false;
    for (int k = 0; k < a.apply_count; ++k) {
      const int used = (key.counters ? key.counters[k] : 0) + (a.apply_rule[k] == r ? 1 : 0);
      if (used < a.apply_first[k] || used > a.apply_second[k]) return false;
    }
  } else {
    if (t == 0 && !other_rootless) return false;
    // A root leaves only with the first state; a matched one only when its
    // tree lives on in the bag.
    if (t == forget_ && (rules_[r].state != 1 || (r != 0 && (other_rootless || !other_rooted_at_f)))) return false;
  }
  next.item_count = static_cast<uint8_t>(count - 1);
  next.counters = counters;
  next.matched = key.matched;
  int out = 0;
  for (int i = 0; i < count; ++i) {
    if (i == at) continue;
    next.items[out] = key.items[i];
    if (complete || next.items[out].root == forget_) next.items[out].root = 0;
    ++out;
  }
  if (r != 0) score += molecule_->atoms[static_cast<size_t>(forget_)].value;
  if (complete && r != 0) accepted = true;
  return true;
}

bool JoinRule::keeps(const ConfigKey& key) const {
  if (!plan_->prune) return true;
  bool rootless = false;
  for (int i = 0; i < key.item_count; ++i) {
    if (!fits(key.items[i])) return false;
    rootless = rootless || key.items[i].root == 0;
  }
  if (!rootless) return true;
  // The root of the match is in the finished tree: a tree topped by the
  // first state here needs a parent too.
  for (int i = 0; i < key.item_count; ++i) {
    const Item& item = key.items[i];
    if (item.rule == 0 || item.root != item.atom || rules_[item.rule].state != 1) continue;
    if (!plan_->index.first_state_held || bonds_still_needed(rules_[item.rule], item) + 1 > left_[item.atom])
      return false;
  }
  return true;
}

void JoinRule::list_bonds() {
  const Molecule& m = *molecule_;
  const size_t n = m.atom_count;
  bond_start_.assign(n + 2, 0);
  for (uint32_t u = 1; u <= m.edge_count; ++u) ++bond_start_[static_cast<size_t>(m.edges[u].from) + 1];
  for (size_t a = 1; a <= n + 1; ++a) bond_start_[a] += bond_start_[a - 1];
  bond_to_.resize(m.edge_count);
  queue_.assign(bond_start_.begin(), bond_start_.end());  // where each atom's next bond goes
  for (uint32_t u = 1; u <= m.edge_count; ++u)
    bond_to_[queue_[static_cast<size_t>(m.edges[u].from)]++] = static_cast<uint32_t>(m.edges[u].to);
  distance_known_.assign(n + 1, 0);
  if (distance_.size() < (n + 1) * (n + 1)) distance_.resize((n + 1) * (n + 1));
}

uint8_t JoinRule::bonds_between(size_t a, size_t b) {
  if (distance_known_.empty()) list_bonds();
  const size_t n = molecule_->atom_count;
  uint8_t* row = distance_.data() + a * (n + 1);
  if (!distance_known_[a]) {
    distance_known_[a] = 1;
    std::fill(row, row + n + 1, uint8_t{255});
    row[a] = 0;
    queue_.assign(1, static_cast<uint32_t>(a));
    for (size_t head = 0; head < queue_.size(); ++head) {
      const uint32_t x = queue_[head];
      if (row[x] == 254) break;
      for (uint32_t i = bond_start_[x]; i < bond_start_[x + 1]; ++i) {
        const uint32_t y = bond_to_[i];
        if (row[y] != 255) continue;
        row[y] = static_cast<uint8_t>(row[x] + 1);
        queue_.push_back(y);
      }
    }
  }
  return row[b];
}

}  // namespace tarnaxel
