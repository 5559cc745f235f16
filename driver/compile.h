// Pattern compilation, as the run performs it: the text stages, the parser,
// the head lines and rule generation, then the rule lines sorted byte-wise
// with duplicates dropped.  Entry point: compile_pattern().
#pragma once

#include <string>

namespace tarnaxel {

// Refuses a pattern the command line refuses before compiling: one of more
// than 99 characters, or an empty one (in that order).
void check_pattern_text(const std::string& pattern);

// Returns the whole text of "automaton.txt" for the pattern.  The pattern is
// the one buffer every stage works on, and holds the rewritten text after.
std::string compile_pattern(std::string& pattern);

}  // namespace tarnaxel
