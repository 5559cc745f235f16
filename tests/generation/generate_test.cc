#include "driver/compile.h"
#include "generation/join.h"
#include "generation/messages.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

// The rule lines of "automaton.txt" for a pattern, head lines left out.
std::string rules_of(const std::string& pattern) {
  std::string p = pattern;
  std::string text = compile_pattern(p);
  size_t at = 0;
  for (int i = 0; i < 3; ++i) at = text.find('\n', at) + 1;
  return text.substr(at);
}

TEST(Generate, RuleSets) {
  const std::pair<const char*, const char*> cases[] = {
      {"CCO", "q1(C(1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q3(1))\nq3(O)\t\t->\tO\n"},
      {"cc", "q1(c(?))\t->\tc(q2(?))\nq2(c)\t\t->\tc\n"},
      {"cC", "q1(c(1))\t->\tc(q2(1))\nq2(C)\t\t->\tC\n"},
      {"{C|N}O",
       "q0(C(1))\t->\tC(q3(1))\nq0(N(1))\t->\tN(q3(1))\nq1(C(1))\t->\tC(q3(1))\nq2(N(1))\t->\tN(q3(1))\n"
       "q3(O)\t\t->\tO\n"},
      {"C1CC1", "q1(C(1,1))\t->\tC(p1(1),q2(1))\nq2(C(1))\t->\tC(q3(1))\nq3(C(@))\t->\tC(p1(@))\n"},
      {"C(O)N", "q1(C(1,1))\t->\tC(q2(1),q3(1))\nq2(O)\t\t->\tO\nq3(N)\t\t->\tN\n"},
      {"{CO}*", "q0(C(1))\t->\tC(q2(1))\nq1(C(1))\t->\tC(q2(1))\nq2(O(1))\t->\tO(q1(1))\nq2(O)\t\t->\tO\n"},
      // A lone atom is its own leaf rule; single-atom alternatives keep theirs.
      {"C", "q1(C)\t\t->\tC\n"},
      {"[Na]", "q1(Na)\t\t->\tNa\n"},
      {"{Cl|Br}", "q0(Br)\t\t->\tBr\nq0(Cl)\t\t->\tCl\nq1(Cl)\t\t->\tCl\nq2(Br)\t\t->\tBr\n"},
      {"C(O)", "q1(C(1))\t->\tC(q2(1))\nq2(O)\t\t->\tO\n"},
      {"C(C(O))N",
       "q1(C(1,1))\t->\tC(q2(1),q4(1))\nq2(C(1))\t->\tC(q3(1))\nq3(O)\t\t->\tO\nq4(N)\t\t->\tN\n"},
      {"c1ccccc1",
       "q1(c(?,?))\t->\tc(p1(?),q2(?))\nq2(c(?))\t->\tc(q3(?))\nq3(c(?))\t->\tc(q4(?))\n"
       "q4(c(?))\t->\tc(q5(?))\nq5(c(?))\t->\tc(q6(?))\nq6(c(@))\t->\tc(p1(@))\n"},
      // A group holding a repeated group is not itself repeated.
      {"C{S|C{N|O}*}C",
       "q1(C(1))\t->\tC(q2(1))\nq1(C(1))\t->\tC(q3(1))\nq2(S(1))\t->\tS(q6(1))\nq3(C(1))\t->\tC(q4(1))\n"
       "q3(C(1))\t->\tC(q5(1))\nq3(C(1))\t->\tC(q6(1))\nq4(N(1))\t->\tN(q4(1))\nq4(N(1))\t->\tN(q5(1))\n"
       "q4(N(1))\t->\tN(q6(1))\nq5(O(1))\t->\tO(q4(1))\nq5(O(1))\t->\tO(q5(1))\nq5(O(1))\t->\tO(q6(1))\n"
       "q6(C)\t\t->\tC\n"},
      // "+" needs one pass: the atom before the group cannot be skipped.
      {"C{N|O}+C",
       "q1(C(1))\t->\tC(q2(1))\nq1(C(1))\t->\tC(q3(1))\nq2(N(1))\t->\tN(q2(1))\nq2(N(1))\t->\tN(q3(1))\n"
       "q2(N(1))\t->\tN(q4(1))\nq3(O(1))\t->\tO(q2(1))\nq3(O(1))\t->\tO(q3(1))\nq3(O(1))\t->\tO(q4(1))\n"
       "q4(C)\t\t->\tC\n"},
  };
  for (const auto& [pattern, rules] : cases) EXPECT_EQ(rules_of(pattern), rules) << pattern;
}

