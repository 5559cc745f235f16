#include "rulefile/head.h"

#include <array>
#include <cstring>
#include <vector>

#include "common/fatal.h"
#include "pattern/symbols.h"

namespace tarnaxel {
namespace {

constexpr const char* kCantFindBracket = "Error:Can't find ']'.";
constexpr const char* kNotAnAtom = "Error.";
// "Error:%" + "the number after it is too large" (CP932)
constexpr const char* kRingNumberTooLarge =
    "Error:%\x82\xcc\x8c\xe3\x82\xcc\x90\x94\x8e\x9a\x82\xaa\x91\xe5\x82\xab\x82\xb7\x82\xac\x82\xe9\x81" "B";
constexpr const char* kNoRingDigits = "Error: \"%\" must be followed by a ring-bond number.";
constexpr const char* kLongBracketAtom = "Error: a bracket atom holds one or two characters.";


}  // namespace

std::string build_rule_head(const std::string& s, const std::set<int>& start_set) {
  auto at = [&](size_t i) { return i < s.size() ? s[i] : '\0'; };
  int atoms = 0;
  std::vector<std::string> labels;
  std::array<bool, 1000> rings{};
  std::array<bool, 5> bonds{};

  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c != '\0' && std::strchr("()|{}_*+", c) != nullptr) {
      ++i;
      continue;
    }
    if (is_digit(c) || c == '%' || (bond_code(c) != 0 && (is_digit(at(i + 1)) || at(i + 1) == '%'))) {
      if (bond_code(c) != 0) {
        bonds[bond_code(c)] = true;
        ++i;
      } else {
        bonds[1] = true;
      }
      int number = 0;
      if (at(i) == '%') {
        ++i;
        int digits = 0;
        while (is_digit(at(i))) {
          if (++digits > 3) fail_line(kRingNumberTooLarge);
          number = number * 10 + (at(i) - '0');
          ++i;
        }
        if (digits == 0) fail_line(kNoRingDigits);
      } else {
        number = at(i) - '0';
        ++i;
      }
      rings[number] = true;
      continue;
    }
    if (bond_code(c) != 0) {
      bonds[bond_code(c)] = true;
      ++i;
    } else {
      bonds[1] = true;
    }
    c = at(i);
    if (c == '|' || c == '}') continue;
    std::string label;
    if (c == 'C' || c == 'B') {
      char second = c == 'C' ? 'l' : 'r';
      label = at(i + 1) == second ? std::string{c, second} : std::string{c};
      i += label.size();
    } else if (c != '\0' && std::strchr("NOPSFIcnpos", c) != nullptr) {
      label = std::string{c};
      ++i;
    } else if (c == '[') {
      size_t close = s.find(']', i + 1);
      if (close == std::string::npos || close == i + 1 || close - i - 1 > 3) fail_line(kCantFindBracket);
      if (close - i - 1 == 3) fail_line(kLongBracketAtom);
      label = s.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      fail_line(kNotAnAtom);
    }
    ++atoms;
    bool known = false;
    for (const std::string& l : labels) known = known || l == label;
    if (!known) labels.push_back(label);
  }

  std::string head;
  auto add = [&head](bool& separate, const std::string& name) {
    if (separate) head += ',';
    head += name;
    separate = true;
  };
  bool separate = false;
  if (!start_set.empty()) add(separate, "q0");
  for (int n = 1; n <= atoms; ++n) add(separate, std::string(1, 'q').append(std::to_string(n)));
  for (int k = 0; k < 1000; ++k)
    if (rings[k]) add(separate, std::string(1, 'p').append(std::to_string(k)));
  head += '\n';
  separate = false;
  for (const std::string& l : labels) add(separate, l);
  head += '\n';
  separate = false;
  for (int b = 1; b <= 4; ++b)
    if (bonds[b]) add(separate, std::to_string(b));
  head += '\n';
  return head;
}

}  // namespace tarnaxel
