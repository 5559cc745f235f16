// Matcher entry: the elimination order, the edge leaves, the elimination of
// every atom with its merges, and the best configuration of the root bag.
#include "matcher/matcher.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include <unistd.h>

#include "common/fatal.h"
#include "matcher/context.h"
#include "matcher/order.h"

namespace tarnaxel {
namespace {

// Bags in the pool order: fewer vertices first, then the vertices compared
// element by element.
struct BagLess {
  bool operator()(const Bag* a, const Bag* b) const {
    if (a->vertices.size() != b->vertices.size()) return a->vertices.size() < b->vertices.size();
    return std::lexicographical_compare(a->vertices.begin(), a->vertices.end(), b->vertices.begin(),
                                        b->vertices.end(), [](int x, int y) {
                                          return static_cast<uint32_t>(x) < static_cast<uint32_t>(y);
                                        });
  }
};

using BagSet = std::set<Bag*, BagLess>;

size_t limit_bytes = 0;  // 0: not set yet

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

int run_matcher(const MatchOptions& options, const Molecule& molecule, std::vector<int>& match_edges,
                int& match_count, double& score, int& width) {
  match_count = 0;
  score = 0.0;
  std::vector<int> order;
  width = choose_order(molecule, order);
  if (width > kMaxWidth) return 2;

  MatchContext context(options, molecule);
  const size_t n = molecule.atom_count;
  std::vector<std::set<int>> neighbours(n + 1);
  for (uint32_t e = 1; e <= molecule.edge_count; ++e) {
    neighbours[molecule.edges[e].from].insert(molecule.edges[e].to);
    neighbours[molecule.edges[e].to].insert(molecule.edges[e].from);
  }
  for (size_t a = 1; a <= n; ++a) context.degree[a] = static_cast<int>(neighbours[a].size());
  std::vector<char> remaining(n + 1, 1);

  // One leaf per bond, recording its first directed edge.
  std::vector<std::unique_ptr<Bag>> bags;
  std::vector<std::map<int, Bag*>> leaf_index(n + 1);
  for (uint32_t u = 1; u <= molecule.edge_count; ++u) {
    int v = molecule.edges[u].from;
    int w = molecule.edges[u].to;
    Bag*& leaf = leaf_index[std::min(v, w)][std::max(v, w)];
    if (leaf == nullptr) {
      bags.push_back(std::make_unique<Bag>());
      leaf = bags.back().get();
      leaf->vertices = {std::min(v, w), std::max(v, w)};
      leaf->is_leaf = 1;
      leaf->edge_list = {static_cast<int>(u)};
      context.store.start(leaf->table, 1);
    }
    add_leaf_configs(context, *leaf, static_cast<int>(u));
  }
  for (auto& leaf : bags) context.store.seal(leaf->table);
  BagSet pool;
  std::vector<BagSet> open_bags(n + 1);
  for (size_t a = 1; a < n; ++a) {
    for (const auto& [b, leaf] : leaf_index[a]) {
      pool.insert(leaf);
      open_bags[a].insert(leaf);
      open_bags[static_cast<size_t>(b)].insert(leaf);
    }
  }
  leaf_index.clear();

  for (int v : order) {
    if (v < 1 || static_cast<size_t>(v) > n || !remaining[static_cast<size_t>(v)])
      fail(Stream::err, "Error: Elimination Order is Wrong!");
    remaining[static_cast<size_t>(v)] = 0;
    bags.push_back(std::make_unique<Bag>());
    Bag* bag = bags.back().get();
    std::vector<Bag*> holding(open_bags[v].begin(), open_bags[v].end());
    for (size_t i = 0; i < holding.size(); ++i) {
      Bag* k = holding[i];
      pool.erase(k);
      for (int x : k->vertices)
        if (x != v) open_bags[static_cast<size_t>(x)].erase(k);
      if (i + 1 < holding.size()) {
        merge_bags(context, *bag, *k, 0);
      } else {
        merge_bags(context, *bag, *k, v);
        bag->vertices.erase(std::remove(bag->vertices.begin(), bag->vertices.end(), v), bag->vertices.end());
        bag->is_leaf = 0;
      }
    }
    open_bags[v].clear();
    auto same = pool.find(bag);
    if (same != pool.end()) {
      Bag* x = *same;
      pool.erase(same);
      for (int a : neighbours[v]) open_bags[static_cast<size_t>(a)].erase(x);
      merge_bags(context, *bag, *x, 0);
    }
    pool.insert(bag);
    for (int a : neighbours[v]) open_bags[static_cast<size_t>(a)].insert(bag);
    // Eliminate v from the graph, adding fill edges between its neighbours.
    for (int a : neighbours[v]) {
      std::set<int>& around = neighbours[static_cast<size_t>(a)];
      around.erase(v);
      for (int b : neighbours[v])
        if (b != a) around.insert(b);
    }
  }

  if (!context.accepted) return 0;
  bool chosen = false;
  for (Bag* bag : pool) {
    const Table::Entry* best = best_config(context, bag->table);
    if (best == nullptr) continue;
    chosen = true;
    const BitsRef used = bag->table.bits(*best);
    for (size_t i = 0; i < bag->edge_list.size(); ++i)
      if (bit(used.words, i)) match_edges[static_cast<size_t>(match_count++)] = bag->edge_list[i];
    score = best->score;
  }
  if (!chosen) {
    match_count = 0;
    score = 0.0;
    return 0;
  }
  std::sort(match_edges.begin(), match_edges.begin() + match_count);
  return 1;
}

}  // namespace tarnaxel
