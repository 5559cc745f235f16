#include "matcher/order.h"

#include <algorithm>
#include <random>

#include "matcher/adjacency.h"
#include <utility>

namespace tarnaxel {

int compute_order(const Molecule& molecule, const std::vector<int32_t>& priority, std::vector<int>& order) {
  const int n = static_cast<int>(molecule.atom_count);
  static thread_local Adjacency graph;
  graph.build(molecule);
  // Candidates in scan order: priority ascending (signed), then atom number.
  std::vector<std::pair<int32_t, int>> candidates;
  candidates.reserve(static_cast<size_t>(n));
  for (int a = 1; a <= n; ++a) candidates.push_back({priority[static_cast<size_t>(a)], a});
  std::sort(candidates.begin(), candidates.end());
  std::vector<int32_t> touch_score(static_cast<size_t>(n) + 1, 0);
  std::vector<char> touched(static_cast<size_t>(n) + 1, 0);
  order.assign(static_cast<size_t>(n), 0);

  int width = 0;
  for (int p = 0; p < n; ++p) {
    // The threshold climbs from 0 until some atom is eligible, so the choice
    // is among the atoms of minimum degree: the first in scan order, replaced
    // only by a strictly greater touch_score.
    size_t min_degree = SIZE_MAX;
    for (const auto& candidate : candidates) min_degree = std::min(min_degree, graph[static_cast<size_t>(candidate.second)].size());
    int chosen = 0;
    size_t chosen_at = 0;
    for (size_t c = 0; c < candidates.size(); ++c) {
      const int a = candidates[c].second;
      if (graph[static_cast<size_t>(a)].size() != min_degree) continue;
      if (chosen == 0 || touch_score[static_cast<size_t>(a)] > touch_score[static_cast<size_t>(chosen)]) {
        chosen = a;
        chosen_at = c;
      }
    }
    width = std::max(width, static_cast<int>(min_degree));
    order[static_cast<size_t>(p)] = chosen;

    static thread_local std::vector<int> around;
    around = graph[static_cast<size_t>(chosen)];
    for (int u : around) {
      --touch_score[static_cast<size_t>(u)];
      if (!touched[static_cast<size_t>(u)]) {
        for (int w : graph[static_cast<size_t>(u)]) ++touch_score[static_cast<size_t>(w)];
        touched[static_cast<size_t>(u)] = 1;
      }
    }
    for (int u : around) {
      graph.erase(u, chosen);
      for (int w : around)
        if (w != u) graph.insert(u, w);
    }
    graph[static_cast<size_t>(chosen)].clear();
    candidates.erase(candidates.begin() + static_cast<long>(chosen_at));
    touched[static_cast<size_t>(chosen)] = 0;
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
