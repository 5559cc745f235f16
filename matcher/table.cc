#include "matcher/table.h"

#include <algorithm>
#include <cstring>

#include "matcher/matcher.h"

namespace tarnaxel {
void Table::reset(int counter_count, size_t bit_length, bool key_matched, bool min, SealScratch* scratch) {
  clear();
  scratch_ = scratch;
  counter_count_ = counter_count;
  bit_length_ = bit_length;
  words_per_ = bit_length / 64 + 1;
  key_matched_ = key_matched;
  min_ = min;
}

void Table::clear() {
  entries_.clear();
  words_.clear();
  counters_.clear();
  index_.clear();
  indexed_ = 0;
}

void Table::clear_and_trim() {
  clear();
  give_back_if_large(entries_);
  give_back_if_large(words_);
  give_back_if_large(counters_);
  give_back_if_large(index_);
  if (scratch_ != nullptr) {
    give_back_if_large(scratch_->words);
    give_back_if_large(scratch_->counters);
  }
}

namespace {

constexpr size_t kIndexFrom = 256;
// Tables this small are sorted by insertion.
constexpr size_t kInsertionSortUpTo = 24;

// The bits of a side of fewer than 64.
uint64_t low_bits(const BitsRef& bits) {
  return bits.words == nullptr || bits.length == 0 ? uint64_t{0} : bits.words[0] & ((uint64_t{1} << bits.length) - 1);
}  // entries before a table keeps an index of its keys

}  // namespace

uint64_t Table::hash_of(const Entry& e, const uint8_t* counters) const {
  uint64_t h = 0x9E3779B97F4A7C15ull * (e.item_count + 1u);
  for (int i = 0; i < e.item_count; ++i) {
    h ^= e.items[i] + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h *= 0xBF58476D1CE4E5B9ull;
  }
  for (int c = 0; c < counter_count_; ++c) h = (h ^ (counters != nullptr ? counters[c] : 0u)) * 0x100000001B3ull;
  if (key_matched_) h ^= e.matched;
  h ^= h >> 31;
  h *= 0x94D049BB133111EBull;
  return h ^ (h >> 29);
}

Table::Entry Table::entry_of(const ConfigKey& key, double score) const {
  Entry e;
  e.item_count = key.item_count;
  for (int i = 0; i < 8; ++i) e.items[i] = i < key.item_count ? pack(key.items[i]) : 0;
  e.matched = key.matched;
  e.slot = static_cast<uint32_t>(words_.size() / words_per_);
  e.score = score;
  return e;
}

uint64_t Table::key_hash(const ConfigKey& key) const { return hash_of(entry_of(key, 0.0), key.counters); }

long Table::find(const Entry& e, const uint8_t* counters, uint64_t hash) const {
  const size_t mask = index_.size() - 1;
  for (size_t at = hash & mask; index_[at] != 0; at = (at + 1) & mask) {
    const Entry& other = entries_[index_[at] - 1];
    if (other.item_count != e.item_count || (key_matched_ && other.matched != e.matched)) continue;
    bool same_items = true;
    for (int i = 0; i < e.item_count && same_items; ++i) same_items = other.items[i] == e.items[i];
    if (!same_items) continue;
    if (counter_count_ > 0) {
      const uint8_t* stored = counters_.data() + size_t{other.slot} * counter_count_;
      bool same = true;
      for (int c = 0; c < counter_count_ && same; ++c) same = stored[c] == (counters != nullptr ? counters[c] : 0u);
      if (!same) continue;
    }
    return static_cast<long>(index_[at] - 1);
  }
  return -1;
}

void Table::index_entry(size_t position, uint64_t hash) {
  const size_t mask = index_.size() - 1;
  size_t at = hash & mask;
  while (index_[at] != 0) at = (at + 1) & mask;
  index_[at] = static_cast<uint32_t>(position + 1);
  ++indexed_;
}

void Table::build_index() {
  size_t size = 1024;
  while (size < 2 * entries_.size() + 2) size *= 2;
  index_.assign(size, 0);
  indexed_ = 0;
  for (size_t i = 0; i < entries_.size(); ++i) index_entry(i, hash_of(entries_[i], counters(entries_[i])));
}

void Table::replace(size_t position, const Entry& e, BitsRef first, BitsRef second) {
  Entry& kept = entries_[position];
  kept.score = e.score;
  kept.matched = e.matched;
  uint64_t* out = words_.data() + size_t{kept.slot} * words_per_;
  std::fill(out, out + words_per_, 0);
  if (words_per_ == 1) {
    out[0] = low_bits(first) | (low_bits(second) << first.length);
  } else {
    write_bits(out, first, second);
  }
}

void Table::append(const ConfigKey& key, BitsRef first, BitsRef second, double score, const uint64_t* known_hash) {
  const Entry e = entry_of(key, score);
  uint64_t hash = 0;
  if (!index_.empty()) {
    hash = known_hash != nullptr ? *known_hash : hash_of(e, key.counters);
    const long same = find(e, key.counters, hash);
    if (same >= 0) {
      if (better(score, entries_[static_cast<size_t>(same)].score)) replace(static_cast<size_t>(same), e, first, second);
      return;
    }
  }
  entries_.push_back(e);

  if (words_per_ == 1) {
    // Fewer than 64 bits: both parts fit one word.
    words_.push_back(low_bits(first) | (low_bits(second) << first.length));
  } else {
    const size_t at = words_.size();
    words_.resize(at + words_per_, 0);
    write_bits(words_.data() + at, first, second);
  }
  if (counter_count_ > 0) {
    const size_t c = counters_.size();
    counters_.resize(c + static_cast<size_t>(counter_count_), 0);
    if (key.counters != nullptr) std::memcpy(counters_.data() + c, key.counters, counter_count_);
  }

  if (!index_.empty()) {
    if (2 * (indexed_ + 1) > index_.size()) {
      build_index();
    } else {
      index_entry(entries_.size() - 1, hash);
    }
  } else if (entries_.size() >= kIndexFrom) {
    // A table that grows: duplicates so far dropped, then each as it comes.
    seal();
    build_index();
  }
}

void Table::write_bits(uint64_t* out, BitsRef first, BitsRef second) const {
  if (first.words != nullptr) {
    const size_t whole = first.length / 64;
    std::memcpy(out, first.words, whole * 8);
    if (first.length % 64) out[whole] = first.words[whole] & ((uint64_t{1} << (first.length % 64)) - 1);
  }
  if (second.words != nullptr) {
    const size_t shift = first.length % 64;
    uint64_t* to = out + first.length / 64;
    const size_t words = (second.length + 63) / 64;
    for (size_t w = 0; w < words; ++w) {
      uint64_t value = second.words[w];
      if (w + 1 == words && second.length % 64) value &= (uint64_t{1} << (second.length % 64)) - 1;
      to[w] |= value << shift;
      if (shift != 0 && value >> (64 - shift)) to[w + 1] |= value >> (64 - shift);
    }
  }
}

inline int Table::compare(const Entry& a, const Entry& b) const {
  if (a.item_count != b.item_count) return a.item_count < b.item_count ? -1 : 1;
  for (int i = 0; i < a.item_count; ++i)
    if (a.items[i] != b.items[i]) return a.items[i] < b.items[i] ? -1 : 1;
  if (counter_count_ > 0) {
    int order = std::memcmp(counters(a), counters(b), static_cast<size_t>(counter_count_));
    if (order != 0) return order;
  }
  if (key_matched_ && a.matched != b.matched) return a.matched < b.matched ? -1 : 1;
  return 0;
}

void Table::seal() {
  index_.clear();  // positions change below
  indexed_ = 0;
  // Storing order: already in key order without repeated keys is common.
  bool ordered = true;
  for (size_t i = 1; i < entries_.size() && ordered; ++i) ordered = compare(entries_[i - 1], entries_[i]) < 0;
  if (ordered) return;
  // The slot is the storing order: equal keys are decided by it.
  auto before = [this](const Entry& a, const Entry& b) {
    const int order = compare(a, b);
    return order != 0 ? order < 0 : a.slot < b.slot;
  };
  if (entries_.size() <= kInsertionSortUpTo) {
    for (size_t i = 1; i < entries_.size(); ++i) {
      if (!before(entries_[i], entries_[i - 1])) continue;
      const Entry moving = entries_[i];
      size_t j = i;
      for (; j > 0 && before(moving, entries_[j - 1]); --j) entries_[j] = entries_[j - 1];
      entries_[j] = moving;
    }
  } else {
    std::sort(entries_.begin(), entries_.end(), before);
  }
  size_t out = 0;
  for (size_t i = 0; i < entries_.size();) {
    size_t best = i;
    size_t j = i + 1;
    while (j < entries_.size() && compare(entries_[i], entries_[j]) == 0) {
      if (better(entries_[j].score, entries_[best].score)) best = j;
      ++j;
    }
    entries_[out++] = entries_[best];
    i = j;
  }
  entries_.resize(out);
  bool in_place = out * words_per_ == words_.size();
  for (size_t i = 0; i < out && in_place; ++i) in_place = entries_[i].slot == i;
  if (in_place) return;
  // Compact the slots so the pools hold only what is kept; the storage given
  // up is kept for the next compaction.
  SealScratch local;
  SealScratch& scratch = scratch_ != nullptr ? *scratch_ : local;
  std::vector<uint64_t>& words = scratch.words;
  std::vector<uint8_t>& counters = scratch.counters;
  words.resize(out * words_per_);
  counters.resize(out * static_cast<size_t>(counter_count_));
  for (size_t i = 0; i < out; ++i) {
    Entry& e = entries_[i];
    if (words_per_ == 1) words[i] = words_[e.slot];
    else std::memcpy(words.data() + i * words_per_, words_.data() + size_t{e.slot} * words_per_, words_per_ * 8);
    if (counter_count_ > 0)
      std::memcpy(counters.data() + i * counter_count_, counters_.data() + size_t{e.slot} * counter_count_,
                  counter_count_);
    e.slot = static_cast<uint32_t>(i);
  }
  words_.swap(words);
  counters_.swap(counters);
}

void Table::relayout(size_t bit_length, size_t shift) {
  const size_t words_per = bit_length / 64 + 1;
  if (shift == 0 && words_per == words_per_) {
    bit_length_ = bit_length;  // the bits past the old length are zeros
    return;
  }
  SealScratch local;
  std::vector<uint64_t>& words = scratch_ != nullptr ? scratch_->words : local.words;
  const size_t slots = words_.size() / words_per_;
  words.assign(slots * words_per, 0);
  for (size_t slot = 0; slot < slots; ++slot) {
    const BitsRef bits{words_.data() + slot * words_per_, bit_length_};
    if (words_per == 1) {
      words[slot] = low_bits(bits) << shift;
    } else {
      write_bits(words.data() + slot * words_per, BitsRef{nullptr, shift}, bits);
    }
  }
  words_.swap(words);
  words_per_ = words_per;
  bit_length_ = bit_length;
}

void Table::copy_renamed(const Table& source, const uint16_t* from, const uint16_t* to, size_t count) {
  auto renamed = [&](uint64_t atom) -> uint64_t {
    for (size_t i = 0; i < count; ++i)
      if (atom == from[i]) return to[i];
    return atom;
  };
  entries_ = source.entries_;
  for (Entry& e : entries_) {
    for (int i = 0; i < e.item_count; ++i) {
      const uint64_t word = e.items[i];
      const uint64_t atom = renamed(word >> 40);
      const uint64_t root = renamed((word >> 24) & 0xFFFFu);
      e.items[i] = (atom << 40) | (root << 24) | (word & 0xFFFFFFu);
    }
  }
  words_ = source.words_;
  counters_ = source.counters_;
  index_.clear();
  indexed_ = 0;
}

void ConfigStore::copy_renamed(Table& table, const Table& source, const uint16_t* from, const uint16_t* to,
                               size_t count) const {
  const size_t before = table.bytes();
  table.copy_renamed(source, from, to, count);
  charge(before, table.bytes());
}

void ConfigStore::relayout(Table& table, size_t bit_length, size_t shift) const {
  const size_t before = table.bytes();
  table.relayout(bit_length, shift);
  charge(before, table.bytes());
}

void ConfigStore::charge(size_t before, size_t after) const {
  live_bytes_ = after >= before ? live_bytes_ + (after - before) : live_bytes_ - std::min(live_bytes_, before - after);
  peak_ = std::max(peak_, live_bytes_);
  highest_ = std::max(highest_, live_bytes_);
  if (live_bytes_ > limit_) throw TableLimitExceeded();
}

void ConfigStore::stand_in(size_t rise, int64_t change) const {
  peak_ = std::max(peak_, live_bytes_ + rise);
  highest_ = std::max(highest_, live_bytes_ + rise);
  if (live_bytes_ + rise > limit_) throw TableLimitExceeded();
  live_bytes_ = change >= 0 ? live_bytes_ + static_cast<size_t>(change)
                            : live_bytes_ - std::min(live_bytes_, static_cast<size_t>(-change));
}

void ConfigStore::store(Table& table, const ConfigKey& key, BitsRef first, BitsRef second, double score,
                        const uint64_t* hash) const {
  const size_t before = table.bytes();
  table.append(key, first, second, score, hash);
  charge(before, table.bytes());
}

void ConfigStore::seal(Table& table) const {
  const size_t before = table.bytes();
  table.seal();
  charge(before, table.bytes());
}

void ConfigStore::release(const Table& table) const { live_bytes_ -= std::min(live_bytes_, table.bytes()); }

}  // namespace tarnaxel
