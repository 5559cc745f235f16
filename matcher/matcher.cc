// Matcher entry: the elimination order, the edge leaves, the elimination of
// every atom with its merges, and the best configuration of the root bag.
#include "matcher/matcher.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include <unistd.h>

#include "common/fatal.h"
#include "common/limits.h"
#include "matcher/adjacency.h"
#include "matcher/context.h"
#include "matcher/order.h"
#include "matcher/viable.h"
#include "rulefile/automaton.h"

namespace tarnaxel {
namespace {

// A set of bags ordered by their vertex sets (fewer vertices first, then the
// vertices compared element by element; bags with equal vertices are one
// element), kept as a sorted vector of packed vertex sets: the sets here hold
// a handful of bags.
class BagSet {
 public:
  // The vertex set of a bag packed so that its unsigned order is the set
  // order: the count, then ten bits per atom (atom numbers have three
  // digits).  A bag holds at most 8 atoms, the width being at most 7.
  struct Key {
    uint64_t high;
    uint64_t low;
    bool operator<(const Key& other) const { return high != other.high ? high < other.high : low < other.low; }
    bool operator==(const Key& other) const { return high == other.high && low == other.low; }
  };
  static Key key_of(const Bag& bag) {
    const std::vector<int>& v = bag.vertices;
    if (v.size() > kMaxBagAtoms) fail(Stream::err, "Error: Elimination Order is Wrong!");
    Key key{static_cast<uint64_t>(v.size()) << 60, 0};
    for (size_t i = 0; i < v.size(); ++i) {
      const uint64_t atom = static_cast<uint64_t>(v[i]) & ((1u << kBagAtomBits) - 1);
      if (i < 6) key.high |= atom << (50 - kBagAtomBits * i);
      else key.low |= atom << (54 - kBagAtomBits * (i - 6));
    }
    return key;
  }

  void clear() { bags_.clear(); }
  void insert(const Key& key, Bag* bag) {
    if (bags_.empty() || bags_.back().first < key) {  // leaves arrive in order
      bags_.push_back({key, bag});
      return;
    }
    auto at = std::lower_bound(bags_.begin(), bags_.end(), key, before);
    if (at == bags_.end() || !(at->first == key)) bags_.insert(at, {key, bag});
  }
  // The bag with these vertices, or null.
  Bag* find(const Key& key) const {
    auto at = std::lower_bound(bags_.begin(), bags_.end(), key, before);
    return at == bags_.end() || !(at->first == key) ? nullptr : at->second;
  }
  // Removes the bag with these vertices, if any.
  void erase(const Key& key) {
    auto at = std::lower_bound(bags_.begin(), bags_.end(), key, before);
    if (at != bags_.end() && at->first == key) bags_.erase(at);
  }
  // Calls visit(bag) for every bag in order.
  template <typename Visit>
  void for_each(Visit visit) const {
    for (const auto& entry : bags_) visit(entry.second);
  }

 private:
  static bool before(const std::pair<Key, Bag*>& entry, const Key& key) { return entry.first < key; }
  std::vector<std::pair<Key, Bag*>> bags_;
};

// The bags of one molecule, reused from molecule to molecule.
class BagArena {
 public:
  void restart() { used_ = 0; }
  Bag* acquire() {
    if (used_ == bags_.size()) bags_.push_back(std::make_unique<Bag>());
    Bag* bag = bags_[used_++].get();
    bag->vertices.clear();
    bag->table.clear();
    bag->is_leaf = 0;
    bag->edge_list.clear();
    return bag;
  }

 private:
  std::vector<std::unique_ptr<Bag>> bags_;
  size_t used_ = 0;
};

// The sealed tables of bond leaves met before, by what decides a leaf's
// configurations: the options, both atoms' degrees and listed rules, and
// the direction, label and weight of each directed edge between them.
// Leaves of the same kind recur within and across molecules; a table is
// kept with its atoms renamed 1 and 2, which keeps its order.
class LeafCache {
 public:
  // Makes the key of the leaf of atoms v < w with directed edges
  // [first, last) of the sorted edge keys, for find and keep.
  void make_key(const MatchContext& context, int v, int w, const std::vector<uint64_t>& edges,
                                      size_t first, size_t last) {
    const JoinScratch& s = context.scratch;
    const MatchOptions& o = context.options;
    key_.clear();
    key_.push_back(static_cast<uint32_t>(o.ind | (o.span << 1) | (o.min << 2) | (o.every_rule << 3)));
    for (int a : {v, w}) {
      const size_t x = static_cast<size_t>(a);
      key_.push_back(static_cast<uint32_t>(context.degree[x]));
      key_.push_back(s.list_start[x + 1] - s.list_start[x]);
      key_.push_back(s.ready_start[x] - s.list_start[x]);
      key_.insert(key_.end(), s.rule_list.begin() + s.list_start[x], s.rule_list.begin() + s.list_start[x + 1]);
    }
    for (size_t i = first; i < last; ++i) {
      const Edge& e = context.molecule.edges[edges[i] & ((1u << kEdgeKeyBits) - 1)];
      uint64_t weight;
      std::memcpy(&weight, &e.weight, sizeof weight);
      key_.push_back(e.from == v ? 0u : 1u);
      key_.push_back(static_cast<uint32_t>(e.label));
      key_.push_back(static_cast<uint32_t>(weight));
      key_.push_back(static_cast<uint32_t>(weight >> 32));
    }
  }

