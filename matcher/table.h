// Bags of the tree decomposition and their tables of configurations.
//
// A configuration is one partial run of the automaton below a bag: the rule
// applied at each matched atom of the bag, the plain children of that rule
// already matched to bonds, the partial tree each atom belongs to, how often
// the counted rules were used, the score so far and the bonds used.  A table
// holds at most one configuration per key and is walked in key order.
//
// A table is filled by appending and then sealed: sealing sorts by key and
// keeps, of the configurations sharing a key, the first one stored among
// those with the best score, which is what storing them one by one, keeping
// the first unless a later one is strictly better, would leave.  A table
// that grows large is sealed on the way, so duplicates never pile up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/limits.h"

namespace tarnaxel {

// Storage over this many bytes is given back when a table or a join's
// scratch is done with, rather than kept for the next one.
constexpr size_t kKeptBytes = size_t{4} << 20;

template <typename T>
void give_back_if_large(std::vector<T>& v) {
  if (v.capacity() * sizeof(T) > kKeptBytes) std::vector<T>().swap(v);
}

struct Item {
  uint16_t atom = 0;          // atom numbers fit kItemAtomBits
  uint16_t rule = 0;          // 0: the built-in record, an atom left unmatched on purpose
  uint8_t used_children = 0;  // bit k: plain child k matched to a bond
  uint16_t root = 0;          // root atom of the item's partial tree; 0 once forgotten
};

// An item packed into one word whose unsigned order is the key order of
// items: atom, then root, then rule, then used children (atom and root
// numbers within kItemAtomBits).
inline uint64_t pack(const Item& item) {
  static_assert(kItemAtomBits == 16, "the atom and root fields below are 16 bits");
  return (static_cast<uint64_t>(static_cast<uint32_t>(item.atom)) << 40) |
         (static_cast<uint64_t>(static_cast<uint32_t>(item.root) & 0xFFFFu) << 24) |
         (static_cast<uint64_t>(item.rule) << 8) | item.used_children;
}
inline Item unpack(uint64_t word) {
  return Item{static_cast<uint16_t>(word >> 40), static_cast<uint16_t>(word >> 8), static_cast<uint8_t>(word),
              static_cast<uint16_t>((word >> 24) & 0xFFFFu)};
}

// The key fields of a configuration, as built before it is stored.
struct ConfigKey {
  uint8_t item_count = 0;
  Item items[8];
  const uint8_t* counters = nullptr;  // counter_count bytes, or null for zeros
  uint8_t matched = 0;                // some atom of the run is matched
};

// Bonds used: bit i stands for bit i of a bag's edge list.
struct BitsRef {
  const uint64_t* words = nullptr;  // null: no bond used
  size_t length = 0;
};

inline bool bit(const uint64_t* words, size_t i) { return (words[i / 64] >> (i % 64)) & 1u; }

// The pools a table is compacted into when sealed, kept between tables.
struct SealScratch {
  std::vector<uint64_t> words;
  std::vector<uint8_t> counters;
};

class Table {
 public:
  struct Entry {
    uint64_t items[8];
    uint8_t item_count;
    uint8_t matched;
    uint32_t slot;  // of its counters and bits
    double score;
  };

  // counter_count bytes of counters and bit_length bits per configuration;
  // with key_matched the matched flag ends the key ("-min").  Sealing
  // compacts into scratch when given.
  void reset(int counter_count, size_t bit_length, bool key_matched, bool min, SealScratch* scratch = nullptr);

  // Appends a configuration; its bits are first then second, one after the
  // other.  hash: its key_hash(), when already worked out.
  void append(const ConfigKey& key, BitsRef first, BitsRef second, double score, const uint64_t* hash = nullptr);
  // Sorts by key and drops the configurations that storing one by one would drop.
  void seal();
  // Lays the bits out again for bit_length bits, every configuration's bits
  // moved up by shift (zeros below).
  void relayout(size_t bit_length, size_t shift);
  // Replaces the configurations by those of a sealed table of the same
  // layout with count atoms renamed: atom (and root) from[i] becomes to[i].
  // Renaming keeps the key order when both lists ascend.
  void copy_renamed(const Table& source, const uint16_t* from, const uint16_t* to, size_t count);

  // Looking a key up in a large table waits on memory twice (its slot in the
  // index, then the configuration there); a caller with several keys at hand
  // asks for both ahead of the appends.
  uint64_t key_hash(const ConfigKey& key) const;
  bool indexed() const { return !index_.empty(); }
  void prefetch_slot(uint64_t hash) const { __builtin_prefetch(index_.data() + (hash & (index_.size() - 1))); }
  void prefetch_entry(uint64_t hash) const {
    const uint32_t at = index_[hash & (index_.size() - 1)];
    if (at != 0) __builtin_prefetch(entries_.data() + (at - 1));
  }

  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  const std::vector<Entry>& entries() const { return entries_; }
  const uint8_t* counters(const Entry& e) const { return counters_.data() + size_t{e.slot} * counter_count_; }
  BitsRef bits(const Entry& e) const { return {words_.data() + size_t{e.slot} * words_per_, bit_length_}; }
  size_t bit_length() const { return bit_length_; }
  // Bytes held by the configurations, for the memory limit: what the table
  // holds, not the storage it kept from earlier tables, so that whether a
  // molecule passes the limit depends on the molecule alone.
  size_t bytes() const { return entries_.size() * sizeof(Entry) + words_.size() * 8 + counters_.size(); }
  void clear();
  // Clears, giving back large storage (and the sealing pools' large storage).
  void clear_and_trim();

