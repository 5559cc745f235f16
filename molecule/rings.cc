#include "molecule/rings.h"

#include <algorithm>

namespace tarnaxel {

namespace {
size_t at(int i) { return static_cast<size_t>(i); }
}  // namespace

void RingFinder::find(int atom_count, const std::vector<RingBond>& bonds, size_t max_size) {
  rings_.clear();
  found_.clear();
  atom_pool_.clear();
  bond_pool_.clear();
  bond_count_ = bonds.size();
  ring_bond_.assign(bonds.size(), 0);
  const size_t n = static_cast<size_t>(atom_count);
  if (adj_.size() < n) adj_.resize(n);
  if (ring_adj_.size() < n) ring_adj_.resize(n);
  for (size_t a = 0; a < n; ++a) {
    adj_[a].clear();
    ring_adj_[a].clear();
  }
  for (size_t i = 0; i < bonds.size(); ++i) {
    adj_[at(bonds[i].a)].push_back({bonds[i].b, static_cast<int>(i)});
    adj_[at(bonds[i].b)].push_back({bonds[i].a, static_cast<int>(i)});
  }
  order_.assign(n, -1);
  low_.assign(n, 0);
  mark_ring_bonds();
  slot_.assign(bonds.size(), -1);
  int slots = 0;
  for (size_t i = 0; i < bonds.size(); ++i) {
    if (!ring_bond_[i]) continue;
    slot_[i] = slots++;
    ring_adj_[at(bonds[i].a)].push_back({bonds[i].b, static_cast<int>(i)});
    ring_adj_[at(bonds[i].b)].push_back({bonds[i].a, static_cast<int>(i)});
  }
  if (slots == 0) return;
  candidates(max_size);
  keep_independent();
}

// Marks the bonds that are no bridge: those on some cycle (depth-first
// search with low points, without recursion).
void RingFinder::mark_ring_bonds() {
  struct Frame {
    int atom;
    int via;  // the bond it was reached by, -1 at a root
    size_t next;
  };
  std::vector<Frame> stack;
  int clock = 0;
  const int n = static_cast<int>(order_.size());
  for (int root = 0; root < n; ++root) {
    if (order_[at(root)] >= 0) continue;
    stack.push_back({root, -1, 0});
    order_[at(root)] = low_[at(root)] = clock++;
    while (!stack.empty()) {
      Frame& f = stack.back();
      const auto& near = adj_[at(f.atom)];
      if (f.next < near.size()) {
        const auto [to, bond] = near[f.next++];
        if (bond == f.via) continue;
        if (order_[at(to)] < 0) {
          order_[at(to)] = low_[at(to)] = clock++;
          stack.push_back({to, bond, 0});
        } else {
          // A bond back to an atom met before closes a cycle.
          ring_bond_[at(bond)] = 1;
          low_[at(f.atom)] = std::min(low_[at(f.atom)], order_[at(to)]);
        }
        continue;
      }
      const Frame done = f;
      stack.pop_back();
      if (stack.empty()) break;
      const int parent = stack.back().atom;
      low_[at(parent)] = std::min(low_[at(parent)], low_[at(done.atom)]);
      if (low_[at(done.atom)] <= order_[at(parent)]) ring_bond_[at(done.via)] = 1;
    }
  }
}

// For a breadth-first tree from each ring atom v, each ring bond outside it
// whose two tree paths meet only at v closes a cycle through v.
void RingFinder::candidates(size_t max_size) {
  const size_t n = order_.size();
  parent_.assign(n, -1);
  via_.assign(n, -1);
  depth_.assign(n, -1);
  mark_.assign(n, -1);
  queue_.clear();  // may hold the atoms of a larger molecule before
  for (size_t v = 0; v < n; ++v) {
    if (ring_adj_[v].empty()) continue;
    for (int x : queue_) depth_[at(x)] = -1;
    queue_.assign(1, static_cast<int>(v));
    depth_[v] = 0;
    via_[v] = -1;
    parent_[v] = -1;
    for (size_t head = 0; head < queue_.size(); ++head) {
      const int x = queue_[head];
      // Paths longer than half the largest ring close no ring kept.
      if (static_cast<size_t>(depth_[at(x)]) * 2 >= max_size) continue;
      for (const auto& [y, bond] : ring_adj_[at(x)]) {
        if (depth_[at(y)] >= 0) continue;
        depth_[at(y)] = depth_[at(x)] + 1;
        parent_[at(y)] = x;
        via_[at(y)] = bond;
        queue_.push_back(y);
      }
    }
    for (const int x : queue_) {
      for (const auto& [y, bond] : ring_adj_[at(x)]) {
        if (x > y || depth_[at(y)] < 0 || bond == via_[at(x)] || bond == via_[at(y)]) continue;
        const size_t size = static_cast<size_t>(depth_[at(x)] + depth_[at(y)] + 1);
        if (size < 3 || size > max_size) continue;
        for (int a = x; a >= 0; a = parent_[at(a)]) mark_[at(a)] = y;
        bool apart = true;
        for (int b = y; b != static_cast<int>(v) && apart; b = parent_[at(b)]) apart = mark_[at(b)] != y;
        for (int a = x; a >= 0; a = parent_[at(a)]) mark_[at(a)] = -1;
        if (!apart) continue;
        Ring ring{static_cast<uint32_t>(atom_pool_.size()), static_cast<uint32_t>(bond_pool_.size()),
                  static_cast<uint32_t>(size)};
        const size_t first = atom_pool_.size();
        for (int a = x; a >= 0; a = parent_[at(a)]) {
          atom_pool_.push_back(a);
          if (via_[at(a)] >= 0) bond_pool_.push_back(via_[at(a)]);
        }
        std::reverse(atom_pool_.begin() + static_cast<long>(first), atom_pool_.end());
        for (int b = y; b != static_cast<int>(v); b = parent_[at(b)]) {
          atom_pool_.push_back(b);
          bond_pool_.push_back(via_[at(b)]);
        }
        bond_pool_.push_back(bond);
        std::sort(bond_pool_.begin() + ring.bonds, bond_pool_.end());
        found_.push_back(ring);
      }
    }
  }
}

// Shortest first, each ring once; kept while independent over GF(2) of the
// rings kept before.
void RingFinder::keep_independent() {
  sorted_.resize(found_.size());
  for (size_t i = 0; i < found_.size(); ++i) sorted_[i] = static_cast<uint32_t>(i);
  auto less = [this](uint32_t x, uint32_t y) {
    const Ring& a = found_[x];
    const Ring& b = found_[y];
    if (a.size != b.size) return a.size < b.size;
    return std::lexicographical_compare(bonds(a), bonds(a) + a.size, bonds(b), bonds(b) + b.size);
  };
  std::sort(sorted_.begin(), sorted_.end(), less);
  size_t slots = 0;
  for (int s : slot_) slots = std::max(slots, static_cast<size_t>(s + 1));
  const size_t words = (slots + 63) / 64;
  pivots_.assign(slots * words, 0);
  has_pivot_.assign(slots, 0);
  row_.resize(words);
  for (size_t i = 0; i < sorted_.size(); ++i) {
    const Ring& ring = found_[sorted_[i]];
    if (i > 0 && !less(sorted_[i - 1], sorted_[i])) continue;  // the same ring again
    std::fill(row_.begin(), row_.end(), 0);
    for (uint32_t k = 0; k < ring.size; ++k) {
      const size_t s = static_cast<size_t>(slot_[at(bonds(ring)[k])]);
      row_[s / 64] ^= uint64_t{1} << (s % 64);
    }
    for (;;) {
      size_t w = words;
      while (w > 0 && row_[w - 1] == 0) --w;
      if (w == 0) break;  // a sum of rings kept
      const size_t top = (w - 1) * 64 + 63 - static_cast<size_t>(__builtin_clzll(row_[w - 1]));
      uint64_t* pivot = pivots_.data() + top * words;
      if (!has_pivot_[top]) {
        std::copy(row_.begin(), row_.end(), pivot);
        has_pivot_[top] = 1;
        rings_.push_back(ring);
        break;
      }
      for (size_t k = 0; k < words; ++k) row_[k] ^= pivot[k];
    }
  }
}

}  // namespace tarnaxel
