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
  sealed_ = 0;
}

void Table::append(const ConfigKey& key, BitsRef first, BitsRef second, double score) {
  Entry e;
  e.item_count = key.item_count;
  for (int i = 0; i < 8; ++i) e.items[i] = i < key.item_count ? pack(key.items[i]) : 0;
  e.matched = key.matched;
  e.slot = static_cast<uint32_t>(entries_.size());
  e.score = score;
  entries_.push_back(e);

  if (words_per_ == 1) {
    // Fewer than 64 bits: both parts fit one word.
    auto low_bits = [](const BitsRef& bits) {
      return bits.words == nullptr || bits.length == 0 ? uint64_t{0}
                                                       : bits.words[0] & ((uint64_t{1} << bits.length) - 1);
    };
    words_.push_back(low_bits(first) | (low_bits(second) << first.length));
  } else {
    append_bits(first, second);
  }
  if (counter_count_ > 0) {
    const size_t c = counters_.size();
    counters_.resize(c + static_cast<size_t>(counter_count_), 0);
    if (key.counters != nullptr) std::memcpy(counters_.data() + c, key.counters, counter_count_);
  }

  // Keep duplicates from piling up in a table that grows.
  if (entries_.size() >= 4096 && entries_.size() >= 2 * sealed_) seal();
}

void Table::append_bits(BitsRef first, BitsRef second) {
  const size_t at = words_.size();
  words_.resize(at + words_per_, 0);
  uint64_t* out = words_.data() + at;
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

int Table::compare(const Entry& a, const Entry& b) const {
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
  // Storing order: already in key order without repeated keys is common.
  bool ordered = true;
  for (size_t i = 1; i < entries_.size() && ordered; ++i) ordered = compare(entries_[i - 1], entries_[i]) < 0;
  if (ordered) {
    sealed_ = entries_.size();
    return;
  }
  // The slot is the storing order: equal keys are decided by it.
  std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
    const int order = compare(a, b);
    return order != 0 ? order < 0 : a.slot < b.slot;
  });
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
  sealed_ = out;
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
    std::memcpy(words.data() + i * words_per_, words_.data() + size_t{e.slot} * words_per_, words_per_ * 8);
    if (counter_count_ > 0)
      std::memcpy(counters.data() + i * counter_count_, counters_.data() + size_t{e.slot} * counter_count_,
                  counter_count_);
    e.slot = static_cast<uint32_t>(i);
  }
  words_.swap(words);
  counters_.swap(counters);
}

void ConfigStore::charge(size_t before, size_t after) const {
  live_bytes_ = after >= before ? live_bytes_ + (after - before) : live_bytes_ - std::min(live_bytes_, before - after);
  if (live_bytes_ > limit_) throw TableLimitExceeded();
}

void ConfigStore::store(Table& table, const ConfigKey& key, BitsRef first, BitsRef second, double score) const {
  const size_t before = table.bytes();
  table.append(key, first, second, score);
  charge(before, table.bytes());
}

void ConfigStore::seal(Table& table) const {
  const size_t before = table.bytes();
  table.seal();
  charge(before, table.bytes());
}

void ConfigStore::release(const Table& table) const { live_bytes_ -= std::min(live_bytes_, table.bytes()); }

}  // namespace tarnaxel
