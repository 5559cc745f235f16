#include "matcher/partners.h"

namespace tarnaxel {

void decode_all(const Table& table, std::vector<Config>& out) {
  out.resize(table.size());
  for (size_t j = 0; j < table.size(); ++j) {
    const Table::Entry& e = table.entries()[j];
    Config& c = out[j];
    c.item_count = e.item_count;
    c.rootless = false;
    for (int i = 0; i < e.item_count; ++i) {
      c.items[i] = unpack(e.items[i]);
      c.rootless = c.rootless || c.items[i].root == 0;
    }
    c.counters = table.counters(e);
    c.entry = &e;
  }
}

size_t PartnerIndex::new_set() {
  const size_t offset = words_.size();
  words_.resize(offset + words_per_, 0);
  return offset;
}

void PartnerIndex::build(const std::vector<Config>& configs, const std::vector<int>& shared) {
  size_ = configs.size();
  words_per_ = (size_ + 63) / 64;
  words_.clear();
  empty_ = new_set();
  rootless_or_empty_ = new_set();
  atoms_.resize(shared.size());
  for (size_t s = 0; s < shared.size(); ++s) {
    Atom& a = atoms_[s];
    a.atom = shared[s];
    a.absent = new_set();
    a.rooted = new_set();
    for (size_t& u : a.used) u = kNone;
    a.rules.clear();
  }
  for (size_t j = 0; j < size_; ++j) {
    const Config& c = configs[j];
    if (c.item_count == 0) set(empty_, j);
    if (c.item_count == 0 || c.rootless) set(rootless_or_empty_, j);
    int i = 0;
    for (Atom& a : atoms_) {
      while (i < c.item_count && c.items[i].atom < a.atom) ++i;
      if (i == c.item_count || c.items[i].atom != a.atom) {
        set(a.absent, j);
        continue;
      }
      const Item& item = c.items[i];
      if (item.root == a.atom) set(a.rooted, j);
      for (int b = 0; b < 8; ++b) {
        if (((item.used_children >> b) & 1u) == 0) continue;
        if (a.used[b] == kNone) a.used[b] = new_set();
        set(a.used[b], j);
      }
      size_t rule_set = kNone;
      for (const auto& [rule, offset] : a.rules)
        if (rule == item.rule) rule_set = offset;
      if (rule_set == kNone) {
        rule_set = new_set();
        a.rules.push_back({item.rule, rule_set});
      }
      set(rule_set, j);
    }
  }
  // Positions past the last configuration never pair.
  if (size_ % 64 != 0) {
    for (size_t offset : {empty_, rootless_or_empty_})
      words_[offset + words_per_ - 1] |= ~uint64_t{0} << (size_ % 64);
  }
}

void PartnerIndex::prepare(const Config& o) {
  lanes_.clear();
  int i = 0;
  for (const Atom& a : atoms_) {
    while (i < o.item_count && o.items[i].atom < a.atom) ++i;
    if (i == o.item_count || o.items[i].atom != a.atom) continue;
    const Item& item = o.items[i];
    Lane lane;
    lane.absent = a.absent;
    lane.rule = kNone;
    for (const auto& [rule, offset] : a.rules)
      if (rule == item.rule) lane.rule = offset;
    lane.used_count = 0;
    for (int b = 0; b < 8; ++b)
      if (((item.used_children >> b) & 1u) != 0 && a.used[b] != kNone) lane.used[lane.used_count++] = a.used[b];
    lane.rooted = item.root == a.atom ? kNone : a.rooted;
    lanes_.push_back(lane);
  }
}

}  // namespace tarnaxel
