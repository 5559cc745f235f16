#include "pattern/parser.h"

#include "driver/compile.h"
#include "pattern/messages.h"
#include "pattern/preprocess.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::refusal;
namespace msg = pattern_message;

const Element& el(const Node* n) { return *n->chains.front().front(); }

std::string dump(const Element& e) {
  return std::string(e.label) + " b" + std::to_string(e.bond) + " s" + std::to_string(e.state) + " d" +
         std::to_string(e.depth) + " f" + std::to_string(e.first) + " l" + std::to_string(e.last) +
         std::to_string(e.last2) + " r" + std::to_string(e.repeat);
}

// The Elements along a graph without forks, in order.
std::vector<std::string> line_of(const Node* head) {
  std::vector<std::string> out;
  for (const Node* n = head; n; n = n->next.empty() ? nullptr : n->next.front()) out.push_back(dump(el(n)));
  return out;
}

TEST(Parser, SingleAtom) {
  PatternGraph g;
  Node* head = parse_pattern(g, "C");
  EXPECT_EQ(line_of(head), std::vector<std::string>{"C b0 s1 d0 f1 l11 r0"});
  EXPECT_TRUE(g.start_set.empty());
}

TEST(Parser, BranchShowsOnlyInElements) {
  PatternGraph g;
  EXPECT_EQ(line_of(parse_pattern(g, "CC(=O)O")),
            (std::vector<std::string>{"C b0 s1 d0 f1 l00 r0", "C b1 s2 d0 f0 l00 r0", "O b2 s3 d1 f1 l11 r0",
                                      "O b1 s4 d0 f0 l11 r0"}));
}

TEST(Parser, DepthDropsByOneAfterTwoOpenings) {
  PatternGraph g;
  std::vector<std::string> line = line_of(parse_pattern(g, "C((C))"));
  EXPECT_EQ(line[1], "C b1 s2 d1 f1 l11 r0");
}

TEST(Parser, RingBondNumbers) {
  PatternGraph g;
  EXPECT_EQ(line_of(parse_pattern(g, "C1CC1")),
            (std::vector<std::string>{"C b0 s1 d0 f1 l00 r0", " b1 s-1 d1 f1 l11 r0", "C b1 s2 d0 f0 l00 r0",
                                      "C b1 s3 d0 f0 l00 r0", " b-1 s-1 d1 f1 l11 r0"}));
  PatternGraph g2;
  EXPECT_EQ(line_of(parse_pattern(g2, "C%123C%123"))[1], " b1 s-123 d1 f1 l11 r0");
}

TEST(Parser, GroupsForkAndJoin) {
  PatternGraph g;
  Node* head = parse_pattern(g, "C{N|O}*C");
  ASSERT_EQ(head->next.size(), 3u);
  EXPECT_EQ(dump(el(head->next[0])), "N b1 s2 d0 f0 l00 r0");
  EXPECT_EQ(dump(el(head->next[1])), "O b1 s3 d0 f0 l00 r0");
  EXPECT_EQ(dump(el(head->next[2])), " b-1 s-1 d-1 f0 l00 r1");
  Node* last = head->next[0]->next.front();
  EXPECT_EQ(last->prev, (std::vector<Node*>{head->next[0], head->next[1], head->next[2]}));
  EXPECT_EQ(dump(el(last)), "C b1 s4 d0 f0 l11 r0");

  PatternGraph g2;
  Node* h2 = parse_pattern(g2, "{C|N}O");
  EXPECT_EQ(el(h2).depth, -1);
  EXPECT_EQ(g2.start_set, (std::set<int>{1, 2}));
}

TEST(Parser, EndWalkMarksLastAtoms) {
  PatternGraph g;
  Node* head = parse_pattern(g, "C{N|O}");
  EXPECT_EQ(el(head->next[0]).last, 1);
  EXPECT_EQ(el(head->next[1]).last2, 1);
  EXPECT_EQ(el(head).last, 0);
  PatternGraph star;
  EXPECT_EQ(el(parse_pattern(star, "C{N|O}*")).last, 1);
  PatternGraph plus;
  EXPECT_EQ(el(parse_pattern(plus, "C{N|O}+")).last, 0);
}

TEST(Parser, EmptyAlternativeIsAPlaceholder) {
  PatternGraph g;
  Node* head = parse_pattern(g, "C{N|}C");
  ASSERT_EQ(head->next.size(), 2u);
  EXPECT_EQ(el(head->next[1]).depth, -1);
  EXPECT_EQ(head->next[1]->next.front(), head->next[0]->next.front());
}

TEST(Parser, BracketAtoms) {
  PatternGraph g;
  EXPECT_STREQ(el(parse_pattern(g, "C[Na]C")->next[0]).label, "Na");
}

TEST(Parser, Refusals) {
  const std::pair<const char*, const char*> cases[] = {
      {"C%1234C", msg::kRingNumberTooLarge}, {"C[Na", msg::kNoCloseBracket}, {"C[]C", msg::kNoCloseBracket},
      {"C[Naaa]C", msg::kNoCloseBracket},    {"CXC", msg::kNoMatch},         {"C{N1|O}C", msg::kRingsDiffer},
      {"C[Nax]C", msg::kLongBracketAtom},    {"C%C", msg::kNoRingDigits},    {"C=", msg::kNoMatch},
  };
  for (const auto& [pattern, message] : cases) {
    PatternGraph g;
    EXPECT_EQ(refusal([&] { parse_pattern(g, pattern); }), std::string(message) + "\n") << pattern;
  }
}

// A ring-bond number left open, or closed with a bond other than the one
// written where it opened; the first fault from the left wins.
TEST(Parser, RingBondRefusals) {
  const std::pair<const char*, std::string> cases[] = {
      {"C1CC", msg::ring_never_closed(1)},         {"CC1", msg::ring_never_closed(1)},
      {"C1CC2C1", msg::ring_never_closed(2)},      {"C0=CC1", msg::ring_never_closed(0)},
      {"C%12CC%12C%7C", msg::ring_never_closed(7)}, {"C=1CCC#1", msg::ring_closed_with_another_bond(1)},
      {"C1C{C=1|N#1}", msg::ring_closed_with_another_bond(1)},
      {"C=1CC#1X", msg::ring_closed_with_another_bond(1)}, {"C1CCX", msg::kNoMatch},
  };
  for (const auto& [pattern, message] : cases) {
    PatternGraph g;
    EXPECT_EQ(refusal([&] { parse_pattern(g, pattern); }), message + "\n") << pattern;
  }
}

// A bond written at the closing digit is the ring bond's, as chemists write
// it: the rules are those of the same bond written at the opening digit.
TEST(Parser, BondAtTheClosingDigit) {
  const std::pair<std::string, std::string> same[] = {
      {"C1CCCCC=1", "C=1CCCCC1"},         {"C=1CCCCC=1", "C=1CCCCC1"},
      {"C1:C:C:C:C:C:1", "C:1:C:C:C:C:C1"}, {"C1C{C=1|N1}", "C=1C{C1|N1}"},
      {"C1CC{C|N}C#1", "C#1CC{C|N}C1"},
  };
  for (auto [closing, opening] : same) {
    const std::string text = closing;
    EXPECT_EQ(compile_pattern(closing), compile_pattern(opening)) << text;
  }
}

}  // namespace
}  // namespace tarnaxel
