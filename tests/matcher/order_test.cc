#include "matcher/order.h"

#include "tests/support.h"

namespace tarnaxel {
namespace {

Molecule graph_of(int atoms, const std::vector<std::pair<int, int>>& bonds) {
  Molecule m;
  m.atom_count = static_cast<uint32_t>(atoms);
  m.edge_count = static_cast<uint32_t>(bonds.size() * 2);
  m.atoms.assign(static_cast<size_t>(atoms) + 1, Atom{0, 0, 0.0});
  m.edges.assign(m.edge_count + 1, Edge{0, 0, 0, 0.0});
  for (size_t k = 0; k < bonds.size(); ++k) {
    m.edges[2 * k + 1] = Edge{bonds[k].first, bonds[k].second, 1, 1.0};
    m.edges[2 * k + 2] = Edge{bonds[k].second, bonds[k].first, 1, 1.0};
  }
  return m;
}

int compute_order(const Molecule& m, const std::vector<int32_t>& priority, std::vector<int>& order) {
  EliminationGraph graph;
  graph.build(m);
  return OrderFinder().compute(graph, priority, order);
}

int choose_order(const Molecule& m, std::vector<int>& order) {
  EliminationGraph graph;
  graph.build(m);
  return OrderFinder().choose(graph, order);
}

int width_of(const Molecule& m, std::vector<int>* order = nullptr) {
  std::vector<int> o;
  int w = choose_order(m, o);
  if (order) *order = o;
  return w;
}

TEST(Order, ChainPrefersTheTouchedEnd) {
  std::vector<int> order;
  EXPECT_EQ(width_of(graph_of(3, {{1, 2}, {2, 3}}), &order), 1);
  EXPECT_EQ(order, (std::vector<int>{1, 3, 2}));
}

TEST(Order, Widths) {
  EXPECT_EQ(width_of(graph_of(0, {})), 0);
  EXPECT_EQ(width_of(graph_of(6, {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}})), 1);
  EXPECT_EQ(width_of(graph_of(7, {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7}, {7, 1}})), 2);
  std::vector<std::pair<int, int>> complete;
  for (int a = 1; a <= 6; ++a)
    for (int b = a + 1; b <= 6; ++b) complete.push_back({a, b});
  EXPECT_EQ(width_of(graph_of(6, complete)), 5);
  // Parallel bonds count once.
  EXPECT_EQ(width_of(graph_of(2, {{1, 2}, {2, 1}, {1, 2}})), 1);
}

TEST(Order, IsolatedAtomsGoFirstInCandidateOrder) {
  std::vector<int> order;
  EXPECT_EQ(width_of(graph_of(4, {{2, 3}}), &order), 1);
  EXPECT_EQ(order[0], 1);
  EXPECT_EQ(order[1], 4);
}

TEST(Order, RestartsOnlyEverNarrowTheOrder) {
  // A 3x4 grid: the neutral order is wider than the best restart.
  std::vector<std::pair<int, int>> grid;
  auto id = [](int r, int c) { return r * 4 + c + 1; };
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      if (c + 1 < 4) grid.push_back({id(r, c), id(r, c + 1)});
      if (r + 1 < 3) grid.push_back({id(r, c), id(r + 1, c)});
    }
  Molecule m = graph_of(12, grid);
  std::vector<int32_t> zero(13, 0);
  std::vector<int> neutral;
  int first = compute_order(m, zero, neutral);
  std::vector<int> chosen;
  int best = choose_order(m, chosen);
  EXPECT_LE(best, first);
  EXPECT_EQ(best, 3);
  std::vector<int> again;
  EXPECT_EQ(choose_order(m, again), best);
  EXPECT_EQ(again, chosen);
}

}  // namespace
}  // namespace tarnaxel
