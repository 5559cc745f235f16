// Rule generation by graph reduction.  A Node is merged with its only
// successor (series merge: every chain of the first joined with every chain
// of the second); the alternatives of a fork are each reduced to one Node by
// a nested reduction and then collapsed into one Node holding all their
// chains (parallel merge).  Rules are emitted at every join, for leaf atoms
// when their Node is visited, for repeated groups, and by a final pass over
// the last remaining Node.
#include "generation/reduce.h"

#include <optional>

#include "common/fatal.h"
#include "generation/context.h"
#include "generation/join.h"
#include "generation/messages.h"
#include "generation/repeat.h"

namespace tarnaxel {
namespace {

// Bounds the chains one Node may hold; patterns with more alternative paths
// than this are refused instead of exhausting memory.
constexpr size_t kChainLimit = 1 << 20;

class Reducer {
 public:
  explicit Reducer(Generation& gen) : gen_(gen) {}

  // Reduces from node on; returns when the graph is one Node (outermost
  // call) or when the alternative node begins is one Node (nested call).
  void reduce(Node* node) {
    if (node->chains.empty()) node = first_of(node->next);
    Node* current = node;
    bool fork_done = false;
    for (;;) {
      if (current->next.empty() && current->prev.empty()) {
        final_pass(*current);
        return;
      }
      Node* back = current->next.empty() ? nullptr : current->next.front();
      leaf(*current);
      if (back != nullptr && back->chains.size() == 1) leaf(*back);

      if (current->next.size() == 1 && back->prev.size() == 1) {
        current = series_merge(current, back);
        fork_done = false;
        continue;
      }
      if (current->next.size() < 2 || fork_done) {
        if (back == nullptr) fail_line(generation_message::kNoBackNode);
        if (back->prev.size() > 1) {
          // The alternative is one Node: rotate it to the back of its fork.
          for (Node* p : current->prev) {
            first_of(p->next);
            p->next.erase(p->next.begin());
            p->next.push_back(current);
          }
          return;
        }
        if (!fork_done) fail_uncompilable();
        parallel_merge(current);
        continue;
      }
      size_t alternatives = current->next.size();
      for (size_t i = 0; i < alternatives; ++i) reduce(first_of(current->next));
      fork_done = true;
    }
  }

 private:
  void leaf(Node& node) {
    if (node.chains.size() != 1) return;
    const Chain& chain = node.chains.front();
    Element* first = front_of(chain);
    if (first->last2 != 1 || first->state < 0) return;
    Element* e = chain.back();
    if (e->state >= 0) gen_.text.leaf(*e);
    first->last2 = 0;
  }

  Node* series_merge(Node* p, Node* s) {
    Node* m = gen_.graph.new_node();
    m->prev = p->prev;
    m->next = s->next;
    bool back_has_successors = !s->next.empty();
    for (const Chain& a : p->chains) {
      if (is_bare(*front_of(a))) {
        for (const Chain& b : s->chains) add_chain(*m, b);
      } else {
        for (const Chain& b : s->chains) {
          std::optional<Chain> joined = join_chains(gen_, a, b, back_has_successors);
          if (joined) add_chain(*m, std::move(*joined));
        }
      }
    }
    for (Node* x : p->prev) {
      first_of(x->next);
      x->next.front() = m;
    }
    for (Node* y : s->next) {
      first_of(y->prev);
      y->prev.erase(y->prev.begin());
      y->prev.push_back(m);
    }
    gen_.graph.release_node(p);
    gen_.graph.release_node(s);
    return m;
  }

  void add_chain(Node& node, Chain chain) {
    if (node.chains.size() >= kChainLimit) fail_line(generation_message::kTooManyChains);
    node.chains.push_back(std::move(chain));
  }

  // Collapses the reduced alternatives of fork p into one Node.
  void parallel_merge(Node* p) {
    Node* join = first_of(first_of(p->next)->next);
    Node* u = gen_.graph.new_node();
    for (Node* b : p->next) {
      if (b->next.size() != 1 || b->next.front() != join) fail_uncompilable();
      for (Chain& c : b->chains) add_chain(*u, std::move(c));
    }
    join->prev.assign(1, u);
    u->next.assign(1, join);
    u->prev.assign(1, p);
    for (Node* b : p->next) gen_.graph.release_node(b);
    p->next.assign(1, u);
    if (u->chains.empty()) fail_uncompilable();
    Element* last = back_of(u->chains.back());
    // Only the repetition placeholder itself marks a repeated group.
    if (last->repeat == 1 && last->depth == -1) {
      if (last->last2 == 1) u->chains.pop_back();
      generate_repeat_rules(gen_, *u);
    }
  }

  // Branch rules for the ring closures that end the chains of the last Node.
  void final_pass(Node& f) {
    for (Chain& chain : f.chains) {
      if (!chain.empty()) chain.pop_front();
      if (chain.size() < 2) return;
      Element* L = chain.back();
      if (L->state > 0 || L->depth < chain.front()->depth) return;
      long xi = find_parent(chain, static_cast<long>(chain.size()) - 1, L->depth - 1);
      if (xi < 0) fail_uncompilable();
      const Element& x = *chain[static_cast<size_t>(xi)];
      std::vector<Child> children;
      for (size_t i = static_cast<size_t>(xi) + 1; i + 1 < chain.size(); ++i)
        if (chain[i]->first == 1) children.push_back({chain[i], arg(x, *chain[i])});
      children.push_back({L, arg(x, *L)});
      gen_.text.branch(x, children);
    }
  }

  static Arg arg(const Element& x, const Element& c) {
    if (c.state >= 0) return x.lowercase() && c.lowercase() ? Arg::any() : Arg::num(c.bond);
    if (c.bond > 0) return x.lowercase() ? Arg::any() : Arg::num(c.bond);
    if (c.bond < 0) return Arg::at();
    return Arg::none();
  }

  Generation& gen_;
};

// The atom of a pattern that holds exactly one, before generation derives
// any Element from it.
std::optional<Element> lone_atom(const PatternGraph& graph) {
  std::optional<Element> atom;
  for (const Element& e : graph.elements()) {
    if (e.state <= 0) continue;
    if (atom && atom->state != e.state) return std::nullopt;
    atom = e;
  }
  return atom;
}

}  // namespace

std::vector<std::string> generate_rules(PatternGraph& graph, Node* head) {
  const std::optional<Element> lone = lone_atom(graph);
  Generation gen(graph);
  Reducer(gen).reduce(head);
  // A lone atom joins nothing and so gets no rule from the reduction; its
  // leaf rule is the whole automaton.
  if (gen.text.lines().empty() && lone) gen.text.leaf(*lone);
  std::vector<std::string> lines = gen.text.lines();
  graph.clear();
  return lines;
}

}  // namespace tarnaxel
