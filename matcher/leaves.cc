// Edge-leaf configurations: how the automaton can start on one bond.  For a
// directed edge from v to w: v the parent of w (tree bond), a ring closure
// between v and w, a starred child of v, and with "-ind" the bond left out.
#include "matcher/context.h"
#include "rulefile/tables.h"

namespace tarnaxel {
namespace {

// Plain children to match, plus the bond to the parent unless the rule's
// state is the first state name.
int need(const Rule& r) { return r.plain_count + (r.state != 1 ? 1 : 0); }

void store_pair(MatchContext& context, Bag& leaf, Item a, Item b, bool used, double score) {
  ConfigKey key;
  key.item_count = 2;
  if (b.atom < a.atom) std::swap(a, b);
  key.items[0] = a;
  key.items[1] = b;
  key.matched = (a.rule != 0 || b.rule != 0) ? 1 : 0;
  const uint64_t word = used ? 1u : 0u;
  context.store.store(leaf.table, key, BitsRef{&word, 1}, BitsRef{}, score);
}

}  // namespace

void add_leaf_configs(MatchContext& context, Bag& leaf, int u) {
  const Edge& edge = context.molecule.edges[u];
  const int v = edge.from;
  const int w = edge.to;
  const int label_v = context.molecule.atoms[v].label;
  const int label_w = context.molecule.atoms[w].label;
  const int deg_v = context.degree[v];
  const int deg_w = context.degree[w];
  const double x = edge.weight;
  auto item = [](int atom, int rule, int used, int root) {
    return Item{atom, static_cast<uint16_t>(rule), static_cast<uint8_t>(used), root};
  };

  for (int i = 1; i <= rule_count; ++i) {
    const Rule& ri = rules[i];
    if (ri.symbol != label_v) continue;
    for (int j = 1; j <= rule_count; ++j) {
      const Rule& rj = rules[j];
      if (rj.symbol != label_w) continue;
      for (int k = 0; k < ri.plain_count; ++k) {
        if (ri.child_state[k] == rj.state && ri.child_label[k] == edge.label && deg_v >= need(ri) &&
            deg_w >= need(rj))
          store_pair(context, leaf, item(v, i, 1 << k, v), item(w, j, 0, v), true, x);
      }
    }
  }
  for (int i = 1; i <= rule_count; ++i) {
    const Rule& ri = rules[i];
    if (ri.symbol != label_v) continue;
    for (int j = 1; j <= rule_count; ++j) {
      const Rule& rj = rules[j];
      if (rj.symbol != label_w) continue;
      for (int k = 0; k < ri.plain_count; ++k) {
        for (int l = 0; l < rj.plain_count; ++l) {
          if (ri.child_state[k] == rj.child_state[l] && ri.child_label[k] == edge.label &&
              rj.child_label[l] == kWildcardLabel && deg_v >= need(ri) && deg_w >= need(rj))
            store_pair(context, leaf, item(v, i, 1 << k, v), item(w, j, 1 << l, w), true, x);
        }
      }
    }
  }
  for (int i = 1; i <= rule_count; ++i) {
    const Rule& ri = rules[i];
    if (ri.symbol != label_v) continue;
    for (int j = 1; j <= rule_count; ++j) {
      const Rule& rj = rules[j];
      if (rj.symbol != label_w) continue;
      for (int k = ri.plain_count; k < ri.plain_count + ri.star_count && k < kMaxChildren; ++k) {
        if (ri.child_state[k] == rj.state && ri.child_label[k] == edge.label)
          store_pair(context, leaf, item(v, i, 0, v), item(w, j, 0, v), true, x);
      }
    }
  }
  if (context.options.ind && !context.options.span) {
    store_pair(context, leaf, item(v, 0, 0, v), item(w, 0, 0, w), false, 0.0);
    for (int r = 1; r <= rule_count; ++r) {
      if (rules[r].symbol == label_v && deg_v >= rules[r].plain_count)
        store_pair(context, leaf, item(v, r, 0, v), item(w, 0, 0, w), false, 0.0);
      if (rules[r].symbol == label_w && deg_w >= rules[r].plain_count)
        store_pair(context, leaf, item(v, 0, 0, v), item(w, r, 0, w), false, 0.0);
    }
  }
}

}  // namespace tarnaxel
