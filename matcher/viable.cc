#include "matcher/viable.h"

#include <algorithm>

#include "rulefile/tables.h"

namespace tarnaxel {
namespace {

int children(const Rule& r) { return std::min(r.plain_count + r.star_count, kMaxChildren); }

bool in_range(int32_t state, size_t words) { return state >= 0 && static_cast<size_t>(state) < words * 64; }

}  // namespace

// What the loaded rules say once for every molecule: the rules of each atom
// label, the range of states and bond labels they name, what each rule adds
// to the sets of an atom it stands at and asks of the atom's neighbourhood,
// and for every label and number of neighbours the rules that pass the bond
// count and their sets.
struct RuleIndex {
  static constexpr size_t kDegrees = kMaxChildren + 2;  // 0 .. plain children + parent

  bool built = false;
  uint32_t generation = 0;
  // Atom label code -> its rules, ascending; the last list, empty, serves
  // labels outside the table.
  std::vector<std::vector<uint16_t>> by_symbol;
  size_t state_words = 1;
  size_t label_slots = 1;  // bond label codes 0 .. bond_labels.count
  size_t set_words = 2;
  size_t mask_words = 1;
  // By label slot and neighbour count (capped at kDegrees - 1): the rules
  // that can stand at such an atom before its neighbours are looked at, and
  // their sets.
  std::vector<uint64_t> first_mask;
  std::vector<uint64_t> first_sets;
  // The sets and needs of every label's rules in list order, set_words words
  // per rule, and where each label slot starts in them.  sets: the state of
  // the rule and of its wildcard children (a child met over a bond here may
  // take them), then by bond label the states of its children over such
  // bonds.  need: by bond label the states of its plain children over such
  // bonds, then the states the neighbours must hold as children over any
  // bond (its wildcard children and, unless it is the first state, its own
  // state).
  std::vector<uint64_t> listed_sets;
  std::vector<uint64_t> listed_need;
  std::vector<size_t> listed_start;

  size_t slot_of(int32_t label) const {
    return label >= 0 && static_cast<size_t>(label) + 1 < by_symbol.size() ? static_cast<size_t>(label)
                                                                           : by_symbol.size() - 1;
  }

