// The dynamic programme: joining two bags' tables, and forgetting an atom
// when its last bag is joined.  A join pairs every configuration of one side
// with every configuration of the other that the join rule lets pair, and
// forgets the atom as the rule says; what is left out never reaches the root
// table, so every table keeps the rest in the same order.  The pairs are
// found by walking a small side whole, or through an index of it built from
// the rule's per-atom codes (bit sets, or a trie for a large side).
#include <algorithm>
#include <cstring>

#include "common/fatal.h"
#include "matcher/context.h"
#include "matcher/partners.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

MatchContext::MatchContext(const MatchPlan& p, const Molecule& m, JoinScratch& s, size_t limit)
    : plan(p),
      automaton(p.automaton),
      options(p.options),
      molecule(m),
      scratch(s),
      store(p.automaton.apply_count, p.options.min != 0, limit, &s.seal),
      degree(s.degree),
      spare(s.spare) {
  degree.assign(m.atom_count + 1, 0);
  spare.clear();
}

namespace {

// A side of a join this small is walked whole rather than indexed.
constexpr size_t kWalkWhole = 8;
// Configurations held back together for their lookups.
constexpr size_t kHeldBack = 16;
// From this size on, a side is sorted into a trie rather than bit sets.
constexpr size_t kTrieFrom = 512;
// Joins of fewer configurations than this do not look where trees can hang:
// the few pairs they would drop cost more to find than to keep.
constexpr size_t kLookAboveFrom = 32;

// One join: the pairs the rule lets through, forgotten and stored in order.
class Joiner {
 public:
  Joiner(MatchContext& context, Bag& n, Bag& k, int f, Table& out)
      : c_(context),
        rule_(context.scratch.rule),
        n_(n),
        k_(k),
        f_(f),
        out_(out),
        look_above_(context.plan.look_above && n.table.size() + k.table.size() >= kLookAboveFrom) {}

  // Stores into the new table: through forgetting when an atom is forgotten.
  void put(const ConfigKey& key, BitsRef first, BitsRef second, double score) {
    if (f_ == 0) {
      emit(key, first, second, score);
      return;
    }
    uint8_t counters[kApplySlots];
    ConfigKey& next = c_.scratch.next;
    if (rule_.forget(key, next, counters, score, c_.accepted)) emit(next, first, second, score);
  }

  // Stores what is held back.
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

  // Every pair of a configuration of n with a configuration of k that the
  // rule lets pair, in the order of n's table and then of k's.
  void pairs() {
    if (n_.table.empty() || k_.table.empty()) return;
    if (k_.table.size() >= kTrieFrom) {
      pairs_by_trie();
      return;
    }
    std::vector<Config>& ks = c_.scratch.ks;
    decode_all(k_.table, ks);
    if (ks.size() <= kWalkWhole) {
      each_of_n([&](const Config& o) {
        for (const Config& c : ks)
          if (rule_.agree_everywhere(o, c)) pair(o, c);
      });
      return;
    }
    PartnerIndex& index = c_.scratch.index;
    index.build(rule_, ks);
    std::vector<Brings>& brings = c_.scratch.brings;
    brings.resize(ks.size());
    for (size_t j = 0; j < ks.size(); ++j) brings[j] = rule_.brings(ks[j]);
    each_of_n([&](const Config& o) {
      const Brings mine = rule_.brings(o);
      index.for_each_partner(o, [&](size_t j) {
        if (!JoinRule::cannot_pair(mine, brings[j])) pair(o, ks[j]);
      });
    });
  }

