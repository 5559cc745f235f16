// The two partner indexes against the join rule itself: on random tables and
// random joins, the pairs each index passes (less those what the two sides
// bring refuses) are exactly those the rule's own test at every shared atom
// accepts, in table order.
#include <random>

#include "matcher/partner_trie.h"
#include "matcher/partners.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

// A random table over atoms (ascending), sealed: its order is key order.
Table random_table(std::mt19937& random, size_t size, const std::vector<int>& atoms, const Automaton& a) {
  Table table;
  table.reset(0, 1, false, false);
  for (size_t j = 0; j < size; ++j) {
    ConfigKey key;
    for (int atom : atoms) {
      if (random() % 3 == 0) continue;  // no item at this atom
      Item& item = key.items[key.item_count++];
      item.atom = static_cast<uint16_t>(atom);
      item.rule = static_cast<uint16_t>(random() % (a.rule_count + 1));
      item.used_children = static_cast<uint8_t>(random() % (1u << a.rules[item.rule].plain_count));
      const unsigned root = random() % 4;
      item.root = static_cast<uint16_t>(root == 0 ? 0 : root == 1 ? atoms[random() % atoms.size()] : atom);
    }
    const uint64_t none = 0;
    table.append(key, BitsRef{&none, 1}, BitsRef{}, 0.0);
  }
  table.seal();
  return table;
}

std::vector<int> random_subset(std::mt19937& random, const std::vector<int>& atoms) {
  std::vector<int> subset;
  for (int atom : atoms)
    if (random() % 3 != 0) subset.push_back(atom);
  return subset;
}

TEST(Partners, IndexAndTrieFindWhatTheRuleAccepts) {
  Automaton a;
  a.rule_count = 3;
  const int plain[4] = {0, 1, 2, 2};
  const int state[4] = {1, 1, 2, 3};
  for (int r = 1; r < 4; ++r) {
    a.rules[r].plain_count = plain[r];
    a.rules[r].state = state[r];
    for (int k = 0; k < plain[r]; ++k) a.rules[r].child_state[k] = 1 + (r + k) % 3;
  }
  const RuleIndex index(a);
  Molecule m;
  m.atom_count = 8;
  m.atoms.assign(9, Atom{});
  m.edges.assign(1, Edge{});
  const std::vector<int> atoms = {2, 3, 5, 8};
  std::mt19937 random(7);
  PartnerIndex bit_sets;
  PartnerTrie trie;
  for (int round = 0; round < 400; ++round) {
    MatchChecks checks;
    checks.every_rule = round % 4 == 3;
    const MatchPlan plan(a, index, MatchOptions{}, checks);
    std::vector<int> degree(9);
    for (int& d : degree) d = static_cast<int>(random() % 5);
    JoinRule rule;
    rule.start_record(plan, m, degree.data());
    // Two sides over random atoms, each the other's partner at the shared ones.
    const std::vector<int> n_atoms = random_subset(random, atoms);
    const std::vector<int> k_atoms = random_subset(random, atoms);
    std::vector<int> vertices;
    std::set_union(n_atoms.begin(), n_atoms.end(), k_atoms.begin(), k_atoms.end(), std::back_inserter(vertices));
    uint16_t met[kMaxBagAtoms];
    for (size_t i = 0; i < vertices.size(); ++i) met[i] = static_cast<uint16_t>(random() % 3);
    std::vector<int> shared;
    std::set_intersection(n_atoms.begin(), n_atoms.end(), k_atoms.begin(), k_atoms.end(), std::back_inserter(shared));
    const int forget = shared.empty() || random() % 3 == 0 ? 0 : shared[random() % shared.size()];
    rule.start_join(n_atoms, k_atoms, vertices, met, forget);
    const Table k_table = random_table(random, 1 + random() % 300, k_atoms, a);
    const Table n_table = random_table(random, 20, n_atoms, a);
    std::vector<Config> ks, ns;
    decode_all(k_table, ks);
    decode_all(n_table, ns);
    bit_sets.build(rule, ks);
    trie.build(rule, k_table);
    for (const Config& o : ns) {
      std::vector<size_t> accepted, by_bit_sets, by_trie;
      for (size_t j = 0; j < ks.size(); ++j)
        if (rule.agree_everywhere(o, ks[j]) && !JoinRule::cannot_pair(rule.brings(o), rule.brings(ks[j])))
          accepted.push_back(j);
      const Brings mine = rule.brings(o);
      auto keep = [&](std::vector<size_t>& out) {
        return [&](size_t j) {
          if (!JoinRule::cannot_pair(mine, rule.brings(ks[j]))) out.push_back(j);
        };
      };
      bit_sets.for_each_partner(o, keep(by_bit_sets));
      trie.for_each_partner(o, keep(by_trie));
      ASSERT_EQ(by_bit_sets, accepted) << "round " << round;
      ASSERT_EQ(by_trie, accepted) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace tarnaxel