  void refresh() {
    if (built && generation == tables_generation) return;
    built = true;
    generation = tables_generation;
    by_symbol.assign(static_cast<size_t>(std::max(atom_labels.count, 0)) + 2, {});
    int32_t max_state = 1;
    for (int r = 1; r <= rule_count; ++r) {
      const Rule& rule = rules[r];
      max_state = std::max(max_state, rule.state);
      for (int k = 0; k < kMaxChildren; ++k) max_state = std::max(max_state, rule.child_state[k]);
      if (rule.symbol >= 0 && static_cast<size_t>(rule.symbol) + 1 < by_symbol.size())
        by_symbol[static_cast<size_t>(rule.symbol)].push_back(static_cast<uint16_t>(r));
    }
    state_words = static_cast<size_t>(max_state) / 64 + 1;
    label_slots = static_cast<size_t>(std::max(bond_labels.count, 0)) + 1;
    set_words = state_words * (label_slots + 1);
    mask_words = 1;
    for (const auto& list : by_symbol) mask_words = std::max(mask_words, (list.size() + 63) / 64);

    const size_t sw = state_words;
    const size_t rule_slots = static_cast<size_t>(std::max(rule_count, 0)) + 1;
    // By rule first, set_words words each.
    std::vector<uint64_t> sets(rule_slots * set_words, 0);
    std::vector<uint64_t> need(rule_slots * set_words, 0);
    std::vector<uint8_t> never(rule_slots, 0);
    auto add = [sw](uint64_t* set, int32_t state) {
      if (in_range(state, sw)) set[static_cast<size_t>(state) / 64] |= uint64_t{1} << (state % 64);
    };
    for (int r = 1; r <= rule_count; ++r) {
      const Rule& rule = rules[r];
      uint64_t* rule_sets = sets.data() + static_cast<size_t>(r) * set_words;
      add(rule_sets, rule.state);
      for (int l = 0; l < rule.plain_count && l < kMaxChildren; ++l)
        if (rule.child_label[l] == kWildcardLabel) add(rule_sets, rule.child_state[l]);
      for (int k = 0; k < children(rule); ++k) {
        const int32_t label = rule.child_label[k];
        if (label >= 0 && static_cast<size_t>(label) < label_slots)
          add(rule_sets + (static_cast<size_t>(label) + 1) * sw, rule.child_state[k]);
      }

      uint64_t* rule_need = need.data() + static_cast<size_t>(r) * set_words;
      uint64_t* rule_need_up = rule_need + label_slots * sw;
      for (int k = 0; k < rule.plain_count && k < kMaxChildren; ++k) {
        const int32_t state = rule.child_state[k];
        const int32_t label = rule.child_label[k];
        if (!in_range(state, sw)) never[static_cast<size_t>(r)] = 1;
        else if (label == kWildcardLabel) add(rule_need_up, state);
        else if (label >= 0 && static_cast<size_t>(label) < label_slots)
          add(rule_need + static_cast<size_t>(label) * sw, state);
        else never[static_cast<size_t>(r)] = 1;  // bonds carry listed labels or 0
      }
      if (rule.state != 1) {
        if (in_range(rule.state, sw)) add(rule_need_up, rule.state);
        else never[static_cast<size_t>(r)] = 1;
      }
    }

    first_mask.assign(by_symbol.size() * kDegrees * mask_words, 0);
    listed_sets.clear();
    listed_need.clear();
    listed_start.assign(by_symbol.size(), 0);
    for (size_t label = 0; label < by_symbol.size(); ++label) {
      listed_start[label] = listed_sets.size();
      for (uint16_t r : by_symbol[label]) {
        listed_sets.insert(listed_sets.end(), sets.begin() + static_cast<long>(r * set_words),
                           sets.begin() + static_cast<long>((r + 1) * set_words));
        listed_need.insert(listed_need.end(), need.begin() + static_cast<long>(r * set_words),
                           need.begin() + static_cast<long>((r + 1) * set_words));
      }
    }
    first_sets.assign(by_symbol.size() * kDegrees * set_words, 0);
    for (size_t label = 0; label < by_symbol.size(); ++label) {
      const std::vector<uint16_t>& list = by_symbol[label];
      for (size_t degree = 0; degree < kDegrees; ++degree) {
        uint64_t* mask = first_mask.data() + (label * kDegrees + degree) * mask_words;
        uint64_t* set = first_sets.data() + (label * kDegrees + degree) * set_words;
        for (size_t c = 0; c < list.size(); ++c) {
          const Rule& rule = rules[list[c]];
          if (never[list[c]]) continue;
          if (rule.plain_count != 0 && degree < static_cast<size_t>(bonds_needed(rule))) continue;
          mask[c / 64] |= uint64_t{1} << (c % 64);
          const uint64_t* rule_sets = sets.data() + size_t{list[c]} * set_words;
          for (size_t w = 0; w < set_words; ++w) set[w] |= rule_sets[w];
        }
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

// The sets of an atom, from its surviving rules.
// The sets of an atom, from its surviving rules; true when they changed.
template <size_t Sets>
bool Viability::summarise(size_t atom) {
  const size_t set_words = this->set_words<Sets>();
  uint64_t* set = sets_.data() + atom * set_words;
  uint64_t fresh[kMaxSetWords];
  const bool small = set_words <= kMaxSetWords;
  uint64_t* out = small ? fresh : set;
  for (size_t w = 0; w < set_words; ++w) out[w] = 0;
  const uint64_t* listed = index_->listed_sets.data() + listed_[atom];
  const uint64_t* alive = alive_.data() + atom * mask_words_;
  for (size_t w = 0; w < mask_words_; ++w) {
    for (uint64_t bits = alive[w]; bits != 0; bits &= bits - 1) {
      const uint64_t* rule_sets = listed + (w * 64 + static_cast<size_t>(__builtin_ctzll(bits))) * set_words;
      for (size_t x = 0; x < set_words; ++x) out[x] |= rule_sets[x];
    }
  }
  if (!small) return true;
  bool changed = false;
  for (size_t w = 0; w < set_words; ++w) {
    changed |= set[w] != fresh[w];
    set[w] = fresh[w];
  }
  return changed;
}

// The neighbourhood of an atom, from its neighbours' sets.
template <size_t Sets>
void Viability::gather(size_t atom) {
  const size_t sw = state_words<Sets>();
  const size_t set_words = this->set_words<Sets>();
  uint64_t* near = near_.data() + atom * set_words;
  uint64_t* above = near + set_words - sw;
  for (size_t w = 0; w < set_words; ++w) near[w] = 0;
  const Edge* edges = molecule_->edges.data();
  for (uint32_t i = out_start_[atom]; i < out_start_[atom + 1]; ++i) {
    const Edge& e = edges[out_[i]];
    const size_t label = static_cast<size_t>(e.label);  // listed or 0: within the slots
    const uint64_t* down = sets_.data() + static_cast<size_t>(e.to) * set_words;
    const uint64_t* up = down + (label + 1) * sw;
    uint64_t* near_label = near + label * sw;
    for (size_t w = 0; w < sw; ++w) {
      near_label[w] |= down[w];
      above[w] |= up[w];
    }
  }
}

// Drops the surviving rules of an atom that its neighbourhood no longer
// supports: a plain child met over some bond of its label by a neighbour
// rule of its state (over any bond, by a neighbour rule holding it as a
// wildcard child), and unless the rule's state is the first, held as a child
// by a neighbour rule over the bond between them.  True when a rule went.
template <size_t Sets>
bool Viability::check(size_t atom) {
  const size_t set_words = this->set_words<Sets>();
  const uint64_t* near = near_.data() + atom * set_words;
  const uint64_t* listed = index_->listed_need.data() + listed_[atom];
  uint64_t* alive = alive_.data() + atom * mask_words_;
  bool changed = false;
  for (size_t w = 0; w < mask_words_; ++w) {
    uint64_t kept = alive[w];
    for (uint64_t bits = kept; bits != 0; bits &= bits - 1) {
      const size_t c = static_cast<size_t>(__builtin_ctzll(bits));
      const uint64_t* need = listed + (w * 64 + c) * set_words;
      uint64_t missing = 0;
      for (size_t x = 0; x < set_words; ++x) missing |= need[x] & ~near[x];
      if (missing != 0) kept &= ~(uint64_t{1} << c);
    }
    changed |= kept != alive[w];
    alive[w] = kept;
  }
  return changed;
}

// Removes failing rules until every surviving one passes: an atom whose rules
// change has its sets redone and its neighbours checked again.
template <size_t Sets>
void Viability::settle() {
  const size_t n = molecule_->atom_count;
  queue_.clear();
  queued_.assign(n + 1, 1);
  for (size_t a = 1; a <= n; ++a) queue_.push_back(static_cast<uint32_t>(a));
  const Edge* edges = molecule_->edges.data();
  for (size_t head = 0; head < queue_.size(); ++head) {
    const size_t atom = queue_[head];
    queued_[atom] = 0;
    const uint64_t* alive = alive_.data() + atom * mask_words_;
    if (std::all_of(alive, alive + mask_words_, [](uint64_t w) { return w == 0; })) continue;
    gather<Sets>(atom);
    if (!check<Sets>(atom) || !summarise<Sets>(atom)) continue;
    for (uint32_t i = out_start_[atom]; i < out_start_[atom + 1]; ++i) {
      const size_t b = static_cast<size_t>(edges[out_[i]].to);
      if (!queued_[b]) {
        queued_[b] = 1;
        queue_.push_back(static_cast<uint32_t>(b));
      }
    }
  }
}

bool Viability::compute(const Molecule& molecule, const std::vector<int>& degree, bool span, bool keep_all) {
  const RuleIndex& index = rule_index();
  index_ = &index;
  molecule_ = &molecule;
  state_words_ = index.state_words;
  set_words_ = index.set_words;
  mask_words_ = index.mask_words;
  const size_t n = molecule.atom_count;

  candidates_.resize(n + 1);
  listed_.resize(n + 1);
  alive_.resize((n + 1) * mask_words_);
  sets_.resize((n + 1) * set_words_);
  near_.resize((n + 1) * set_words_);
  for (size_t a = 1; a <= n; ++a) {
    const size_t slot = index.slot_of(molecule.atoms[a].label);
    const std::vector<uint16_t>& list = index.by_symbol[slot];
    candidates_[a] = list.data();
    listed_[a] = index.listed_start[slot];
    uint64_t* alive = alive_.data() + a * mask_words_;
    if (keep_all) {
      for (size_t w = 0; w < mask_words_; ++w)
        alive[w] = list.size() >= (w + 1) * 64 ? ~uint64_t{0}
                   : list.size() > w * 64     ? (uint64_t{1} << (list.size() - w * 64)) - 1
                                              : 0;
      continue;
    }
    const size_t first = slot * RuleIndex::kDegrees +
                         std::min(static_cast<size_t>(std::max(degree[a], 0)), RuleIndex::kDegrees - 1);
    std::copy_n(index.first_mask.data() + first * mask_words_, mask_words_, alive);
    std::copy_n(index.first_sets.data() + first * set_words_, set_words_, sets_.data() + a * set_words_);
  }
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

  switch (state_words_ == 1 ? set_words_ : 0) {
    case 2: settle<2>(); break;
    case 3: settle<3>(); break;
    case 4: settle<4>(); break;
    case 5: settle<5>(); break;
    case 6: settle<6>(); break;
    default: settle<0>(); break;
  }

  // A matched atom lies on a bond; under span every bonded atom is matched.
  bool any = false;
  for (size_t a = 1; a <= n; ++a) {
    if (out_start_[a] == out_start_[a + 1]) continue;
    const uint64_t* alive = alive_.data() + a * mask_words_;
    if (std::any_of(alive, alive + mask_words_, [](uint64_t w) { return w != 0; })) any = true;
    else if (span) return false;
  }
  return any;
}

}  // namespace tarnaxel
