// The pattern parser: turns the preprocessed pattern text into the pattern
// graph, numbering the atoms 1, 2, ... in text order, and fills the graph's
// start set.  Entry point: parse_pattern().
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/limits.h"
#include "pattern/graph.h"

namespace tarnaxel {

using RingTable = std::array<uint8_t, kRingNumbers>;

class Parser {
 public:
  Parser(PatternGraph& graph, const std::string& text) : graph_(graph), text_(text) {}

  // Parses from the shared cursor on, after predecessor, at the given depth
  // with the given ring-bond numbers open.  Returns the head of the graph for
  // the outermost call and the last Node of an alternative for nested ones.
  Node* parse_pattern(Node* predecessor, int depth, const RingTable& rings);
  // True when the cursor has passed the whole text.
  bool at_end() const { return cursor_ >= text_.size(); }
  // The smallest ring-bond number still open, or -1.
  int first_open_ring() const;

 private:
  char at(size_t i) const { return i < text_.size() ? text_[i] : '\0'; }
  Node* placeholder(int32_t bond, uint8_t first, uint8_t last, uint8_t last2, uint8_t repeat);
  Element* element_of(Node* node) const;
  void start_walk(Node* node, std::set<Node*>& seen);
  void end_walk(Node* node, std::set<Node*>& seen);
  // The steps of parse_pattern.  open_branch: what may open a branch (a
  // group, an empty branch, a ")"); the node that ends the branch at once,
  // or null.  parse_group: a group with its repetition mark, from its "{";
  // the node the branch goes on from.  parse_ring_number, parse_atom: one
  // element (parse_atom: the node of a bond that ends a branch, or null).
  // attach: the element's node after the current one or the pending ones.
  Node* open_branch(Node*& head, Node*& current);
  Node* parse_group(Node* current, std::vector<Node*>& pending);
  // Returns the number a ring-bond element opens, or -1 when it closes one.
  int parse_ring_number(char c, Element& e);
  Node* parse_atom(char c, Element& e, Node* current);
  void attach(const Element& e, Node*& head, Node*& current, std::vector<Node*>& pending);

  PatternGraph& graph_;
  const std::string& text_;
  size_t cursor_ = 0;       // the parse cursor, shared by every call
  int depth_ = 0;           // the parse depth
  RingTable open_rings_{};  // the open-ring table
  // By ring-bond number: the element of its opening occurrence and the bond
  // written at either end (0 while none is).  A bond written only at the
  // closing digit is the ring bond's.
  std::array<Element*, kRingNumbers> ring_opener_{};
  std::array<int8_t, kRingNumbers> ring_bond_{};
  int atom_counter_ = 1;
};

// Parses the whole text after the sentinel, at depth 0 with no ring open.
// Returns the head Node; the sentinel is made in graph and is never linked.
Node* parse_pattern(PatternGraph& graph, const std::string& text);

}  // namespace tarnaxel
