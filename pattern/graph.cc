#include "pattern/graph.h"

#include "common/fatal.h"

namespace tarnaxel {

Element* PatternGraph::new_element(const Element& value) {
  elements_.push_back(value);
  return &elements_.back();
}

Node* PatternGraph::new_node() {
  nodes_.push_back(std::make_unique<Node>());
  return nodes_.back().get();
}

void PatternGraph::release_node(Node* node) {
  node->prev.clear();
  node->next.clear();
  node->chains.clear();
  node->prev.shrink_to_fit();
  node->next.shrink_to_fit();
  node->chains.shrink_to_fit();
}

void PatternGraph::clear() {
  nodes_.clear();
  elements_.clear();
  start_set.clear();
  stray_bar = false;
}

void link(Node* a, Node* b) {
  // The sentinel only stands before the pattern; a text that would link it
  // is one the notation does not allow.
  if (a->sentinel || b->sentinel) fail_line("Error: the pattern cannot be compiled.");
  a->next.push_back(b);
  b->prev.push_back(a);
}

}  // namespace tarnaxel
