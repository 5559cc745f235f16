// The reference matcher, written from the rule definitions alone: what a
// configuration is, how a bond starts one, how two are joined and how an
// atom is forgotten.  Every table is an ordered map from the configuration's
// key to its score and bonds, so every walk and tie-break follows key order.
#include "tests/reference/reference.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <utility>

namespace tarnaxel::reference {
namespace {

using Graph = std::vector<std::set<int>>;

constexpr int kWidestOrder = 7;  // bags of at most 8 atoms

Graph graph_of(const Molecule& m) {
  Graph g(m.atom_count + 1);
  for (uint32_t e = 1; e <= m.edge_count; ++e) {
    g[static_cast<size_t>(m.edges[e].from)].insert(m.edges[e].to);
    g[static_cast<size_t>(m.edges[e].to)].insert(m.edges[e].from);
  }
  return g;
}

void eliminate(Graph& g, int c) {
  for (int u : g[static_cast<size_t>(c)]) {
    g[static_cast<size_t>(u)].erase(c);
    for (int w : g[static_cast<size_t>(c)])
      if (w != u) g[static_cast<size_t>(u)].insert(w);
  }
  g[static_cast<size_t>(c)].clear();
}

// Minimum degree; among the atoms of that degree the first in (priority,
// atom) order, unless a later one has a strictly greater touch score.
int compute_order(const Molecule& m, const std::vector<int32_t>& priority, std::vector<int>& order) {
  Graph g = graph_of(m);
  std::set<std::pair<int32_t, int>> candidates;
  for (uint32_t a = 1; a <= m.atom_count; ++a) candidates.insert({priority[a], static_cast<int>(a)});
  std::vector<int> touch(m.atom_count + 1, 0);
  std::set<int> touched;
  order.clear();
  int width = 0;
  size_t d = 0;
  while (!candidates.empty()) {
    int choice = 0;
    for (const auto& [p, a] : candidates)
      if (g[static_cast<size_t>(a)].size() <= d &&
          (choice == 0 || touch[static_cast<size_t>(a)] > touch[static_cast<size_t>(choice)]))
        choice = a;
    if (choice == 0) {
      ++d;
      width = std::max(width, static_cast<int>(d));
      continue;
    }
    order.push_back(choice);
    for (int u : g[static_cast<size_t>(choice)]) {
      --touch[static_cast<size_t>(u)];
      if (touched.count(u)) continue;
      for (int w : g[static_cast<size_t>(u)]) ++touch[static_cast<size_t>(w)];
      touched.insert(u);
    }
    eliminate(g, choice);
    candidates.erase({priority[static_cast<size_t>(choice)], choice});
    touched.erase(choice);
    d = 0;
  }
  return width;
}

// ---- configurations ----------------------------------------------------

struct Item {
  int atom;
  int rule;
  unsigned used;  // plain children matched, one bit each
  int root;       // top of the partial tree; 0 once forgotten
};

struct Key {
  std::vector<Item> items;  // ascending by atom
  std::vector<uint8_t> counters;
  // With -min: some atom of the run is matched.  The smallest score must
  // belong to a match, not to the run that leaves every atom out.
  bool matched = false;
};

bool operator<(const Key& a, const Key& b) {
  if (a.items.size() != b.items.size()) return a.items.size() < b.items.size();
  for (size_t i = 0; i < a.items.size(); ++i) {
    const Item& x = a.items[i];
    const Item& y = b.items[i];
    if (x.atom != y.atom) return static_cast<unsigned>(x.atom) < static_cast<unsigned>(y.atom);
    if (x.root != y.root) return static_cast<unsigned>(x.root) < static_cast<unsigned>(y.root);
    if (x.rule != y.rule) return x.rule < y.rule;
    if (x.used != y.used) return x.used < y.used;
  }
  if (a.counters != b.counters) return a.counters < b.counters;
  return a.matched < b.matched;
}

struct Value {
  double score;
  std::vector<bool> bits;  // one per entry of the bag's edge list
};

using Table = std::map<Key, Value>;

struct Bag {
  std::vector<int> vertices;  // ascending
  Table table;
  bool is_leaf = false;
  std::vector<int> edge_list;
};

struct BagOrder {
  bool operator()(const Bag* a, const Bag* b) const {
    if (a->vertices.size() != b->vertices.size()) return a->vertices.size() < b->vertices.size();
    return a->vertices < b->vertices;
  }
};
using BagSet = std::set<Bag*, BagOrder>;

std::vector<bool> joined_bits(const std::vector<bool>* first, size_t first_length, const std::vector<bool>* second,
                              size_t second_length) {
  std::vector<bool> bits(first_length + second_length, false);
  for (size_t i = 0; first && i < first_length; ++i) bits[i] = (*first)[i];
  for (size_t i = 0; second && i < second_length; ++i) bits[first_length + i] = (*second)[i];
  return bits;
}

struct TooLarge {};

class Run {
 public:
  Run(const Automaton& a, const Options& o, const Molecule& m) : a_(a), o_(o), m_(m) {
    const Graph g = graph_of(m);
    for (const auto& n : g) degree_.push_back(n.size());
  }

