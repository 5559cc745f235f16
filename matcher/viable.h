// Rules that can stand at an atom in a finished match.
//
// A rule stands at an atom of its label in a match only if the atom has
// enough bonds for its plain children, every plain child can be met over
// some bond by a rule standing at the neighbour (a child in its state, or the
// other end of a ring closure), and, unless its state is the first state, a
// rule at some neighbour holds it as a child.  Every atom of a finished
// partial match is forgotten with all its plain children met by atoms of the
// same match, so the rules of any match that can finish survive the removal,
// repeated until nothing changes, of every rule failing these tests.  The
// matcher builds configurations only from surviving rules: the configurations
// dropped are those that could never finish, so the tables keep every other
// configuration in the same order, and a molecule where nothing survives is
// rejected at once.  Entry point: Viability::compute().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/molecule.h"

namespace tarnaxel {

struct MatchPlan;
struct RuleIndex;

class Viability {
 public:
  // Decides the surviving rules of every atom.  Returns false when no match
  // can be accepted: no atom keeps a rule, under span some bonded atom keeps
  // none, or a state every match holds is kept at no atom.  When the plan
  // does not prune, every rule of an atom's label survives.
  // With aromatic, a bond at an aromatic atom also counts as a bond of
  // label 0, the code of the aromatic link.
  bool compute(const MatchPlan& plan, const Molecule& molecule, const std::vector<int>& degree);

  // Whether some rule survives at atom.
  bool any(int atom) const {
    const uint64_t* alive = alive_.data() + static_cast<size_t>(atom) * mask_words_;
    for (size_t w = 0; w < mask_words_; ++w)
      if (alive[w] != 0) return true;
    return false;
  }

  // What decides the surviving rules of an atom: its label's slot in the
  // rule index and mask_words() words of bits over that label's rules.
  uint32_t slot(int atom) const { return slots_[static_cast<size_t>(atom)]; }
  const uint64_t* mask(int atom) const { return alive_.data() + static_cast<size_t>(atom) * mask_words_; }
  size_t mask_words() const { return mask_words_; }

  // Calls visit(rule) for each surviving rule of atom, in ascending order.
  template <typename Visit>
  void for_each(int atom, Visit visit) const {
    const uint16_t* candidates = candidates_[static_cast<size_t>(atom)];
    const uint64_t* alive = alive_.data() + static_cast<size_t>(atom) * mask_words_;
    if (mask_words_ == 1) {
      for (uint64_t bits = alive[0]; bits != 0; bits &= bits - 1)
        visit(static_cast<int>(candidates[static_cast<size_t>(__builtin_ctzll(bits))]));
      return;
    }
    for (size_t w = 0; w < mask_words_; ++w)
      for (uint64_t bits = alive[w]; bits != 0; bits &= bits - 1)
        visit(static_cast<int>(candidates[w * 64 + static_cast<size_t>(__builtin_ctzll(bits))]));
  }

 private:
  // Sets is the number of words of an atom's sets when known at compile time
  // (states below 64 and a few bond labels: one word per set), 0 when read
  // from set_words_ and state_words_.
  template <size_t Sets>
  size_t set_words() const {
    return Sets != 0 ? Sets : set_words_;
  }
  template <size_t Sets>
  size_t state_words() const {
    return Sets != 0 ? 1 : state_words_;
  }
  void start_atoms(const std::vector<int>& degree, bool keep_all);
  bool verdict(bool span) const;
  static constexpr size_t kMaxSetWords = 16;  // sets compared on a change up to this size
  template <size_t Sets>
  bool summarise(size_t atom);
  template <size_t Sets>
  void gather(size_t atom);
  template <size_t Sets>
  bool check(size_t atom);
  template <size_t Sets>
  void settle();

  const RuleIndex* index_ = nullptr;
  const Molecule* molecule_ = nullptr;
  bool aromatic_ = false;
  size_t state_words_ = 1;
  size_t set_words_ = 2;   // words of an atom's sets: state_words_ * (bond labels + 1)
  size_t mask_words_ = 1;  // words of an atom's surviving-rule mask
  std::vector<const uint16_t*> candidates_;  // by atom: the rules of its label, ascending
  std::vector<size_t> listed_;               // by atom: its label's start in the listed sets and needs
  std::vector<uint32_t> slots_;              // by atom: its label's slot
  std::vector<uint64_t> alive_;              // by atom: bit c for candidate c surviving
  std::vector<uint32_t> out_start_;          // by atom: its directed edges in out_
  std::vector<uint32_t> out_;
  std::vector<uint32_t> fill_;  // where the next edge of each atom goes
  // By atom: the down set (states a child met over a bond here may take),
  // then by bond label the up set (states of the children its rules hold).
  std::vector<uint64_t> sets_;
  // By atom: by bond label the down sets of the neighbours over such bonds,
  // then the up sets of the neighbours for the bonds to it.
  std::vector<uint64_t> near_;
  std::vector<uint32_t> queue_;
  std::vector<uint8_t> queued_;
};

}  // namespace tarnaxel
