#include "matcher/matcher.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "driver/compile.h"
#include "matcher/plan.h"
#include "matcher/table.h"
#include "molecule/line_reader.h"
#include "molecule/sdf_record.h"
#include "rulefile/loader.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::sdf_record;

struct Outcome {
  int result;
  int width;
  double score;
  std::vector<int> edges;
};

// Compiles the pattern, loads it and matches one record.
Outcome match(const std::string& pattern, const std::string& record, MatchOptions options = {}) {
  std::string p = pattern;
  std::unique_ptr<const Automaton> automaton = load_rules_from_text(compile_pattern(p));
  Molecule m = test::molecule_of(*automaton, record);
  Matcher matcher(*automaton, SIZE_MAX);
  const MatchResult& r = matcher.match(options, m);
  return Outcome{r.result, r.width, r.score, r.match_edges};
}

MatchOptions with(bool span, bool ind, bool min) { return match_options(span, ind, min); }

const std::string kEthanol = test::ethanol();
const std::string kEthane = test::ethane();
const std::string kPropanol = test::propanol();

TEST(Matcher, WorkedExamples) {
  Outcome o = match("CCO", kEthanol);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.width, 1);
  EXPECT_EQ(o.score, 2.0);
  EXPECT_EQ(o.edges, (std::vector<int>{1, 3}));
  EXPECT_EQ(match("CCO", kEthane).result, 0);
  Outcome p = match("CCO", kPropanol);
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.edges, (std::vector<int>{3, 5}));
  EXPECT_EQ(match("CCO", kPropanol, with(true, false, false)).result, 0);
}

TEST(Matcher, EmptyMoleculeAndIsolatedAtoms) {
  Outcome none = match("CCO", sdf_record("empty", {}, {}));
  EXPECT_EQ(std::make_tuple(none.result, none.width, none.score), std::make_tuple(0, 0, 0.0));
  Outcome salt = match("CCO", sdf_record("salt", {"Na", "C", "C", "O"}, {{2, 3, 1}, {3, 4, 1}}));
  EXPECT_EQ(salt.result, 1);
  EXPECT_EQ(salt.score, 2.0);
}

TEST(Matcher, SpanNeedsEveryAtomInEveryComponent) {
  // Every atom of a complete graph C, O, C, N lies on the path C-N-C-O.
  std::string k4 = sdf_record("k4", {"C", "O", "C", "N"}, {{1, 2, 1}, {1, 3, 1}, {1, 4, 1}, {2, 3, 1}, {2, 4, 1}, {3, 4, 1}});
  Outcome o = match("CNCO", k4, with(true, false, false));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.score, 3.0);
  std::string two = sdf_record("two", {"C", "C", "O", "C", "C"}, {{1, 2, 1}, {2, 3, 1}, {4, 5, 1}});
  EXPECT_EQ(match("CCO", two).result, 1);
  EXPECT_EQ(match("CCO", two, with(true, false, false)).result, 0);
  EXPECT_EQ(match("CCO", sdf_record("na", {"C", "C", "O", "Na"}, {{1, 2, 1}, {2, 3, 1}}), with(true, false, false)).result, 0);
}

TEST(Matcher, IndAndMin) {
  Outcome o = match("CCO", kEthanol, with(false, true, true));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.score, 2.0);
  EXPECT_EQ(o.edges, (std::vector<int>{1, 3}));
  EXPECT_EQ(match("CCO", kPropanol, with(false, true, false)).result, 1);
  // The triangle has a bond between the first and last matched atom.
  std::string triangle = sdf_record("tri", {"C", "C", "O"}, {{1, 2, 1}, {2, 3, 1}, {3, 1, 1}});
  EXPECT_EQ(match("CCO", triangle).result, 1);
  EXPECT_EQ(match("CCO", triangle, with(false, true, false)).result, 0);
}

// Patterns of single atoms: the record is judged on its atom labels alone.
TEST(Matcher, SingleAtomPatternsDecideDirectly) {
  const std::string lone_c = sdf_record("c", {"C"}, {});
  const std::string salt = sdf_record("salt", {"C", "C", "O", "Na"}, {{1, 2, 1}, {2, 3, 1}});
  struct Case {
    const char* pattern;
    const std::string& record;
    bool span;
    int result;
    int width;
  };
  const Case cases[] = {
      {"C", kEthanol, false, 1, 1},     {"Cl", kEthanol, false, 0, 1},  {"{C|N}", kEthanol, false, 1, 1},
      {"{C|N}", kEthanol, true, 0, 1},  {"C", lone_c, true, 1, 0},      {"N", lone_c, true, 0, 0},
      {"[Na]", salt, false, 1, 1},      {"[Na]", salt, true, 0, 1},     {"C", sdf_record("e", {}, {}), true, 0, 0},
  };
  for (const Case& c : cases) {
    for (bool ind : {false, true}) {
      for (bool min : {false, true}) {
        Outcome o = match(c.pattern, c.record, with(c.span, ind, min));
        EXPECT_EQ(std::make_tuple(o.result, o.width, o.score, o.edges.size()),
                  std::make_tuple(c.result, c.width, 0.0, size_t{0}))
            << c.pattern << " span " << c.span << " ind " << ind << " min " << min;
      }
    }
  }
}

