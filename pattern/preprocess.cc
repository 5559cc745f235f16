// Pattern preprocessing: the three text stages, right before parsing.
#include "pattern/preprocess.h"

#include <array>
#include <cctype>
#include <deque>

#include "common/fatal.h"
#include "pattern/messages.h"

namespace tarnaxel {
namespace {

namespace msg = pattern_message;

// A stage may lengthen the text; a result beyond the buffer is refused.  While
// a stage runs, the working copy is bounded far above that, so that no input
// can make it grow without end.
constexpr size_t kWorkingLimit = 1 << 16;

void check_fits(const std::string& s, size_t limit = kPatternLimit) {
  if (s.size() > limit) fail_line(msg::kTooLong);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
char at(const std::string& s, long i) { return i >= 0 && static_cast<size_t>(i) < s.size() ? s[i] : '\0'; }

void check_brace_balance(const std::string& s) {
  long count = 0;
  for (char c : s) {
    if (c == '{') ++count;
    if (c == '}' && --count < 0) fail_line(msg::kTooManyCloseBrace);
  }
  if (count > 0) fail_line(msg::kTooManyOpenBrace);
}

// Prefix pass: '={A|B}' -> '{=A|=B}', '({A|B}' -> '{(A|(B}'.
void push_prefixes(std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if ((c == '(' || c == '=' || c == '#' || c == ':') && at(s, i + 1) == '{') {
      s.erase(i, 1);
      int d = 0;
      for (size_t j = i; j < s.size(); ++j) {
        if (s[j] == '}' && d == 1) break;
        if (s[j] == '{') ++d;
        if (s[j] == '}') --d;
        if (d == 1 && (s[j] == '{' || s[j] == '|')) {
          s.insert(j + 1, 1, c);
          ++j;
        }
      }
      check_fits(s, kWorkingLimit);
      i = 0;
      continue;
    }
    ++i;
  }
}

// Walks down from the "}" at i and puts ")" in front of every "}" or "|" that
// ends an alternative of that group.
void close_alternatives(std::string& s, long i) {
  int f = 0;
  for (long j = i; j >= 0; --j) {
    if (s[j] == '{' && f == -1) break;
    if (s[j] == '{') ++f;
    if (s[j] == '}') --f;
    if (f == -1 && (s[j] == '}' || s[j] == '|')) s.insert(static_cast<size_t>(j), 1, ')');
  }
  check_fits(s, kWorkingLimit);
}

// Closing pass: '{A|B})' -> '{A)|B)}'.
void push_closings(std::string& s) {
  long i = static_cast<long>(s.size()) - 2;
  while (i >= 0) {
    if (s[i] == '}' && at(s, i + 1) == ')') {
      s.erase(i + 1, 1);
      close_alternatives(s, i);
      i = static_cast<long>(s.size()) - 2;
      continue;
    }
    --i;
  }
}

// Repeat closing pass: '{A|B}*)' -> '{A)|B)}*'.
void push_repeat_closings(std::string& s) {
  long i = static_cast<long>(s.size()) - 3;
  while (i >= 0) {
    if (s[i] == '}' && (at(s, i + 1) == '*' || at(s, i + 1) == '+') && at(s, i + 2) == ')') {
      s.erase(i + 2, 1);
      close_alternatives(s, i);
      i = static_cast<long>(s.size()) - 3;
      continue;
    }
    --i;
  }
}

// Ring-number pass: 'C(1N)' -> 'C1(N)'.
void move_ring_numbers(std::string& s) {
  size_t k = 0;
  while (k < s.size()) {
    if (s[k] == '(' && (is_digit(at(s, k + 1)) || at(s, k + 1) == '%')) {
      s.erase(k, 1);
      size_t m = k;
      while (m < s.size() && (is_digit(s[m]) || s[m] == '%')) ++m;
      s.insert(m, 1, '(');
      k = 0;
      continue;
    }
    ++k;
  }
}

// Empty-branch pass: 'C1()' -> 'C1'; '(())' -> '()'.
void drop_empty_branches(std::string& s) {
  for (size_t k = 0; k < s.size(); ++k)
    if (s[k] == '(' && at(s, k + 1) == ')') s.erase(k, 2);
}

// Check 1: every alternative starts at the depth of its "{", all alternatives
// of a group end at the same depth.
void check_branch_depths(const std::string& s) {
  std::array<int, 100> entry_depth;
  std::array<int, 100> first_depth;
  entry_depth.fill(-1);
  first_depth.fill(-1);
  int index = 0;
  int n = 0;
  for (char c : s) {
    if (c == '{') {
      if (++index >= 100) fail_line(msg::kNestedTooDeep);
      entry_depth[index] = n;
      first_depth[index] = -1;
    } else if (c == '(') {
      ++n;
    } else if (c == ')') {
      if (--n < 0) fail_line(msg::kTooManyClose);
    } else if (c == '|' || c == '}') {
      if (c == '}' && index == 0) fail_line(msg::kTooManyCloseBrace);
      if (first_depth[index] == -1) {
        if (c == '|') {
          first_depth[index] = n;
          n = entry_depth[index];
        } else {
          entry_depth[index] = -1;
          --index;
        }
      } else {
        if (n != first_depth[index]) fail_line(msg::kLevelsDiffer);
        if (c == '|') {
          n = entry_depth[index];
        } else {
          entry_depth[index] = first_depth[index] = -1;
          --index;
        }
      }
    }
  }
  if (n != 0) fail_line(msg::kTooManyOpen);
}

// Check 4: inside each alternative of a repeated group, the rightmost
// parenthesis is ")" and its "(" stands to its left in the same alternative.
void check_repeat_parens(const std::string& s) {
  std::deque<char> stack{'\0'};
  auto top = [&] { return stack.back(); };
  auto pop_until = [&](char want) {
    while (stack.size() > 1 && top() != want) stack.pop_back();
  };
  for (long i = static_cast<long>(s.size()) - 1; i >= 1; --i) {
    char c = s[i];
    if (c == '*' || c == '+') {
      stack.push_back('*');
    } else if (c == '}') {
      if (top() == '*') stack.push_back('}');
    } else if (c == ')') {
      if (top() == '}') stack.push_back(')');
    } else if (c == '(') {
      if (top() == '}') fail_line(msg::kParenInRepeat);
      if (top() == ')') stack.push_back('(');
    } else if (c == '|') {
      if (top() == '(') {
        pop_until('}');
      } else if (top() == ')') {
        fail_line(msg::kParenInRepeat);
      }
    } else if (c == '{') {
      if (top() == '(' || top() == '}') {
        pop_until('*');
        if (stack.size() > 1) stack.pop_back();
      } else if (top() == ')') {
        fail_line(msg::kParenInRepeat);
      }
    }
  }
}

}  // namespace

void prepare_pattern(std::string& s) {
  check_brace_balance(s);
  // While the text ends with a branch whose "(" stands outside every group
  // and is not the first character, unwrap that branch.
  while (!s.empty() && s.back() == ')') {
    long count = 0;
    long open = -1;
    for (long j = static_cast<long>(s.size()) - 1; j >= 0; --j) {
      if (s[j] == ')') ++count;
      if (s[j] == '(' && --count == 0) {
        open = j;
        break;
      }
    }
    if (open <= 0) return;
    int braces = 0;
    for (long j = 0; j < open; ++j) braces += s[j] == '{' ? 1 : s[j] == '}' ? -1 : 0;
    if (braces != 0) return;
    s.pop_back();
    s.erase(static_cast<size_t>(open), 1);
  }
}

void normalise_pattern(std::string& buffer) {
  std::string s = buffer;
  push_prefixes(s);
  push_closings(s);
  push_repeat_closings(s);
  move_ring_numbers(s);
  drop_empty_branches(s);
  check_fits(s);
  buffer = s;
}

void validate_pattern(const std::string& s) {
  check_branch_depths(s);
  if (!s.empty() && s[0] == '(') fail_line(msg::kStartsWithOpen);
  check_brace_balance(s);
  check_repeat_parens(s);
  if (s.empty()) fail_line(msg::kNoAtom);
}

namespace {

// Where the search left of a "{" stops: the "(" that opens the branch the
// group's first alternative closes, or a refusal.  counter holds the ")"
// count of the first alternative at level 0.
long find_branch_opening(const std::string& s, long i, std::array<int, 100>& counter) {
  bool open = false;
  size_t level = 0;
  long j = i - 1;
  for (;;) {
    char c = s[j];
    bool skip_test = false;
    if (c == ')') {
      ++counter[level];
      open = true;
    } else if (c == '(') {
      if (!open && level != 0) fail_line(msg::kSearchOpenBeyond);
      if (--counter[level] == 0) open = false;
    } else if (c == '{') {
      if (level == 0) fail_line(msg::kSearchBraceBefore);
      if (counter[level] != 0) fail_line(msg::kSearchUnequal);
      --level;
    } else if (c == '}') {
      if (++level >= counter.size()) fail_line(msg::kNestedTooDeep);
      counter[level] = 0;
    } else if (c == '|') {
      if (level == 0) fail_line(msg::kSearchBarBefore);
      skip_test = true;
    }
    if (!skip_test && level == 0 && counter[0] == 0) return j;
    if (j == 0) fail_line(msg::kBraceCount);
    --j;
  }
}

// Moves the branch opening s[j .. i) (i: the "{") into every alternative of
// the group.
void copy_into_alternatives(std::string& s, long j, long i) {
  std::string p = s.substr(static_cast<size_t>(j), static_cast<size_t>(i - j));
  s.erase(static_cast<size_t>(j), p.size());
  s.insert(static_cast<size_t>(j) + 1, p);
  size_t k = static_cast<size_t>(j) + 1 + p.size();
  int depth = 0;
  for (;;) {
    if (k >= s.size()) fail_line(msg::kWalkRanOut);
    char c = s[k];
    if (c == '}' && depth == 0) break;
    if (c == '|' && depth == 0) {
      s.insert(k + 1, p);
      k += p.size();
      check_fits(s, kWorkingLimit);
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      --depth;
    }
    ++k;
  }
}

}  // namespace

void rewrite_pattern(std::string& buffer, int& position) {
  std::string s = buffer;
  long i = position;
  std::array<int, 100> counter{};
  bool open = false;
  while (i >= 0) {
    if (s[i] == '{') break;
    if (s[i] == '}') {
      position = static_cast<int>(i) - 1;
      rewrite_pattern(buffer, position);
      i = position;
      s = buffer;
      if (i < 0) break;
    }
    if (s[i] == ')') {
      ++counter[0];
      open = true;
    } else if (s[i] == '(' && open) {
      if (--counter[0] == 0) open = false;
    } else if (s[i] == '|') {
      counter[0] = 0;
      open = false;
    }
    --i;
  }
  position = static_cast<int>(i);
  if (i - 1 >= 0 && open) {
    // The first alternative holds an unmatched ")": find the "(" that opens
    // this branch, left of the "{".
    const long j = find_branch_opening(s, i, counter);
    position = static_cast<int>(j);
    copy_into_alternatives(s, j, i);
  }
  check_fits(s);
  buffer = s;
}

void preprocess_pattern(std::string& buffer) {
  prepare_pattern(buffer);
  normalise_pattern(buffer);
  validate_pattern(buffer);
  int position = static_cast<int>(buffer.size()) - 1;
  rewrite_pattern(buffer, position);
}

}  // namespace tarnaxel