  Verdict run(const std::vector<int>& order);

 private:
  const Rule& rule(int r) const { return a_.rules[r]; }
  int children(int r) const { return std::min(rule(r).plain_count + rule(r).star_count, kMaxChildren); }
  int plain(int r) const { return std::min(rule(r).plain_count, kMaxChildren); }
  unsigned full(int r) const { return (1u << plain(r)) - 1; }
  size_t need(int r) const { return static_cast<size_t>(rule(r).plain_count + (rule(r).state != 1 ? 1 : 0)); }
  bool better(double now, double stored) const { return o_.min ? now < stored : now > stored; }

  void store(Table& t, Key key, std::vector<bool> bits, double score) {
    auto at = t.find(key);
    if (at == t.end()) {
      if (t.size() >= kMostConfigs) throw TooLarge{};
      t.emplace(std::move(key), Value{score, std::move(bits)});
    } else if (better(score, at->second.score)) {
      at->second = Value{score, std::move(bits)};
    }
  }
  void leaf_configs(Bag& leaf, int u);
  void store_leaf(Bag& leaf, Item x, Item y, bool used, double score);
  void merge(Bag& n, Bag& k, int f);
  void put(Table& t, const std::vector<int>& u, int f, Key key, std::vector<bool> bits, double score);
  void forget(Table& t, const std::vector<int>& u, int f, Key key, std::vector<bool> bits, double score);
  bool pair(const std::vector<int>& u, const Key& o, const Key& c, Key& out);
  const Table::value_type* best(const Table& t) const {
    const Table::value_type* b = nullptr;
    for (const auto& entry : t)
      if ((!o_.min || entry.first.matched) && (b == nullptr || better(entry.second.score, b->second.score))) b = &entry;
    return b;
  }

