// Kinds of bags, and the tables of the kinds met before.
//
// A bag's table is decided by how the bag is made.  A bond leaf's by the
// options, both atoms' degrees and surviving rules, and each directed
// edge's direction, label and weight; a joined bag's by the kinds it joins
// in order, how their atoms interleave, the atom forgotten and its value,
// and how many bonds apart its atoms are, as far as the joins look (the
// matcher writes these descriptions).  Each description met is numbered:
// its kind.  Bags of one
// kind, in one molecule or in two, have the same table but for the numbers
// of their atoms, so a table is kept with its atoms renamed 1, 2, ... in
// ascending order (which keeps its order), and a later bag of the kind
// takes a copy renamed back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "matcher/table.h"

namespace tarnaxel {

// A bag's atoms and their names in a kept table: the i-th atom is i + 1.
struct Renaming {
  explicit Renaming(const std::vector<int>& vertices) : count(vertices.size()) {
    for (size_t i = 0; i < count; ++i) {
      atoms[i] = static_cast<uint16_t>(vertices[i]);
      ranks[i] = static_cast<uint16_t>(i + 1);
    }
  }
  size_t count;
  uint16_t atoms[kMaxBagAtoms];
  uint16_t ranks[kMaxBagAtoms];
};

// What making a bag's table charges to the memory limit (Bag::rise, Bag::change).
struct Cost {
  size_t rise;
  int64_t change;
};

class BagKinds {
 public:
  struct Kept {
    Table table;  // its atoms renamed 1, 2, ...
    uint8_t present = 0;
    uint8_t again = 0;  // the kind was met more than once
    uint8_t accepted = 0;
    // What making each table below charges, the bag's own first, then the
    // bags it joins in order, each followed by those below it: a copy
    // stands in for all of them, so that whether a record passes the
    // memory limit does not depend on what was kept.
    std::vector<Cost> costs;
  };

  // The description being made, for kind_of.
  std::vector<uint32_t>& key() { return key_; }
  // The kind of the description in key(), numbered from 1 as first met.
  uint32_t kind_of();
  // Whether the last kind_of met its description for the first time.
  bool fresh() const { return fresh_; }
  // The table kept for a kind, or null.
  const Kept* find(uint32_t kind) const {
    return kind != 0 && kept_[kind - 1].present ? &kept_[kind - 1] : nullptr;
  }
  // Whether a bag's table is to be kept: once its kind has been met twice
  // (most kinds met once are never met again), and when not too large.
  bool wanted(const Bag& bag) const;
  // Keeps a copy of a bag's sealed table under its kind, with the costs of
  // making it and the tables below it.
  void keep(const Bag& bag, const ConfigStore& store, const std::vector<Cost>& costs);
  // Between molecules: forgets every kind once they hold too much.
  void trim();

 private:
  void grow();
  std::vector<uint32_t> key_;
  // Open addressing by hash: 0 empty, else the hash's high half over the kind.
  std::vector<uint64_t> slots_ = std::vector<uint64_t>(1024, 0);
  std::vector<uint32_t> pool_;   // the descriptions, one after another
  std::vector<size_t> start_{0};  // kind k's description starts at start_[k - 1]
  std::deque<Kept> kept_;         // by kind - 1
  size_t bytes_ = 0;
  bool fresh_ = false;
};

}  // namespace tarnaxel
