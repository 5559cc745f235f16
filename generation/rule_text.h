// Rule text: every rule line that generation emits is formatted here and
// appended to the rule list.  A rule reads "in state S, at an atom labelled A
// whose children are reached over bonds b1..bk, the children take states
// S1..Sk":  q1(C(1,1))\t->\tC(p1(1),q2(1))\n.  A rule whose head atom can
// stand first is emitted once more with the start state q0 as its head.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "pattern/graph.h"

namespace tarnaxel {

// The argument a child is printed with: its bond as a number, "?" (aromatic
// neighbours), "@" (the closing occurrence of a ring-bond number), or none.
struct Arg {
  enum Kind { kNone, kNumber, kAny, kRingClose } kind;
  int number;
  static Arg none() { return {kNone, 0}; }
  static Arg num(int n) { return {kNumber, n}; }
  static Arg any() { return {kAny, 0}; }
  static Arg at() { return {kRingClose, 0}; }
};

struct Child {
  const Element* element;
  Arg arg;
};

class RuleText {
 public:
  explicit RuleText(const std::set<int>& start_set) : start_set_(start_set) {}

  // "q<n>(A)\t\t->\tA\n", and its q0 twin.
  void leaf(const Element& e);
  // A parent with one atom child: "q<n>(A(b))\t->\tA(q<m>(b))\n".
  void link(const Element& parent, const Element& child, Arg arg);
  // A parent with one ring-closure child: "q<n>(A(b))\t->\tA(p<k>(b))\n".
  void ring(const Element& parent, const Element& child, Arg arg);
  // A parent with any number of children, in pattern order.
  void branch(const Element& parent, const std::vector<Child>& children);

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  bool starts(int state) const { return start_set_.count(state) != 0; }
  void single(const Element& parent, Arg arg, char child_kind, int child_number);

  const std::set<int>& start_set_;
  std::vector<std::string> lines_;  // the rule list
};

}  // namespace tarnaxel
