#include "matcher/table.h"

#include "driver/sdf_record.h"
#include "matcher/matcher.h"
#include "rulefile/loader.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

ConfigKey key_with(int atom, int rule) {
  ConfigKey key;
  key.item_count = 1;
  key.items[0] = Item{atom, static_cast<uint16_t>(rule), 0, atom};
  return key;
}

TEST(Table, EqualKeysKeepTheFirstUnlessStrictlyBetter) {
  Bits one = zero_bits(1);
  one[0] = 1;
  Bits none = zero_bits(1);
  for (bool min : {false, true}) {
    ConfigStore store(0, min);
    Table table;
    store.store(table, key_with(1, 1), &one, 1, nullptr, 0, 2.0);
    store.store(table, key_with(1, 1), &none, 1, nullptr, 0, 2.0);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_TRUE(bit(table.begin()->second.used_edges, 0)) << min;
    store.store(table, key_with(1, 1), &none, 1, nullptr, 0, min ? 1.0 : 3.0);
    EXPECT_FALSE(bit(table.begin()->second.used_edges, 0)) << min;
    store.store(table, key_with(1, 1), &one, 1, nullptr, 0, min ? 5.0 : 0.0);
    EXPECT_FALSE(bit(table.begin()->second.used_edges, 0)) << min;
  }
}

TEST(Table, KeyOrderIsItemCountThenAtomRootRuleChildren) {
  ConfigStore store(0, false);
  Table table;
  ConfigKey two;
  two.item_count = 2;
  two.items[0] = Item{1, 1, 0, 1};
  two.items[1] = Item{2, 1, 0, 1};
  store.store(table, two, nullptr, 0, nullptr, 0, 0.0);
  store.store(table, key_with(3, 1), nullptr, 0, nullptr, 0, 0.0);
  store.store(table, key_with(2, 9), nullptr, 0, nullptr, 0, 0.0);
  store.store(table, key_with(2, 1), nullptr, 0, nullptr, 0, 0.0);
  std::vector<std::pair<int, int>> seen;
  for (const auto& entry : table) {
    Config c = decode(entry, 0);
    seen.push_back({c.item_count, c.items[0].atom * 100 + c.items[0].rule});
  }
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 201}, {1, 209}, {1, 301}, {2, 101}}));
}

TEST(Table, MemoryLimitIsChargedAndReleased) {
  ConfigStore store(0, false, 2000);
  Table table;
  for (int atom = 1; atom <= 5; ++atom) store.store(table, key_with(atom, 1), nullptr, 0, nullptr, 0, 0.0);
  // Replacing a configuration by a better one costs nothing more.
  const size_t charged = store.live_bytes();
  store.store(table, key_with(5, 1), nullptr, 0, nullptr, 0, 1.0);
  EXPECT_EQ(store.live_bytes(), charged);
  store.release(table);
  EXPECT_EQ(store.live_bytes(), 0u);
  Table big;
  EXPECT_THROW(
      for (int atom = 1; atom <= 100; ++atom) store.store(big, key_with(atom, 1), nullptr, 0, nullptr, 0, 0.0),
      TableLimitExceeded);
  EXPECT_LT(big.size(), 20u);
}

// Matches a record against a hand-written automaton.
int match_with(const std::string& automaton, const std::string& record, double* score = nullptr) {
  load_rules_from_text(automaton);
  Molecule m = test::molecule_of(record);
  std::vector<int> edges(m.edge_count / 2 + 1, 0);
  int count = 0;
  double s = 0;
  int width = 0;
  int result = run_matcher(MatchOptions{}, m, edges, count, s, width);
  if (score) *score = s;
  return result;
}

TEST(Leaves, StarredChildrenMatchAnyNumberOfBonds) {
  // An N whose starred children are O atoms, under the start state q1.
  const std::string automaton = "q1,q2\nN,O\n1\nq1(N(*1))\t->\tN(q2(1))\nq2(O)\t\t->\tO\n";
  double score = 0;
  std::string three = test::sdf_record("no3", {"N", "O", "O", "O"}, {{1, 2, 1}, {1, 3, 1}, {1, 4, 1}});
  EXPECT_EQ(match_with(automaton, three, &score), 1);
  EXPECT_EQ(score, 3.0);
}

TEST(Leaves, ApplyBoundsLimitHowOftenARuleIsUsed) {
  // Chains of C: rule 2 (a C inside the chain) may be used 2 or 3 times.
  const std::string automaton =
      "q1,q2,q3\nC\n1\nq1(C(1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q2(1))[2,3]\nq2(C(1))\t->\tC(q3(1))\n"
      "q3(C)\t\t->\tC\n";
  auto chain = [](int atoms) {
    std::vector<std::string> a(static_cast<size_t>(atoms), "C");
    std::vector<test::BondSpec> b;
    for (int i = 1; i < atoms; ++i) b.push_back({i, i + 1, 1});
    return test::sdf_record("chain", a, b);
  };
  // A match must use rule 2 at least twice: five atoms in a row.
  EXPECT_EQ(match_with(automaton, chain(4)), 0);
  EXPECT_EQ(match_with(automaton, chain(5)), 1);
  EXPECT_EQ(match_with(automaton, chain(6)), 1);
}

}  // namespace
}  // namespace tarnaxel
