#include "matcher/viable.h"

#include <algorithm>

#include "rulefile/tables.h"

namespace tarnaxel {
namespace {

int children(const Rule& r) { return std::min(r.plain_count + r.star_count, kMaxChildren); }

bool in_range(int32_t state, size_t words) { return state >= 0 && static_cast<size_t>(state) < words * 64; }

}  // namespace

// What the loaded rules say once for every molecule: the rules of each atom
// label, the range of states and bond labels they name, and what each rule
// adds to the down and up sets of an atom it stands at.
struct RuleIndex {
  bool built = false;
  uint32_t generation = 0;
  std::vector<std::vector<uint16_t>> by_symbol;  // atom label code -> rules, ascending
  size_t state_words = 1;
  size_t label_slots = 1;  // bond label codes 0 .. bond_labels.count
  std::vector<uint64_t> down;  // by rule: state_words words
  std::vector<uint64_t> up;    // by rule: label_slots * state_words words

  void refresh() {
    if (built && generation == tables_generation) return;
    built = true;
    generation = tables_generation;
    by_symbol.assign(static_cast<size_t>(std::max(atom_labels.count, 0)) + 1, {});
    int32_t max_state = 1;
    for (int r = 1; r <= rule_count; ++r) {
      const Rule& rule = rules[r];
      max_state = std::max(max_state, rule.state);
      for (int k = 0; k < kMaxChildren; ++k) max_state = std::max(max_state, rule.child_state[k]);
      if (rule.symbol >= 0 && static_cast<size_t>(rule.symbol) < by_symbol.size())
        by_symbol[static_cast<size_t>(rule.symbol)].push_back(static_cast<uint16_t>(r));
    }
    state_words = static_cast<size_t>(max_state) / 64 + 1;
    label_slots = static_cast<size_t>(std::max(bond_labels.count, 0)) + 1;

    const size_t rule_slots = static_cast<size_t>(std::max(rule_count, 0)) + 1;
    down.assign(rule_slots * state_words, 0);
    up.assign(rule_slots * label_slots * state_words, 0);
    auto add = [this](uint64_t* set, int32_t state) {
      if (in_range(state, state_words)) set[static_cast<size_t>(state) / 64] |= uint64_t{1} << (state % 64);
    };
    for (int r = 1; r <= rule_count; ++r) {
      const Rule& rule = rules[r];
      uint64_t* rule_down = down.data() + static_cast<size_t>(r) * state_words;
      uint64_t* rule_up = up.data() + static_cast<size_t>(r) * label_slots * state_words;
      add(rule_down, rule.state);
      for (int l = 0; l < rule.plain_count && l < kMaxChildren; ++l)
        if (rule.child_label[l] == kWildcardLabel) add(rule_down, rule.child_state[l]);
      for (int k = 0; k < children(rule); ++k) {
        const int32_t label = rule.child_label[k];
        if (label >= 0 && static_cast<size_t>(label) < label_slots)
          add(rule_up + static_cast<size_t>(label) * state_words, rule.child_state[k]);
      }
    }
  }
};

namespace {

RuleIndex& rule_index() {
  static RuleIndex index;
  index.refresh();
  return index;
}

}  // namespace

void Viability::summarise(int atom) {
  const size_t a = static_cast<size_t>(atom);
  const size_t up_words = state_words_ * label_slots_;
  uint64_t* down = down_.data() + a * state_words_;
  uint64_t* up = up_.data() + a * up_words;
  std::fill(down, down + state_words_, 0);
  std::fill(up, up + up_words, 0);
  for_each(atom, [&](int r) {
    const uint64_t* rule_down = index_->down.data() + static_cast<size_t>(r) * state_words_;
    const uint64_t* rule_up = index_->up.data() + static_cast<size_t>(r) * up_words;
    for (size_t w = 0; w < state_words_; ++w) down[w] |= rule_down[w];
    for (size_t w = 0; w < up_words; ++w) up[w] |= rule_up[w];
  });
}

bool Viability::supported(int atom, int r) const {
  const Rule& rule = rules[r];
  const size_t a = static_cast<size_t>(atom);
  const Edge* edges = molecule_->edges.data();
  const uint32_t* first = out_.data() + out_start_[a];
  const uint32_t* last = out_.data() + out_start_[a + 1];
  // up set of the atom at the far end of directed edge e, for its bond label
  auto up_of = [&](const Edge& e) -> const uint64_t* {
    if (e.label < 0 || static_cast<size_t>(e.label) >= label_slots_) return nullptr;
    return up_.data() + (static_cast<size_t>(e.to) * label_slots_ + static_cast<size_t>(e.label)) * state_words_;
  };
  for (int k = 0; k < rule.plain_count && k < kMaxChildren; ++k) {
    const int32_t state = rule.child_state[k];
    const int32_t label = rule.child_label[k];
    if (!in_range(state, state_words_)) return false;
    bool met = false;
    for (const uint32_t* u = first; u != last && !met; ++u) {
      const Edge& e = edges[*u];
      if (label == e.label) {
        met = has_state(down_.data() + static_cast<size_t>(e.to) * state_words_, state);
      } else if (label == kWildcardLabel) {
        const uint64_t* up = up_of(e);
        met = up != nullptr && has_state(up, state);
      }
    }
    if (!met) return false;
  }
  if (rule.state == 1) return true;
  if (!in_range(rule.state, state_words_)) return false;
  for (const uint32_t* u = first; u != last; ++u) {
    const uint64_t* up = up_of(edges[*u]);
    if (up != nullptr && has_state(up, rule.state)) return true;
  }
  return false;
}

bool Viability::compute(const Molecule& molecule, const std::vector<int>& degree, bool span, bool keep_all) {
  const RuleIndex& index = rule_index();
  index_ = &index;
  molecule_ = &molecule;
  state_words_ = index.state_words;
  label_slots_ = index.label_slots;
  const size_t n = molecule.atom_count;

  static const std::vector<uint16_t> none;
  candidates_.assign(n + 1, nullptr);
  offset_.assign(n + 2, 0);
  alive_.clear();
  for (size_t a = 1; a <= n; ++a) {
    const int32_t label = molecule.atoms[a].label;
    const std::vector<uint16_t>& list =
        label >= 0 && static_cast<size_t>(label) < index.by_symbol.size() ? index.by_symbol[static_cast<size_t>(label)]
                                                                          : none;
    candidates_[a] = list.data();
    const size_t at = alive_.size();
    offset_[a] = static_cast<uint32_t>(at);
    alive_.resize(at + list.size());
    for (size_t c = 0; c < list.size(); ++c) {
      const Rule& rule = rules[list[c]];
      alive_[at + c] = keep_all || rule.plain_count == 0 || degree[a] >= bonds_needed(rule) ? 1 : 0;
    }
  }
  offset_[n + 1] = static_cast<uint32_t>(alive_.size());
  offset_[0] = 0;
  if (keep_all) return true;

  out_start_.assign(n + 2, 0);
  for (uint32_t u = 1; u <= molecule.edge_count; ++u) ++out_start_[static_cast<size_t>(molecule.edges[u].from) + 1];
  for (size_t a = 1; a <= n + 1; ++a) out_start_[a] += out_start_[a - 1];
  out_.resize(molecule.edge_count);
  {
    static thread_local std::vector<uint32_t> fill;
    fill.assign(out_start_.begin(), out_start_.end());
    for (uint32_t u = 1; u <= molecule.edge_count; ++u) out_[fill[static_cast<size_t>(molecule.edges[u].from)]++] = u;
  }

  down_.assign((n + 1) * state_words_, 0);
  up_.assign((n + 1) * state_words_ * label_slots_, 0);
  for (size_t a = 1; a <= n; ++a) summarise(static_cast<int>(a));

  queue_.clear();
  queued_.assign(n + 1, 1);
  for (size_t a = 1; a <= n; ++a) queue_.push_back(static_cast<uint32_t>(a));
  for (size_t head = 0; head < queue_.size(); ++head) {
    const int atom = static_cast<int>(queue_[head]);
    queued_[static_cast<size_t>(atom)] = 0;
    bool changed = false;
    const uint16_t* candidates = candidates_of(atom);
    uint8_t* alive = alive_.data() + offset_[static_cast<size_t>(atom)];
    const uint32_t count = offset_[static_cast<size_t>(atom) + 1] - offset_[static_cast<size_t>(atom)];
    for (uint32_t c = 0; c < count; ++c) {
      if (alive[c] && !supported(atom, candidates[c])) {
        alive[c] = 0;
        changed = true;
      }
    }
    if (!changed) continue;
    summarise(atom);
    for (uint32_t i = out_start_[static_cast<size_t>(atom)]; i < out_start_[static_cast<size_t>(atom) + 1]; ++i) {
      const size_t b = static_cast<size_t>(molecule.edges[out_[i]].to);
      if (!queued_[b]) {
        queued_[b] = 1;
        queue_.push_back(static_cast<uint32_t>(b));
      }
    }
  }

  // A matched atom lies on a bond; under span every bonded atom is matched.
  bool any = false;
  for (size_t a = 1; a <= n; ++a) {
    if (out_start_[a] == out_start_[a + 1]) continue;
    bool kept = false;
    for_each(static_cast<int>(a), [&](int) { kept = true; });
    if (kept) any = true;
    else if (span) return false;
  }
  return any;
}

}  // namespace tarnaxel
