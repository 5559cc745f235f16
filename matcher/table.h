// Bags of the tree decomposition and their tables of configurations.
//
// A configuration is one partial run of the automaton below a bag: the rule
// applied at each matched atom of the bag, the plain children of that rule
// already matched to bonds, the partial tree each atom belongs to, how often
// the counted rules were used, the score so far and the bonds used.  A table
// holds at most one configuration per key and is walked in key order.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarnaxel {

struct Item {
  int32_t atom = 0;
  uint16_t rule = 0;          // 0: the built-in record, an atom left unmatched on purpose
  uint8_t used_children = 0;  // bit k: plain child k matched to a bond
  int32_t root = 0;           // root atom of the item's partial tree; 0 once forgotten
};

using Bits = std::vector<uint32_t>;

// Bit array of n bits, all zero.
inline Bits zero_bits(size_t n) { return Bits(n / 32 + 2, 0u); }
inline bool bit(const Bits& bits, size_t i) { return (bits[i / 32] >> (i % 32)) & 1u; }

// The key fields of a configuration, as built before it is stored.
struct ConfigKey {
  uint8_t item_count = 0;
  Item items[8];
  const uint8_t* counters = nullptr;  // apply_count bytes, or null for zeros
  uint8_t matched = 0;                // some atom of the run is matched
};

struct ConfigValue {
  double score = 0.0;
  Bits used_edges;
  uint8_t matched = 0;
};

// Configurations by key: item count, then the items (atom, root, rule,
// used_children), then the counters, all unsigned; with "-min" the matched
// flag follows.  The encoded key compares byte-wise in exactly that order.
using Table = std::map<std::string, ConfigValue>;

// A stored configuration decoded for reading.
struct Config {
  uint8_t item_count = 0;
  Item items[8];
  std::vector<uint8_t> counters;
  const ConfigValue* value = nullptr;
};

Config decode(const Table::value_type& entry, int counter_count);

struct Bag {
  std::vector<int> vertices;  // ascending atom numbers
  Table table;
  uint8_t is_leaf = 0;
  std::vector<int> edge_list;  // bit i of used_edges is edge_list[i]
};

// Stores into a table: added when the key is new, else replacing the stored
// configuration only when strictly better (greater, or smaller under
// "-min"); an equal score keeps the configuration stored first.
class ConfigStore {
 public:
  ConfigStore(int counter_count, bool min, size_t limit = SIZE_MAX)
      : counter_count_(counter_count), min_(min), limit_(limit) {}

  void store(Table& table, const ConfigKey& key, const Bits* first, size_t first_length, const Bits* second,
             size_t second_length, double score) const;

  bool better(double candidate, double incumbent) const { return min_ ? candidate < incumbent : candidate > incumbent; }
  int counter_count() const { return counter_count_; }
  bool min() const { return min_; }

  // The table memory accounting: every stored configuration is charged its
  // estimated bytes; a table that is dropped is released.  Going over the
  // limit throws TableLimitExceeded.
  void release(const Table& table);
  size_t live_bytes() const { return live_bytes_; }

 private:
  static size_t bytes_of(size_t key_bytes, size_t bit_words) { return 160 + key_bytes + 4 * bit_words; }
  int counter_count_;
  bool min_;
  size_t limit_;
  mutable size_t live_bytes_ = 0;
};

}  // namespace tarnaxel
