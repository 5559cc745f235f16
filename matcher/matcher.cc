// Matcher entry: the elimination order, the edge leaves, the elimination of
// every atom with its merges, and the best configuration of the root bag.
#include "matcher/matcher.h"

#include <algorithm>
#include <memory>

#include <unistd.h>

#include "common/fatal.h"
#include "matcher/adjacency.h"
#include "matcher/context.h"
#include "matcher/order.h"
#include "rulefile/tables.h"

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
    if (v.size() > 8) fail(Stream::err, "Error: Elimination Order is Wrong!");
    Key key{static_cast<uint64_t>(v.size()) << 60, 0};
    for (size_t i = 0; i < v.size(); ++i) {
      const uint64_t atom = static_cast<uint64_t>(v[i]) & 0x3FFu;
      if (i < 6) key.high |= atom << (50 - 10 * i);
      else key.low |= atom << (54 - 10 * (i - 6));
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
  // Gives back every bag and its storage.
  void release() {
    bags_.clear();
    used_ = 0;
  }
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

BagArena& bag_arena() {
  static thread_local BagArena arena;
  return arena;
}

size_t limit_bytes = 0;  // 0: not set yet

// True when no loaded rule hands a state to any child: the automaton of a
// pattern of one atom (or of alternatives of single atoms).
bool every_rule_childless() {
  for (int r = 1; r <= rule_count; ++r)
    if (rules[r].plain_count != 0 || rules[r].star_count != 0) return false;
  return true;
}

// A childless automaton matches a single atom, so a record is judged without
// a decomposition: accepted when some atom carries the symbol of a rule of
// the first state; with span, only when every atom is unbonded and does.
// No bond is ever part of such a match.
int decide_single_atom(const MatchOptions& options, const Molecule& molecule) {
  auto fits = [&](const Atom& atom) {
    for (int r = 1; r <= rule_count; ++r)
      if (rules[r].state == 1 && rules[r].symbol == atom.label) return true;
    return false;
  };
  const size_t n = molecule.atom_count;
  if (options.span == 0) {
    for (size_t a = 1; a <= n; ++a)
      if (fits(molecule.atoms[a])) return 1;
    return 0;
  }
  if (n == 0 || molecule.edge_count != 0) return 0;
  for (size_t a = 1; a <= n; ++a)
    if (!fits(molecule.atoms[a])) return 0;
  return 1;
}

}  // namespace

void set_table_memory_limit(size_t bytes) { limit_bytes = bytes; }

size_t table_memory_limit() {
  if (limit_bytes == 0) {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page_size = sysconf(_SC_PAGESIZE);
    limit_bytes = pages > 0 && page_size > 0 ? static_cast<size_t>(pages) * static_cast<size_t>(page_size) / 2
                                             : size_t{1} << 32;
  }
  return limit_bytes;
}

