// Edge-leaf configurations: how the automaton can start on one bond.  For a
// directed edge from v to w: v the parent of w (tree bond), a ring closure
// between v and w, a starred child of v, and with "-ind" the bond left out.
#include "matcher/context.h"
#include "matcher/viable.h"
#include "rulefile/automaton.h"

namespace tarnaxel {
namespace {

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
  const int deg_v = context.degree[v];
  const int deg_w = context.degree[w];
  const double x = edge.weight;
  auto item = [](int atom, int rule, int used, int root) {
    return Item{atom, static_cast<uint16_t>(rule), static_cast<uint8_t>(used), root};
  };

  const Viability& viable = *context.viable;
  // Only rules that can stand at their atom in a finished match (ascending,
  // so the configurations come in the same order as over every rule); a
  // bond needs one at each end.
  if (viable.any(v) && viable.any(w)) {
    // Calls visit(i, ri, j, rj) for every pair of rules at v and w, v's
    // first; with_bonds, only rules with enough bonds at their atom.
    auto rule_pairs = [&](bool with_bonds, auto visit) {
      viable.for_each(v, [&](int i) {
        const Rule& ri = context.automaton.rules[i];
        if (with_bonds && deg_v < bonds_needed(ri)) return;
        viable.for_each(w, [&](int j) {
          const Rule& rj = context.automaton.rules[j];
          if (with_bonds && deg_w < bonds_needed(rj)) return;
          visit(i, ri, j, rj);
        });
      });
    };
    rule_pairs(true, [&](int i, const Rule& ri, int j, const Rule& rj) {
      for (int k = 0; k < ri.plain_count; ++k)
        if (ri.child_state[k] == rj.state && ri.child_label[k] == edge.label)
          store_pair(context, leaf, item(v, i, 1 << k, v), item(w, j, 0, v), true, x);
    });
    rule_pairs(true, [&](int i, const Rule& ri, int j, const Rule& rj) {
      for (int k = 0; k < ri.plain_count; ++k) {
        if (ri.child_label[k] != edge.label) continue;
        for (int l = 0; l < rj.plain_count; ++l)
          if (ri.child_state[k] == rj.child_state[l] && rj.child_label[l] == kWildcardLabel)
            store_pair(context, leaf, item(v, i, 1 << k, v), item(w, j, 1 << l, w), true, x);
      }
    });
    rule_pairs(false, [&](int i, const Rule& ri, int j, const Rule& rj) {
      for (int k = ri.plain_count; k < ri.plain_count + ri.star_count && k < kMaxChildren; ++k)
        if (ri.child_state[k] == rj.state && ri.child_label[k] == edge.label)
          store_pair(context, leaf, item(v, i, 0, v), item(w, j, 0, v), true, x);
    });
  }
  if (context.options.ind && !context.options.span) {
    store_pair(context, leaf, item(v, 0, 0, v), item(w, 0, 0, w), false, 0.0);
    // Rules ascending; a rule that can stand at both atoms is put at v first.
    std::vector<int>& at_v = context.scratch.at_v;
    std::vector<int>& at_w = context.scratch.at_w;
    at_v.clear();
    at_w.clear();
    viable.for_each(v, [&](int r) {
      if (deg_v >= context.automaton.rules[r].plain_count) at_v.push_back(r);
    });
    viable.for_each(w, [&](int r) {
      if (deg_w >= context.automaton.rules[r].plain_count) at_w.push_back(r);
    });
    size_t a = 0;
    size_t b = 0;
    while (a < at_v.size() || b < at_w.size()) {
      if (b == at_w.size() || (a < at_v.size() && at_v[a] <= at_w[b])) {
        store_pair(context, leaf, item(v, at_v[a++], 0, v), item(w, 0, 0, w), false, 0.0);
      } else {
        store_pair(context, leaf, item(v, 0, 0, v), item(w, at_w[b++], 0, w), false, 0.0);
      }
    }
  }
}

}  // namespace tarnaxel
