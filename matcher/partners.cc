#include "matcher/partners.h"

namespace tarnaxel {

void decode(const Table& table, const Table::Entry& e, int forget, Config& c) {
  c.item_count = e.item_count;
  c.rootless = false;
  c.forgotten = -1;
  for (int i = 0; i < e.item_count; ++i) {
    c.items[i] = unpack(e.items[i]);
    c.rootless = c.rootless || c.items[i].root == 0;
    if (c.items[i].atom == forget) c.forgotten = static_cast<int8_t>(i);
  }
  c.counters = table.counters(e);
  c.entry = &e;
}

void decode_all(const Table& table, std::vector<Config>& out, int forget) {
  out.resize(table.size());
  for (size_t j = 0; j < table.size(); ++j) decode(table, table.entries()[j], forget, out[j]);
}

size_t PartnerIndex::new_set() {
  const size_t offset = words_.size();
  words_.resize(offset + words_per_, 0);
  return offset;
}

void PartnerIndex::build(const std::vector<Config>& configs, const std::vector<int>& shared, int forget,
                         const Rule* rules) {
  forget_ = forget;
  rules_ = rules;
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
    a.finished = a.atom == forget ? new_set() : kNone;
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
      if (a.finished != kNone && can_leave(rules[item.rule], item.used_children, item.root == a.atom))
        set(a.finished, j);
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

PartnerIndex::Lane PartnerIndex::lane_of(const Atom& a, const Item& item) const {
  Lane lane;
  lane.absent = a.absent;
  lane.rule = kNone;
  for (const auto& [rule, offset] : a.rules)
    if (rule == item.rule) lane.rule = offset;
  lane.used_count = 0;
  for (int b = 0; b < 8; ++b)
    if (((item.used_children >> b) & 1u) != 0 && a.used[b] != kNone) lane.used[lane.used_count++] = a.used[b];
  lane.needed_count = 0;
  lane.rooted = item.root == a.atom ? kNone : a.rooted;
  lane.unrooted = kNone;
  return lane;
}

// At the forgotten atom the pair leaves the rule of item with the children
// of both sides met, rooted there only when both sides' trees are.
PartnerIndex::Lane PartnerIndex::forgotten_lane(const Atom& a, const Item& item) const {
  Lane lane = lane_of(a, item);
  const Rule& rule = rules_[item.rule];
  const bool rooted_here = item.root == a.atom;
  if (!can_leave(rule, item.used_children, rooted_here)) lane.absent = kNone;
  const uint8_t missing = static_cast<uint8_t>(full_mask(rule) & ~item.used_children);
  for (int b = 0; b < 8; ++b) {
    if (((missing >> b) & 1u) == 0) continue;
    if (a.used[b] == kNone) {
      lane.rule = kNone;  // no partner meets that child
      break;
    }
    lane.needed[lane.needed_count++] = a.used[b];
  }
  if (rooted_here && rule.state != 1) lane.unrooted = a.rooted;
  return lane;
}

void PartnerIndex::prepare(const Config& o) {
  lanes_.clear();
  int i = 0;
  for (const Atom& a : atoms_) {
    while (i < o.item_count && o.items[i].atom < a.atom) ++i;
    const bool present = i < o.item_count && o.items[i].atom == a.atom;
    if (a.finished != kNone) {
      if (present) {
        lanes_.push_back(forgotten_lane(a, o.items[i]));
      } else {
        // The partner's item there is left as it is.
        Lane lane{a.absent, a.finished, {}, 0, {}, 0, kNone, kNone};
        lanes_.push_back(lane);
      }
    } else if (present) {
      lanes_.push_back(lane_of(a, o.items[i]));
    }
  }
}

}  // namespace tarnaxel
