// Repetition rules: for a group followed by "*" or "+", the loop-back seam
// from the last atom of one pass through the group to the first atom of the
// next, for every ordered pair of alternatives.
#pragma once

#include "generation/context.h"

namespace tarnaxel {

// u: the Node a parallel merge built for the group, one chain per alternative
// (the "*" placeholder's chain last, a "+" one already removed).
void generate_repeat_rules(Generation& gen, const Node& u);

}  // namespace tarnaxel
