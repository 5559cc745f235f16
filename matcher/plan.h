// What a matcher works out once for a run, before any record: the options
// turned into what the stages read, and the switches only tests set.  A
// matcher plans again only when it is handed other options.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "matcher/matcher.h"
#include "matcher/rule_index.h"

namespace tarnaxel {

class Table;

// Switches only tests set: each makes the matcher do more, to show that
// what it leaves out changes nothing.
struct MatchChecks {
  // Tables from every rule of an atom's label and every pair, none left
  // out as unable to finish.
  bool every_rule = false;
  // When set, every table is made, and each one whose kind has a kept table
  // is handed here with a copy of that table; false stops the match with a
  // std::logic_error.
  std::function<bool(const Table& made, const Table& copy)> same_table;
};

struct MatchPlan {
  MatchPlan(const Automaton& automaton, const RuleIndex& index, const MatchOptions& options,
            const MatchChecks& checks);

  const Automaton& automaton;
  const RuleIndex& index;
  const MatchOptions options;
  const MatchChecks& checks;
  // Only rules that can stand in a finished match enter the tables, and a
  // configuration that needs more bonds than its atoms have left is dropped.
  bool prune = true;
  // Joins look where a tree can hang, up to reach bonds apart (0: never).
  bool look_above = false;
  int reach = 0;
  // The options as a bond leaf's description starts with them.
  uint32_t option_bits = 0;
  // By rule: the bits of the states it holds once, and of those held once
  // whose holders it is (all zero with every rule kept).
  const uint64_t* once = nullptr;
  const uint64_t* holder = nullptr;

 private:
  std::vector<uint64_t> zeros_;
};

}  // namespace tarnaxel
