#include "matcher/order.h"

#include <random>
#include <set>
#include <utility>

namespace tarnaxel {

int compute_order(const Molecule& molecule, const std::vector<int32_t>& priority, std::vector<int>& order) {
  const int n = static_cast<int>(molecule.atom_count);
  std::vector<std::set<int>> graph(static_cast<size_t>(n) + 1);
  for (uint32_t e = 1; e <= molecule.edge_count; ++e) {
    const Edge& edge = molecule.edges[e];
    graph[edge.from].insert(edge.to);
    graph[edge.to].insert(edge.from);
  }
  // Candidates in scan order: priority ascending (signed), then atom number.
  std::set<std::pair<int32_t, int>> candidates;
  for (int a = 1; a <= n; ++a) candidates.insert({priority[a], a});
  std::vector<int32_t> touch_score(static_cast<size_t>(n) + 1, 0);
  std::vector<char> touched(static_cast<size_t>(n) + 1, 0);
  order.assign(static_cast<size_t>(n), 0);

  int width = 0;
  for (int p = 0; p < n; ++p) {
    // The threshold climbs from 0 until some atom is eligible, so the choice
    // is among the atoms of minimum degree: the first in scan order, replaced
    // only by a strictly greater touch_score.
    size_t min_degree = SIZE_MAX;
    for (const auto& [prio, a] : candidates) min_degree = std::min(min_degree, graph[a].size());
    int chosen = 0;
    for (const auto& [prio, a] : candidates) {
      if (graph[a].size() != min_degree) continue;
      if (chosen == 0 || touch_score[a] > touch_score[chosen]) chosen = a;
    }
    width = std::max(width, static_cast<int>(min_degree));
    order[static_cast<size_t>(p)] = chosen;

    std::set<int>& around = graph[chosen];
    for (int u : around) {
      --touch_score[u];
      if (!touched[u]) {
        for (int w : graph[u]) ++touch_score[w];
        touched[u] = 1;
      }
    }
    for (int u : around) {
      graph[u].erase(chosen);
      for (int w : around)
        if (w != u) graph[u].insert(w);
    }
    around.clear();
    candidates.erase({priority[chosen], chosen});
    touched[chosen] = 0;
  }
  return width;
}

int choose_order(const Molecule& molecule, std::vector<int>& order) {
  const size_t n = molecule.atom_count;
  std::vector<int32_t> priority(n + 1, 0);
  int best = compute_order(molecule, priority, order);
  if (best > 3) {
    std::mt19937 generator(1234567u);
    std::vector<int> trial;
    for (int restart = 0; restart < 20; ++restart) {
      for (size_t i = 1; i <= n; ++i) priority[i] = static_cast<int32_t>(generator());
      int width = compute_order(molecule, priority, trial);
      if (width < best) {
        best = width;
        order = trial;
      }
    }
  }
  return best;
}

}  // namespace tarnaxel
