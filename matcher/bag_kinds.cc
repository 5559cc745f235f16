#include "matcher/bag_kinds.h"

#include <algorithm>

namespace tarnaxel {
namespace {

// Tables of more bytes are not kept; all kept tables together are forgotten
// past kKeptTotal bytes or kMostKinds kinds.
constexpr size_t kLargestKept = size_t{1} << 18;
constexpr size_t kKeptTotal = size_t{32} << 20;
constexpr size_t kMostKinds = size_t{1} << 17;

}  // namespace

uint32_t BagKinds::kind_of() {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ key_.size();
  for (uint32_t x : key_) {
    h = (h ^ x) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  const auto [at, fresh] = by_hash_.try_emplace(h, static_cast<uint32_t>(kept_.size() + 1));
  if (!fresh) {
    const uint32_t kind = at->second;
    const size_t begin = start_[kind - 1];
    const size_t length = start_[kind] - begin;
    return length == key_.size() && std::equal(key_.begin(), key_.end(), pool_.begin() + static_cast<long>(begin))
               ? kind
               : 0;
  }
  pool_.insert(pool_.end(), key_.begin(), key_.end());
  start_.push_back(pool_.size());
  kept_.emplace_back();
  return at->second;
}

void BagKinds::keep(const Bag& bag, const ConfigStore& store) {
  if (bag.kind == 0 || bag.table.bytes() > kLargestKept) return;
  Kept& kept = kept_[bag.kind - 1];
  if (kept.present) return;
  uint16_t from[kMaxBagAtoms];
  uint16_t to[kMaxBagAtoms];
  const size_t count = bag.vertices.size();
  for (size_t i = 0; i < count; ++i) {
    from[i] = static_cast<uint16_t>(bag.vertices[i]);
    to[i] = static_cast<uint16_t>(i + 1);
  }
  store.start(kept.table, bag.table.bit_length());
  kept.table.copy_renamed(bag.table, from, to, count);
  kept.present = 1;
  kept.is_leaf = bag.is_leaf;
  kept.accepted = bag.accepted;
  bytes_ += kept.table.bytes() + sizeof(Kept);
}

void BagKinds::trim() {
  if (bytes_ + pool_.size() * sizeof(uint32_t) <= kKeptTotal && kept_.size() <= kMostKinds) return;
  by_hash_.clear();
  pool_.clear();
  start_.assign(1, 0);
  kept_.clear();
  bytes_ = 0;
}

}  // namespace tarnaxel
