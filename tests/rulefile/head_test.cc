#include "rulefile/head.h"

#include "tests/support.h"

namespace tarnaxel {
namespace {

TEST(Head, Lines) {
  const std::set<int> none;
  const std::set<int> some{1};
  EXPECT_EQ(build_rule_head("SN(=O)O", none), "q1,q2,q3,q4\nS,N,O\n1,2\n");
  EXPECT_EQ(build_rule_head("SN(=O)O", some), "q0,q1,q2,q3,q4\nS,N,O\n1,2\n");
  EXPECT_EQ(build_rule_head("c1ccccc1", none), "q1,q2,q3,q4,q5,q6,p1\nc\n1\n");
  EXPECT_EQ(build_rule_head("C%12CC2CC%12C2", none), "q1,q2,q3,q4,q5,q6,p2,p12\nC\n1\n");
  // ":" lists the aromatic bond type 4; the first atom still lists 1.
  EXPECT_EQ(build_rule_head("N:N", none), "q1,q2\nN\n1,4\n");
  EXPECT_EQ(build_rule_head("C(=O)C:C", none), "q1,q2,q3,q4\nC,O\n1,2,4\n");
  EXPECT_EQ(build_rule_head("[Si]C[Si]#N", none), "q1,q2,q3,q4\nSi,C,N\n1,3\n");
  EXPECT_EQ(build_rule_head("ClBrCB", none), "q1,q2,q3,q4\nCl,Br,C,B\n1\n");
}

TEST(Head, Refusals) {
  const std::set<int> none;
  EXPECT_EQ(test::refusal([&] { build_rule_head("C[Na", none); }), "Error:Can't find ']'.\n");
  EXPECT_EQ(test::refusal([&] { build_rule_head("C[Nabc]", none); }), "Error:Can't find ']'.\n");
  EXPECT_EQ(test::refusal([&] { build_rule_head("CX", none); }), "Error.\n");
  EXPECT_EQ(test::refusal([&] { build_rule_head("C%1234", none); }),
            "Error:%\x82\xcc\x8c\xe3\x82\xcc\x90\x94\x8e\x9a\x82\xaa\x91\xe5\x82\xab\x82\xb7\x82\xac\x82\xe9\x81\x42\n");
  EXPECT_NE(test::refusal([&] { build_rule_head("C%C", none); }), "");
}

}  // namespace
}  // namespace tarnaxel
