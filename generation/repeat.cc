// Repetition rules.  Each ordered pair (i, j) of the group's alternatives is
// joined like a series seam, i's last Element against j's first, and only
// the rules of that seam are kept; the joined chains are thrown away.
#include "generation/repeat.h"

namespace tarnaxel {
namespace {

// Argument of a loop-back branch child: always the bond itself.
Arg loop_arg(const Element& e) {
  if (e.state >= 0 || e.bond > 0) return Arg::num(e.bond);
  if (e.bond < 0) return Arg::at();
  return Arg::none();
}

class Repeater {
 public:
  Repeater(Generation& gen, const Node& u) : gen_(gen), u_(u) {}

  void pair(const Chain& ci, const Chain& cj) {
    Chain A = ci;
    Chain B = cj;
    Element* L = back_of(A);
    if (L->bond > 0 && L->depth == -1) {
      if (A.size() == 1) return;
      Element* R = front_of(B);
      Element* e = derived_element(gen_.graph, *R, L->bond, R->first, R->last, R->last2);
      A.pop_back();
      B.pop_front();
      B.push_front(e);
    }
    bool first_step = true;
    while (!B.empty()) {
      if (B.size() == 1 && is_bond_placeholder(*B.front())) break;
      L = back_of(A);
      Element* R = B.front();
      Chain N;
      if (R->depth > L->depth) {
        if (R->state < 0 && ends_at_placeholder()) ring(*L, *R);
        N = A;
        N.push_back(R);
      } else if (R->depth < L->depth && A.size() >= 2) {
        N = branch_close(A, R);
      } else if (R->depth < L->depth) {
        N = Chain{L, R};
      } else if (R->first == 1) {
        N = A;
        N.push_back(R);
      } else {
        if (first_step && L->state >= 0 && R->state >= 0)
          gen_.text.link(*L, *R, L->lowercase() && R->lowercase() ? Arg::any() : Arg::num(R->bond));
        N = compact(A, R);
      }
      A = N;
      B.pop_front();
      first_step = false;
    }
  }

 private:
  // The group's Node is followed by a junction placeholder alone.
  bool ends_at_placeholder() const {
    if (u_.next.size() != 1) return false;
    const Node* s = u_.next.front();
    return !s->chains.empty() && front_of(s->chains.front())->depth == -1;
  }

  void ring(const Element& L, const Element& R) {
    if (R.bond > 0) gen_.text.ring(L, R, Arg::num(R.bond));
    if (R.bond < 0) gen_.text.ring(L, R, Arg::at());
  }

  Chain branch_close(const Chain& A, Element* R) {
    std::vector<Child> children;
    long parent = -1;
    for (long i = static_cast<long>(A.size()) - 1; i >= 0; --i) {
      Element* e = A[static_cast<size_t>(i)];
      if (e->depth == R->depth) {
        parent = i;
        break;
      }
      if (e->first == 1) children.insert(children.begin(), Child{e, loop_arg(*e)});
      if (i == 0) parent = 0;
    }
    children.push_back({R, loop_arg(*R)});
    gen_.text.branch(*A[static_cast<size_t>(parent)], children);
    return chain_after_branch_close(A, parent, R);
  }

  Chain compact(const Chain& A, Element* R) {
    Element* L = A.back();
    if (A.size() == 1) return Chain{L, R};
    Chain n(A.begin(), A.end() - 1);
    if (R->last == 1) {
      if (L->first == 1) n.push_back(L);
    } else {
      if (L->first == 1 || A.front()->last == 1) n.push_back(L);
      n.push_back(R);
    }
    return n;
  }

  Generation& gen_;
  const Node& u_;
};

}  // namespace

void generate_repeat_rules(Generation& gen, const Node& u) {
  Repeater repeater(gen, u);
  for (const Chain& ci : u.chains) {
    if (front_of(ci)->depth == -1) continue;
    for (const Chain& cj : u.chains) {
      if (front_of(cj)->depth == -1) continue;
      repeater.pair(ci, cj);
    }
  }
}

}  // namespace tarnaxel
