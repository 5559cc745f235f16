// The dynamic programme: joining two bags' tables, and forgetting an atom
// when its last bag is merged.  A join pairs every configuration of one side
// with every configuration of the other that agrees on their shared atoms,
// leaving out the pairs that can never finish (a state one match holds once
// at two atoms, a tree too far from the atom it must hang below, a matched
// atom with fewer bonds outside the bag than it still needs); forgetting
// checks that the rule at the atom is complete and that the partial trees
// can still become one connected match.  What is left out never reaches the
// root table, so every table keeps the rest in the same order.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "common/fatal.h"
#include "matcher/context.h"
#include "matcher/partners.h"
#include "rulefile/automaton.h"
#include "rulefile/rule_index.h"

namespace tarnaxel {

MatchContext::MatchContext(const Automaton& a, const MatchOptions& o, const Molecule& m, JoinScratch& s,
                           size_t limit)
    : automaton(a),
      options(o),
      molecule(m),
      scratch(s),
      store(a.apply_count, o.min != 0, limit, &s.seal),
      link(s.link),
      degree(s.degree),
      spare(s.spare) {
  // Every link read in a join is written first in that join.
  link.resize(m.atom_count + 1);
  degree.assign(m.atom_count + 1, 0);
  s.left.resize(m.atom_count + 1);
  s.check_left = o.every_rule == 0;
  spare.clear();
}

void list_bonds(MatchContext& context) {
  JoinScratch& s = context.scratch;
  s.look_above = !context.options.every_rule && context.automaton.index->any_above;
  s.distance_known.clear();
}

namespace {

// The bonds by atom, the first time a record asks for a distance.
void list_bonds_now(JoinScratch& s, const Molecule& m) {
  const size_t n = m.atom_count;
  s.bond_start.assign(n + 2, 0);
  for (uint32_t u = 1; u <= m.edge_count; ++u) ++s.bond_start[static_cast<size_t>(m.edges[u].from) + 1];
  for (size_t a = 1; a <= n + 1; ++a) s.bond_start[a] += s.bond_start[a - 1];
  s.bond_to.resize(m.edge_count);
  s.queue.assign(s.bond_start.begin(), s.bond_start.end());  // where each atom's next bond goes
  for (uint32_t u = 1; u <= m.edge_count; ++u)
    s.bond_to[s.queue[static_cast<size_t>(m.edges[u].from)]++] = static_cast<uint32_t>(m.edges[u].to);
  s.distance_known.assign(n + 1, 0);
  if (s.distance.size() < (n + 1) * (n + 1)) s.distance.resize((n + 1) * (n + 1));
}

// The fewest bonds between atoms a and b (255: that many or more, or none),
// each row worked out by a breadth-first walk the first time it is asked.
uint8_t bonds_between(JoinScratch& s, const Molecule& m, size_t a, size_t b) {
  if (s.distance_known.empty()) list_bonds_now(s, m);
  const size_t n = m.atom_count;
  uint8_t* row = s.distance.data() + a * (n + 1);
  if (!s.distance_known[a]) {
    s.distance_known[a] = 1;
    std::fill(row, row + n + 1, uint8_t{255});
    row[a] = 0;
    s.queue.assign(1, static_cast<uint32_t>(a));
    for (size_t head = 0; head < s.queue.size(); ++head) {
      const uint32_t x = s.queue[head];
      if (row[x] == 254) break;
      for (uint32_t i = s.bond_start[x]; i < s.bond_start[x + 1]; ++i) {
        const uint32_t y = s.bond_to[i];
        if (row[y] != 255) continue;
        row[y] = static_cast<uint8_t>(row[x] + 1);
        s.queue.push_back(y);
      }
    }
  }
  return row[b];
}

// A side of a join this small is walked whole rather than indexed.
constexpr size_t kWalkWhole = 8;
// Configurations held back together for their lookups.
constexpr size_t kHeldBack = 16;
// From this size on, a side is sorted into a trie rather than bit sets.
constexpr size_t kTrieFrom = 512;
// Joins of fewer configurations than this do not look where trees can hang:
// the few pairs they would drop cost more to find than to keep.
constexpr size_t kLookAboveFrom = 32;

class Merger {
 public:
  Merger(MatchContext& context, Bag& n, Bag& k, int f, const std::vector<int>& vertices, Table& out)
      : c_(context),
        a_(context.automaton),
        n_(n),
        k_(k),
        f_(f),
        vertices_(vertices),
        out_(out),
        once_(rule_bits(context, a_.index->once_bit)),
        holder_(rule_bits(context, a_.index->holder_bit)),
        look_above_(context.scratch.look_above && n.table.size() + k.table.size() >= kLookAboveFrom) {}