TEST(Generate, LinesAreSortedAndUnique) {
  std::string p = "C{N|O}{N|O}C";
  std::string text = compile_pattern(p);
  std::vector<std::string> lines;
  size_t at = 0;
  for (int i = 0; i < 3; ++i) at = text.find('\n', at) + 1;
  while (at < text.size()) {
    size_t end = text.find('\n', at) + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  ASSERT_FALSE(lines.empty());
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_LT(lines[i - 1], lines[i]);
}

// Seam rows that whole patterns reach only in combination.
class JoinTest : public ::testing::Test {
 protected:
  Element* atom(const char* label, int state, int depth, int bond = 1, int first = 0, int last = 0) {
    Element e;
    std::snprintf(e.label, sizeof e.label, "%s", label);
    e.state = state;
    e.depth = depth;
    e.bond = bond;
    e.first = static_cast<uint8_t>(first);
    e.last = e.last2 = static_cast<uint8_t>(last);
    return graph.new_element(e);
  }
  Element* placeholder(int bond, int first, int last) { return atom("", -1, -1, bond, first, last); }

  PatternGraph graph;
  Generation gen{graph};
};

TEST_F(JoinTest, BondPlaceholderFoldsIntoTheNextAtom) {
  Element* c = atom("C", 1, 0, 0, 1);
  Chain a{c, placeholder(2, 0, 0)};
  Chain b{atom("O", 2, 0)};
  std::optional<Chain> joined = join_chains(gen, a, b, true);
  ASSERT_TRUE(joined);
  EXPECT_EQ(gen.text.lines(), std::vector<std::string>{"q1(C(2))\t->\tC(q2(2))\n"});
}

TEST_F(JoinTest, BranchClosePlaceholderEndsTheBranch) {
  Chain a{atom("C", 1, 0, 0, 1), atom("O", 2, 1, 1, 1)};
  Chain b{placeholder(-1, 0, 1)};
  EXPECT_FALSE(join_chains(gen, a, b, true));
  EXPECT_EQ(gen.text.lines(), std::vector<std::string>{"q2(O)\t\t->\tO\n"});
  Chain again{atom("C", 3, 0, 0, 1), atom("N", 4, 1, 1, 1, 1)};
  EXPECT_EQ(test::refusal([&] { join_chains(gen, again, b, true); }),
            std::string(generation_message::kDoubleClose) + "\n");
}

TEST_F(JoinTest, RingRuleOnlyAtTheEndOfThePattern) {
  Chain a{atom("c", 1, 0, 0, 1)};
  Chain b{atom("", -2, 1, 1, 1, 1)};
  join_chains(gen, a, b, true);
  EXPECT_TRUE(gen.text.lines().empty());
  join_chains(gen, a, b, false);
  EXPECT_EQ(gen.text.lines(), std::vector<std::string>{"q1(c(?))\t->\tc(p2(?))\n"});
}

TEST_F(JoinTest, BareRightSideMarksRepeat) {
  Element* c = atom("C", 1, 0, 0, 1);
  Chain a{c};
  Element* star = placeholder(-1, 0, 0);
  star->repeat = 1;
  std::optional<Chain> joined = join_chains(gen, a, Chain{star}, true);
  ASSERT_TRUE(joined);
  EXPECT_EQ(*joined, a);
  EXPECT_EQ(c->repeat, 1);
}

}  // namespace
}  // namespace tarnaxel
