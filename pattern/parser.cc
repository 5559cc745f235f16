// The recursive pattern parser.  Each group alternative is parsed by a nested
// call; all calls continue from the one parse cursor.
#include "pattern/parser.h"

#include <cstring>
#include <set>

#include "common/fatal.h"
#include "pattern/messages.h"
#include "pattern/symbols.h"

namespace tarnaxel {
namespace {

namespace msg = pattern_message;


std::set<int> open_numbers(const RingTable& rings) {
  std::set<int> open;
  for (int n = 0; n < static_cast<int>(rings.size()); ++n)
    if (rings[n]) open.insert(n);
  return open;
}

}  // namespace

Element* Parser::element_of(Node* node) const { return node->chains.front().front(); }

Node* Parser::placeholder(int32_t bond, uint8_t first, uint8_t last, uint8_t last2, uint8_t repeat) {
  Element e;
  e.bond = bond;
  e.state = -1;
  e.depth = -1;
  e.first = first;
  e.last = last;
  e.last2 = last2;
  e.repeat = repeat;
  Node* node = graph_.new_node();
  node->chains.push_back(Chain{graph_.new_element(e)});
  return node;
}

// Every atom that can stand first, reached over placeholders that may be
// passed ("*" repeats may be skipped, "+" repeats may not).
void Parser::start_walk(Node* x, std::set<Node*>& seen) {
  if (!seen.insert(x).second) return;
  for (Node* s : x->next) {
    Element* e = element_of(s);
    if (e->depth == -1) {
      if (e->last == e->last2) start_walk(s, seen);
    } else {
      graph_.start_set.insert(e->state);
    }
  }
}

// Every element that can stand last gets last and last2 set.
void Parser::end_walk(Node* x, std::set<Node*>& seen) {
  if (!seen.insert(x).second) return;
  for (Node* p : x->prev) {
    Element* e = element_of(p);
    if (e->depth == -1) {
      if (e->last == e->last2) end_walk(p, seen);
    } else {
      e->last = e->last2 = 1;
    }
  }
}

Node* Parser::parse_pattern(Node* predecessor, int depth, const RingTable& rings) {
  depth_ = depth;
  open_rings_ = rings;
  Node* head = predecessor;
  Node* current = predecessor;
  std::vector<Node*> pending;
  if (Node* done = open_branch(head, current)) return done;

  char c;
  while ((c = at(cursor_)) != '\0') {
    if (c == '(') {
      ++depth_;
      ++cursor_;
      if (at(cursor_) == '|' || at(cursor_) == '}') {
        if (current->sentinel) fail_line(msg::kBarOutsideGroup);
        Node* n = placeholder(-1, 1, 0, 0, 0);
        link(current, n);
        return n;
      }
      continue;
    }
    if (c == ')') {
      --depth_;
      ++cursor_;
      continue;
    }
    if (c == '|' || c == '}') return current;
    if (c == '{') {
      current = parse_group(current, pending);
      continue;
    }

    // An element: a ring-bond number or an atom.
    Element e;
    e.first = (cursor_ == 0 || at(cursor_ - 1) == '(') ? 1 : 0;
    const char next = at(cursor_ + 1);
    int opened = -1;
    if (is_digit(c) || c == '%' || (bond_code(c) != 0 && (is_digit(next) || next == '%'))) {
      opened = parse_ring_number(c, e);
    } else if (Node* done = parse_atom(c, e, current)) {
      return done;
    }
    attach(e, head, current, pending);
    if (opened >= 0) ring_opener_[static_cast<size_t>(opened)] = element_of(current);
  }

  if (!head->sentinel && element_of(head)->depth == -1) {
    std::set<Node*> seen;
    start_walk(head, seen);
  }
  return head;
}

Node* Parser::open_branch(Node*& head, Node*& current) {
  const char c = at(cursor_);
  if (c == '{' && cursor_ == 0) {
    head = current = placeholder(-1, 0, 0, 0, 0);
  } else if (c == '{') {
    Node* n = placeholder(-1, 0, 0, 0, 0);
    link(current, n);
    current = n;
  } else if (c == '|' || (c == '}' && cursor_ != 0)) {
    if (current->sentinel) fail_line(msg::kBarOutsideGroup);
    Node* n = placeholder(-1, 0, 0, 0, 0);
    link(current, n);
    return n;
  } else if (c == '(' && (at(cursor_ + 1) == '|' || at(cursor_ + 1) == '}') && cursor_ != 0) {
    Node* n = placeholder(-1, 1, 0, 0, 0);
    link(current, n);
    ++depth_;
    ++cursor_;
    return n;
  } else if (c == ')' && cursor_ != 0) {
    Node* n = placeholder(-1, 0, 1, 1, 0);
    link(current, n);
    --depth_;
    ++cursor_;
    current = n;
  }
  return nullptr;
}

Node* Parser::parse_group(Node* current, std::vector<Node*>& pending) {
  std::set<int> depths;
  std::set<std::set<int>> ring_states;
  const int d0 = depth_;
  const RingTable r0 = open_rings_;
  ++cursor_;
  for (;;) {
    pending.push_back(parse_pattern(current, d0, r0));
    depths.insert(depth_);
    ring_states.insert(open_numbers(open_rings_));
    if (at(cursor_) != '|') break;
    ++cursor_;
  }
  if (at(cursor_) != '}') fail_line(msg::kTooManyOpenBrace);
  ++cursor_;
  if (at(cursor_) == '*' || at(cursor_) == '+') {
    Node* r = placeholder(-1, 0, 0, at(cursor_) == '+' ? 1 : 0, 1);
    link(current, r);
    pending.push_back(r);
    depths.insert(depth_);
    ring_states.insert(open_numbers(open_rings_));
    ++cursor_;
  }
  const char after = at(cursor_);
  if (after == '\0' || after == '{' || after == '|' || after == '}') {
    Node* j = placeholder(-1, 0, 0, 0, 0);
    for (Node* p : pending) link(p, j);
    pending.clear();
    current = j;
    if (after == '\0') {
      std::set<Node*> seen;
      end_walk(j, seen);
    }
  }
  if (depths.size() > 1) fail_line(msg::kLevelsDiffer);
  if (ring_states.size() > 1) fail_line(msg::kRingsDiffer);
  return current;
}

int Parser::parse_ring_number(char c, Element& e) {
  int bond = 1;
  const int written = bond_code(c);
  if (written != 0) {
    bond = written;
    ++cursor_;
  }
  int number = 0;
  if (at(cursor_) == '%') {
    ++cursor_;
    int digits = 0;
    while (is_digit(at(cursor_))) {
      if (++digits > 3) fail_line(msg::kRingNumberTooLarge);
      number = number * 10 + (at(cursor_) - '0');
      ++cursor_;
    }
    if (digits == 0) fail_line(msg::kNoRingDigits);
  } else {
    number = at(cursor_) - '0';
    ++cursor_;
  }
  const size_t n = static_cast<size_t>(number);
  const bool closes = open_rings_[n] != 0;
  if (closes) {
    // The bond written at the closing digit is the ring bond's, unless the
    // opening one (or another alternative's closing one) wrote another.
    if (written != 0) {
      if (ring_bond_[n] != 0 && ring_bond_[n] != written) fail_line(msg::ring_closed_with_another_bond(number));
      ring_bond_[n] = static_cast<int8_t>(written);
      if (ring_opener_[n] != nullptr) ring_opener_[n]->bond = written;
    }
    bond = -1;
    open_rings_[n] = 0;
  } else {
    open_rings_[n] = 1;
    ring_opener_[n] = nullptr;
    ring_bond_[n] = static_cast<int8_t>(written);
  }
  e.bond = bond;
  e.state = -number;
  e.depth = depth_ + 1;
  e.first = e.last = e.last2 = 1;
  return closes ? -1 : number;
}

int Parser::first_open_ring() const {
  for (size_t n = 0; n < open_rings_.size(); ++n)
    if (open_rings_[n]) return static_cast<int>(n);
  return -1;
}

Node* Parser::parse_atom(char c, Element& e, Node* current) {
  int bond = 0;
  if (cursor_ != 0) {
    bond = 1;
    if (bond_code(c) != 0) {
      bond = bond_code(c);
      ++cursor_;
      if (at(cursor_) == '|' || at(cursor_) == '}') {
        if (current->sentinel) fail_line(msg::kBarOutsideGroup);
        Node* n = placeholder(bond, 0, 0, 0, 0);
        link(current, n);
        return n;
      }
    }
  }
  c = at(cursor_);
  const char next = at(cursor_ + 1);
  size_t length = 1;
  if ((c == 'B' && next == 'r') || (c == 'C' && next == 'l')) {
    length = 2;
  } else if (c == '[') {
    size_t close = text_.find(']', cursor_ + 1);
    if (close == std::string::npos) fail_line(msg::kNoCloseBracket);
    size_t inside = close - cursor_ - 1;
    if (inside == 0 || inside > 3) fail_line(msg::kNoCloseBracket);
    if (inside == 3) fail_line(msg::kLongBracketAtom);
    std::memcpy(e.label, text_.data() + cursor_ + 1, inside);
    cursor_ = close + 1;
    length = 0;
  } else if (c == '\0' || std::strchr("BCNOPSFIcnops", c) == nullptr) {
    fail_line(msg::kNoMatch);
  }
  if (length > 0) {
    std::memcpy(e.label, text_.data() + cursor_, length);
    cursor_ += length;
  }
  e.bond = bond;
  e.state = atom_counter_++;
  e.depth = depth_;
  const char after = at(cursor_);
  e.last = e.last2 = (after == ')' || after == '\0') ? 1 : 0;
  return nullptr;
}

void Parser::attach(const Element& e, Node*& head, Node*& current, std::vector<Node*>& pending) {
  Node* f = graph_.new_node();
  f->chains.push_back(Chain{graph_.new_element(e)});
  if (!pending.empty()) {
    for (Node* p : pending) link(p, f);
    pending.clear();
  } else if (!current->sentinel) {
    link(current, f);
    Element* fe = element_of(f);
    Element* ce = element_of(current);
    if (fe->depth != -1 && ce->depth != -1 && fe->depth - ce->depth == 2) fe->depth -= 1;
  } else {
    head = f;
  }
  current = f;
}

Node* parse_pattern(PatternGraph& graph, const std::string& text) {
  Node* sentinel = graph.new_node();
  sentinel->sentinel = true;
  Parser parser(graph, text);
  RingTable rings{};
  Node* head = parser.parse_pattern(sentinel, 0, rings);
  if (head->sentinel) fail_line(pattern_message::kNoAtom);
  graph.stray_bar = !parser.at_end();
  // Past a stray "|" the text is not read, so its rings are not judged.
  if (!graph.stray_bar && parser.first_open_ring() >= 0)
    fail_line(pattern_message::ring_never_closed(parser.first_open_ring()));
  return head;
}

}  // namespace tarnaxel