 private:
  // Stores into the new table in the order given, if the rule keeps it.
  // Once the table keeps an index of its keys, configurations are held back
  // a few at a time so that their lookups can be fetched from memory
  // together.
  void emit(const ConfigKey& key, BitsRef first, BitsRef second, double score) {
    if (!rule_.keeps(key)) return;
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

  // The configurations of n decoded as they come.
  template <typename With>
  void each_of_n(With with) {
    Config o;
    for (const Table::Entry& e : n_.table.entries()) {
      decode(n_.table, e, o);
      if (o.item_count != 0) with(o);
    }
  }

  // A large second side, sorted into a trie and decoded as each partner is met.
  void pairs_by_trie() {
    PartnerTrie& trie = c_.scratch.trie;
    trie.build(rule_, k_.table);
    std::vector<Brings>& brings = c_.scratch.brings;
    brings.resize(k_.table.size());
    Config c;
    for (size_t j = 0; j < brings.size(); ++j) {
      decode(k_.table, k_.table.entries()[j], c);
      brings[j] = rule_.brings(c);
    }
    each_of_n([&](const Config& o) {
      const Brings mine = rule_.brings(o);
      trie.for_each_partner(o, [&](size_t j) {
        if (JoinRule::cannot_pair(mine, brings[j])) return;
        decode(k_.table, k_.table.entries()[j], c);
        pair(o, c);
      });
    });
    give_back_if_large(brings);
  }

  void pair(const Config& o, const Config& c) {
    uint8_t sum[kApplySlots];
    if (!rule_.join(o, c, look_above_, key_, sum)) return;
    put(key_, n_.table.bits(*o.entry), k_.table.bits(*c.entry), o.entry->score + c.entry->score);
  }

  MatchContext& c_;
  JoinRule& rule_;
  Bag& n_;
  Bag& k_;
  int f_;
  Table& out_;
  bool look_above_;  // whether pairs are refused where a tree cannot hang
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

namespace {

// The atoms of the bag that joins n and k (both ascending) into vertices,
// and by each of them the bonds below it into the scratch's met.
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

// Bag k has been joined into n, whose new table is in place.
void finish_join(Bag& n, Bag& k, const std::vector<int>& vertices, const uint16_t* met) {
  n.vertices.assign(vertices.begin(), vertices.end());
  std::copy_n(met, vertices.size(), n.met);
  if (n.edge_list.empty()) n.edge_list.swap(k.edge_list);  // a new bag takes k's bonds as they are
  else n.edge_list.insert(n.edge_list.end(), k.edge_list.begin(), k.edge_list.end());
  k.vertices.clear();
  k.table.clear_and_trim();
  k.edge_list.clear();
}

// The join whole_side found: one side's table moved as it stands.
void join_whole(MatchContext& context, Bag& n, Bag& k, Table* side) {
  const size_t n_length = n.edge_list.size();
  const size_t k_length = k.edge_list.size();
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
}

// Two root bags: the best of each side, added up.
void join_roots(MatchContext& context, Bag& n, Bag& k, Joiner& joiner) {
  const Table::Entry* a = best_of(context, n.table);
  const Table::Entry* b = best_of(context, k.table);
  n.is_leaf = k.is_leaf;
  if (context.options.span && (n.table.empty() || k.table.empty())) return;
  ConfigKey key;
  key.matched = static_cast<uint8_t>((a ? a->matched : 0) | (b ? b->matched : 0));
  joiner.put(key, a ? n.table.bits(*a) : BitsRef{nullptr, n.edge_list.size()}, b ? k.table.bits(*b) : BitsRef{},
             (a ? a->score : 0.0) + (b ? b->score : 0.0));
}

// Each side alone where the options let a configuration stand without a
// partner, then every pair.
void join_pairs(MatchContext& context, Bag& n, Bag& k, Joiner& joiner) {
  const BitsRef n_none{nullptr, n.edge_list.size()};
  if (n.vertices.empty()) {
    for (const Table::Entry& e : k.table.entries()) joiner.put(key_of(k.table, e), n_none, k.table.bits(e), e.score);
    n.is_leaf = k.is_leaf;
    return;
  }
  const bool ind = context.options.ind != 0;
  const bool span = context.options.span != 0;
  if (!ind && (!span || k.is_leaf)) {
    for (const Table::Entry& e : n.table.entries()) joiner.put(key_of(n.table, e), n.table.bits(e), BitsRef{}, e.score);
  }
  if (!ind && (!span || n.is_leaf)) {
    for (const Table::Entry& e : k.table.entries()) joiner.put(key_of(k.table, e), n_none, k.table.bits(e), e.score);
  }
  joiner.pairs();
  // A bag is a leaf while it is made of bond leaves alone.
  n.is_leaf = (n.is_leaf && k.is_leaf) ? 1 : 0;
}

}  // namespace

void join_bags(MatchContext& context, Bag& n, Bag& k, int f) {
  std::vector<int>& vertices = context.scratch.vertices;
  vertices.clear();
  unite(context, n, k, vertices);
  Table* side = nullptr;
  if (whole_side(context, n, k, f, side)) {
    join_whole(context, n, k, side);
    finish_join(n, k, vertices, context.scratch.met);
    return;
  }
  context.scratch.rule.start_join(n.vertices, k.vertices, vertices, context.scratch.met, f);
  Table& table = context.spare;
  context.store.start(table, n.edge_list.size() + k.edge_list.size());
  Joiner joiner(context, n, k, f, table);
  if (n.vertices.empty() && k.vertices.empty()) join_roots(context, n, k, joiner);
  else join_pairs(context, n, k, joiner);
  joiner.flush();
  context.store.seal(table);
  context.store.release(n.table);
  context.store.release(k.table);
  std::swap(n.table, table);
  table.clear_and_trim();
  finish_join(n, k, vertices, context.scratch.met);
}

}  // namespace tarnaxel