  // By rule, bits of the rule index; all 0 when every rule is kept (the
  // same zeros for every such array: they have one entry per rule).
  static const uint64_t* rule_bits(MatchContext& context, const std::vector<uint64_t>& bits) {
    if (!context.options.every_rule) return bits.data();
    context.scratch.no_once.assign(bits.size(), 0);
    return context.scratch.no_once.data();
  }

  // Stores into the new table in the order given.  Once the table keeps an
  // index of its keys, configurations are held back a few at a time so that
  // their lookups can be fetched from memory together.
  void emit(const ConfigKey& key, BitsRef first, BitsRef second, double score) {
    if (!bonds_suffice(c_, key)) return;
    JoinScratch& s = c_.scratch;
    if (s.pending_count == 0 && !out_.indexed()) {
      c_.store.store(out_, key, first, second, score);
      return;
    }
    const size_t counter_count = static_cast<size_t>(c_.store.counter_count());
    if (s.pending.size() < kHeldBack) {
      s.pending.resize(kHeldBack);
      s.pending_counters.resize(kHeldBack * static_cast<size_t>(kApplySlots));
    }
    PendingConfig& p = s.pending[s.pending_count];
    p.key = key;
    p.has_counters = key.counters != nullptr;
    if (p.has_counters)
      std::memcpy(s.pending_counters.data() + s.pending_count * counter_count, key.counters, counter_count);
    p.first = first;
    p.second = second;
    p.score = score;
    if (++s.pending_count == kHeldBack) flush();
  }

  void flush() {
    JoinScratch& s = c_.scratch;
    const size_t counter_count = static_cast<size_t>(c_.store.counter_count());
    for (size_t i = 0; i < s.pending_count; ++i) {
      PendingConfig& p = s.pending[i];
      p.key.counters = p.has_counters ? s.pending_counters.data() + i * counter_count : nullptr;
      p.hash = out_.key_hash(p.key);
      out_.prefetch_slot(p.hash);
    }
    for (size_t i = 0; i < s.pending_count; ++i) out_.prefetch_entry(s.pending[i].hash);
    for (size_t i = 0; i < s.pending_count; ++i) {
      const PendingConfig& p = s.pending[i];
      c_.store.store(out_, p.key, p.first, p.second, p.score, &p.hash);
    }
    s.pending_count = 0;
  }

  // Stores into the new table: through forgetting when an atom is forgotten.
  void put(const ConfigKey& key, BitsRef first, BitsRef second, double score) {
    if (f_ == 0) {
      emit(key, first, second, score);
    } else {
      forget(key, first, second, score);
    }
  }

