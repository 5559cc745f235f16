#include "matcher/order.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>

#include "common/limits.h"
#include "matcher/adjacency.h"

namespace tarnaxel {

static_assert(kMaxAtoms < (1u << 16), "the order's keys pack a scan position in 16 bits");

// The atoms in scan order: priority ascending (signed), then atom number.
void OrderFinder::start_scan(size_t n, const std::vector<int32_t>& priority) {
  std::vector<int>& scan = scan_;
  scan.resize(n);
  for (size_t a = 1; a <= n; ++a) scan[a - 1] = static_cast<int>(a);
  if (std::any_of(priority.begin() + 1, priority.begin() + static_cast<long>(n) + 1, [](int32_t p) { return p != 0; }))
    std::sort(scan.begin(), scan.end(), [&](int a, int b) {
      return std::make_pair(priority[static_cast<size_t>(a)], a) < std::make_pair(priority[static_cast<size_t>(b)], b);
    });
  state_.resize(n + 1);
  for (size_t c = 0; c < n; ++c) {
    const size_t a = static_cast<size_t>(scan[c]);
    state_[a] = State{static_cast<uint32_t>(c), 0, static_cast<uint32_t>(a - 1), 0};
  }
}

int OrderFinder::compute(const EliminationGraph& molecule_graph, const std::vector<int32_t>& priority,
                         std::vector<int>& order) {
  const size_t n = molecule_graph.atoms();
  graph_ = molecule_graph;
  EliminationGraph& graph = graph_;
  start_scan(n, priority);
  const std::vector<int>& scan = scan_;
  std::vector<State>& state = state_;
  order.resize(n);

  // One key per remaining atom: the degree, then the touch_score reversed,
  // then the scan position (atom counts have three digits, so 16 bits hold
  // it), so that the smallest key is the atom of minimum
  // degree with the greatest touch_score, the first in scan order among
  // equals.  Keys are unique, so an eliminated atom's key is replaced by the
  // last one and the scan shrinks.
  std::vector<uint64_t>& keys = keys_;
  keys.resize(n);
  auto refresh = [&](size_t a) {
    const State& s = state[a];
    keys[s.slot] = (static_cast<uint64_t>(graph.degree(a)) << 48) |
                   (static_cast<uint64_t>(0x80000000u - static_cast<uint32_t>(s.touch_score)) << 16) | s.position;
  };
  for (size_t a = 1; a <= n; ++a) refresh(a);

  int width = 0;
  size_t remaining = n;
  for (size_t p = 0; p < n; ++p) {
    uint64_t best = UINT64_MAX;
    for (size_t i = 0; i < remaining; ++i) best = std::min(best, keys[i]);
    const size_t chosen = static_cast<size_t>(scan[best & 0xFFFFu]);
    width = std::max(width, graph.degree(chosen));
    order[p] = static_cast<int>(chosen);

    graph.for_each(chosen, [&](size_t u) {
      --state[u].touch_score;
      if (!state[u].touched) {
        graph.for_each(u, [&](size_t w) {
          ++state[w].touch_score;
          // The key's touch field, held reversed, goes down by one.
          if (w != chosen) keys[state[w].slot] -= uint64_t{1} << 16;
        });
        state[u].touched = 1;
      }
    });
    graph.eliminate(chosen);
    graph.for_each_of_last([&](size_t u) { refresh(u); });
    const uint64_t last = keys[--remaining];
    keys[state[chosen].slot] = last;
    state[static_cast<size_t>(scan[last & 0xFFFFu])].slot = state[chosen].slot;
    state[chosen].touched = 0;
  }
  return width;
}

int OrderFinder::choose(const EliminationGraph& molecule_graph, std::vector<int>& order) {
  const size_t n = molecule_graph.atoms();
  std::vector<int32_t>& priority = priority_;
  priority.assign(n + 1, 0);
  int best = compute(molecule_graph, priority, order);
  if (best > 3) {
    std::mt19937 generator(1234567u);
    std::vector<int>& trial = trial_;
    for (int restart = 0; restart < 20; ++restart) {
      for (size_t i = 1; i <= n; ++i) priority[i] = static_cast<int32_t>(generator());
      int width = compute(molecule_graph, priority, trial);
      if (width < best) {
        best = width;
        order = trial;
      }
    }
  }
  return best;
}

}  // namespace tarnaxel