TEST(Matcher, BestScoreAndSmallestScore) {
  std::string chain = sdf_record("c5", {"C", "C", "C", "C", "C"}, {{1, 2, 1}, {2, 3, 1}, {3, 4, 1}, {4, 5, 1}});
  Outcome most = match("C{C}*C", chain);
  EXPECT_EQ(most.result, 1);
  EXPECT_EQ(most.score, 4.0);
  Outcome least = match("C{C}*C", chain, with(false, false, true));
  EXPECT_EQ(least.result, 1);
  EXPECT_EQ(least.score, 1.0);
}

TEST(Matcher, RingsAndWidth) {
  std::string benzene = sdf_record("benzene", {"C", "C", "C", "C", "C", "C"},
                                   {{1, 2, 2}, {2, 3, 1}, {3, 4, 2}, {4, 5, 1}, {5, 6, 2}, {6, 1, 1}});
  Outcome ring = match("C1=CC=CC=C1", benzene, with(true, false, false));
  EXPECT_EQ(ring.result, 1);
  EXPECT_EQ(ring.width, 2);
  EXPECT_EQ(ring.score, 6.0);
  EXPECT_EQ(match("C1CCCCC1", benzene).result, 0);
  // The complete graph on nine atoms is too wide.
  std::vector<std::string> atoms(9, "C");
  std::vector<test::BondSpec> bonds;
  for (int a = 1; a <= 9; ++a)
    for (int b = a + 1; b <= 9; ++b) bonds.push_back({a, b, 1});
  Outcome wide = match("CC", sdf_record("k9", atoms, bonds));
  EXPECT_EQ(std::make_tuple(wide.result, wide.width, wide.score), std::make_tuple(2, 8, 0.0));
  atoms.pop_back();
  bonds.clear();
  for (int a = 1; a <= 8; ++a)
    for (int b = a + 1; b <= 8; ++b) bonds.push_back({a, b, 1});
  Outcome seven = match("CC", sdf_record("k8", atoms, bonds));
  EXPECT_EQ(seven.width, 7);
  EXPECT_EQ(seven.result, 1);
}

// Removing the rules that cannot stand at an atom beforehand (rejecting the
// molecule when a state every match holds is left nowhere), and the pairs
// that can never finish, must leave every result as building the tables
// from every rule and pair: the code, width, score and match of real
// molecules, for patterns with rings, groups and repetitions, under every
// option set.
// The first count records of the benchmark corpus, and a 4 x 4 carbon grid,
// whose joins are large enough to sort a side into a trie.
std::vector<std::string> corpus_records(size_t count) {
  std::unique_ptr<LineReader> corpus = LineReader::open(std::string(TARNAXEL_SOURCE_DIR) + "/bench/corpus.sdf.gz");
  std::vector<std::string> records;
  while (corpus != nullptr && records.size() < count && corpus->begin_record()) {
    Molecule m;
    read_record(*corpus, Automaton(), 1, m, [](int, int) {});
    records.emplace_back(corpus->record());
  }
  records.push_back(test::grid_record(4, 4));
  return records;
}

TEST(Matcher, RemovingRulesChangesNoResult) {
  const std::vector<std::string> records = corpus_records(120);
  ASSERT_EQ(records.size(), 121u);
  std::vector<std::string> rule_texts;
  for (const char* pattern : {"CC(=O)O", "C1=CC=CC=C1C", "C(=O){N|O}C", "C{C}*O", "{C|N}{C|O}+", "C1CCNCC1",
                              "O=C{C|N|O}*", "C%10CC%10", "CCCCCCC", "C{C}*C"}) {
    std::string p = pattern;
    rule_texts.push_back(compile_pattern(p));
  }
  // Written by hand: the first state is also held as a child.
  rule_texts.push_back("q1,q2\nC\n1\nq1(C(1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q1(1))\nq2(C)\t\t->\tC\n");
  for (const std::string& pattern : rule_texts) {
    std::unique_ptr<const Automaton> automaton = load_rules_from_text(pattern);
    Matcher matcher(*automaton, SIZE_MAX);
    Matcher every_rule(*automaton, SIZE_MAX);
    MatchChecks checks;
    checks.every_rule = true;
    every_rule.set_checks(checks);
    for (unsigned bits = 0; bits < 8; ++bits) {
      for (const std::string& record : records) {
        Molecule m = test::molecule_of(*automaton, record);
        Outcome pruned{};
        Outcome every{};
        for (Outcome* o : {&pruned, &every}) {
          const MatchResult& r = (o == &every ? every_rule : matcher).match(with(bits & 1u, bits & 2u, bits & 4u), m);
          *o = Outcome{r.result, r.width, r.score, r.match_edges};
        }
        ASSERT_EQ(std::make_tuple(pruned.result, pruned.width, pruned.score, pruned.edges),
                  std::make_tuple(every.result, every.width, every.score, every.edges))
            << pattern << " options " << bits << "\n" << record;
      }
    }
  }
}

