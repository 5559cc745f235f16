// The matcher judged against the reference: on the worked examples, on every
// disagreement found so far, and on random patterns and small molecules
// under every option set the command line allows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "common/fatal.h"
#include "driver/compile.h"
#include "rulefile/loader.h"
#include "tests/reference/cases.h"
#include "tests/reference/reference.h"
#include "tests/support.h"

namespace tarnaxel::reference {
namespace {

std::unique_ptr<const Automaton> automaton_of(std::string pattern) {
  check_pattern_text(pattern);
  return load_rules_from_text(compile_pattern(pattern));
}

// The reference on the chains of the worked example of a match.
TEST(Reference, WorkedExamples) {
  const auto cco = automaton_of("CCO");
  struct Case {
    const char* molecule;
    unsigned options;
    int result;
    std::vector<int> edges;
  } cases[] = {
      {"C C O; 1-2 2-3", 0, 1, {1, 3}},
      {"C C; 1-2", 0, 0, {}},
      {"C C C O; 1-2 2-3 3-4", 0, 1, {3, 5}},
      {"C C C O; 1-2 2-3 3-4", 1, 0, {}},
  };
  for (const Case& c : cases) {
    const Molecule m = test::molecule_of(*cco, record_of(c.molecule));
    const Verdict v = judge(*cco, Options{(c.options & 1u) != 0, false, false}, m);
    EXPECT_EQ(v.result, c.result) << c.molecule;
    EXPECT_EQ(v.match_edges, c.edges) << c.molecule;
    EXPECT_EQ(v.score, static_cast<double>(c.edges.size())) << c.molecule;
  }
}

// Every disagreement the random cases or the fuzz target found: pattern and
// molecule, judged under every option set.
TEST(Reference, FoundDisagreements) {
  const struct {
    const char* pattern;
    const char* molecule;
  } cases[] = {
      {"C1CC{C|N}C1", "C C C C C; 1-2 2-3 3-4 4-5 5-1"},
      {"C1CC{C}*C1", "C C C C; 1-2 2-3 3-4 4-1"},
      {"N1{C|CC}CC1", "N C C C; 1-2 2-3 3-4 4-1"},
      {"N1{C|CC}CC1", "N C C C C; 1-2 2-3 3-4 4-5 5-1"},
      {"C1C{C|CC}N1", "C C C C N; 1-2 2-3 3-4 4-5 5-1"},
      {"C1{=C|-C}{=C|-C}{=C|-C}{=C|-C}{=C|-C}1", "C C C C C C; 1=2 2-3 3=4 4-5 5=6 6-1"},
      {"{C1=CC=CC=C1|C2=CC=NC=C2}Cl", "C C C N C C Cl; 1=2 2-3 3=4 4-5 5=6 6-1 1-7"},
      // Pairs bonded twice: one leaf takes both bonds' configurations.
      {"C=CO", "C C O; 1-2 1=2 2-3"},
      {"C1CC1", "C C C; 1-2 2-3 3-1 1=3"},
      {"C{C}*O", "C C C O; 1-2 2-1 2-3 3-4 4-3"},
  };
  for (const auto& c : cases) {
    const auto automaton = automaton_of(c.pattern);
    const std::string record = record_of(c.molecule);
    for (unsigned aromatic : {0u, kAromatic}) {
      const Molecule m = molecule_of(*automaton, record, aromatic != 0);
      for (unsigned bits : kOptionSets)
        EXPECT_EQ(compare(*automaton, m, bits | aromatic), "") << c.pattern << " on " << c.molecule;
    }
  }
}

// Random patterns, each on random molecules of up to 10 atoms, under all
// seven option sets.  TARNAXEL_RANDOM_PATTERNS and TARNAXEL_RANDOM_SEED
// widen a local run.
TEST(Reference, AgreesOnRandomCases) {
  const char* count = std::getenv("TARNAXEL_RANDOM_PATTERNS");
  const char* seed = std::getenv("TARNAXEL_RANDOM_SEED");
#ifdef TARNAXEL_SANITIZED
  int patterns = 150;
#else
  int patterns = 1000;
#endif
  if (count) patterns = std::atoi(count);
  std::mt19937 rng(seed ? static_cast<unsigned>(std::atoll(seed)) : 25u);
  int compiled = 0, judged = 0, too_large = 0, accepted = 0, accepted_aromatic = 0, failures = 0;
  for (int p = 0; p < patterns && failures < 10; ++p) {
    const std::string pattern = random_pattern(rng);
    std::unique_ptr<const Automaton> automaton;
    try {
      automaton = automaton_of(pattern);
    } catch (const Fatal&) {
      continue;
    }
    ++compiled;
    Matcher matcher(*automaton, default_table_memory_limit());
    for (int i = 0; i < 12 && failures < 10; ++i) {
      const std::string record = i % 2 ? random_molecule(rng, 10) : planted_molecule(rng, pattern, 12);
      const Molecule m = molecule_of(*automaton, record, false);
      const Molecule perceived = molecule_of(*automaton, record, true);
      for (unsigned aromatic : {0u, kAromatic})
        for (unsigned bits : kOptionSets) {
          const std::string differs = compare(matcher, *automaton, aromatic ? perceived : m, bits | aromatic);
          if (differs == kNotJudged) {
            ++too_large;
            continue;
          }
          ++judged;
          if (!differs.empty()) {
            ++failures;
            ADD_FAILURE() << "pattern " << pattern << differs << "\n" << record;
          }
        }
      accepted += judge(*automaton, Options{}, m).result == 1;
      accepted_aromatic += judge(*automaton, Options{false, false, false, true}, perceived).result == 1;
    }
  }
  // The generator must keep reaching both verdicts and most of its patterns.
  if (failures != 0) return;
  EXPECT_GT(compiled, patterns / 2);
  EXPECT_GT(accepted, compiled);
  EXPECT_GT(accepted_aromatic, compiled);
  EXPECT_LT(too_large, judged / 100);
  std::printf(
      "%d patterns compiled of %d, %d cases judged (%d too large for the reference), %d accepted without options "
      "(%d with --aromatic)\n",
      compiled, patterns, judged, too_large, accepted, accepted_aromatic);
}

}  // namespace
}  // namespace tarnaxel::reference
