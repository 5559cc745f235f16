// The three head lines of "automaton.txt", built from the pattern text by one
// left-to-right scan: the state names (q0 when the start set is not empty,
// q1..qN for the N atoms, p<k> for every ring-bond number k in ascending
// order), the atom labels in order of first appearance, and the bond labels
// 1, 2, 3 that occur.  Entry point: build_rule_head().
#pragma once

#include <set>
#include <string>

namespace tarnaxel {

std::string build_rule_head(const std::string& pattern, const std::set<int>& start_set);

}  // namespace tarnaxel
