// The two indexes of a join against the pair conditions written out plainly:
// on random tables both must find exactly the partners the plain reading
// finds, in table order.
#include <random>

#include "matcher/partner_trie.h"
#include "matcher/partners.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

// The plain reading: every shared atom agrees, and the forgotten atom can
// leave as the pair leaves it.
bool pairs_with(const Config& o, const Config& c, const std::vector<int>& shared, int forget, const Rule* rules) {
  if (o.item_count == 0 || c.item_count == 0 || (o.rootless && c.rootless)) return false;
  auto find = [](const Config& x, int atom) -> const Item* {
    for (int i = 0; i < x.item_count; ++i)
      if (x.items[i].atom == atom) return &x.items[i];
    return nullptr;
  };
  for (int atom : shared) {
    const Item* a = find(o, atom);
    const Item* b = find(c, atom);
    if (a != nullptr && b != nullptr &&
        (a->rule != b->rule || (a->used_children & b->used_children) != 0 || (a->root != atom && b->root != atom)))
      return false;
    if (atom != forget || (a == nullptr && b == nullptr)) continue;
    const Item& x = a != nullptr ? *a : *b;
    const uint8_t used = static_cast<uint8_t>((a ? a->used_children : 0) | (b ? b->used_children : 0));
    const bool rooted = (a == nullptr || a->root == atom) && (b == nullptr || b->root == atom);
    if (used != full_mask(rules[x.rule]) || (rooted && rules[x.rule].state != 1)) return false;
  }
  return true;
}

std::vector<Config> random_table(std::mt19937& random, size_t size, const std::vector<int>& atoms, const Rule* rules,
                                 int forget) {
  std::vector<Config> table(size);
  for (Config& c : table) {
    c.item_count = 0;
    c.rootless = false;
    for (int atom : atoms) {
      if (random() % 3 == 0) continue;  // no item at this atom
      Item& item = c.items[c.item_count++];
      item.atom = atom;
      item.rule = static_cast<uint16_t>(random() % 4);
      item.used_children = static_cast<uint8_t>(random() % (1u << rules[item.rule].plain_count));
      const unsigned root = random() % 4;
      item.root = root == 0 ? 0 : root == 1 ? atoms[random() % atoms.size()] : atom;
      c.rootless = c.rootless || item.root == 0;
      if (atom == forget) c.forgotten = static_cast<int8_t>(c.item_count - 1);
    }
  }
  return table;
}

TEST(Partners, IndexAndTrieFindThePlainPartnersInOrder) {
  Rule rules[4] = {};
  const int plain[4] = {0, 1, 2, 2};
  const int state[4] = {1, 1, 2, 3};
  for (int r = 0; r < 4; ++r) {
    rules[r].plain_count = plain[r];
    rules[r].state = state[r];
  }
  std::mt19937 random(7);
  PartnerIndex index;
  PartnerTrie trie;
  for (int round = 0; round < 300; ++round) {
    const std::vector<int> atoms = {2, 3, 5, 8};
    std::vector<int> shared;
    for (int atom : atoms)
      if (random() % 2 == 0) shared.push_back(atom);
    const int forget = shared.empty() || random() % 3 == 0 ? 0 : shared[random() % shared.size()];
    const std::vector<Config> ks = random_table(random, 1 + random() % 200, atoms, rules, forget);
    const std::vector<Config> ns = random_table(random, 20, atoms, rules, forget);
    index.build(ks, shared, forget, rules);
    trie.build(ks, shared, forget, rules);
    for (const Config& o : ns) {
      std::vector<size_t> plain_found, index_found, trie_found;
      for (size_t j = 0; j < ks.size(); ++j)
        if (pairs_with(o, ks[j], shared, forget, rules)) plain_found.push_back(j);
      index.for_each_partner(o, [&](size_t j) { index_found.push_back(j); });
      trie.for_each_partner(o, [&](size_t j) { trie_found.push_back(j); });
      ASSERT_EQ(index_found, plain_found) << "round " << round;
      ASSERT_EQ(trie_found, plain_found) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace tarnaxel
