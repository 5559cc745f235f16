// What the stages of rule generation share: the pattern graph they consume
// and the rule text they emit, plus the checks that keep a broken graph from
// ever being read out of bounds.
#pragma once

#include "generation/rule_text.h"
#include "pattern/graph.h"

namespace tarnaxel {

struct Generation {
  explicit Generation(PatternGraph& g) : graph(g), text(g.start_set) {}

  PatternGraph& graph;
  RuleText text;
};

// A pattern whose graph breaks what generation relies on.
[[noreturn]] void fail_uncompilable();

// Checked access to a chain's ends and a Node's lists.
inline Element* back_of(const Chain& chain) {
  if (chain.empty()) fail_uncompilable();
  return chain.back();
}
inline Element* front_of(const Chain& chain) {
  if (chain.empty()) fail_uncompilable();
  return chain.front();
}
inline Node* first_of(const std::vector<Node*>& nodes) {
  if (nodes.empty()) fail_uncompilable();
  return nodes.front();
}

// Placeholder shapes.
inline bool is_bare(const Element& e) { return e.depth == -1 && e.first == 0 && e.last == 0 && e.bond == -1; }
inline bool is_branch_open(const Element& e) { return e.first == 1 && e.depth == -1; }
inline bool is_branch_close(const Element& e) { return e.last == 1 && e.depth == -1; }
inline bool is_bond_placeholder(const Element& e) { return e.bond > 0 && e.depth == -1; }

// The nearest Element whose depth is depth, walking from index from towards
// the front of the chain; -1 when there is none.
long find_parent(const Chain& chain, long from, int depth);

// A new registered Element: the fields of source, with first, bond, last and
// last2 as given.
Element* derived_element(PatternGraph& graph, const Element& source, int32_t bond, uint8_t first,
                         uint8_t last, uint8_t last2);

// Chain after a branch close: the chain a join carries on with once the
// branch that ended A is closed and cont continues at the parent's depth.
Chain chain_after_branch_close(const Chain& a, long parent, Element* cont);

}  // namespace tarnaxel