  void forget(const ConfigKey& key, BitsRef first, BitsRef second, double score) {
    const int count = key.item_count;
    int at = -1;
    for (int i = 0; i < count; ++i)
      if (key.items[i].atom == f_) at = i;
    if (at < 0) {
      if (!c_.options.span) emit(key, first, second, score);
      return;
    }
    const Item& item = key.items[at];
    const int r = item.rule;
    const int t = item.root;
    bool complete = vertices_.size() == 1 || (!c_.options.span && count == 1);
    if (!complete && c_.options.ind) {
      bool others_unmatched_rooted = true;
      bool others_unmatched = true;
      for (int i = 0; i < count; ++i) {
        if (i == at) continue;
        if (key.items[i].rule != 0) others_unmatched = others_unmatched_rooted = false;
        if (key.items[i].root == 0) others_unmatched_rooted = false;
      }
      complete = (r != 0 && others_unmatched_rooted) || (r == 0 && t == 0 && others_unmatched);
    }
    bool other_rootless = false;
    bool other_rooted_at_f = false;
    for (int i = 0; i < count; ++i) {
      if (i == at) continue;
      other_rootless = other_rootless || key.items[i].root == 0;
      other_rooted_at_f = other_rooted_at_f || key.items[i].root == f_;
    }
    if (item.used_children != full_mask(a_.rules[r])) return;

    uint8_t counters[kApplySlots];
    const int counter_count = c_.store.counter_count();
    for (int k = 0; k < counter_count; ++k) {
      counters[k] = key.counters ? key.counters[k] : 0;
      if (a_.apply_rule[k] == r) ++counters[k];
    }
    ConfigKey& next = c_.scratch.next;  // every field read is written below
    next.item_count = static_cast<uint8_t>(count - 1);
    next.counters = counters;
    next.matched = key.matched;
    int out = 0;
    for (int i = 0; i < count; ++i) {
      if (i == at) continue;
      next.items[out] = key.items[i];
      if (complete || next.items[out].root == f_) next.items[out].root = 0;
      ++out;
    }
    double next_score = score + (r != 0 ? c_.molecule.atoms[f_].value : 0.0);

    if (complete) {
      if (t == f_ && a_.rules[r].state != 1) return;
      for (int k = 0; k < counter_count; ++k) {
        int used = (key.counters ? key.counters[k] : 0) + (a_.apply_rule[k] == r ? 1 : 0);
        if (used < a_.apply_first[k] || used > a_.apply_second[k]) return;
      }
      if (r != 0) c_.accepted = true;
    } else {
      if (t == 0 && !other_rootless) return;
      if (t == f_) {
        if (a_.rules[r].state != 1) return;
        // A matched root leaves only when its tree lives on in the bag.
        if (r != 0 && (other_rootless || !other_rooted_at_f)) return;
      }
    }
    emit(next, first, second, next_score);
  }

  // Every pair of a configuration of n with a configuration of k that agree
  // on their shared atoms, in the order of n's table and then of k's.
  void pairs() {
    if (n_.table.empty() || k_.table.empty()) return;
    // The first side decoded as it comes; the second walked whole when small,
    // else indexed by the atoms both hold: decoded once into bit sets, or
    // when large sorted into a trie and decoded as each partner is met.
    auto each_of_n = [&](auto with) {
      Config o;
      for (const Table::Entry& e : n_.table.entries()) {
        decode(n_.table, e, f_, o);
        if (o.item_count != 0) with(o);
      }
    };
    // The atoms both bags hold, for the indexes.
    auto shared_atoms = [&]() -> const std::vector<int>& {
      std::vector<int>& shared = c_.scratch.shared;
      shared.clear();
      std::set_intersection(n_.vertices.begin(), n_.vertices.end(), k_.vertices.begin(), k_.vertices.end(),
                            std::back_inserter(shared));
      return shared;
    };
    std::vector<Brings>& brings = c_.scratch.brings;
    if (k_.table.size() >= kTrieFrom) {
      PartnerTrie& trie = c_.scratch.trie;
      const std::vector<int>& shared = shared_atoms();
      trie.build(k_.table, shared, f_, a_.rules, c_.scratch.check_left ? c_.scratch.left.data() : nullptr);
      Config c;
      brings.resize(k_.table.size());
      for (size_t j = 0; j < brings.size(); ++j) {
        decode(k_.table, k_.table.entries()[j], f_, c);
        brings[j] = brings_of(c, shared);
      }
      each_of_n([&](const Config& o) {
        const Brings mine = brings_of(o, shared);
        trie.for_each_partner(o, [&](size_t j) {
          if (refused(mine, brings[j])) return;
          decode(k_.table, k_.table.entries()[j], f_, c);
          pair(o, c);
        });
      });
      give_back_if_large(brings);
      return;
    }
    std::vector<Config>& ks = c_.scratch.ks;
    decode_all(k_.table, ks, f_);
    if (ks.size() <= kWalkWhole) {
      each_of_n([&](const Config& o) {
        for (const Config& c : ks)
          if (c.item_count != 0 && !(o.rootless && c.rootless) && leaves_forgotten(o, c)) pair(o, c);
      });
      return;
    }
    PartnerIndex& index = c_.scratch.index;
    const std::vector<int>& shared = shared_atoms();
    index.build(ks, shared, f_, a_.rules);
    brings.resize(ks.size());
    for (size_t j = 0; j < ks.size(); ++j) brings[j] = brings_of(ks[j], shared);
    each_of_n([&](const Config& o) {
      const Brings mine = brings_of(o, shared);
      index.for_each_partner(o, [&](size_t j) {
        if (!refused(mine, brings[j])) pair(o, ks[j]);
      });
    });
  }

