// Chain joining: join_chains follows chain a by chain b and emits the rules
// the seam decides (link, ring, branch-close, ring-at-end and leaf rules).
#pragma once

#include <optional>

#include "generation/context.h"

namespace tarnaxel {

// back_has_successors: whether the successor Node of the calling merge has
// successors itself (ring rules are only emitted at the end of the pattern).
std::optional<Chain> join_chains(Generation& gen, const Chain& a, const Chain& b, bool back_has_successors);

}  // namespace tarnaxel