  const Automaton& a_;
  const Options& o_;
  const Molecule& m_;
  std::vector<size_t> degree_;
  bool accepted_ = false;
  std::vector<std::unique_ptr<Bag>> bags_;
};

void Run::store_leaf(Bag& leaf, Item x, Item y, bool used, double score) {
  Key key;
  if (x.atom > y.atom) std::swap(x, y);
  key.items = {x, y};
  key.counters.assign(static_cast<size_t>(a_.apply_count), 0);
  key.matched = o_.min && (x.rule != 0 || y.rule != 0);
  store(leaf.table, std::move(key), {used}, score);
}

// The configurations directed edge u offers its leaf.
void Run::leaf_configs(Bag& leaf, int u) {
  const Edge& e = m_.edges[static_cast<size_t>(u)];
  const int v = e.from, w = e.to, label = e.label;
  const int lv = m_.atoms[static_cast<size_t>(v)].label, lw = m_.atoms[static_cast<size_t>(w)].label;
  const size_t dv = degree_[static_cast<size_t>(v)], dw = degree_[static_cast<size_t>(w)];
  const int n = a_.rule_count;
  // Child k of rule i over this bond: its label, or with aromaticity
  // perceived, an aromatic link over a bond at an aromatic atom.
  const bool aromatic_end = m_.atoms[static_cast<size_t>(v)].aromatic || m_.atoms[static_cast<size_t>(w)].aromatic;
  auto over = [&](int i, int k) {
    if (o_.aromatic && ((a_.aromatic_link[i] >> k) & 1u) != 0) return aromatic_end;
    return rule(i).child_label[k] == label;
  };
  // A tree bond, v the parent of w.
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j)
      for (int k = 0; k < plain(i); ++k)
        if (rule(i).symbol == lv && rule(j).symbol == lw && rule(i).child_state[k] == rule(j).state &&
            over(i, k) && dv >= need(i) && dw >= need(j))
          store_leaf(leaf, {v, i, 1u << k, v}, {w, j, 0, v}, true, e.weight);
  // A ring closure: a plain child of each end stands for the same state,
  // reached over the bond's label from v and over the wildcard from w.
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j)
      for (int k = 0; k < plain(i); ++k)
        for (int l = 0; l < plain(j); ++l)
          if (rule(i).symbol == lv && rule(j).symbol == lw && rule(i).child_state[k] == rule(j).child_state[l] &&
              over(i, k) && rule(j).child_label[l] == kWildcardLabel && dv >= need(i) &&
              dw >= need(j))
            store_leaf(leaf, {v, i, 1u << k, v}, {w, j, 1u << l, w}, true, e.weight);
  // A starred child: any number of such bonds.
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j)
      for (int k = plain(i); k < children(i); ++k)
        if (rule(i).symbol == lv && rule(j).symbol == lw && rule(i).child_state[k] == rule(j).state && over(i, k))
          store_leaf(leaf, {v, i, 0, v}, {w, j, 0, v}, true, e.weight);
  // Left out: allowed only when at most one end is matched.
  if (!o_.ind || o_.span) return;
  store_leaf(leaf, {v, 0, 0, v}, {w, 0, 0, w}, false, 0.0);
  for (int r = 1; r <= n; ++r) {
    if (rule(r).symbol == lv && dv >= static_cast<size_t>(rule(r).plain_count))
      store_leaf(leaf, {v, r, 0, v}, {w, 0, 0, w}, false, 0.0);
    if (rule(r).symbol == lw && dw >= static_cast<size_t>(rule(r).plain_count))
      store_leaf(leaf, {v, 0, 0, v}, {w, r, 0, w}, false, 0.0);
  }
}

// Stores into t, forgetting f on the way when f is an atom.
void Run::put(Table& t, const std::vector<int>& u, int f, Key key, std::vector<bool> bits, double score) {
  if (f != 0)
    forget(t, u, f, std::move(key), std::move(bits), score);
  else
    store(t, std::move(key), std::move(bits), score);
}

