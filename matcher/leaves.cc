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

// The rules listed at an atom: every surviving one, or those with enough bonds.
struct RuleSpan {
  const uint16_t* begin;
  const uint16_t* end;
};

RuleSpan rules_at(const JoinScratch& s, int atom, bool with_bonds) {
  const uint16_t* base = s.rule_list.data();
  const size_t a = static_cast<size_t>(atom);
  return {base + (with_bonds ? s.ready_start[a] : s.list_start[a]), base + s.list_start[a + 1]};
}

}  // namespace

void list_leaf_rules(MatchContext& context) {
  JoinScratch& s = context.scratch;
  const size_t n = context.molecule.atom_count;
  s.rule_list.clear();
  s.list_start.assign(n + 2, 0);
  s.ready_start.assign(n + 2, 0);
  for (size_t a = 1; a <= n; ++a) {
    s.list_start[a] = static_cast<uint32_t>(s.rule_list.size());
    // Rules short of bonds first, so that the ones with enough end the list;
    // each part stays ascending.
    context.viable->for_each(static_cast<int>(a), [&](int r) {
      if (context.degree[a] < bonds_needed(context.automaton.rules[r])) s.rule_list.push_back(static_cast<uint16_t>(r));
    });
    s.ready_start[a] = static_cast<uint32_t>(s.rule_list.size());
    context.viable->for_each(static_cast<int>(a), [&](int r) {
      if (context.degree[a] >= bonds_needed(context.automaton.rules[r]))
        s.rule_list.push_back(static_cast<uint16_t>(r));
    });
  }
  s.list_start[n + 1] = static_cast<uint32_t>(s.rule_list.size());
}

namespace {

Item item(int atom, int rule, int used, int root) {
  return Item{static_cast<uint16_t>(atom), static_cast<uint16_t>(rule), static_cast<uint8_t>(used),
              static_cast<uint16_t>(root)};
}

// One directed edge from v to w, as its leaf configurations read it.
struct LeafEdge {
  int v;
  int w;
  double weight;
  int label;
  bool links;              // aromaticity perceived
  bool aromatic_link_fits;  // and an end is aromatic
};

// Child k of rule r can be met over this bond: its label, or with
// aromaticity perceived, an aromatic link over a bond at an aromatic atom.
bool child_fits(const MatchContext& context, const LeafEdge& e, int r, int k) {
  if (e.links && ((context.automaton.aromatic_link[r] >> k) & 1u) != 0) return e.aromatic_link_fits;
  return context.automaton.rules[r].child_label[k] == e.label;
}

// A tree bond from a plain child of a rule at v to a rule at w in its
// state, and a ring closure: plain children at both ends, w's of the
// wildcard label, in the same state.
void add_tree_bonds(MatchContext& context, Bag& leaf, const LeafEdge& e) {
  const Rule* rules = context.automaton.rules;
  const RuleSpan ready_v = rules_at(context.scratch, e.v, true);
  const RuleSpan ready_w = rules_at(context.scratch, e.w, true);
  for (const uint16_t* i = ready_v.begin; i != ready_v.end; ++i) {
    const Rule& ri = rules[*i];
    for (int k = 0; k < ri.plain_count; ++k) {
      if (!child_fits(context, e, *i, k)) continue;
      const int state = ri.child_state[k];
      for (const uint16_t* j = ready_w.begin; j != ready_w.end; ++j) {
        const Rule& rj = rules[*j];
        if (rj.state == state) store_pair(context, leaf, item(e.v, *i, 1 << k, e.v), item(e.w, *j, 0, e.v), true, e.weight);
        for (int l = 0; l < rj.plain_count; ++l)
          if (rj.child_state[l] == state && rj.child_label[l] == kWildcardLabel)
            store_pair(context, leaf, item(e.v, *i, 1 << k, e.v), item(e.w, *j, 1 << l, e.w), true, e.weight);
      }
    }
  }
}

// A starred child of a rule at v, any number of bonds at either end.
void add_starred(MatchContext& context, Bag& leaf, const LeafEdge& e) {
  const Rule* rules = context.automaton.rules;
  const RuleSpan all_v = rules_at(context.scratch, e.v, false);
  const RuleSpan all_w = rules_at(context.scratch, e.w, false);
  if (all_w.begin == all_w.end) return;
  for (const uint16_t* i = all_v.begin; i != all_v.end; ++i) {
    const Rule& ri = rules[*i];
    for (int k = ri.plain_count; k < ri.plain_count + ri.star_count && k < kMaxChildren; ++k) {
      if (!child_fits(context, e, *i, k)) continue;
      for (const uint16_t* j = all_w.begin; j != all_w.end; ++j)
        if (rules[*j].state == ri.child_state[k])
          store_pair(context, leaf, item(e.v, *i, 0, e.v), item(e.w, *j, 0, e.v), true, e.weight);
    }
  }
}

// With "-ind": the bond left out, with neither end matched or one.
void add_left_out(MatchContext& context, Bag& leaf, const LeafEdge& e) {
  const int v = e.v;
  const int w = e.w;
  store_pair(context, leaf, item(v, 0, 0, v), item(w, 0, 0, w), false, 0.0);
  // Rules ascending; a rule that can stand at both atoms is put at v first.
  std::vector<int>& at_v = context.scratch.at_v;
  std::vector<int>& at_w = context.scratch.at_w;
  at_v.clear();
  at_w.clear();
  // A rule matched at an end of a bond left out needs all its bonds among
  // the others (with every rule kept, only its plain children).
  const bool short_of_bonds = context.plan.prune;
  auto room = [&](int r, int degree) {
    const Rule& rule = context.automaton.rules[r];
    return short_of_bonds ? bonds_needed(rule) < degree : rule.plain_count <= degree;
  };
  context.viable->for_each(v, [&](int r) {
    if (room(r, context.degree[v])) at_v.push_back(r);
  });
  context.viable->for_each(w, [&](int r) {
    if (room(r, context.degree[w])) at_w.push_back(r);
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

}  // namespace

// Within one directed edge every configuration stored has its own key, so
// the order they are stored in does not show once the leaf is sealed.
void add_leaf_configs(MatchContext& context, Bag& leaf, int u) {
  const Edge& edge = context.molecule.edges[u];
  LeafEdge e{edge.from, edge.to, edge.weight, edge.label, context.options.aromatic != 0, false};
  e.aromatic_link_fits = e.links && (context.molecule.atoms[e.v].aromatic || context.molecule.atoms[e.w].aromatic);
  add_tree_bonds(context, leaf, e);
  add_starred(context, leaf, e);
  if (context.options.ind && !context.options.span) add_left_out(context, leaf, e);
}

}  // namespace tarnaxel
