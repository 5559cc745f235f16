// The text stages a pattern passes before it is parsed:
//   1. normalise_pattern pushes group prefixes and closing parentheses into
//      the alternatives of a group, moves ring-bond numbers out of branch
//      openings and drops empty branches;
//   2. validate_pattern checks the brackets and refuses a bad pattern;
//   3. rewrite_pattern moves the opening of a branch into every alternative
//      of a group whose alternatives carry the branch's closing parenthesis.
// Before them, prepare_pattern refuses unbalanced braces and unwraps a branch
// that ends the pattern.  Every stage works on the one pattern buffer, which
// holds at most 99 characters before and after each stage.
#pragma once

#include "common/limits.h"

#include <string>

namespace tarnaxel {

constexpr size_t kPatternLimit = kMaxPatternLength;

// Refuses unbalanced braces, then removes a trailing branch "(...)" that
// stands outside every group and does not open the pattern: 'C(O)' -> 'CO'.
void prepare_pattern(std::string& buffer);
void normalise_pattern(std::string& buffer);
void validate_pattern(const std::string& buffer);
// position: index of the last character to look at; left at the index where
// the scan stopped.
void rewrite_pattern(std::string& buffer, int& position);

// All of the above in order, as the driver runs them.
void preprocess_pattern(std::string& buffer);

}  // namespace tarnaxel