// Forgets atom f: its rule must be complete, and the partial trees must
// still be able to become one.
void Run::forget(Table& t, const std::vector<int>& u, int f, Key key, std::vector<bool> bits, double score) {
  auto at = std::find_if(key.items.begin(), key.items.end(), [f](const Item& i) { return i.atom == f; });
  if (at == key.items.end()) {
    if (!o_.span) store(t, std::move(key), std::move(bits), score);
    return;
  }
  const Item item = *at;
  const int r = item.rule, root = item.root;
  auto others = [&](auto test) {
    return std::all_of(key.items.begin(), key.items.end(), [&](const Item& i) { return i.atom == f || test(i); });
  };
  auto another = [&](auto test) {
    return std::any_of(key.items.begin(), key.items.end(), [&](const Item& i) { return i.atom != f && test(i); });
  };
  bool complete = u.size() == 1 || (!o_.span && key.items.size() == 1);
  if (!complete && o_.ind) {
    const bool rest_unmatched_rooted = others([](const Item& i) { return i.rule == 0 && i.root != 0; });
    const bool rest_unmatched = others([](const Item& i) { return i.rule == 0; });
    complete = (r != 0 && rest_unmatched_rooted) || (r == 0 && root == 0 && rest_unmatched);
  }
  if (!complete) {
    const bool remove = root != 0 || another([](const Item& i) { return i.root == 0; });
    if (!remove) return;
    if (root == f) {
      if (rule(r).state != 1) return;
      if (r != 0) {
        if (std::any_of(key.items.begin(), key.items.end(), [](const Item& i) { return i.root == 0; })) return;
        if (!another([f](const Item& i) { return i.root == f; })) return;
      }
    }
  }
  if (item.used != full(r)) return;
  if (complete && root == f && rule(r).state != 1) return;
  for (int k = 0; k < a_.apply_count; ++k) {
    const bool mine = a_.apply_rule[k] == r;
    if (mine) key.counters[static_cast<size_t>(k)] = static_cast<uint8_t>(key.counters[static_cast<size_t>(k)] + 1);
    if (!complete) continue;
    const int n = key.counters[static_cast<size_t>(k)];
    if (n < a_.apply_first[k] || n > a_.apply_second[k]) return;
  }
  if (complete && r != 0) accepted_ = true;
  key.items.erase(at);
  for (Item& i : key.items)
    if (complete || i.root == f) i.root = 0;
  if (r != 0) score += m_.atoms[static_cast<size_t>(f)].value;
  store(t, std::move(key), std::move(bits), score);
}

// Joins configuration o of one bag with c of the other over atoms u; false
// when they disagree.
bool Run::pair(const std::vector<int>& u, const Key& o, const Key& c, Key& out) {
  if (o.items.empty() || c.items.empty()) return false;
  auto rootless = [](const Key& k) {
    return std::any_of(k.items.begin(), k.items.end(), [](const Item& i) { return i.root == 0; });
  };
  if (rootless(o) && rootless(c)) return false;
  std::map<int, int> link;
  std::map<int, Item> items;
  std::vector<uint8_t> sum(o.counters.size());
  for (size_t k = 0; k < sum.size(); ++k) sum[k] = static_cast<uint8_t>(o.counters[k] + c.counters[k]);
  std::vector<uint8_t> check = sum;
  auto find = [](const Key& k, int x) -> const Item* {
    for (const Item& i : k.items)
      if (i.atom == x) return &i;
    return nullptr;
  };
  for (int x : u) {
    const Item* p = find(o, x);
    const Item* q = find(c, x);
    if (p && q) {
      if (p->rule != q->rule || (p->used & q->used) != 0 || (p->root != x && q->root != x)) return false;
      link[x] = p->root == x ? q->root : p->root;
      items[x] = {x, p->rule, p->used | q->used, 0};
    } else if (p || q) {
      link[x] = (p ? p : q)->root;
      items[x] = *(p ? p : q);
    } else {
      link[x] = 0;
      continue;
    }
    for (int k = 0; k < a_.apply_count; ++k)
      if (a_.apply_rule[k] == items[x].rule) {
        check[static_cast<size_t>(k)] = static_cast<uint8_t>(check[static_cast<size_t>(k)] + 1);
        break;
      }
  }
  for (int k = 0; k < a_.apply_count; ++k)
    if (check[static_cast<size_t>(k)] > a_.apply_second[k]) return false;
  // Each atom's root, followed to the top; a cycle of roots joins nothing.
  std::map<int, int> top;
  for (int x : u) {
    int z = link[x];
    for (size_t steps = 0; z != 0 && link.count(z) && link[z] != z; ++steps) {
      if (steps >= u.size()) return false;
      z = link[z];
    }
    if (z != 0 && !link.count(z)) z = 0;
    top[x] = z;
  }
  out.items.clear();
  for (auto& [x, item] : items) {
    item.root = top[x];
    out.items.push_back(item);
  }
  out.counters = sum;
  out.matched = o.matched || c.matched;
  return true;
}

