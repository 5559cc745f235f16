#include "matcher/table.h"

#include "matcher/matcher.h"

namespace tarnaxel {
namespace {

void put_be(std::string& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
}

uint32_t get_be(const std::string& in, size_t& at, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<uint8_t>(in[at++]);
  return value;
}

}  // namespace

void ConfigStore::store(Table& table, const ConfigKey& key, const Bits* first, size_t first_length,
                        const Bits* second, size_t second_length, double score) const {
  std::string encoded;
  encoded.reserve(1 + 11u * key.item_count + static_cast<size_t>(counter_count_) + 1);
  encoded.push_back(static_cast<char>(key.item_count));
  for (int i = 0; i < key.item_count; ++i) {
    const Item& item = key.items[i];
    put_be(encoded, static_cast<uint32_t>(item.atom), 4);
    put_be(encoded, static_cast<uint32_t>(item.root), 4);
    put_be(encoded, item.rule, 2);
    put_be(encoded, item.used_children, 1);
  }
  for (int k = 0; k < counter_count_; ++k) encoded.push_back(static_cast<char>(key.counters ? key.counters[k] : 0));
  if (min_) encoded.push_back(static_cast<char>(key.matched));

  auto found = table.find(encoded);
  if (found != table.end() && !better(score, found->second.score)) return;

  ConfigValue value;
  value.score = score;
  value.matched = key.matched;
  value.used_edges = zero_bits(first_length + second_length);
  for (size_t i = 0; first != nullptr && i < first_length; ++i)
    if (bit(*first, i)) value.used_edges[i / 32] |= 1u << (i % 32);
  for (size_t i = 0; second != nullptr && i < second_length; ++i) {
    size_t j = first_length + i;
    if (bit(*second, i)) value.used_edges[j / 32] |= 1u << (j % 32);
  }
  if (found != table.end()) {
    // The stored configuration is removed and the new one inserted.
    live_bytes_ -= bytes_of(found->first.size(), found->second.used_edges.size());
    table.erase(found);
  }
  live_bytes_ += bytes_of(encoded.size(), value.used_edges.size());
  if (live_bytes_ > limit_) throw TableLimitExceeded();
  table.emplace(std::move(encoded), std::move(value));
}

void ConfigStore::release(const Table& table) {
  for (const auto& [key, value] : table) live_bytes_ -= bytes_of(key.size(), value.used_edges.size());
}

Config decode(const Table::value_type& entry, int counter_count) {
  Config config;
  const std::string& key = entry.first;
  size_t at = 0;
  config.item_count = static_cast<uint8_t>(key[at++]);
  for (int i = 0; i < config.item_count; ++i) {
    Item& item = config.items[i];
    item.atom = static_cast<int32_t>(get_be(key, at, 4));
    item.root = static_cast<int32_t>(get_be(key, at, 4));
    item.rule = static_cast<uint16_t>(get_be(key, at, 2));
    item.used_children = static_cast<uint8_t>(get_be(key, at, 1));
  }
  config.counters.assign(key.begin() + static_cast<long>(at), key.begin() + static_cast<long>(at) + counter_count);
  config.value = &entry.second;
  return config;
}

}  // namespace tarnaxel
