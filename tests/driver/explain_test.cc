// Every refusal of a pattern has its English line, naming the character
// where the pattern goes wrong when one can be named.
#include "driver/explain.h"

#include <gtest/gtest.h>

#include "common/fatal.h"
#include "driver/compile.h"
#include "rulefile/loader.h"

namespace tarnaxel {
namespace {

// The English line of the refusal the pattern gets ("" when it compiles).
std::string explained(const std::string& pattern) {
  std::string text = pattern;
  try {
    check_pattern_text(text);
    load_rules_from_text(compile_pattern(text));
  } catch (const Fatal& fatal) {
    return explain_pattern_refusal(pattern, fatal.bytes());
  }
  return "";
}

TEST(Explain, EveryRefusedPatternGetsItsLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "the pattern is empty: write at least one atom, e.g. CCO"},
      {"CX", "at character 2: 'X' starts no atom, bond or group"},
      {"C.C", "at character 2: '.' starts no atom, bond or group"},
      {"C|N", "at character 2: '|' stands outside every group"},
      {"*C", "at character 1: '*' repeats nothing: it must follow the '}' of a group"},
      {"CC+", "at character 3: '+' repeats nothing: it must follow the '}' of a group"},
      {"C0=CC1", "at character 2: ring-bond number 0 is opened here and never closed"},
      {"C1CC2C1", "at character 5: ring-bond number 2 is opened here and never closed"},
      {"C=1CC#1", "at character 7: ring-bond number 1 is closed with '#' but was opened with '='"},
      {"C(C", "at character 2: '(' is never closed"},
      {"CC)", "at character 3: ')' closes nothing"},
      {"C{C|N", "at character 2: '{' is never closed"},
      {"C}", "at character 2: '}' closes nothing"},
      {"(C)C", "at character 1: the pattern starts with '('"},
      {"C[Na", "at character 2: '[' holds no atom closed by ']'"},
      {"C[Naxx]", "at character 2: '[' holds no atom closed by ']'"},
      {"C%C", "at character 2: '%' is not followed by a ring-bond number"},
      {"C%1234C", "at character 2: '%' is followed by more than three digits"},
      {"C{N1|O}C", "at character 2: the alternatives of this group leave different rings open"},
      {"C{(N|O}C", "at character 2: the alternatives of this group end at different branch depths"},
      {"C(N{O|S}*)C", "at character 4: a repeated group holds a branch it does not close"},
      {"{C|N|O|S|P|F|Cl|Br|I}*{C|N|O|S|P|F|Cl|Br|I}*{C|N|O|S|P|F|Cl|Br|I}*{C|N|O|S|P|F|Cl|Br|I}*",
       "the pattern compiles to more than 999 rules, more than an automaton holds"},
      {"CCO", ""},
  };
  for (const auto& [pattern, line] : cases) EXPECT_EQ(explained(pattern), line) << pattern;
  EXPECT_EQ(explained(std::string(100, 'C')), "the pattern is longer than 99 characters");
}

}  // namespace
}  // namespace tarnaxel