 private:
  // Writes the bits of a configuration of more than one word at out (zeros).
  void write_bits(uint64_t* out, BitsRef first, BitsRef second) const;
  // A configuration about to be stored, packed, its slot the next one.
  Entry entry_of(const ConfigKey& key, double score) const;
  // The key of a configuration about to be stored, hashed.
  uint64_t hash_of(const Entry& e, const uint8_t* counters) const;
  // The position of the configuration with the same key as e, or -1.
  long find(const Entry& e, const uint8_t* counters, uint64_t hash) const;
  void index_entry(size_t position, uint64_t hash);
  void build_index();
  // Replaces the configuration at position by a strictly better one.
  void replace(size_t position, const Entry& e, BitsRef first, BitsRef second);
  // Key order: negative, zero or positive.
  int compare(const Entry& a, const Entry& b) const;
  bool better(double candidate, double incumbent) const { return min_ ? candidate < incumbent : candidate > incumbent; }

  std::vector<Entry> entries_;
  std::vector<uint64_t> words_;
  std::vector<uint8_t> counters_;
  int counter_count_ = 0;
  size_t bit_length_ = 0;
  size_t words_per_ = 1;
  bool key_matched_ = false;
  bool min_ = false;
  // Once a table grows, an index of its keys (open addressing; 0 empty,
  // else position + 1) drops each configuration whose key is already
  // stored as it comes, keeping the first unless a later one is strictly
  // better, which is what sealing keeps.
  std::vector<uint32_t> index_;
  size_t indexed_ = 0;
  SealScratch* scratch_ = nullptr;
};

struct Bag {
  std::vector<int> vertices;  // ascending atom numbers
  // By vertex (in the order of vertices): its bonds whose leaves are below
  // the bag.  The others are all a configuration's items at that atom can
  // still use.
  uint16_t met[kMaxBagAtoms] = {};
  Table table;
  uint8_t is_leaf = 0;
  std::vector<int> edge_list;  // bit i of a configuration's bonds is edge_list[i]

  // How the matcher makes the bag, planned before any table is filled: its
  // kind (0: none, never copied), and the joins that make it, or for a bond
  // leaf its directed edges, a range of the matcher's sorted edge keys.
  uint32_t kind = 0;
  uint32_t first = 0;
  uint32_t count = 0;
  uint8_t bond = 0;      // a bond leaf
  uint8_t fresh = 0;     // its kind is new: a bag joining it is of no kind
  uint8_t needed = 0;    // its table is asked for
  uint8_t copied = 0;    // its table is a copy of one of the same kind
  uint8_t accepted = 0;  // making its table completed a configuration with a matched atom
  // What making its table charges to the memory limit: the height over
  // what was held before, and the change to what is held after.
  size_t rise = 0;
  int64_t change = 0;
};

// What every table of one molecule shares: the counter count, the option
// "-min" and the memory limit on all tables together.
class ConfigStore {
 public:
  ConfigStore(int counter_count, bool min, size_t limit = SIZE_MAX, SealScratch* scratch = nullptr)
      : counter_count_(counter_count), min_(min), limit_(limit), scratch_(scratch) {}

  // Prepares an empty table for configurations of bit_length bits.
  void start(Table& table, size_t bit_length) const { table.reset(counter_count_, bit_length, min_, min_, scratch_); }
  // Stores into a table being filled, charging the memory limit.
  void store(Table& table, const ConfigKey& key, BitsRef first, BitsRef second, double score,
             const uint64_t* hash = nullptr) const;
  // Seals a filled table and settles its charge.
  void seal(Table& table) const;
  // Lays a table's bits out again and settles its charge.
  void relayout(Table& table, size_t bit_length, size_t shift) const;
  // Table::copy_renamed into a table just started, charging it.
  void copy_renamed(Table& table, const Table& source, const uint16_t* from, const uint16_t* to, size_t count) const;
  // Drops a table's charge (the table is being discarded).
  void release(const Table& table) const;

  // Stands in for making a table that is not made: charges what making it
  // would hold at its height over what is held now (rise), then leaves
  // the held bytes changed by what it would leave (change).
  void stand_in(size_t rise, int64_t change) const;
  // Starts watching the height of the charge, for peak().
  void watch() const { peak_ = live_bytes_; }

  bool better(double candidate, double incumbent) const { return min_ ? candidate < incumbent : candidate > incumbent; }
  int counter_count() const { return counter_count_; }
  bool min() const { return min_; }
  size_t live_bytes() const { return live_bytes_; }
  size_t peak() const { return peak_; }
  size_t highest() const { return highest_; }  // the height of the charge since the store was made

 private:
  void charge(size_t before, size_t after) const;
  int counter_count_;
  bool min_;
  size_t limit_;
  SealScratch* scratch_;
  mutable size_t live_bytes_ = 0;
  mutable size_t peak_ = 0;
  mutable size_t highest_ = 0;
};

}  // namespace tarnaxel