void Run::merge(Bag& n, Bag& k, int f) {
  std::vector<int> u;
  std::set_union(n.vertices.begin(), n.vertices.end(), k.vertices.begin(), k.vertices.end(), std::back_inserter(u));
  std::vector<int> edges = n.edge_list;
  edges.insert(edges.end(), k.edge_list.begin(), k.edge_list.end());
  const size_t nl = n.edge_list.size(), kl = k.edge_list.size();
  Table t;
  if (n.vertices.empty() && k.vertices.empty()) {
    // Two parts of the molecule: the best of each added up.  With -span
    // both must be matched.
    const auto* bn = best(n.table);
    const auto* bk = best(k.table);
    Key key;
    key.counters.assign(static_cast<size_t>(a_.apply_count), 0);
    key.matched = (bn && bn->first.matched) || (bk && bk->first.matched);
    if (!o_.span || (!n.table.empty() && !k.table.empty()))
      put(t, u, f, std::move(key),
          joined_bits(bn ? &bn->second.bits : nullptr, nl, bk ? &bk->second.bits : nullptr, kl),
          (bn ? bn->second.score : 0.0) + (bk ? bk->second.score : 0.0));
    n.is_leaf = k.is_leaf;
  } else if (n.vertices.empty()) {
    for (const auto& [key, value] : k.table) put(t, u, f, key, joined_bits(nullptr, nl, &value.bits, kl), value.score);
    n.is_leaf = k.is_leaf;
  } else {
    if (!o_.ind) {
      if (!o_.span || k.is_leaf)
        for (const auto& [key, value] : n.table)
          put(t, u, f, key, joined_bits(&value.bits, nl, nullptr, kl), value.score);
      if (!o_.span || n.is_leaf)
        for (const auto& [key, value] : k.table)
          put(t, u, f, key, joined_bits(nullptr, nl, &value.bits, kl), value.score);
    }
    Key joined;
    for (const auto& [ko, vo] : n.table)
      for (const auto& [kc, vc] : k.table)
        if (pair(u, ko, kc, joined)) put(t, u, f, joined, joined_bits(&vo.bits, nl, &vc.bits, kl), vo.score + vc.score);
    // Bonds joined with nothing forgotten may still be left out whole.
    n.is_leaf = n.is_leaf && k.is_leaf;
  }
  n.vertices = std::move(u);
  n.table = std::move(t);
  n.edge_list = std::move(edges);
}

Verdict Run::run(const std::vector<int>& order) {
  const size_t atoms = m_.atom_count;
  // One leaf per bonded pair, recording the first directed edge of the pair.
  std::map<std::pair<int, int>, Bag*> leaves;
  for (uint32_t e = 1; e <= m_.edge_count; ++e) {
    const int v = m_.edges[e].from, w = m_.edges[e].to;
    Bag*& leaf = leaves[{std::min(v, w), std::max(v, w)}];
    if (leaf == nullptr) {
      bags_.push_back(std::make_unique<Bag>());
      leaf = bags_.back().get();
      leaf->vertices = {std::min(v, w), std::max(v, w)};
      leaf->is_leaf = true;
      leaf->edge_list = {static_cast<int>(e)};
    }
    leaf_configs(*leaf, static_cast<int>(e));
  }
  BagSet pool;
  std::vector<BagSet> open(atoms + 1);
  for (const auto& [ends, leaf] : leaves) {
    pool.insert(leaf);
    open[static_cast<size_t>(ends.first)].insert(leaf);
    open[static_cast<size_t>(ends.second)].insert(leaf);
  }
  Graph g = graph_of(m_);
  std::vector<bool> remaining(atoms + 1, true);
  for (int v : order) {
    if (v < 1 || static_cast<size_t>(v) > atoms || !remaining[static_cast<size_t>(v)])
      throw std::logic_error("reference: elimination order is wrong");
    remaining[static_cast<size_t>(v)] = false;
    bags_.push_back(std::make_unique<Bag>());
    Bag* bag = bags_.back().get();
    const std::vector<Bag*> holding(open[static_cast<size_t>(v)].begin(), open[static_cast<size_t>(v)].end());
    for (size_t i = 0; i < holding.size(); ++i) {
      Bag* k = holding[i];
      pool.erase(k);
      for (int x : k->vertices)
        if (x != v) open[static_cast<size_t>(x)].erase(k);
      if (i + 1 < holding.size()) {
        merge(*bag, *k, 0);
      } else {
        merge(*bag, *k, v);
        bag->vertices.erase(std::find(bag->vertices.begin(), bag->vertices.end(), v));
        bag->is_leaf = false;
      }
    }
    open[static_cast<size_t>(v)].clear();
    auto same = pool.find(bag);
    if (same != pool.end()) {
      Bag* x = *same;
      pool.erase(same);
      for (int a : g[static_cast<size_t>(v)]) open[static_cast<size_t>(a)].erase(x);
      merge(*bag, *x, 0);
    }
    pool.insert(bag);
    for (int a : g[static_cast<size_t>(v)]) open[static_cast<size_t>(a)].insert(bag);
    eliminate(g, v);
  }
  // Accepted when some configuration completed with a matched atom and the
  // root keeps a configuration to show (with -span, a part of the molecule
  // left unmatched leaves it none).
  Verdict verdict;
  if (!accepted_) return verdict;
  for (const Bag* bag : pool) {
    const auto* b = best(bag->table);
    if (b == nullptr) continue;
    verdict.result = 1;
    for (size_t i = 0; i < bag->edge_list.size(); ++i)
      if (b->second.bits[i]) verdict.match_edges.push_back(bag->edge_list[i]);
    verdict.score = b->second.score;
  }
  std::sort(verdict.match_edges.begin(), verdict.match_edges.end());
  return verdict;
}

