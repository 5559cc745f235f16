// Chain joining.  A series merge joins every chain a of a Node with every
// chain b of its successor: the seam between a's last Element L and b's
// first Element R is normalised (placeholders folded into the Elements next
// to them), then b is walked Element by Element, and each step decides which
// rule the seam gives and which Elements the joined chain keeps.  Chains stay
// short: they hold the current tail, branch heads, branch ends and the
// Elements at their base.
#include "generation/join.h"

#include "common/fatal.h"
#include "generation/messages.h"

namespace tarnaxel {
namespace {

Chain concat(const Chain& a, const Chain& b) {
  Chain n = a;
  n.insert(n.end(), b.begin(), b.end());
  return n;
}

Chain plus(const Chain& a, Element* r) {
  Chain n = a;
  n.push_back(r);
  return n;
}

// Argument of a branch child under parent x (both lowercase gives "?").
Arg branch_arg(const Element& x, const Element& child) {
  if (child.state >= 0) return x.lowercase() && child.lowercase() ? Arg::any() : Arg::num(child.bond);
  if (child.bond > 0) return x.lowercase() ? Arg::any() : Arg::num(child.bond);
  if (child.bond < 0) return Arg::at();
  return Arg::none();
}

class Joiner {
 public:
  Joiner(Generation& gen, bool back_has_successors) : gen_(gen), back_has_successors_(back_has_successors) {}

  std::optional<Chain> join(const Chain& a, const Chain& b) {
    Chain A = a;
    Chain B = b;
    Element* L = back_of(A);
    Element* R = front_of(B);

    // Bare right side: a passes through unchanged.
    if (is_bare(*R)) {
      if (R->repeat == 1) back_of(A)->repeat = 1;
      return A;
    }

    // Seam normalisation.
    if (is_branch_open(*L) && R->depth != -1) {
      if (fold(A, B, derived_element(gen_.graph, *R, R->bond, 1, R->last, R->last2))) return A;
    } else if (is_branch_open(*L) && is_branch_close(*R)) {
      A.pop_back();
      B.pop_front();
      if (B.empty()) return A;
    } else if (is_bond_placeholder(*L)) {
      if (fold(A, B, derived_element(gen_.graph, *R, L->bond, R->first, R->last, R->last2))) return A;
    } else if (L->depth != -1 && is_branch_close(*R)) {
      if (L->last == 1) fail_line(generation_message::kDoubleClose);
      // A leaf rule names an atom; after a ring-bond number there is none.
      if (L->state >= 0) gen_.text.leaf(*L);
      A.back() = derived_element(gen_.graph, *L, L->bond, L->first, 1, 1);
      B.pop_front();
      if (B.empty()) return std::nullopt;
    }
    return walk(A, B);
  }

 private:
  // Replaces the seam's placeholder L and its partner R by the Element e.
  // Returns true when nothing else is left, with A holding just e.
  static bool fold(Chain& A, Chain& B, Element* e) {
    A.pop_back();
    B.pop_front();
    if (A.empty()) {
      A.push_back(e);
      return B.empty();
    }
    B.push_front(e);
    return false;
  }

  std::optional<Chain> walk(Chain A, Chain B) {
    bool first_step = true;
    std::optional<Chain> result;
    while (!B.empty()) {
      Element* L = back_of(A);
      Element* R = B.front();
      Chain N;
      if (L->depth != -1 && R->first == 1 && R->depth == -1) {
        N = concat(A, B);
      } else if (L->last == 1 && L->depth == -1 && R->depth != -1) {
        N = concat(A, B);
      } else if (is_bond_placeholder(*R)) {
        N = concat(A, B);
      } else if (L->depth == R->depth && R->first == 1) {
        if (R->state < 0 && !back_has_successors_) ring_at_end(A, R);
        N = plus(A, R);
      } else if (L->depth == R->depth) {
        if (first_step && L->state >= 0 && R->state >= 0) {
          gen_.text.link(*L, *R, L->lowercase() && R->lowercase() ? Arg::any() : Arg::num(R->bond));
        }
        N = same_depth(A, R);
      } else if (R->depth < L->depth && A.size() == 1) {
        N = Chain{L, R};
      } else if (R->depth < L->depth && R->depth >= A.front()->depth) {
        N = branch_close(A, B);
      } else if (R->depth < L->depth) {
        N = plus(A, R);
      } else {
        if (R->state < 0 && !back_has_successors_) ring(*L, *R);
        N = plus(A, R);
      }
      A = N;
      if (B.size() == 1) result = N;
      B.pop_front();
      first_step = false;
    }
    return result;
  }

  // L followed by a ring-closure Element R at the end of the pattern.
  void ring(const Element& L, const Element& R) {
    if (R.bond < 0) {
      gen_.text.ring(L, R, Arg::at());
    } else if (R.bond > 0) {
      gen_.text.ring(L, R, L.lowercase() ? Arg::any() : Arg::num(R.bond));
    }
  }

  Chain same_depth(const Chain& A, Element* R) {
    Element* L = A.back();
    if (A.size() == 1) return Chain{L, R};
    Chain n(A.begin(), A.end() - 1);
    if (R->last == 1) {
      if (L->first == 1) n.push_back(L);
      if (L->depth == 0) n.push_back(R);
    } else {
      if (L->first == 1 || A.front()->last == 1) n.push_back(L);
      n.push_back(R);
    }
    return n;
  }

  // R continues at a shallower depth than L: the branch L ends is closed and
  // R is the next child of the atom at R's depth.
  Chain branch_close(Chain& A, Chain& B) {
    Element* L = A.back();
    Element* R = B.front();
    long xi = find_parent(A, static_cast<long>(A.size()) - 1, R->depth);
    if (xi < 0) fail_uncompilable();
    const Element* x = A[static_cast<size_t>(xi)];
    Element* cont = R;
    long parent = xi;
    if (L->depth == R->depth + 2) {
      // The branch closes two levels at once: L first continues one level up.
      A.pop_back();
      L->depth -= 1;
      B.push_front(L);
      cont = L;
      parent = find_parent(A, static_cast<long>(A.size()) - 1, cont->depth);
      if (parent < 0) fail_uncompilable();
    }
    std::vector<Child> children;
    for (size_t i = static_cast<size_t>(parent) + 1; i < A.size(); ++i)
      if (A[i]->first == 1) children.push_back({A[i], branch_arg(*x, *A[i])});
    children.push_back({cont, branch_arg(*x, *cont)});
    gen_.text.branch(*A[static_cast<size_t>(parent)], children);
    return chain_after_branch_close(A, parent, cont);
  }

  // R is a ring-closure Element at L's depth that opens a new branch of the
  // pattern's last Node.
  void ring_at_end(const Chain& A, Element* R) {
    long xi = find_parent(A, static_cast<long>(A.size()) - 1, R->depth - 1);
    if (xi < 0) fail_uncompilable();
    const Element& x = *A[static_cast<size_t>(xi)];
    std::vector<Child> children;
    for (size_t i = static_cast<size_t>(xi) + 1; i < A.size(); ++i) {
      const Element& c = *A[i];
      Arg arg = c.state < 0 && c.bond > 0 ? Arg::num(c.bond) : branch_arg(x, c);
      children.push_back({&c, arg});
    }
    children.push_back({R, branch_arg(x, *R)});
    gen_.text.branch(x, children);
  }

  Generation& gen_;
  bool back_has_successors_;
};

}  // namespace

std::optional<Chain> join_chains(Generation& gen, const Chain& a, const Chain& b, bool back_has_successors) {
  return Joiner(gen, back_has_successors).join(a, b);
}

}  // namespace tarnaxel