  // The table kept under the key just made, or null.
  const Table* find() {
    hash_ = 0x9E3779B97F4A7C15ull;
    for (uint32_t x : key_) hash_ = (hash_ ^ x) * 0x100000001B3ull;
    const auto at = by_hash_.find(hash_);
    return at != by_hash_.end() && slots_[at->second].key == key_ ? &slots_[at->second].table : nullptr;
  }

  // Keeps a copy of a leaf's sealed table of atoms v < w under the key just
  // made and looked up.
  void keep(const Table& table, int v, int w, const ConfigStore& store) {
    if (slots_.size() == kSlots) {
      slots_.clear();
      by_hash_.clear();
    }
    Slot& slot = slots_.emplace_back();
    slot.key = key_;
    store.start(slot.table, 1);
    const uint16_t from[2] = {static_cast<uint16_t>(v), static_cast<uint16_t>(w)};
    const uint16_t to[2] = {1, 2};
    slot.table.copy_renamed(table, from, to);
    by_hash_[hash_] = slots_.size() - 1;
  }

 private:
  static constexpr size_t kSlots = 1024;
  struct Slot {
    std::vector<uint32_t> key;
    Table table;
  };
  std::vector<uint32_t> key_;
  uint64_t hash_ = 0;
  std::vector<Slot> slots_;
  std::unordered_map<uint64_t, size_t> by_hash_;
};

// Whether an atom alone fits a rule of the first state.
bool fits_alone(const Automaton& a, const Atom& atom) {
  for (int r = 1; r <= a.rule_count; ++r)
    if (a.rules[r].state == 1 && a.rules[r].symbol == atom.label) return true;
  return false;
}

// True when no rule hands a state to any child: the automaton of a pattern
// of one atom (or of alternatives of single atoms).
bool every_rule_childless(const Automaton& a) {
  for (int r = 1; r <= a.rule_count; ++r)
    if (a.rules[r].plain_count != 0 || a.rules[r].star_count != 0) return false;
  return true;
}

}  // namespace

// Everything a matcher reuses from one molecule to the next.
struct MatcherStorage {
  EliminationGraph neighbours;
  OrderFinder finder;
  std::vector<int> order;
  Viability viable;
  std::vector<char> remaining;
  BagArena arena;
  // Directed edges by their pair of atoms (smaller first), in edge order
  // within a pair: atom numbers and edge numbers each fit in 16 bits.
  std::vector<uint64_t> edges;
  // A bag is listed under each of its atoms; the bag with no atom left (the
  // root of what is eliminated so far) is kept aside.
  std::vector<BagSet> open_bags;
  Bag* root = nullptr;
  std::vector<Bag*> holding;
  JoinScratch scratch;
  LeafCache leaves;
};

namespace {

// One leaf per bonded pair of atoms, recording its first directed edge;
// every directed edge of the pair adds its configurations, in order.
void build_leaves(MatchContext& context, MatcherStorage& s) {
  const Molecule& molecule = context.molecule;
  std::vector<uint64_t>& edges = s.edges;
  edges.resize(molecule.edge_count);
  for (uint32_t u = 1; u <= molecule.edge_count; ++u) {
    const Edge& e = molecule.edges[u];
    edges[u - 1] = (static_cast<uint64_t>(std::min(e.from, e.to)) << (2 * kEdgeKeyBits)) |
                   (static_cast<uint64_t>(std::max(e.from, e.to)) << kEdgeKeyBits) | u;
  }
  std::sort(edges.begin(), edges.end());
  auto pair_key = [](uint64_t key) { return key >> kEdgeKeyBits; };
  auto edge_of = [](uint64_t key) { return static_cast<int>(key & ((1u << kEdgeKeyBits) - 1)); };
  for (size_t i = 0; i < edges.size();) {
    const uint64_t pair = pair_key(edges[i]);
    const int v = static_cast<int>(pair >> kEdgeKeyBits);
    const int w = static_cast<int>(pair & ((1u << kEdgeKeyBits) - 1));
    Bag* leaf = s.arena.acquire();
    leaf->vertices = {v, w};
    leaf->met[0] = leaf->met[1] = 1;
    leaf->is_leaf = 1;
    leaf->edge_list = {edge_of(edges[i])};
    context.store.start(leaf->table, 1);
    size_t last = i;
    while (last < edges.size() && pair_key(edges[last]) == pair) ++last;
    s.leaves.make_key(context, v, w, edges, i, last);
    if (const Table* kept = s.leaves.find()) {
      const uint16_t from[2] = {1, 2};
      const uint16_t to[2] = {static_cast<uint16_t>(v), static_cast<uint16_t>(w)};
      context.store.copy_renamed(leaf->table, *kept, from, to);
    } else {
      for (size_t e = i; e < last; ++e) add_leaf_configs(context, *leaf, edge_of(edges[e]));
      context.store.seal(leaf->table);
      s.leaves.keep(leaf->table, v, w, context.store);
    }
    i = last;
    const BagSet::Key key = BagSet::key_of(*leaf);
    s.open_bags[static_cast<size_t>(v)].insert(key, leaf);
    s.open_bags[static_cast<size_t>(w)].insert(key, leaf);
  }
}

// Eliminates atom v: every bag that holds it is merged into a new bag, which
// forgets v and joins a bag with the same atoms if there is one.
void eliminate(MatchContext& context, MatcherStorage& s, int v) {
  std::vector<BagSet>& open_bags = s.open_bags;
  Bag* bag = s.arena.acquire();
  std::vector<Bag*>& holding = s.holding;
  holding.clear();
  open_bags[static_cast<size_t>(v)].for_each([&holding](Bag* k) { holding.push_back(k); });
  for (size_t i = 0; i < holding.size(); ++i) {
    Bag* k = holding[i];
    const BagSet::Key key = BagSet::key_of(*k);
    for (int x : k->vertices)
      if (x != v) open_bags[static_cast<size_t>(x)].erase(key);
    if (i + 1 < holding.size()) {
      merge_bags(context, *bag, *k, 0);
    } else {
      merge_bags(context, *bag, *k, v);
      const auto at = std::find(bag->vertices.begin(), bag->vertices.end(), v);
      if (at != bag->vertices.end()) {
        uint16_t* met = bag->met + (at - bag->vertices.begin());
        std::copy(met + 1, bag->met + bag->vertices.size(), met);
        bag->vertices.erase(at);
      }
      bag->is_leaf = 0;
    }
  }
  open_bags[static_cast<size_t>(v)].clear();
  const BagSet::Key key = BagSet::key_of(*bag);
  // A bag with the same atoms is listed under each of them.
  Bag* same = bag->vertices.empty() ? s.root : open_bags[static_cast<size_t>(bag->vertices[0])].find(key);
  if (same != nullptr) {
    s.neighbours.for_each(static_cast<size_t>(v), [&](size_t a) { open_bags[a].erase(key); });
    merge_bags(context, *bag, *same, 0);
  }
  if (bag->vertices.empty()) s.root = bag;
  s.neighbours.for_each(static_cast<size_t>(v), [&](size_t a) { open_bags[a].insert(key, bag); });
  // Eliminate v from the graph, adding fill edges between its neighbours.
  s.neighbours.eliminate(static_cast<size_t>(v));
}

}  // namespace

std::vector<int> matched_atoms(const Automaton& automaton, const MatchOptions& options, const Molecule& molecule,
                               const MatchResult& result) {
  std::vector<int> atoms;
  if (result.result != kAccepted) return atoms;
  for (int e : result.match_edges) {
    atoms.push_back(molecule.edges[static_cast<size_t>(e)].from);
    atoms.push_back(molecule.edges[static_cast<size_t>(e)].to);
  }
  if (result.match_edges.empty() && every_rule_childless(automaton)) {
    for (size_t a = 1; a <= molecule.atom_count; ++a) {
      if (options.span != 0) {
        atoms.push_back(static_cast<int>(a));
      } else if (fits_alone(automaton, molecule.atoms[a])) {
        atoms.push_back(static_cast<int>(a));
        break;
      }
    }
  }
  std::sort(atoms.begin(), atoms.end());
  atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
  return atoms;
}

size_t default_table_memory_limit() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  return pages > 0 && page_size > 0 ? static_cast<size_t>(pages) * static_cast<size_t>(page_size) / 2
                                    : size_t{1} << 32;
}

