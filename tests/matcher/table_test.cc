#include "matcher/table.h"

#include <map>
#include <random>
#include <tuple>

#include "molecule/sdf_record.h"
#include "matcher/matcher.h"
#include "rulefile/loader.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

ConfigKey key_with(uint16_t atom, int rule) {
  ConfigKey key;
  key.item_count = 1;
  key.items[0] = Item{atom, static_cast<uint16_t>(rule), 0, atom};
  return key;
}

// Whether bond bit 0 of the only configuration of a sealed table is set.
bool first_bit(const Table& table) { return bit(table.bits(table.entries().front()).words, 0); }

TEST(Table, EqualKeysKeepTheFirstUnlessStrictlyBetter) {
  const uint64_t one = 1;
  const uint64_t none = 0;
  for (bool min : {false, true}) {
    ConfigStore store(0, min);
    auto stored = [&](std::vector<std::pair<uint64_t, double>> configs) {
      Table table;
      store.start(table, 1);
      for (auto [word, score] : configs) store.store(table, key_with(1, 1), BitsRef{&word, 1}, BitsRef{}, score);
      store.seal(table);
      EXPECT_EQ(table.size(), 1u);
      return first_bit(table);
    };
    const double better = min ? 1.0 : 3.0;
    const double worse = min ? 5.0 : 0.0;
    EXPECT_TRUE(stored({{one, 2.0}, {none, 2.0}})) << min;
    EXPECT_FALSE(stored({{one, 2.0}, {none, 2.0}, {none, better}})) << min;
    EXPECT_FALSE(stored({{one, 2.0}, {none, better}, {one, worse}, {one, better}})) << min;
    EXPECT_TRUE(stored({{one, worse}, {none, worse}, {none, 2.0}, {one, better}, {none, better}})) << min;
  }
}

// A table that grows keeps, of each key, the first configuration among
// those with the best score, whatever the order and however many repeat:
// checked against a plain map over many keys with counters and bits of two
// words.
TEST(Table, LargeTablesKeepTheFirstBestOfEachKey) {
  for (bool min : {false, true}) {
    ConfigStore store(2, min);
    Table table;
    store.start(table, 100);
    std::map<std::tuple<int, int, int>, std::pair<double, uint64_t>> expected;
    std::mt19937 random(7);
    for (uint64_t n = 1; n <= 20000; ++n) {
      const int atom = 1 + static_cast<int>(random() % 60);
      const int rule = 1 + static_cast<int>(random() % 20);
      const uint8_t counters[2] = {static_cast<uint8_t>(random() % 3), 0};
      const double score = static_cast<double>(random() % 5);
      ConfigKey key = key_with(atom, rule);
      key.counters = counters;
      const uint64_t bits[2] = {n, n * 3};
      store.store(table, key, BitsRef{bits, 64}, BitsRef{bits + 1, 36}, score);
      auto [at, fresh] = expected.try_emplace({atom, rule, counters[0]}, score, n);
      if (!fresh && (min ? score < at->second.first : score > at->second.first)) at->second = {score, n};
    }
    store.seal(table);
    ASSERT_EQ(table.size(), expected.size());
    auto want = expected.begin();
    for (const Table::Entry& e : table.entries()) {
      const Item item = unpack(e.items[0]);
      EXPECT_EQ(std::make_tuple(item.atom, static_cast<int>(item.rule), static_cast<int>(table.counters(e)[0])),
                want->first);
      EXPECT_EQ(e.score, want->second.first);
      EXPECT_EQ(table.bits(e).words[0], want->second.second) << min;
      ++want;
    }
  }
}

TEST(Table, KeyOrderIsItemCountThenAtomRootRuleChildren) {
  ConfigStore store(0, false);
  Table table;
  store.start(table, 0);
  ConfigKey two;
  two.item_count = 2;
  two.items[0] = Item{1, 1, 0, 1};
  two.items[1] = Item{2, 1, 0, 1};
  store.store(table, two, BitsRef{}, BitsRef{}, 0.0);
  store.store(table, key_with(3, 1), BitsRef{}, BitsRef{}, 0.0);
  store.store(table, key_with(2, 9), BitsRef{}, BitsRef{}, 0.0);
  store.store(table, key_with(2, 1), BitsRef{}, BitsRef{}, 0.0);
  ConfigKey root_first = key_with(2, 1);
  root_first.items[0].root = 0;
  root_first.items[0].used_children = 7;
  store.store(table, root_first, BitsRef{}, BitsRef{}, 0.0);
  store.seal(table);
  std::vector<std::pair<int, int>> seen;
  for (const Table::Entry& e : table.entries()) {
    Item first = unpack(e.items[0]);
    seen.push_back({e.item_count, first.atom * 1000 + first.root * 100 + first.rule});
  }
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 2001}, {1, 2201}, {1, 2209}, {1, 3301}, {2, 1101}}));
}

TEST(Table, BondsOfBothSidesAreJoinedAcrossWords) {
  // 70 bits on the first side (bits 0 and 69 set), 100 on the second (bits
  // 0, 63 and 99 set): the second side starts at bit 70.
  uint64_t first[2] = {1u, uint64_t{1} << 5 | uint64_t{1} << 40};  // bit 104 lies beyond the 70 bits
  uint64_t second[2] = {1u | uint64_t{1} << 63, uint64_t{1} << 35};
  ConfigStore store(0, false);
  Table table;
  store.start(table, 170);
  store.store(table, key_with(1, 1), BitsRef{first, 70}, BitsRef{second, 100}, 0.0);
  store.seal(table);
  const uint64_t* words = table.bits(table.entries().front()).words;
  std::vector<int> set;
  for (int i = 0; i < 170; ++i)
    if (bit(words, static_cast<size_t>(i))) set.push_back(i);
  EXPECT_EQ(set, (std::vector<int>{0, 69, 70, 133, 169}));
}

TEST(Table, MemoryLimitIsChargedAndReleased) {
  ConfigStore store(0, false, 1u << 16);
  Table table;
  store.start(table, 1);
  for (int atom = 1; atom <= 5; ++atom) store.store(table, key_with(atom, 1), BitsRef{}, BitsRef{}, 0.0);
  store.seal(table);
  EXPECT_GT(store.live_bytes(), 0u);
  store.release(table);
  EXPECT_EQ(store.live_bytes(), 0u);
  Table big;
  store.start(big, 1);
  EXPECT_THROW(
      for (int atom = 1; atom <= 999; ++atom) store.store(big, key_with(atom, 1), BitsRef{}, BitsRef{}, 0.0),
      TableLimitExceeded);
  EXPECT_LT(big.size(), 999u);
}

// Matches a record against a hand-written automaton.
int match_with(const std::string& automaton, const std::string& record, double* score = nullptr) {
  std::unique_ptr<const Automaton> loaded = load_rules_from_text(automaton);
  Molecule m = test::molecule_of(*loaded, record);
  Matcher matcher(*loaded, SIZE_MAX);
  const MatchResult& r = matcher.match(MatchOptions{}, m);
  if (score) *score = r.score;
  return r.result;
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
