// What one thread judges records with: the matcher of one automaton, or one
// matcher per pattern of a set, every pattern judging the record as its own
// labels would have read it, on one elimination order made once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/molecule.h"
#include "matcher/matcher.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

class PatternSet;

// One pattern's verdict on a record, with its matched atoms.
struct PatternVerdict {
  MatchResult result;
  std::vector<int> atoms;
};

class Judge {
 public:
  // set: null for automaton alone; else the set's patterns (automaton is
  // then its labels).  limit: the table memory of one record, per pattern.
  Judge(const Automaton& automaton, const PatternSet* set, const MatchOptions& options, size_t limit);
  ~Judge();

  // Judges a record read against the automaton: its result; with a set,
  // each pattern's result in results, and the record's (accepted by some
  // pattern, too wide for every one, else rejected) in result, over_budget
  // when some pattern's tables passed the limit; with verdicts, each
  // pattern's whole verdict too.
  void judge(const Molecule& molecule, MatchResult& result, std::vector<uint8_t>& results,
             std::vector<PatternVerdict>* verdicts = nullptr);

 private:
  const PatternSet* set_;
  MatchOptions options_;
  std::vector<std::unique_ptr<Matcher>> matchers_;
  Elimination elimination_;
  Molecule translated_;
};

}  // namespace tarnaxel
