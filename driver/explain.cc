#include "driver/explain.h"

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "generation/messages.h"
#include "pattern/messages.h"

namespace tarnaxel {
namespace {

namespace msg = pattern_message;
namespace gen = generation_message;

// The message texts not kept in a header of their own.
constexpr const char* kEmptyPattern =
    "Error:Tarnaxel\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81"
    "B";
constexpr const char* kHeadNoBracket = "Error:Can't find ']'.";
constexpr const char* kHeadNotAnAtom = "Error.";

std::string at(size_t i, const std::string& what) { return "at character " + std::to_string(i + 1) + ": " + what; }
std::string quoted(char c) { return std::string("'") + c + "'"; }
bool digit(char c) { return c >= '0' && c <= '9'; }

// The first character that starts no atom, bond or group.
std::string unknown_character(const std::string& p) {
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '[') {
      const size_t close = p.find(']', i);
      if (close == std::string::npos) return at(i, "'[' is never closed by ']'");
      i = close;
    } else if ((p[i] == 'C' && i + 1 < p.size() && p[i + 1] == 'l') ||
               (p[i] == 'B' && i + 1 < p.size() && p[i + 1] == 'r')) {
      ++i;
    } else if (std::strchr("BCNOPSFIcnops()[]{}|*+-=#:%0123456789", p[i]) == nullptr || p[i] == '\0') {
      return at(i, quoted(p[i]) + " starts no atom, bond or group");
    }
  }
  return "";
}

// The first closer without its opener (closer) or the last opener never closed.
std::string unbalanced(const std::string& p, char open, char close, bool closer) {
  std::vector<size_t> where;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == open) {
      where.push_back(i);
    } else if (p[i] == close) {
      if (where.empty()) return closer ? at(i, quoted(close) + " closes nothing") : "";
      where.pop_back();
    }
  }
  if (!closer && !where.empty()) return at(where.back(), quoted(open) + " is never closed");
  return "";
}

std::string stray_repeat(const std::string& p) {
  for (size_t i = 0; i < p.size(); ++i)
    if ((p[i] == '*' || p[i] == '+') && (i == 0 || p[i - 1] != '}'))
      return at(i, quoted(p[i]) + " repeats nothing: it must follow the '}' of a group");
  return "";
}

std::string bar_outside(const std::string& p) {
  int depth = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    depth += p[i] == '{' ? 1 : p[i] == '}' ? -1 : 0;
    if (p[i] == '|' && depth <= 0) return at(i, "'|' stands outside every group");
  }
  return "";
}

std::string first_group(const std::string& p, const std::string& what) {
  const size_t open = p.find('{');
  return open == std::string::npos ? "" : at(open, what);
}

std::string percent(const std::string& p) {
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') continue;
    size_t digits = 0;
    while (i + 1 + digits < p.size() && digit(p[i + 1 + digits])) ++digits;
    if (digits == 0) return at(i, "'%' is not followed by a ring-bond number");
    if (digits > 3) return at(i, "'%' is followed by more than three digits");
  }
  return "";
}

std::string bracket(const std::string& p, bool too_long) {
  const size_t open = p.find('[');
  if (open == std::string::npos) return "";
  return at(open, too_long ? "'[' holds more than two characters" : "'[' holds no atom closed by ']'");
}

// Ring-bond numbers read left to right (alternatives as written): the
// closing digit whose bond differs from the opening one's (another_bond), or
// the opening digit of the smallest number left open.
std::string rings(const std::string& p, bool another_bond) {
  struct Open {
    size_t at;
    char bond;
  };
  std::map<int, Open> open;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '[') {
      const size_t close = p.find(']', i);
      if (close == std::string::npos) break;
      i = close;
      continue;
    }
    if (!digit(p[i]) && p[i] != '%') continue;
    const size_t start = i;
    const char bond = i > 0 && std::strchr("-=#:", p[i - 1]) != nullptr ? p[i - 1] : '\0';
    int number = 0;
    if (p[i] == '%') {
      while (i + 1 < p.size() && digit(p[i + 1])) number = number * 10 + (p[++i] - '0');
    } else {
      number = p[i] - '0';
    }
    auto found = open.find(number);
    if (found == open.end()) {
      open[number] = {start, bond};
      continue;
    }
    if (another_bond && bond != '\0' && found->second.bond != '\0' && bond != found->second.bond)
      return at(start, "ring-bond number " + std::to_string(number) + " is closed with " + quoted(bond) +
                           " but was opened with " + quoted(found->second.bond));
    if (found->second.bond == '\0') found->second.bond = bond;
    open.erase(found);
  }
  if (another_bond || open.empty()) return "";
  return at(open.begin()->second.at,
            "ring-bond number " + std::to_string(open.begin()->first) + " is opened here and never closed");
}

// The first character out of place in the text as given: a repetition
// mark after nothing, a '|' outside every group, a character that starts
// nothing, and with brackets also a bracket without its partner.
std::string misplaced(const std::string& p, bool brackets) {
  for (auto general : {stray_repeat, bar_outside, unknown_character}) {
    const std::string where = general(p);
    if (!where.empty()) return where;
  }
  if (!brackets) return "";
  for (const auto& [open, close] : {std::pair{'(', ')'}, std::pair{'{', '}'}})
    for (bool closer : {true, false}) {
      const std::string where = unbalanced(p, open, close, closer);
      if (!where.empty()) return where;
    }
  return "";
}

