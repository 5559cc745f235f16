#include "matcher/rule_index.h"

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
  const RuleIndex index(a);
  const std::vector<uint64_t>& bits = needed ? index.needed_bit : index.once_bit;
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
// most once: not repeated, not a child twice, not below a starred child.  A
// state is needed when the first state cannot finish a tree without it:
// alternatives, repetitions that may stop at once and starred children do
// without.
TEST(RuleIndex, StatesHeldOnceAndNeeded) {
  const struct {
    const char* pattern;
    const char* once;
    const char* needed;
  } patterns[] = {
      {"CCO", "q1 q2 q3", "q1 q2 q3"},
      {"C1CCCCC1", "q1 q2 q3 q4 q5 q6", "q1 q2 q3 q4 q5 q6"},
      {"C{C}*C", "q1 q3", "q1 q3"},  // the end of a repeated chain stands once
      {"C{C|N}+O", "q1 q4", "q1 q4"},
      {"C{C(O)}*N", "q1 q4", "q1 q4"},  // a branch of a repeated unit does not
      {"CC(C)(C)C", "q1 q2 q3 q4 q5", "q1 q2 q3 q4 q5"},
      {"C{O|N}", "q1 q2 q3", "q1"},
  };
  for (const auto& c : patterns) {
    std::string p = c.pattern;
    std::unique_ptr<const Automaton> a = load_rules_from_text(compile_pattern(p));
    EXPECT_EQ(states_marked(*a), c.once) << c.pattern;
    EXPECT_EQ(states_marked(*a, true), c.needed) << c.pattern;
  }
  const struct {
    const char* rules;
    const char* once;
    const char* needed;
  } written[] = {
      {"q1(C(1,1))\t->\tC(q2(1),q2(1))\nq2(C)\t\t->\tC\n", "q1", "q1 q2"},  // a child twice
      {"q1(C(*1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q3(1))\nq3(C)\t\t->\tC\n", "q1", "q1"},  // below a starred child
      {"q1(C(1,*1))\t->\tC(q2(1),q3(1))\nq2(C)\t\t->\tC\nq3(C)\t\t->\tC\n", "q1 q2", "q1 q2"},
      {"q1(C(1))\t->\tC(q2(1))\nq1(C(1))\t->\tC(q3(1))\nq2(C)\t\t->\tC\nq3(C)\t\t->\tC\n", "q1 q2 q3", "q1"},
      // The first state again: no tree ever finishes, so every state is needed.
      {"q1(C(1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q1(1))\n", "", "q1 q2"},
  };
  for (const auto& c : written) {
    std::unique_ptr<const Automaton> a = load_rules_from_text(std::string("q1,q2,q3\nC\n1\n") + c.rules);
    EXPECT_EQ(states_marked(*a), c.once) << c.rules;
    EXPECT_EQ(states_marked(*a, true), c.needed) << c.rules;
  }
}

}  // namespace
}  // namespace tarnaxel
