#include "molecule/rings.h"

#include <algorithm>
#include <set>

namespace tarnaxel {
namespace {

using Adjacency = std::vector<std::vector<std::pair<int, int>>>;  // (neighbour, bond) by atom

// Marks the bonds that are no bridge: those on some cycle.
void mark_ring_bonds(const Adjacency& adj, std::vector<uint8_t>& ring_bond) {
  const int n = static_cast<int>(adj.size());
  std::vector<int> order(static_cast<size_t>(n), -1), low(static_cast<size_t>(n), 0);
  struct Frame {
    int atom;
    int via;  // the bond it was reached by, -1 at a root
    size_t next;
  };
  std::vector<Frame> stack;
  int clock = 0;
  for (int root = 0; root < n; ++root) {
    if (order[static_cast<size_t>(root)] >= 0) continue;
    stack.push_back({root, -1, 0});
    order[static_cast<size_t>(root)] = low[static_cast<size_t>(root)] = clock++;
    while (!stack.empty()) {
      Frame& f = stack.back();
      const auto& near = adj[static_cast<size_t>(f.atom)];
      if (f.next < near.size()) {
        const auto [to, bond] = near[f.next++];
        if (bond == f.via) continue;
        if (order[static_cast<size_t>(to)] < 0) {
          order[static_cast<size_t>(to)] = low[static_cast<size_t>(to)] = clock++;
          stack.push_back({to, bond, 0});
        } else {
          // A bond back to an atom met before closes a cycle.
          ring_bond[static_cast<size_t>(bond)] = 1;
          low[static_cast<size_t>(f.atom)] = std::min(low[static_cast<size_t>(f.atom)], order[static_cast<size_t>(to)]);
        }
        continue;
      }
      const Frame done = f;
      stack.pop_back();
      if (stack.empty()) break;
      const int parent = stack.back().atom;
      low[static_cast<size_t>(parent)] = std::min(low[static_cast<size_t>(parent)], low[static_cast<size_t>(done.atom)]);
      if (low[static_cast<size_t>(done.atom)] <= order[static_cast<size_t>(parent)])
        ring_bond[static_cast<size_t>(done.via)] = 1;
    }
  }
}

// The shortest cycles through each ring atom (Horton's candidates): for a
// breadth-first tree from v, each bond outside it whose two tree paths meet
// only at v closes one.
void candidates(const Adjacency& ring_adj, const std::vector<RingBond>& bonds, size_t max_size,
                std::set<std::vector<int>>& seen, std::vector<Ring>& out) {
  const size_t n = ring_adj.size();
  std::vector<int> parent(n), via(n), depth(n), mark(n, -1);
  std::vector<int> queue;
  for (size_t v = 0; v < n; ++v) {
    if (ring_adj[v].empty()) continue;
    std::fill(depth.begin(), depth.end(), -1);
    queue.assign(1, static_cast<int>(v));
    depth[v] = 0;
    via[v] = -1;
    parent[v] = -1;
    for (size_t head = 0; head < queue.size(); ++head) {
      const int x = queue[head];
      for (const auto& [y, bond] : ring_adj[static_cast<size_t>(x)]) {
        if (depth[static_cast<size_t>(y)] >= 0) continue;
        depth[static_cast<size_t>(y)] = depth[static_cast<size_t>(x)] + 1;
        parent[static_cast<size_t>(y)] = x;
        via[static_cast<size_t>(y)] = bond;
        queue.push_back(y);
      }
    }
    for (const int x : queue) {
      for (const auto& [y, bond] : ring_adj[static_cast<size_t>(x)]) {
        if (x > y || bond == via[static_cast<size_t>(x)] || bond == via[static_cast<size_t>(y)]) continue;
        const size_t size = static_cast<size_t>(depth[static_cast<size_t>(x)] + depth[static_cast<size_t>(y)] + 1);
        if (size < 3 || size > max_size) continue;
        for (int a = x; a >= 0; a = parent[static_cast<size_t>(a)]) mark[static_cast<size_t>(a)] = y;
        bool apart = true;
        for (int b = y; b != static_cast<int>(v) && apart; b = parent[static_cast<size_t>(b)])
          apart = mark[static_cast<size_t>(b)] != y;
        for (int a = x; a >= 0; a = parent[static_cast<size_t>(a)]) mark[static_cast<size_t>(a)] = -1;
        if (!apart) continue;
        Ring ring;
        for (int a = x; a >= 0; a = parent[static_cast<size_t>(a)]) {
          ring.atoms.push_back(a);
          if (via[static_cast<size_t>(a)] >= 0) ring.bonds.push_back(via[static_cast<size_t>(a)]);
        }
        std::reverse(ring.atoms.begin(), ring.atoms.end());
        for (int b = y; b != static_cast<int>(v); b = parent[static_cast<size_t>(b)]) {
          ring.atoms.push_back(b);
          ring.bonds.push_back(via[static_cast<size_t>(b)]);
        }
        ring.bonds.push_back(bond);
        std::sort(ring.bonds.begin(), ring.bonds.end());
        if (seen.insert(ring.bonds).second) out.push_back(std::move(ring));
      }
    }
  }
  (void)bonds;
}

}  // namespace

void find_rings(int atom_count, const std::vector<RingBond>& bonds, size_t max_size, std::vector<Ring>& rings,
                std::vector<uint8_t>& ring_bond) {
  rings.clear();
  ring_bond.assign(bonds.size(), 0);
  Adjacency adj(static_cast<size_t>(atom_count));
  for (size_t i = 0; i < bonds.size(); ++i) {
    adj[static_cast<size_t>(bonds[i].a)].push_back({bonds[i].b, static_cast<int>(i)});
    adj[static_cast<size_t>(bonds[i].b)].push_back({bonds[i].a, static_cast<int>(i)});
  }
  mark_ring_bonds(adj, ring_bond);
  // The graph of the ring bonds alone; its cycle space has as many
  // dimensions as ring bonds less ring atoms plus its parts.
  Adjacency ring_adj(static_cast<size_t>(atom_count));
  std::vector<int> slot(bonds.size(), -1);
  int slots = 0;
  for (size_t i = 0; i < bonds.size(); ++i) {
    if (!ring_bond[i]) continue;
    slot[i] = slots++;
    ring_adj[static_cast<size_t>(bonds[i].a)].push_back({bonds[i].b, static_cast<int>(i)});
    ring_adj[static_cast<size_t>(bonds[i].b)].push_back({bonds[i].a, static_cast<int>(i)});
  }
  if (slots == 0) return;
  std::set<std::vector<int>> seen;
  std::vector<Ring> found;
  candidates(ring_adj, bonds, max_size, seen, found);
  std::stable_sort(found.begin(), found.end(), [](const Ring& x, const Ring& y) {
    return x.bonds.size() != y.bonds.size() ? x.bonds.size() < y.bonds.size() : x.bonds < y.bonds;
  });
  // Kept while independent of the rings kept before, over GF(2).
  const size_t words = (static_cast<size_t>(slots) + 63) / 64;
  std::vector<std::vector<uint64_t>> pivot(static_cast<size_t>(slots));
  std::vector<uint64_t> row(words);
  for (Ring& ring : found) {
    std::fill(row.begin(), row.end(), 0);
    for (int b : ring.bonds) row[static_cast<size_t>(slot[static_cast<size_t>(b)]) / 64] ^= uint64_t{1} << (slot[static_cast<size_t>(b)] % 64);
    for (;;) {
      size_t w = words;
      while (w > 0 && row[w - 1] == 0) --w;
      if (w == 0) break;  // dependent
      const size_t top = (w - 1) * 64 + 63 - static_cast<size_t>(__builtin_clzll(row[w - 1]));
      if (pivot[top].empty()) {
        pivot[top] = row;
        rings.push_back(std::move(ring));
        break;
      }
      for (size_t i = 0; i < words; ++i) row[i] ^= pivot[top][i];
    }
  }
}

}  // namespace tarnaxel