// The same configurations, scores, counters and bits, in the same order.
bool same_tables(const Table& a, const Table& b, int counter_count) {
  if (a.size() != b.size() || a.bit_length() != b.bit_length()) return false;
  const size_t words = (a.bit_length() + 63) / 64;
  for (size_t i = 0; i < a.size(); ++i) {
    const Table::Entry& x = a.entries()[i];
    const Table::Entry& y = b.entries()[i];
    if (x.item_count != y.item_count || x.matched != y.matched || std::memcmp(&x.score, &y.score, sizeof x.score) != 0 ||
        !std::equal(x.items, x.items + x.item_count, y.items) ||
        !std::equal(a.counters(x), a.counters(x) + counter_count, b.counters(y)) ||
        (words != 0 && !std::equal(a.bits(x).words, a.bits(x).words + words, b.bits(y).words)))
      return false;
  }
  return true;
}

// A bag of a kind met before takes a copy of the kind's kept table.  The
// results, and the most bytes the tables are charged with against the
// memory limit, match those of a matcher new to each record, which copies
// nothing; and with MatchChecks::same_table every table is made all the
// same and checked against the copy, which throws on a difference.  Every record is
// judged twice, the second time with its kinds met.
TEST(Matcher, KindsTellTheirTables) {
  const std::vector<std::string> records = corpus_records(150);
  for (const char* pattern : {"C1=CC=CC=C1C", "C{C}*O", "C(=O){N|O}C", "{C|N}{C|O}+"}) {
    std::string p = pattern;
    std::unique_ptr<const Automaton> automaton = load_rules_from_text(compile_pattern(p));
    Matcher kept(*automaton, SIZE_MAX);
    MatchChecks check_copies;
    check_copies.same_table = [&](const Table& a, const Table& b) { return same_tables(a, b, automaton->apply_count); };
    for (int pass = 0; pass < 2; ++pass) {
      for (unsigned bits = 0; bits < 8; ++bits) {
        MatchOptions options = with(bits & 1u, bits & 2u, bits & 4u);
        for (const std::string& record : records) {
          Molecule m = test::molecule_of(*automaton, record);
          Matcher fresh(*automaton, SIZE_MAX);
          const MatchResult& a = fresh.match(options, m);
          const MatchResult& b = kept.match(options, m);
          ASSERT_EQ(std::make_tuple(a.result, a.width, a.score, a.match_edges, a.table_peak),
                    std::make_tuple(b.result, b.width, b.score, b.match_edges, b.table_peak))
              << pattern << " options " << bits << " pass " << pass << "\n" << record;
          kept.set_checks(check_copies);
          kept.match(options, m);
          kept.set_checks(MatchChecks{});
        }
      }
    }
  }
}

// Two matchers on one automaton, on two threads at once, give what one
// matcher gives alone.
TEST(Matcher, TwoMatchersOnTwoThreads) {
  std::string p = "C{C|N}*O";
  std::unique_ptr<const Automaton> automaton = load_rules_from_text(compile_pattern(p));
  std::unique_ptr<LineReader> corpus = LineReader::open(std::string(TARNAXEL_SOURCE_DIR) + "/bench/corpus.sdf.gz");
  std::vector<Molecule> molecules;
  while (molecules.size() < 400 && corpus->begin_record()) {
    molecules.emplace_back();
    read_record(*corpus, *automaton, 1, molecules.back(), [](int, int) {});
  }
  auto judge_all = [&](std::vector<Outcome>& out) {
    Matcher matcher(*automaton, SIZE_MAX);
    for (const Molecule& m : molecules) {
      const MatchResult& r = matcher.match(with(false, true, false), m);
      out.push_back(Outcome{r.result, r.width, r.score, r.match_edges});
    }
  };
  std::vector<Outcome> alone, first, second;
  judge_all(alone);
  std::thread a([&] { judge_all(first); });
  std::thread b([&] { judge_all(second); });
  a.join();
  b.join();
  ASSERT_EQ(first.size(), alone.size());
  ASSERT_EQ(second.size(), alone.size());
  for (size_t i = 0; i < alone.size(); ++i) {
    auto key = [](const Outcome& o) { return std::make_tuple(o.result, o.width, o.score, o.edges); };
    EXPECT_EQ(key(first[i]), key(alone[i])) << i;
    EXPECT_EQ(key(second[i]), key(alone[i])) << i;
  }
}

}  // namespace
}  // namespace tarnaxel
