#include "rulefile/loader.h"

#include "rulefile/automaton.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

const char* kHead = "q1,q2,q3,p1\nC,N,O\n1,2\n";

std::string load_error(const std::string& rules, Stream* stream = nullptr) {
  return test::refusal([&] { load_rules_from_text(kHead + rules); }, stream);
}

TEST(Loader, TablesAndRules) {
  std::unique_ptr<const Automaton> a = load_rules_from_text(std::string(kHead) + "q1(C(1))\t->\tC(q2(1))\nq3(O)\t\t->\tO\n");
  ASSERT_EQ(a->rule_count, 2);
  EXPECT_EQ(a->state_names.count, 4);
  EXPECT_EQ(a->find_state("p1"), 4);
  EXPECT_EQ(a->find_atom_label("O"), 3);
  EXPECT_EQ(a->find_atom_label("S"), 0);
  EXPECT_EQ(a->find_bond_label("2"), 2);
  EXPECT_EQ(a->rules[0].state, 1);
  EXPECT_EQ(a->rules[0].plain_count + a->rules[0].star_count, 0);
  EXPECT_EQ(a->rules[1].state, 1);
  EXPECT_EQ(a->rules[1].symbol, 1);
  EXPECT_EQ(a->rules[1].child_state[0], 2);
  EXPECT_EQ(a->rules[1].child_label[0], 1);
  EXPECT_EQ(a->rules[1].plain_count, 1);
  EXPECT_EQ(a->rules[2].plain_count, 0);
  EXPECT_EQ(a->rules[2].symbol, 3);
}

TEST(Loader, HeadLinesOnly) {
  std::unique_ptr<const Automaton> a = load_rules_from_text("q1\nC\n\n");
  EXPECT_EQ(a->rule_count, 0);
  EXPECT_EQ(a->bond_labels.count, 1);
  EXPECT_EQ(a->find_bond_label(""), 1);
}

TEST(Loader, WildcardAndStarredLabels) {
  std::unique_ptr<const Automaton> a = load_rules_from_text("q1,q2,q3\nN\n1,2\nq1(N(@,*2))\t->\tN(q2(@),q3(2))\n");
  ASSERT_EQ(a->rule_count, 1);
  EXPECT_EQ(a->rules[1].child_label[0], kWildcardLabel);
  EXPECT_EQ(a->rules[1].child_label[1], 2);
  EXPECT_EQ(a->rules[1].plain_count, 1);
  EXPECT_EQ(a->rules[1].star_count, 1);
  // A right-hand label beginning with "@" matches "@"; an unknown child
  // state loads as code 0.
  // Loaded beside the first: each keeps its own tables.
  std::unique_ptr<const Automaton> b = load_rules_from_text("q1\nN\n1\nq1(N(@))\t->\tN(q9(@x))\n");
  ASSERT_EQ(b->rule_count, 1);
  EXPECT_EQ(b->rules[1].child_state[0], 0);
  EXPECT_EQ(a->rules[1].child_state[0], 2);
}

TEST(Loader, ApplyPairs) {
  std::unique_ptr<const Automaton> a = load_rules_from_text(std::string(kHead) + "q3(O)\t\t->\tO[2,5]\n");
  ASSERT_EQ(a->rule_count, 1);
  ASSERT_EQ(a->apply_count, 1);
  EXPECT_EQ(a->apply_rule[0], 1);
  EXPECT_EQ(a->apply_first[0], 2);
  EXPECT_EQ(a->apply_second[0], 5);
  EXPECT_EQ(load_error("q3(O)\t\t->\tO[2,5]"), "ERROR10_apply(16):q3(O)\t\t->\tO[2,5]\n");
  EXPECT_EQ(load_error("q3(O)\t\t->\tO[2]\n"), "ERROR10_apply(15):q3(O)\t\t->\tO[2]\n\n");
}

TEST(Loader, MessagesWithPositions) {
  const std::pair<const char*, const char*> cases[] = {
      {"\n", "ERROR_state_l(1):\n\n"},
      {"q1(C\n", "ERROR_sigma(5):q1(C\n\n"},
      {"q1(C(1)\n", "ERROR1_close(7):q1(C(1)\n\n"},
      {"q1(C(1\n", "ERROR1_close(7):q1(C(1\n\n"},
      {"q1(C(1))\t=>\tC(q2(1))\n", "ERROR2_arrow(9):q1(C(1))\t=>\tC(q2(1))\n\n"},
      {"q3(N)\t\t->\tO\n", "ERROR3_sigma(11):q3(N)\t\t->\tO\n\n"},
      {"q1(C(1))\t->\tC\n", "ERROR4_open(13):q1(C(1))\t->\tC\n\n"},
      {"q1(C(1))\t->\tC(q2(2))\n", "ERROR6_delta(18):q1(C(1))\t->\tC(q2(2))\n\n"},
      {"q1(C(1))\t->\tC(q2(1),\n", "ERROR7_close(19):q1(C(1))\t->\tC(q2(1),\n\n"},
      {"q1(C(1,1))\t->\tC(q2(1))q3(1))\n", "ERROR8_comma(21):q1(C(1,1))\t->\tC(q2(1))q3(1))\n\n"},
      {"q3(O)\t\t->\tO x\n", "ERROR3_sigma(13):q3(O)\t\t->\tO x\n\n"},
      {"q1(C(1))\t->\tC(q2(1)) x\n", "ERROR9_eol(21):q1(C(1))\t->\tC(q2(1)) x\n\n"},
  };
  for (const auto& [line, message] : cases) {
    Stream stream = Stream::err;
    EXPECT_EQ(load_error(line, &stream), message) << line;
    EXPECT_EQ(stream, Stream::out);
  }
}

TEST(Loader, UnregisteredStateGoesToStandardError) {
  Stream stream = Stream::out;
  // The blank belongs to the state name.
  std::string message = load_error("q1 (C(1))\t->\tC(q2(1))\n", &stream);
  EXPECT_EQ(stream, Stream::err);
  EXPECT_EQ(message, "Error: automaton\x82\xc9\x96\xa2\x93o\x98^\x82\xcc\x8f\xf3\x91\xd4\x82\xaa\x82\xa0\x82\xe8\x82"
                     "\xdc\x82\xb7\x81\x42");
  // Looked up before any later fault of the line.
  EXPECT_EQ(load_error("q7(C\n", &stream), message);
}

TEST(Loader, Limits) {
  EXPECT_NE(test::refusal([] { load_rules_from_text("q1\nC\n"); }), "");
  std::string many(kHead);
  for (int i = 0; i < 1000; ++i) many += "q3(O)\t\t->\tO\n";
  EXPECT_NE(test::refusal([&] { load_rules_from_text(many); }), "");
  EXPECT_NE(load_error("q1(C(1,1,1,1,1,1,1,1))\t->\tC\n"), "");
  EXPECT_NE(test::refusal([] { load_rules_from_text(std::string(80, 'q') + "\nC\n1\n"); }), "");
}

}  // namespace
}  // namespace tarnaxel