namespace {

// Runs the automaton over the decomposition that the elimination order
// gives; returns 0 or 1 as run_matcher does.
int run_tables(const MatchOptions& options, const Molecule& molecule, EliminationGraph& neighbours,
               const std::vector<int>& order, std::vector<int>& match_edges, int& match_count, double& score) {
  // Rules that cannot stand anywhere in a finished match never enter a table;
  // when no match can finish, the molecule is rejected here.
  static thread_local Viability viable;
  if (!viable.compute(molecule, neighbours.degrees(), options.span != 0, options.every_rule != 0)) return 0;
  MatchContext context(options, molecule);
  const size_t n = molecule.atom_count;
  for (size_t a = 1; a <= n; ++a) context.degree[a] = neighbours.degree(a);
  context.viable = &viable;
  static thread_local std::vector<char> remaining;
  remaining.assign(n + 1, 1);

  // One leaf per bonded pair of atoms, recording its first directed edge;
  // every directed edge of the pair adds its configurations, in order.
  BagArena& arena = bag_arena();
  arena.restart();
  // Directed edges by their pair of atoms (smaller first), in edge order
  // within a pair: atom numbers and edge numbers each fit in 16 bits.
  static thread_local std::vector<uint64_t> edges;
  edges.resize(molecule.edge_count);
  for (uint32_t u = 1; u <= molecule.edge_count; ++u) {
    const Edge& e = molecule.edges[u];
    edges[u - 1] = (static_cast<uint64_t>(std::min(e.from, e.to)) << 40) |
                   (static_cast<uint64_t>(std::max(e.from, e.to)) << 20) | u;
  }
  std::sort(edges.begin(), edges.end());
  auto pair_key = [](uint64_t key) { return key >> 20; };
  auto edge_of = [](uint64_t key) { return static_cast<int>(key & 0xFFFFFu); };
  static thread_local std::vector<BagSet> open_bags;
  if (open_bags.size() < n + 1) open_bags.resize(n + 1);
  for (size_t a = 0; a <= n; ++a) open_bags[a].clear();
  // A bag is listed under each of its atoms; the bag with no atom left (the
  // root of what is eliminated so far) is kept aside.
  Bag* root = nullptr;
  for (size_t i = 0; i < edges.size();) {
    const uint64_t pair = pair_key(edges[i]);
    const int v = static_cast<int>(pair >> 20);
    const int w = static_cast<int>(pair & 0xFFFFFu);
    Bag* leaf = arena.acquire();
    leaf->vertices = {v, w};
    leaf->is_leaf = 1;
    leaf->edge_list = {edge_of(edges[i])};
    context.store.start(leaf->table, 1);
    for (; i < edges.size() && pair_key(edges[i]) == pair; ++i) add_leaf_configs(context, *leaf, edge_of(edges[i]));
    context.store.seal(leaf->table);
    const BagSet::Key key = BagSet::key_of(*leaf);
    open_bags[static_cast<size_t>(v)].insert(key, leaf);
    open_bags[static_cast<size_t>(w)].insert(key, leaf);
  }

  static thread_local std::vector<Bag*> holding;
  for (int v : order) {
    if (v < 1 || static_cast<size_t>(v) > n || !remaining[static_cast<size_t>(v)])
      fail(Stream::err, "Error: Elimination Order is Wrong!");
    remaining[static_cast<size_t>(v)] = 0;
    Bag* bag = arena.acquire();
    holding.clear();
    open_bags[static_cast<size_t>(v)].for_each([](Bag* k) { holding.push_back(k); });
    for (size_t i = 0; i < holding.size(); ++i) {
      Bag* k = holding[i];
      const BagSet::Key key = BagSet::key_of(*k);
      for (int x : k->vertices)
        if (x != v) open_bags[static_cast<size_t>(x)].erase(key);
      if (i + 1 < holding.size()) {
        merge_bags(context, *bag, *k, 0);
      } else {
        merge_bags(context, *bag, *k, v);
        bag->vertices.erase(std::remove(bag->vertices.begin(), bag->vertices.end(), v), bag->vertices.end());
        bag->is_leaf = 0;
      }
    }
    open_bags[static_cast<size_t>(v)].clear();
    const BagSet::Key key = BagSet::key_of(*bag);
    // A bag with the same atoms is listed under each of them.
    Bag* same = bag->vertices.empty() ? root : open_bags[static_cast<size_t>(bag->vertices[0])].find(key);
    if (same != nullptr) {
      neighbours.for_each(static_cast<size_t>(v), [&](size_t a) { open_bags[a].erase(key); });
      merge_bags(context, *bag, *same, 0);
    }
    if (bag->vertices.empty()) root = bag;
    neighbours.for_each(static_cast<size_t>(v), [&](size_t a) { open_bags[a].insert(key, bag); });
    // Eliminate v from the graph, adding fill edges between its neighbours.
    neighbours.eliminate(static_cast<size_t>(v));
  }

  // Every atom is eliminated: what is left is the root bag.
  if (!context.accepted || root == nullptr) return 0;
  const Table::Entry* best = best_config(context, root->table);
  if (best == nullptr) return 0;
  const BitsRef used = root->table.bits(*best);
  for (size_t i = 0; i < root->edge_list.size(); ++i)
    if (bit(used.words, i)) match_edges[static_cast<size_t>(match_count++)] = root->edge_list[i];
  score = best->score;
  std::sort(match_edges.begin(), match_edges.begin() + match_count);
  return 1;
}

}  // namespace

int run_matcher(const MatchOptions& options, const Molecule& molecule, std::vector<int>& match_edges,
                int& match_count, double& score, int& width) {
  match_count = 0;
  score = 0.0;
  static thread_local EliminationGraph neighbours;
  neighbours.build(molecule);
  static thread_local std::vector<int> order;
  width = choose_order(neighbours, order);
  if (width > kMaxWidth) return 2;
  if (every_rule_childless()) return decide_single_atom(options, molecule);
  try {
    return run_tables(options, molecule, neighbours, order, match_edges, match_count, score);
  } catch (const TableLimitExceeded&) {
    // The tables of this molecule are given back before the next one.
    bag_arena().release();
    release_join_storage();
    match_count = 0;
    score = 0.0;
    throw;
  }
}

}  // namespace tarnaxel