bool childless(const Automaton& a) {
  for (int r = 1; r <= a.rule_count; ++r)
    if (a.rules[r].plain_count != 0 || a.rules[r].star_count != 0) return false;
  return true;
}

// A pattern of single atoms matches one atom that carries the symbol of a
// rule of the first state (with span: every atom, none bonded); no bond.
int judge_single_atoms(const Automaton& a, const Options& o, const Molecule& m) {
  auto fits = [&a](const Atom& atom) {
    for (int r = 1; r <= a.rule_count; ++r)
      if (a.rules[r].state == 1 && a.rules[r].symbol == atom.label) return true;
    return false;
  };
  if (!o.span) {
    for (uint32_t i = 1; i <= m.atom_count; ++i)
      if (fits(m.atoms[i])) return 1;
    return 0;
  }
  if (m.atom_count == 0 || m.edge_count != 0) return 0;
  for (uint32_t i = 1; i <= m.atom_count; ++i)
    if (!fits(m.atoms[i])) return 0;
  return 1;
}

}  // namespace

int choose_order(const Molecule& molecule, std::vector<int>& order) {
  std::vector<int32_t> priority(molecule.atom_count + 1, 0);
  int best = compute_order(molecule, priority, order);
  if (best <= 3) return best;
  std::mt19937 generator(1234567);
  std::vector<int> trial;
  for (int restart = 0; restart < 20; ++restart) {
    for (uint32_t i = 1; i <= molecule.atom_count; ++i) priority[i] = static_cast<int32_t>(generator());
    const int width = compute_order(molecule, priority, trial);
    if (width < best) {
      best = width;
      order = trial;
    }
  }
  return best;
}

Verdict judge(const Automaton& automaton, const Options& options, const Molecule& molecule) {
  std::vector<int> order;
  Verdict verdict;
  verdict.width = choose_order(molecule, order);
  if (verdict.width > kWidestOrder) {
    verdict.result = 2;
    return verdict;
  }
  if (childless(automaton)) {
    verdict.result = judge_single_atoms(automaton, options, molecule);
    return verdict;
  }
  Run run(automaton, options, molecule);
  try {
    Verdict found = run.run(order);
    found.width = verdict.width;
    return found;
  } catch (const TooLarge&) {
    verdict.result = kTooLarge;
    return verdict;
  }
}

}  // namespace tarnaxel::reference
