// Pattern compilation, as the run performs it: the text stages, the parser,
// the head lines and rule generation, then the rule lines sorted byte-wise
// with duplicates dropped.  Entry point: compile_pattern().
#pragma once

#include <string>

namespace tarnaxel {

// Returns the whole text of "automaton.txt" for the pattern.  The pattern is
// the one buffer every stage works on, and holds the rewritten text after.
std::string compile_pattern(std::string& pattern);

}  // namespace tarnaxel
