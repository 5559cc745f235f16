#include "driver/compile.h"

#include <algorithm>

#include "generation/reduce.h"
#include "common/fatal.h"
#include "common/limits.h"
#include "pattern/messages.h"
#include "pattern/parser.h"
#include "pattern/preprocess.h"
#include "rulefile/head.h"

namespace tarnaxel {
namespace {

// "Error:Tarnaxel" + "please enter" (CP932)
constexpr const char* kEmptyPattern =
    "Error:Tarnaxel\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B";
constexpr const char* kPatternTooLong = "Error: the pattern is longer than 99 characters.";

}  // namespace

void check_pattern_text(const std::string& pattern) {
  if (pattern.size() > kMaxPatternLength) fail_line(kPatternTooLong);
  if (pattern.empty()) fail_line(kEmptyPattern);
}

std::string compile_pattern(std::string& pattern) {
  preprocess_pattern(pattern);
  PatternGraph graph;
  Node* head = parse_pattern(graph, pattern);
  std::string text = build_rule_head(pattern, graph.start_set);
  const bool stray_bar = graph.stray_bar;
  std::vector<std::string> lines = generate_rules(graph, head);
  if (stray_bar) fail_line(pattern_message::kBarOutsideGroup);
  // std::string compares as unsigned bytes, a proper prefix first.
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  for (const std::string& line : lines) text += line;
  return text;
}

}  // namespace tarnaxel
