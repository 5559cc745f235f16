// Rule-file loader.  Each rule line is cut into its parts left to right; the
// first fault found ends the run with a message naming the 0-based character
// position where it was found and the whole line.
#include "rulefile/loader.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/fatal.h"
#include "rulefile/automaton.h"

namespace tarnaxel {
namespace {

// All refusals of the loader are written here.
[[noreturn]] void fail_at(const char* tag, size_t position, std::string_view line) {
  // The line is printed as a C string would be: up to its first NUL byte.
  std::string shown(line.substr(0, std::min(line.size(), line.find('\0'))));
  throw Fatal(Stream::out, std::string(tag) + "(" + std::to_string(position) + "):" + shown + "\n");
}

[[noreturn]] void fail_unregistered_state() {
  // "Error: automaton" + "there is an unregistered state" (CP932)
  fail(Stream::err,
       "Error: automaton\x82\xc9\x96\xa2\x93o\x98^\x82\xcc\x8f\xf3\x91\xd4\x82\xaa\x82\xa0\x82\xe8\x82"
       "\xdc\x82\xb7\x81" "B");
}

[[noreturn]] void fail_limit(const std::string& what) {
  fail(Stream::err, "Error: \"automaton.txt\" " + what + "\n");
}

bool blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void fill_table(NameTable& table, std::string_view line, const char* table_name) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  table.count = 0;
  size_t start = 0;
  for (;;) {
    size_t end = line.find(',', start);
    std::string_view name = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (table.count >= table.capacity)
      fail_limit("lists more than " + std::to_string(table.capacity) + " " + table_name + ".");
    if (name.size() >= static_cast<size_t>(kNameBytes))
      fail_limit("holds a name longer than 79 characters.");
    std::memcpy(table.names[table.count], name.data(), name.size());
    table.names[table.count][name.size()] = '\0';
    ++table.count;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

// atoi-like: leading blanks, a sign, digits; reports whether a digit was seen.
// The value is kept modulo 256, which is all an apply entry stores.
bool read_number(std::string_view s, size_t& pos, uint8_t& value) {
  while (pos < s.size() && blank(s[pos])) ++pos;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  unsigned v = 0;
  bool digits = false;
  while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
    v = (v * 10 + static_cast<unsigned>(s[pos] - '0')) & 0xFFu;
    ++pos;
    digits = true;
  }
  value = static_cast<uint8_t>(negative ? (0u - v) & 0xFFu : v);
  return digits;
}

// The left-hand side, "q1(C(1,*2))": state, atom label and child bond
// labels; returns the position after it.
size_t parse_left(std::string_view s, const Automaton& a, Rule& rule, uint8_t& aromatic_link) {
  const size_t len = s.size();
  // State name up to the first "(".
  size_t open = s.find('(');
  if (open == std::string_view::npos) fail_at("ERROR_state_l", len, s);
  rule.state = a.find_state(s.substr(0, open));
  if (rule.state == 0) fail_unregistered_state();
  size_t pos = open + 1;

  // Atom label up to "(" or ")".
  size_t sym_end = s.find_first_of("()", pos);
  if (sym_end == std::string_view::npos) fail_at("ERROR_sigma", len, s);
  rule.symbol = a.find_atom_label(s.substr(pos, sym_end - pos));
  pos = sym_end;

  int children = 0;
  int stars = 0;
  if (s[pos] == '(') {
    ++pos;
    for (;;) {
      size_t end = s.find_first_of(",)", pos);
      if (end == std::string_view::npos) fail_at("ERROR1_close", len, s);
      if (children >= kMaxChildren) fail_limit("holds a rule with more than 7 children.");
      std::string_view label = s.substr(pos, end - pos);
      int code;
      if (!label.empty() && label[0] == '@') {
        code = kWildcardLabel;
      } else if (!label.empty() && label[0] == '*') {
        code = a.find_bond_label(label.substr(1));
        if (label.substr(1) == "?") aromatic_link |= static_cast<uint8_t>(1u << children);
        ++stars;
      } else {
        code = a.find_bond_label(label);
        if (label == "?") aromatic_link |= static_cast<uint8_t>(1u << children);
      }
      rule.child_label[children++] = code;
      pos = end + 1;
      if (s[end] == ')') break;
    }
  }
  if (pos >= len || s[pos] != ')') fail_at("ERROR1_close", pos, s);
  rule.plain_count = children - stars;
  rule.star_count = stars;
  return pos + 1;
}

// The right-hand side from pos, "C(q2(1),q3(2))": the symbol, compared with
// the left one, and the children's states in left-hand order; returns the
// position after it.
size_t parse_right(std::string_view s, size_t pos, const Automaton& a, Rule& rule) {
  const size_t len = s.size();
  // Right-hand symbol, compared when "(", "[" or a line feed ends it.
  size_t rhs_end = s.find_first_of("([\n", pos);
  if (rhs_end != std::string_view::npos) {
    if (a.find_atom_label(s.substr(pos, rhs_end - pos)) != rule.symbol) fail_at("ERROR3_sigma", rhs_end, s);
    pos = rhs_end;
  } else {
    pos = len;
  }

  // Children: state name "(" bond label ")" each, in left-hand order.
  const int children = rule.plain_count + rule.star_count;
  if (children > 0) {
    if (pos >= len || s[pos] != '(') fail_at("ERROR4_open", pos, s);
    ++pos;
    for (int j = 0; j < children; ++j) {
      size_t state_end = s.find('(', pos);
      if (state_end == std::string_view::npos) fail_at("ERROR6_delta", len, s);
      rule.child_state[j] = a.find_state(s.substr(pos, state_end - pos));
      size_t label_end = s.find(')', state_end + 1);
      if (label_end == std::string_view::npos) fail_at("ERROR6_delta", len, s);
      std::string_view label = s.substr(state_end + 1, label_end - state_end - 1);
      bool same = rule.child_label[j] == kWildcardLabel ? (!label.empty() && label[0] == '@')
                                                         : a.find_bond_label(label) == rule.child_label[j];
      if (!same) fail_at("ERROR6_delta", label_end, s);
      pos = label_end + 1;
      char want = j + 1 == children ? ')' : ',';
      if (pos >= len || s[pos] != want) fail_at(want == ')' ? "ERROR7_close" : "ERROR8_comma", pos, s);
      ++pos;
    }
  }
  return pos;
}

// An apply pair "[2,5]" at pos, counted for the rule being loaded; returns
// the position after it.
size_t parse_apply(std::string_view s, size_t pos, Automaton& a) {
  const size_t len = s.size();
  size_t p = pos + 1;
  uint8_t first = 0, second = 0;
  bool ok = read_number(s, p, first) && p < len && s[p] == ',';
  if (ok) {
    ++p;
    ok = read_number(s, p, second) && p < len && s[p] == ']' && p + 1 < len;
  }
  if (!ok) fail_at("ERROR10_apply", len, s);
  if (a.apply_count >= kApplySlots) fail_limit("holds more than 1000 apply pairs.");
  a.apply_rule[a.apply_count] = static_cast<uint16_t>(a.rule_count + 1);
  a.apply_first[a.apply_count] = first;
  a.apply_second[a.apply_count] = second;
  ++a.apply_count;
  return p + 1;
}

void parse_rule_line(std::string_view s, Automaton& a, Rule& rule, uint8_t& aromatic_link) {
  const size_t len = s.size();
  size_t pos = parse_left(s, a, rule, aromatic_link);
  // Arrow, unless only blanks remain.
  while (pos < len && blank(s[pos])) ++pos;
  if (pos < len) {
    if (s.substr(pos, 2) != "->") fail_at("ERROR2_arrow", pos, s);
    pos += 2;
    while (pos < len && blank(s[pos])) ++pos;
  }
  pos = parse_right(s, pos, a, rule);
  while (pos < len && blank(s[pos])) ++pos;
  if (pos < len && s[pos] == '[') pos = parse_apply(s, pos, a);
  while (pos < len && blank(s[pos])) ++pos;
  if (pos < len) fail_at("ERROR9_eol", pos, s);
}

// Splits off the next line, line feed included; false at the end of text.
bool next_line(std::string_view text, size_t& at, std::string_view& line) {
  if (at >= text.size()) return false;
  size_t end = text.find('\n', at);
  end = end == std::string_view::npos ? text.size() : end + 1;
  line = text.substr(at, end - at);
  at = end;
  return true;
}

}  // namespace

std::unique_ptr<const Automaton> load_rules_from_text(std::string_view text) {
  auto a = std::make_unique<Automaton>();
  size_t at = 0;
  std::string_view line;
  NameTable* heads[3] = {&a->state_names, &a->atom_labels, &a->bond_labels};
  const char* names[3] = {"state names", "atom labels", "bond labels"};
  for (int i = 0; i < 3; ++i) {
    if (!next_line(text, at, line)) fail_limit("is shorter than three lines.");
    fill_table(*heads[i], line, names[i]);
  }
  a->short_atom_labels.build(a->atom_labels);
  a->short_bond_labels.build(a->bond_labels);
  while (next_line(text, at, line)) {
    if (a->rule_count + 1 >= kRuleSlots) fail_limit("holds more than 999 rule lines.");
    Rule& rule = a->rules[a->rule_count + 1];
    rule = Rule{};
    a->aromatic_link[a->rule_count + 1] = 0;
    parse_rule_line(line, *a, rule, a->aromatic_link[a->rule_count + 1]);
    ++a->rule_count;
  }
  return a;
}

std::unique_ptr<const Automaton> load_rules(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) fail_cannot_open(path);
  std::string text;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  return load_rules_from_text(text);
}

}  // namespace tarnaxel
