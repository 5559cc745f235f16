#include "matcher/viable.h"

#include <algorithm>

#include "rulefile/automaton.h"
#include "matcher/plan.h"
#include "matcher/rule_index.h"

namespace tarnaxel {

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
    // An aromatic link may be met over any bond at an aromatic atom.
    if (aromatic_ && label != 0 && (molecule_->atoms[atom].aromatic || molecule_->atoms[static_cast<size_t>(e.to)].aromatic)) {
      const uint64_t* link_up = down + sw;
      for (size_t w = 0; w < sw; ++w) {
        near[w] |= down[w];
        above[w] |= link_up[w];
      }
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

// Each atom's candidates, and the rules that pass its bond count with
// their sets; with keep_all, every rule of its label alive.
void Viability::start_atoms(const std::vector<int>& degree, bool keep_all) {
  const RuleIndex& index = *index_;
  const Molecule& molecule = *molecule_;
  const size_t n = molecule.atom_count;
  candidates_.resize(n + 1);
  listed_.resize(n + 1);
  slots_.resize(n + 1);
  alive_.resize((n + 1) * mask_words_);
  sets_.resize((n + 1) * set_words_);
  near_.resize((n + 1) * set_words_);
  for (size_t a = 1; a <= n; ++a) {
    const size_t slot = index.slot_of(molecule.atoms[a].label);
    slots_[a] = static_cast<uint32_t>(slot);
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
}

// A matched atom lies on a bond; under span every bonded atom is matched;
// every state a match cannot do without stands at some atom.  Those states
// stand at as many atoms, one each.
bool Viability::verdict(bool span) const {
  const RuleIndex& index = *index_;
  bool any = false;
  uint64_t needed = 0;
  int holders = 0;
  for (size_t a = 1; a <= molecule_->atom_count; ++a) {
    if (out_start_[a] == out_start_[a + 1]) continue;
    const uint64_t* alive = alive_.data() + a * mask_words_;
    if (std::any_of(alive, alive + mask_words_, [](uint64_t w) { return w != 0; })) any = true;
    else if (span) return false;
    if (index.needed_mask == 0) continue;
    uint64_t here = 0;
    for_each(static_cast<int>(a), [&](int r) { here |= index.needed_bit[static_cast<size_t>(r)]; });
    needed |= here;
    holders += here != 0 ? 1 : 0;
  }
  return any && needed == index.needed_mask && holders >= index.needed_count;
}

bool Viability::compute(const MatchPlan& plan, const Molecule& molecule, const std::vector<int>& degree) {
  const RuleIndex& index = plan.index;
  // Whole states missing: nothing below can survive them.
  if (plan.prune && !index.labels_suffice(molecule)) return false;
  index_ = &index;
  molecule_ = &molecule;
  aromatic_ = plan.options.aromatic != 0;
  state_words_ = index.state_words;
  set_words_ = index.set_words;
  mask_words_ = index.mask_words;
  start_atoms(degree, !plan.prune);
  if (!plan.prune) return true;

  const size_t n = molecule.atom_count;
  out_start_.assign(n + 2, 0);
  for (uint32_t u = 1; u <= molecule.edge_count; ++u) ++out_start_[static_cast<size_t>(molecule.edges[u].from) + 1];
  for (size_t a = 1; a <= n + 1; ++a) out_start_[a] += out_start_[a - 1];
  out_.resize(molecule.edge_count);
  fill_.assign(out_start_.begin(), out_start_.end());
  for (uint32_t u = 1; u <= molecule.edge_count; ++u) out_[fill_[static_cast<size_t>(molecule.edges[u].from)]++] = u;

  switch (state_words_ == 1 ? set_words_ : 0) {
    case 2: settle<2>(); break;
    case 3: settle<3>(); break;
    case 4: settle<4>(); break;
    case 5: settle<5>(); break;
    case 6: settle<6>(); break;
    default: settle<0>(); break;
  }
  return verdict(plan.options.span != 0);
}

}  // namespace tarnaxel
