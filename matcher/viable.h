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

struct RuleIndex;

class Viability {
 public:
  // Decides the surviving rules of every atom.  Returns false when no match
  // can be accepted: no atom keeps a rule, or, under span, some bonded atom
  // keeps none.  With keep_all, every rule of an atom's label survives.
  bool compute(const Molecule& molecule, const std::vector<int>& degree, bool span, bool keep_all = false);

  // Calls visit(rule) for each surviving rule of atom, in ascending order.
  template <typename Visit>
  void for_each(int atom, Visit visit) const {
    const uint16_t* candidates = candidates_of(atom);
    const uint8_t* alive = alive_.data() + offset_[static_cast<size_t>(atom)];
    const uint32_t count = offset_[static_cast<size_t>(atom) + 1] - offset_[static_cast<size_t>(atom)];
    for (uint32_t c = 0; c < count; ++c)
      if (alive[c]) visit(static_cast<int>(candidates[c]));
  }

 private:
  const uint16_t* candidates_of(int atom) const { return candidates_[static_cast<size_t>(atom)]; }
  bool supported(int atom, int rule) const;
  void summarise(int atom);
  bool has_state(const uint64_t* set, int state) const {
    return (set[static_cast<uint32_t>(state) / 64] >> (static_cast<uint32_t>(state) % 64)) & 1u;
  }

  const RuleIndex* index_ = nullptr;
  const Molecule* molecule_ = nullptr;
  std::vector<const uint16_t*> candidates_;  // by atom: the rules of its label
  std::vector<uint32_t> offset_;             // by atom: start of its flags in alive_
  std::vector<uint8_t> alive_;
  std::vector<uint32_t> out_start_;          // by atom: its directed edges in out_
  std::vector<uint32_t> out_;
  size_t state_words_ = 1;
  size_t label_slots_ = 1;
  std::vector<uint64_t> down_;  // by atom: states a child met over a bond here may take
  std::vector<uint64_t> up_;    // by atom and bond label: states of the children its rules hold
  std::vector<uint32_t> queue_;
  std::vector<uint8_t> queued_;
};

}  // namespace tarnaxel