  // What a configuration brings to this join (shared: the atoms both bags
  // hold, ascending).
  Brings brings_of(const Config& c, const std::vector<int>& shared) const {
    Brings b;
    size_t s = 0;
    for (int i = 0; i < c.item_count; ++i) {
      const Item& item = c.items[i];
      while (s < shared.size() && shared[s] < item.atom) ++s;
      const uint64_t once = once_[item.rule];
      const uint64_t holds = holder_[item.rule];
      b.rootless = b.rootless || item.root == 0;
      if (s == shared.size() || shared[s] != item.atom) {
        b.once_own |= once;
        b.holds_own |= holds;
        b.root_apart = b.root_apart || (c_.scratch.check_left && !a_.index->first_state_held && item.rule != 0 &&
                                        item.root == item.atom && a_.rules[item.rule].state == 1);
        continue;
      }
      const uint8_t bit = static_cast<uint8_t>(1u << s);
      b.present |= bit;
      b.once_shared |= once;
      b.holds_shared |= holds;
      if (c_.scratch.check_left && !item_fits(c_, item)) b.short_alone |= bit;
    }
    return b;
  }

  // Whether a pair can leave the atom the join forgets, as PartnerIndex
  // asks of the pairs it finds.
  bool leaves_forgotten(const Config& o, const Config& c) const {
    const Item* a = o.forgotten >= 0 ? &o.items[o.forgotten] : nullptr;
    const Item* b = c.forgotten >= 0 ? &c.items[c.forgotten] : nullptr;
    if (a == nullptr && b == nullptr) return true;
    if (a != nullptr && b != nullptr) {
      return a->rule == b->rule &&
             can_leave(a_.rules[a->rule], static_cast<uint8_t>(a->used_children | b->used_children),
                       a->root == f_ && b->root == f_);
    }
    const Item& x = a != nullptr ? *a : *b;
    return can_leave(a_.rules[x.rule], x.used_children, x.root == f_);
  }

