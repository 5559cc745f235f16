// Reads "automaton.txt" back into an Automaton.
//
// Lines 1-3 list the state names, atom labels and bond labels; every further
// line is one rule, e.g. "q3(N(1,2))\t->\tN(q4(1),p1(2))\n" or
// "q5(O)\t\t->\tO\n", optionally ending in an apply pair "[2,5]".
// Entry point: load_rules().
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "rulefile/automaton.h"

namespace tarnaxel {

constexpr const char* kAutomatonFile = "automaton.txt";

// Loads the automaton file at path ("automaton.txt" in the working directory
// unless the output directory is elsewhere).
std::unique_ptr<const Automaton> load_rules(const std::string& path = kAutomatonFile);

// Loads the given file content; the same checks and messages as load_rules.
std::unique_ptr<const Automaton> load_rules_from_text(std::string_view text);

}  // namespace tarnaxel
