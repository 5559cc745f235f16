#include "matcher/bag_kinds.h"

#include <algorithm>

namespace tarnaxel {
namespace {

// Tables of more bytes are not kept; every kind is forgotten once the kinds
// hold more than kKeptTotal bytes (descriptions, tables, costs and the
// lookup) or number more than kMostKinds.
constexpr size_t kLargestKept = size_t{1} << 18;
constexpr size_t kKeptTotal = size_t{16} << 20;
constexpr size_t kMostKinds = size_t{1} << 17;

uint64_t hash_of(const uint32_t* begin, const uint32_t* end) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(end - begin);
  for (const uint32_t* x = begin; x != end; ++x) h = (h ^ *x) * 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 29);
}

}  // namespace

uint32_t BagKinds::kind_of() {
  const uint64_t h = hash_of(key_.data(), key_.data() + key_.size());
  const uint64_t tag = h & ~uint64_t{0xFFFFFFFF};
  const size_t mask = slots_.size() - 1;
  size_t at = static_cast<size_t>(h >> 7) & mask;
  for (; slots_[at] != 0; at = (at + 1) & mask) {
    if ((slots_[at] & ~uint64_t{0xFFFFFFFF}) != tag) continue;
    const uint32_t kind = static_cast<uint32_t>(slots_[at]);
    const size_t begin = start_[kind - 1];
    if (start_[kind] - begin == key_.size() &&
        std::equal(key_.begin(), key_.end(), pool_.begin() + static_cast<long>(begin))) {
      kept_[kind - 1].again = 1;
      fresh_ = false;
      return kind;
    }
  }
  const uint32_t kind = static_cast<uint32_t>(kept_.size() + 1);
  slots_[at] = tag | kind;
  pool_.insert(pool_.end(), key_.begin(), key_.end());
  start_.push_back(pool_.size());
  kept_.emplace_back();
  bytes_ += sizeof(Kept) + key_.size() * sizeof(uint32_t) + sizeof(size_t);
  if (2 * kept_.size() > slots_.size()) grow();
  fresh_ = true;
  return kind;
}

void BagKinds::grow() {
  std::vector<uint64_t> old(2 * slots_.size(), 0);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (uint64_t slot : old) {
    if (slot == 0) continue;
    // The slot keeps the hash's high half only: rehash the description.
    const uint32_t kind = static_cast<uint32_t>(slot);
    const uint64_t h = hash_of(pool_.data() + start_[kind - 1], pool_.data() + start_[kind]);
    size_t at = static_cast<size_t>(h >> 7) & mask;
    while (slots_[at] != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

bool BagKinds::wanted(const Bag& bag) const {
  if (bag.kind == 0 || bag.table.bytes() > kLargestKept) return false;
  const Kept& kept = kept_[bag.kind - 1];
  return !kept.present && kept.again;
}

void BagKinds::keep(const Bag& bag, const ConfigStore& store, const std::vector<Cost>& costs) {
  Kept& kept = kept_[bag.kind - 1];
  const Renaming names(bag.vertices);
  store.start(kept.table, bag.table.bit_length());
  kept.table.copy_renamed(bag.table, names.atoms, names.ranks, names.count);
  kept.present = 1;
  kept.accepted = bag.accepted;
  kept.costs = costs;
  bytes_ += kept.table.bytes() + costs.size() * sizeof(Cost);
}

void BagKinds::trim() {
  if (bytes_ + slots_.size() * sizeof(uint64_t) <= kKeptTotal && kept_.size() <= kMostKinds) return;
  slots_.assign(1024, 0);
  pool_.clear();
  start_.assign(1, 0);
  kept_.clear();
  bytes_ = 0;
}

}  // namespace tarnaxel