  // Joins one pair: the items of both over the bag's atoms, the counters
  // added up, and every tree's root found through the links of the pair.
  void pair(const Config& o, const Config& c) {
    const int counter_count = c_.store.counter_count();
    std::vector<int>& link = c_.link;
    uint8_t sum[kApplySlots];
    uint8_t check[kApplySlots];
    for (int k = 0; k < counter_count; ++k) check[k] = sum[k] = static_cast<uint8_t>(o.counters[k] + c.counters[k]);
    int count = 0;
    uint64_t held = 0;
    uint64_t holding = 0;
    int oi = 0;
    int ci = 0;
    for (int x : vertices_) {
      const Item* taken = nullptr;
      Item merged;
      bool in_o = oi < o.item_count && o.items[oi].atom == x;
      bool in_c = ci < c.item_count && c.items[ci].atom == x;
      if (in_o && in_c) {
        const Item& a = o.items[oi++];
        const Item& b = c.items[ci++];
        if (a.rule != b.rule || (a.used_children & b.used_children) != 0 || (a.root != x && b.root != x)) return;
        link[x] = a.root == x ? b.root : a.root;
        merged = a;
        merged.used_children = static_cast<uint8_t>(a.used_children | b.used_children);
        taken = &merged;
      } else if (in_o) {
        link[x] = o.items[oi].root;
        merged = o.items[oi++];
        taken = &merged;
      } else if (in_c) {
        link[x] = c.items[ci].root;
        merged = c.items[ci++];
        taken = &merged;
      } else {
        link[x] = 0;
      }
      if (taken != nullptr) {
        // A state a match holds once, or two holders of one, at two atoms:
        // the pair can never finish.
        const uint64_t once = once_[taken->rule];
        const uint64_t holds = holder_[taken->rule];
        if ((held & once) != 0 || (holding & holds) != 0) return;
        held |= once;
        holding |= holds;
        for (int k = 0; k < counter_count; ++k) {
          if (a_.apply_rule[k] == taken->rule) {
            ++check[k];
            break;
          }
        }
        key_.items[count++] = *taken;
      }
    }
    for (int k = 0; k < counter_count; ++k)
      if (check[k] > a_.apply_second[k]) return;
    if (!resolve_roots()) return;
    for (int i = 0; i < count; ++i) key_.items[i].root = link[key_.items[i].atom];
    if (look_above_ && !tops_can_hang(count, held, holding)) return;
    key_.item_count = static_cast<uint8_t>(count);
    key_.counters = sum;
    key_.matched = static_cast<uint8_t>(o.entry->matched | c.entry->matched);
    put(key_, n_.table.bits(*o.entry), k_.table.bits(*c.entry), o.entry->score + c.entry->score);
  }

  // A tree whose top atom's state can only hang below states held once must
  // hang below the atom holding the nearest of them in the bag, over as many
  // bonds as the states between, atoms not yet met; and when only atoms carry
  // its state held once, below the one atom whose rule can hold it, if in
  // the bag.  False when a top stands further from that atom, or no child of
  // the state on the way is free there.
  bool tops_can_hang(int count, uint64_t held, uint64_t holding) {
    const RuleIndex& index = *a_.index;
    for (int i = 0; i < count; ++i) {
      const Item& top = key_.items[i];
      if (top.root != top.atom) continue;
      const uint64_t hang = index.hang_bit[top.rule];
      if ((holding & hang) != 0 && !hangs_below(top, holder_, hang, 1, a_.rules[top.rule].state, count)) return false;
      if ((held & index.above_mask[top.rule]) == 0) continue;
      for (uint32_t u = index.above_start[top.rule]; u < index.above_start[top.rule + 1u]; ++u) {
        const RuleIndex::Above& up = index.above_list[u];
        if ((held & up.bit) == 0) continue;
        if (!hangs_below(top, once_, up.bit, up.bonds, up.child, count)) return false;
        break;
      }
    }
    return true;
  }

  // Whether top can hang below the item whose rule carries bit in by_rule,
  // within bonds bonds, with a child of state child still free there.
  bool hangs_below(const Item& top, const uint64_t* by_rule, uint64_t bit, int32_t bonds, int32_t child, int count) {
    int j = 0;
    while (j + 1 < count && (by_rule[key_.items[j].rule] & bit) == 0) ++j;
    const Item& holder = key_.items[j];
    return bonds_between(c_.scratch, c_.molecule, holder.atom, top.atom) <= bonds &&
           child_free(a_.rules[holder.rule], holder.used_children, child);
  }

  // Whether a rule can still take a child of this state: a starred one, or
  // a plain one over a bond not yet used.
  static bool child_free(const Rule& rule, uint8_t used, int32_t state) {
    const int children = std::min(rule.plain_count + rule.star_count, kMaxChildren);
    for (int k = 0; k < children; ++k) {
      if (rule.child_state[k] != state) continue;
      if (k >= rule.plain_count) return true;
      if (rule.child_label[k] != kWildcardLabel && ((used >> k) & 1u) == 0) return true;
    }
    return false;
  }

