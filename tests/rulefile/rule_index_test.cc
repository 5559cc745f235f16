#include "rulefile/rule_index.h"

#include <memory>
#include <string>

#include "driver/compile.h"
#include "rulefile/loader.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

// The states whose rules carry a bit of their own (in once_bit, or with
// needed in needed_bit), in rule order, each once.
std::string states_marked(const Automaton& a, bool needed = false) {
  const std::vector<uint64_t>& bits = needed ? a.index->needed_bit : a.index->once_bit;
  std::string names;
  uint64_t seen = 0;
  for (int r = 1; r <= a.rule_count; ++r) {
    const uint64_t bit = bits[static_cast<size_t>(r)];
    if (bit == 0 || (seen & bit) != 0) continue;
    seen |= bit;
    names += std::string(names.empty() ? "" : " ") + a.state_names.names[a.rules[r].state - 1];
  }
  return names;
}

// A state stands once in a match when every tree the rules allow holds it at
// most once: not repeated, not a child twice, not below a starred child.
TEST(RuleIndex, StatesHeldOnce) {
  const struct {
    const char* pattern;
    const char* once;
  } patterns[] = {
      {"CCO", "q1 q2 q3"},
      {"C1CCCCC1", "q1 q2 q3 q4 q5 q6"},
      {"C{C}*C", "q1 q3"},      // the end of a repeated chain stands once
      {"C{C|N}+O", "q1 q4"},
      {"C{C(O)}*N", "q1 q4"},   // a branch of a repeated unit does not
      {"CC(C)(C)C", "q1 q2 q3 q4 q5"},
  };
  for (const auto& c : patterns) {
    std::string p = c.pattern;
    EXPECT_EQ(states_marked(*load_rules_from_text(compile_pattern(p))), c.once) << c.pattern;
  }
  const struct {
    const char* rules;
    const char* once;
  } written[] = {
      {"q1(C(1,1))\t->\tC(q2(1),q2(1))\nq2(C)\t\t->\tC\n", "q1"},           // a child twice
      {"q1(C(*1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q3(1))\nq3(C)\t\t->\tC\n", "q1"},  // below a starred child
      {"q1(C(1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q1(1))\n", ""},              // the first state again
      {"q1(C(1))\t->\tC(q2(1))\nq1(C(1))\t->\tC(q3(1))\nq2(C)\t\t->\tC\nq3(C)\t\t->\tC\n", "q1 q2 q3"},
  };
  for (const auto& c : written)
    EXPECT_EQ(states_marked(*load_rules_from_text(std::string("q1,q2,q3\nC\n1\n") + c.rules)), c.once) << c.rules;
}

// A state every match holds: the first state cannot finish a tree without
// it; alternatives, repetitions that may stop at once, starred children and
// ring closures do without.
TEST(RuleIndex, StatesEveryMatchHolds) {
  const struct {
    const char* pattern;
    const char* needed;
  } patterns[] = {
      {"CCO", "q1 q2 q3"},
      {"C{C}*O", "q1 q3"},
      {"C{C|N}+O", "q1 q4"},
      {"C1CCCCC1", "q1 q2 q3 q4 q5 q6"},
      {"C{O|N}", "q1"},
  };
  for (const auto& c : patterns) {
    std::string p = c.pattern;
    EXPECT_EQ(states_marked(*load_rules_from_text(compile_pattern(p)), true), c.needed) << c.pattern;
  }
  std::string starred = "q1,q2,q3\nC\n1\nq1(C(1,*1))\t->\tC(q2(1),q3(1))\nq2(C)\t\t->\tC\nq3(C)\t\t->\tC\n";
  EXPECT_EQ(states_marked(*load_rules_from_text(starred), true), "q1 q2");
}

}  // namespace
}  // namespace tarnaxel