struct Known {
  const char* message;
  std::function<std::string(const std::string&)> where;  // "" when it cannot tell
  const char* otherwise;
};

const std::vector<Known>& known() {
  static const std::vector<Known> table = {
      {kEmptyPattern, nullptr, "the pattern is empty: write at least one atom, e.g. CCO"},
      {msg::kTooLong, nullptr, "the pattern is longer than 99 characters"},
      {msg::kNoMatch, unknown_character, "a character starts no atom, bond or group"},
      {kHeadNotAnAtom, unknown_character, "a character stands where an atom is expected"},
      {msg::kTooManyClose, [](const std::string& p) { return unbalanced(p, '(', ')', true); },
       "a ')' closes no branch"},
      {msg::kTooManyOpen, [](const std::string& p) { return unbalanced(p, '(', ')', false); }, "a '(' is never closed"},
      {msg::kTooManyCloseBrace, [](const std::string& p) { return unbalanced(p, '{', '}', true); },
       "a '}' closes no group"},
      {msg::kTooManyOpenBrace, [](const std::string& p) { return unbalanced(p, '{', '}', false); },
       "a '{' is never closed"},
      {msg::kStartsWithOpen, [](const std::string&) { return at(0, "the pattern starts with '('"); }, ""},
      {msg::kNoCloseBracket, [](const std::string& p) { return bracket(p, false); }, "'[' holds no atom closed by ']'"},
      {kHeadNoBracket, [](const std::string& p) { return bracket(p, false); }, "'[' holds no atom closed by ']'"},
      {msg::kLongBracketAtom, [](const std::string& p) { return bracket(p, true); },
       "'[' holds more than two characters"},
      {msg::kNoRingDigits, percent, "'%' is not followed by a ring-bond number"},
      {msg::kRingNumberTooLarge, percent, "'%' is followed by more than three digits"},
      {msg::kBarOutsideGroup, bar_outside, "'|' stands outside every group"},
      {msg::kLevelsDiffer,
       [](const std::string& p) {
         return first_group(p, "the alternatives of this group end at different branch depths");
       },
       "the alternatives of a group end at different branch depths"},
      {msg::kRingsDiffer,
       [](const std::string& p) { return first_group(p, "the alternatives of this group leave different rings open"); },
       "the alternatives of a group leave different rings open"},
      {msg::kParenInRepeat,
       [](const std::string& p) { return first_group(p, "a repeated group holds a branch it does not close"); },
       "a repeated group holds a branch it does not close"},
      {msg::kNestedTooDeep, nullptr, "groups are nested more than 99 deep"},
      {msg::kNoAtom, nullptr, "the pattern holds no atom"},
      {msg::kMallocError, nullptr, "the machine ran out of memory while reading the pattern"},
      {gen::kTooManyChains, nullptr, "the groups of the pattern give more than 2^20 alternative paths"},
      {gen::kDoubleClose, nullptr, "a repeated group ends a branch that is already closed ('))')"},
  };
  return table;
}

}  // namespace

std::string explain_pattern_refusal(const std::string& pattern, const std::string& message) {
  std::string m = message;
  while (!m.empty() && m.back() == '\n') m.pop_back();
  const std::string ring_prefix = "Error: ring-bond number ";
  if (m.rfind(ring_prefix, 0) == 0) {
    const bool another = m.find("closed with another bond") != std::string::npos;
    const std::string where = rings(pattern, another);
    if (!where.empty()) return where;
    return m.substr(7);
  }
  for (const Known& k : known()) {
    if (m != k.message) continue;
    if (k.where) {
      const std::string where = k.where(pattern);
      if (!where.empty()) return where;
    }
    // The check that spoke saw the pattern after its rewriting; what is
    // wrong shows in the text as given.
    const std::string where = misplaced(pattern, true);
    if (!where.empty()) return where;
    if (*k.otherwise != '\0') return k.otherwise;
    break;
  }
  // What the loader refuses of a compiled pattern.
  if (m.find("more than 999 rule lines") != std::string::npos)
    return "the pattern compiles to more than 999 rules, more than an automaton holds";
  if (m.rfind("Error: \"automaton.txt\" ", 0) == 0)
    return "the pattern compiles to an automaton beyond the loader's limits: it " +
           m.substr(std::strlen("Error: \"automaton.txt\" "));
  if (m.rfind("ERROR", 0) == 0) return "the pattern compiles to a rule line the loader cannot read";
  // The other refusals of the front end and of generation: the branches and
  // groups are arranged in a way the notation does not allow.
  std::string where = misplaced(pattern, false);
  if (!where.empty()) return where;
  where =
      first_group(pattern, "the branches and groups from here on are arranged in a way the notation does not allow");
  return where.empty() ? "in the pattern: its branches are arranged in a way the notation does not allow" : where;
}

std::string explain_record_refusal(const std::string& message) {
  std::string m = message;
  while (!m.empty() && (m.back() == '\n' || m.back() == '.')) m.pop_back();
  if (m.rfind("Error: ", 0) == 0) m.erase(0, 7);
  return m;
}

}  // namespace tarnaxel