  // Resolves every atom's link to the root at the end of its chain; false
  // when the links run in a circle.
  bool resolve_roots() {
    std::vector<int>& link = c_.link;
    const size_t limit = vertices_.size();
    for (int x : vertices_) {
      int y = link[x];
      if (y == 0 || y == x) continue;
      int z = y;
      size_t steps = 0;
      while (z != 0 && link[z] != z) {
        z = link[z];
        if (++steps >= limit) return false;
      }
      link[x] = z;
    }
    return true;
  }

 private:
  MatchContext& c_;
  const Automaton& a_;
  Bag& n_;
  Bag& k_;
  int f_;
  const std::vector<int>& vertices_;
  Table& out_;
  const uint64_t* once_;  // by rule: its bit if its state stands once in a match
  const uint64_t* holder_;  // by rule: the bits of the states held once it holds
  bool look_above_;  // whether joins look where trees can hang
  ConfigKey key_;  // every field read is written for each pair
};

ConfigKey key_of(const Table& table, const Table::Entry& e) {
  ConfigKey key;
  key.item_count = e.item_count;
  for (int i = 0; i < e.item_count; ++i) key.items[i] = unpack(e.items[i]);
  key.counters = table.counters(e);
  key.matched = e.matched;
  return key;
}

// The best configuration of a root table, or null; under "-min" only
// configurations that match some atom count.
const Table::Entry* best_of(const MatchContext& context, const Table& table) {
  const Table::Entry* best = nullptr;
  for (const Table::Entry& entry : table.entries()) {
    if (context.options.min && !entry.matched) continue;
    if (best == nullptr || context.store.better(entry.score, best->score)) best = &entry;
  }
  return best;
}

}  // namespace

const Table::Entry* best_config(const MatchContext& context, const Table& table) {
  return best_of(context, table);
}

void unite(MatchContext& context, const Bag& n, const Bag& k, std::vector<int>& vertices) {
  uint16_t* met = context.scratch.met;
  const size_t a_count = n.vertices.size();
  const size_t b_count = k.vertices.size();
  size_t a = 0;
  size_t b = 0;
  while (a < a_count || b < b_count) {
    if (vertices.size() == kMaxBagAtoms) fail(Stream::err, "Error: Elimination Order is Wrong!");
    const int x = a == a_count ? k.vertices[b] : b == b_count ? n.vertices[a] : std::min(n.vertices[a], k.vertices[b]);
    uint16_t bonds = 0;
    if (a < a_count && n.vertices[a] == x) bonds = static_cast<uint16_t>(bonds + n.met[a++]);
    if (b < b_count && k.vertices[b] == x) bonds = static_cast<uint16_t>(bonds + k.met[b++]);
    met[vertices.size()] = bonds;
    vertices.push_back(x);
  }
}

namespace {

// A join that pairs nothing and forgets nothing leaves one side's table as
// it stands, its bits moved past the bonds before them, or an empty table:
// sets side to that table (null: empty) and returns true, or returns false
// when the join has to be made configuration by configuration.
bool whole_side(const MatchContext& context, Bag& n, Bag& k, int f, Table*& side) {
  if (f != 0 || k.vertices.empty()) return false;
  side = nullptr;
  if (n.vertices.empty()) {
    side = &k.table;  // a new bag takes k's configurations
    return true;
  }
  if (!n.table.empty() && !k.table.empty()) return false;
  const bool ind = context.options.ind != 0;
  const bool span = context.options.span != 0;
  if (!n.table.empty() && !ind && (!span || k.is_leaf)) side = &n.table;
  if (!k.table.empty() && !ind && (!span || n.is_leaf)) side = &k.table;
  return true;
}

// The bonds of each atom of the bag a join makes that are not below it.
void count_left(MatchContext& context, const std::vector<int>& vertices) {
  for (size_t i = 0; i < vertices.size(); ++i) {
    const size_t x = static_cast<size_t>(vertices[i]);
    context.scratch.left[x] = context.degree[x] - context.scratch.met[i];
  }
}

// Bag k has been merged into n, whose new table is in place.
void finish_merge(Bag& n, Bag& k, const std::vector<int>& vertices, const uint16_t* met) {
  n.vertices.assign(vertices.begin(), vertices.end());
  std::copy_n(met, vertices.size(), n.met);
  if (n.edge_list.empty()) n.edge_list.swap(k.edge_list);  // a new bag takes k's bonds as they are
  else n.edge_list.insert(n.edge_list.end(), k.edge_list.begin(), k.edge_list.end());
  k.vertices.clear();
  k.table.clear_and_trim();
  k.edge_list.clear();
}

}  // namespace

void merge_bags(MatchContext& context, Bag& n, Bag& k, int f) {
  std::vector<int>& vertices = context.scratch.vertices;
  vertices.clear();
  unite(context, n, k, vertices);
  const size_t n_length = n.edge_list.size();
  const size_t k_length = k.edge_list.size();
  Table* side = nullptr;
  if (whole_side(context, n, k, f, side)) {
    const uint8_t is_leaf = n.vertices.empty() ? k.is_leaf : static_cast<uint8_t>(n.is_leaf && k.is_leaf);
    if (side != &n.table) context.store.release(n.table);
    if (side != &k.table) context.store.release(k.table);
    if (side == nullptr) {
      context.store.start(n.table, n_length + k_length);
    } else {
      context.store.relayout(*side, n_length + k_length, side == &k.table ? n_length : 0);
      if (side == &k.table) std::swap(n.table, k.table);
    }
    n.is_leaf = is_leaf;
    finish_merge(n, k, vertices, context.scratch.met);
    return;
  }
  count_left(context, vertices);
  const BitsRef n_none{nullptr, n_length};
  Table& table = context.spare;
  context.store.start(table, n_length + k_length);
  Merger merger(context, n, k, f, vertices, table);

  if (n.vertices.empty() && k.vertices.empty()) {
    // Two root bags: the best of each side, added up.
    const Table::Entry* a = best_of(context, n.table);
    const Table::Entry* b = best_of(context, k.table);
    bool store = true;
    if (context.options.span && (n.table.empty() || k.table.empty())) store = false;
    if (store) {
      ConfigKey key;
      key.matched = static_cast<uint8_t>((a ? a->matched : 0) | (b ? b->matched : 0));
      merger.put(key, a ? n.table.bits(*a) : n_none, b ? k.table.bits(*b) : BitsRef{},
                 (a ? a->score : 0.0) + (b ? b->score : 0.0));
    }
    n.is_leaf = k.is_leaf;
  } else if (n.vertices.empty()) {
    for (const Table::Entry& e : k.table.entries()) merger.put(key_of(k.table, e), n_none, k.table.bits(e), e.score);
    n.is_leaf = k.is_leaf;
  } else {
    const bool ind = context.options.ind != 0;
    const bool span = context.options.span != 0;
    if (!ind && (!span || k.is_leaf)) {
      for (const Table::Entry& e : n.table.entries()) merger.put(key_of(n.table, e), n.table.bits(e), BitsRef{}, e.score);
    }
    if (!ind && (!span || n.is_leaf)) {
      for (const Table::Entry& e : k.table.entries()) merger.put(key_of(k.table, e), n_none, k.table.bits(e), e.score);
    }
    merger.pairs();
    // A bag is a leaf while it is made of bond leaves alone.
    n.is_leaf = (n.is_leaf && k.is_leaf) ? 1 : 0;
  }
  merger.flush();
  context.store.seal(table);
  context.store.release(n.table);
  context.store.release(k.table);
  std::swap(n.table, table);
  table.clear_and_trim();
  finish_merge(n, k, vertices, context.scratch.met);
}

}  // namespace tarnaxel
