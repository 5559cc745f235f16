// Rule generation by reduction of the pattern graph.  Entry point:
// generate_rules(), which consumes the graph and returns the rule lines.
#pragma once

#include <string>
#include <vector>

#include "pattern/graph.h"

namespace tarnaxel {

// Reduces the graph from head to a single Node, emitting rules on the way,
// and releases the whole graph.  The lines come in emission order, with
// duplicates; the caller sorts and de-duplicates them.
std::vector<std::string> generate_rules(PatternGraph& graph, Node* head);

}  // namespace tarnaxel