Matcher::Matcher(const Automaton& automaton, size_t table_limit)
    : automaton_(automaton),
      table_limit_(table_limit),
      childless_(every_rule_childless(automaton)),
      storage_(std::make_unique<MatcherStorage>()) {}

Matcher::~Matcher() = default;

// A childless automaton matches a single atom, so a record is judged without
// a decomposition: accepted when some atom carries the symbol of a rule of
// the first state; with span, only when every atom is unbonded and does.
// No bond is ever part of such a match.
int Matcher::judge_single_atom(const MatchOptions& options, const Molecule& molecule) const {
  auto fits = [this](const Atom& atom) { return fits_alone(automaton_, atom); };
  const size_t n = molecule.atom_count;
  if (options.span == 0) {
    for (size_t i = 1; i <= n; ++i)
      if (fits(molecule.atoms[i])) return kAccepted;
    return kRejected;
  }
  if (n == 0 || molecule.edge_count != 0) return kRejected;
  for (size_t i = 1; i <= n; ++i)
    if (!fits(molecule.atoms[i])) return kRejected;
  return kAccepted;
}

// Runs the automaton over the decomposition that the elimination order
// gives; the verdict, and the match in result_.
int Matcher::run_tables(const MatchOptions& options, const Molecule& molecule) {
  MatcherStorage& s = *storage_;
  // Rules that cannot stand anywhere in a finished match never enter a table;
  // when no match can finish, the molecule is rejected here.
  if (!s.viable.compute(automaton_, molecule, s.neighbours.degrees(), options.span != 0, options.every_rule != 0))
    return kRejected;
  MatchContext context(automaton_, options, molecule, s.scratch, table_limit_);
  const size_t n = molecule.atom_count;
  for (size_t a = 1; a <= n; ++a) context.degree[a] = s.neighbours.degree(a);
  context.viable = &s.viable;
  list_leaf_rules(context);
  list_bonds(context);
  s.remaining.assign(n + 1, 1);
  s.arena.restart();
  if (s.open_bags.size() < n + 1) s.open_bags.resize(n + 1);
  for (size_t a = 0; a <= n; ++a) s.open_bags[a].clear();
  s.root = nullptr;
  build_leaves(context, s);

  for (int v : s.order) {
    if (v < 1 || static_cast<size_t>(v) > n || !s.remaining[static_cast<size_t>(v)])
      fail(Stream::err, "Error: Elimination Order is Wrong!");
    s.remaining[static_cast<size_t>(v)] = 0;
    eliminate(context, s, v);
  }

  // Every atom is eliminated: what is left is the root bag.
  if (!context.accepted || s.root == nullptr) return kRejected;
  const Table::Entry* best = best_config(context, s.root->table);
  if (best == nullptr) return kRejected;
  const BitsRef used = s.root->table.bits(*best);
  for (size_t i = 0; i < s.root->edge_list.size(); ++i)
    if (bit(used.words, i)) result_.match_edges.push_back(s.root->edge_list[i]);
  result_.score = best->score;
  std::sort(result_.match_edges.begin(), result_.match_edges.end());
  return kAccepted;
}

const MatchResult& Matcher::match(const MatchOptions& options, const Molecule& molecule) {
  result_.score = 0.0;
  result_.match_edges.clear();
  result_.over_budget = false;
  MatcherStorage& s = *storage_;
  if (molecule.atom_count > kMaxAtoms || molecule.edge_count > kMaxEdges)
    fail(Stream::err, "Error: a molecule of more than 999 atoms or 999 bonds cannot be matched.");
  s.neighbours.build(molecule);
  result_.width = s.finder.choose(s.neighbours, s.order);
  if (result_.width > kMaxWidth) {
    result_.result = kTooWide;
  } else if (childless_) {
    result_.result = judge_single_atom(options, molecule);
  } else {
    try {
      result_.result = run_tables(options, molecule);
    } catch (const TableLimitExceeded&) {
      // Judged too wide; the tables are given back before the next molecule.
      storage_ = std::make_unique<MatcherStorage>();
      result_ = MatchResult{kTooWide, result_.width, 0.0, {}, true};
    }
  }
  return result_;
}

}  // namespace tarnaxel
