#include "pattern/preprocess.h"

#include "pattern/messages.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::refusal;
namespace msg = pattern_message;

TEST(Preprocess, NormaliseExamples) {
  const std::pair<const char*, const char*> cases[] = {
      {"CC(=O)O", "CC(=O)O"},
      {"C={N|O}C", "C{=N|=O}C"},
      {"={A|B}", "{=A|=B}"},
      {"({A|B}", "{(A|(B}"},
      {"C#{N|O{S|P}}", "C{#N|#O{S|P}}"},
      {"{A|B})", "{A)|B)}"},
      {"{A|B}*)", "{A)|B)}*"},
      {"C({N|O})C", "C{(N)|(O)}C"},
      {"C(1CCCC1)", "C1(CCCC1)"},
      {"C(1N)", "C1(N)"},
      {"C(%12N)", "C%12(N)"},
      {"C(1)", "C1"},
      {"(())", "()"},
      {"C(N{O|S})C", "C(N{O)|S)}C"},
      {"C({O|S}*)C", "C{(O)|(S)}*C"},
  };
  for (const auto& [in, out] : cases) {
    std::string s = in;
    normalise_pattern(s);
    EXPECT_EQ(s, out) << in;
  }
}

TEST(Preprocess, RewriteMovesBranchOpeningIntoAlternatives) {
  const std::pair<const char*, const char*> cases[] = {
      {"C(N{O|S})C", "C{(NO)|(NS)}C"},
      {"CC(=O)O", "CC(=O)O"},
      {"C={N|O}C", "C{=N|=O}C"},
      {"C{N|O}(N{O|S})C", "C{N|O}{(NO)|(NS)}C"},
  };
  for (const auto& [in, out] : cases) {
    std::string s = in;
    preprocess_pattern(s);
    EXPECT_EQ(s, out) << in;
  }
}

TEST(Preprocess, TrailingBranchIsUnwrapped) {
  const std::pair<const char*, const char*> cases[] = {
      {"C(O)", "CO"},         {"C(O)(N)", "C(O)N"}, {"C(C(O))", "CCO"},
      {"C({N|O})", "C{N|O}"}, {"CC(=O)", "CC=O"},   {"C1CC1(O)", "C1CC1O"},
      {"{C(O)|N}", "{C(O)|N}"},
  };
  for (const auto& [in, out] : cases) {
    std::string s = in;
    prepare_pattern(s);
    EXPECT_EQ(s, out) << in;
  }
}

TEST(Preprocess, RefusalsInCheckOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"C(C", msg::kTooManyOpen},
      {"C)C", msg::kTooManyClose},
      {"C{(N|O}", msg::kLevelsDiffer},
      {"(C)C", msg::kStartsWithOpen},
      {"C}C{", msg::kTooManyCloseBrace},
      {"C{{C}", msg::kTooManyOpenBrace},
      {"C(N{O|S}*)C", msg::kParenInRepeat},
      {"()", msg::kNoAtom},
  };
  for (const auto& [in, message] : cases) {
    std::string s = in;
    Stream stream = Stream::err;
    EXPECT_EQ(refusal([&] { preprocess_pattern(s); }, &stream), std::string(message) + "\n") << in;
    EXPECT_EQ(stream, Stream::out) << in;
  }
}

TEST(Preprocess, ResultLongerThanTheBufferIsRefused) {
  // 99 characters that the prefix pass lengthens.
  std::string s = "={" + std::string(48, 'C') + "|" + std::string(47, 'C') + "}";
  ASSERT_EQ(s.size(), 99u);
  EXPECT_EQ(refusal([&] { preprocess_pattern(s); }), std::string(msg::kTooLong) + "\n");
}

TEST(Preprocess, MessagesAreShiftJisBytes) {
  // "Error：}が多い": ASCII "Error", the full-width colon 81 46, "}", then
  // "が" 82 aa, "多" 91 bd, "い" 82 a2.
  EXPECT_EQ(std::string(msg::kTooManyCloseBrace), "Error\x81\x46}\x82\xaa\x91\xbd\x82\xa2");
  EXPECT_EQ(std::string(msg::kTooManyClose), "Error:)\x82\xaa\x91\xbd\x82\xa2\x81\x42");
}

}  // namespace
}  // namespace tarnaxel
