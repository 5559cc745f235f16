#include "driver/judge.h"

#include "driver/pattern_set.h"

namespace tarnaxel {

Judge::Judge(const Automaton& automaton, const PatternSet* set, const MatchOptions& options, size_t limit)
    : set_(set), options_(options) {
  if (set == nullptr) {
    matchers_.push_back(std::make_unique<Matcher>(automaton, limit));
    return;
  }
  for (size_t i = 0; i < set->size(); ++i) matchers_.push_back(std::make_unique<Matcher>(*(*set)[i].automaton, limit));
}

Judge::~Judge() = default;

void Judge::judge(const Molecule& molecule, MatchResult& result, std::vector<uint8_t>& results,
                  std::vector<PatternVerdict>* verdicts) {
  if (set_ == nullptr) {
    result = matchers_[0]->match(options_, molecule);
    return;
  }
  const PatternSet& set = *set_;
  result = MatchResult{};
  result.width = elimination_.make(molecule);
  results.assign(set.size(), kRejected);
  if (verdicts != nullptr) verdicts->resize(set.size());
  translated_ = molecule;  // only the labels differ from pattern to pattern
  bool any = false;
  bool every_too_wide = true;
  for (size_t i = 0; i < set.size(); ++i) {
    set.relabel(i, molecule, translated_);
    const MatchResult& r = matchers_[i]->match(options_, translated_, elimination_);
    results[i] = static_cast<uint8_t>(r.result);
    any = any || r.result == kAccepted;
    every_too_wide = every_too_wide && r.result == kTooWide;
    result.over_budget = result.over_budget || r.over_budget;
    if (verdicts == nullptr) continue;
    (*verdicts)[i].result = r;
    (*verdicts)[i].atoms = matched_atoms(*set[i].automaton, options_, translated_, r);
  }
  result.result = any ? kAccepted : every_too_wide ? kTooWide : kRejected;
}

}  // namespace tarnaxel
