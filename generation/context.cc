#include "generation/context.h"

#include "common/fatal.h"
#include "generation/messages.h"

namespace tarnaxel {

void fail_uncompilable() { fail_line(generation_message::kUncompilable); }

long find_parent(const Chain& chain, long from, int depth) {
  for (long i = from; i >= 0; --i)
    if (chain[static_cast<size_t>(i)]->depth == depth) return i;
  return -1;
}

Element* derived_element(PatternGraph& graph, const Element& source, int32_t bond, uint8_t first, uint8_t last,
                         uint8_t last2) {
  Element e = source;
  e.bond = bond;
  e.first = first;
  e.last = last;
  e.last2 = last2;
  e.repeat = 0;
  return graph.new_element(e);
}

Chain chain_after_branch_close(const Chain& a, long parent, Element* cont) {
  Chain n;
  if (front_of(a)->depth == cont->depth) {
    n.push_back(a.front());
    n.push_back(cont);
    return n;
  }
  for (long i = 0; i < parent; ++i) n.push_back(a[static_cast<size_t>(i)]);
  const Element* p = a[static_cast<size_t>(parent)];
  if (p->first || p->last) n.push_back(a[static_cast<size_t>(parent)]);
  if (cont->last != 1) n.push_back(cont);
  return n;
}

}  // namespace tarnaxel
