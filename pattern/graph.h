// The pattern graph: what the parser builds and rule generation consumes.
//
// One Node per pattern element (atom, ring-bond number or junction
// placeholder).  A group of alternatives forks the graph: the Node before the
// group links to the first Node of every alternative, and the last Nodes of
// the alternatives link to the Node after it.  Branches in parentheses do not
// fork; they show only in the Elements' depth, first and last.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <vector>

namespace tarnaxel {

struct Element {
  char label[3] = {0, 0, 0};  // atom symbol, empty on ring-bond Elements and placeholders
  int32_t bond = 0;   // 1 "-" or none, 2 "=", 3 "#", 4 ":"; -1 on a ring closure and most placeholders
  int32_t state = 0;  // atom number; minus the ring-bond number; -1 on placeholders
  int32_t depth = 0;  // branch depth; -1 on placeholders
  uint8_t first = 0;
  uint8_t last = 0;
  uint8_t last2 = 0;
  uint8_t repeat = 0;

  bool lowercase() const { return label[0] >= 'a' && label[0] <= 'z'; }
};

using Chain = std::deque<Element*>;

struct Node {
  std::vector<Node*> prev;
  std::vector<Node*> next;
  std::vector<Chain> chains;
  bool sentinel = false;  // the predecessor of the whole pattern; never linked
};

// Owns every Element and Node of one compilation.  Elements are registered
// on allocation and released together when rule generation ends.
class PatternGraph {
 public:
  Element* new_element(const Element& value);
  Node* new_node();
  // Releases a Node that generation has merged away.
  void release_node(Node* node);
  // Releases every Node and Element.
  void clear();
  // Every Element registered so far, in order of registration.
  const std::deque<Element>& elements() const { return elements_; }

  std::set<int> start_set;  // atom numbers that can stand first
  // The parser stopped at a "|" outside every group and left the rest of the
  // text unread; compilation refuses the pattern once the later stages have
  // had their say on the whole text.
  bool stray_bar = false;

 private:
  std::deque<Element> elements_;  // the element registry
  std::vector<std::unique_ptr<Node>> nodes_;
};

// Links a to b: b is appended to a's successors, a to b's predecessors.
void link(Node* a, Node* b);

}  // namespace tarnaxel
