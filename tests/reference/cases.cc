// Random patterns and molecules, and the comparison of matcher and reference.
#include "tests/reference/cases.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "matcher/matcher.h"
#include "molecule/line_reader.h"
#include "molecule/sdf_record.h"
#include "tests/reference/reference.h"

namespace tarnaxel::reference {
namespace {

int pick(std::mt19937& rng, int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
bool chance(std::mt19937& rng, int percent) { return pick(rng, 100) < percent; }

class PatternMaker {
 public:
  PatternMaker(std::mt19937& rng, bool plain) : rng_(rng), plain_(plain) {}

  std::string make() {
    std::string s;
    if (!plain_ && chance(rng_, 15)) {
      s = group(0, false);
    } else {
      s = atom();
    }
    if (chance(rng_, 8)) return s;  // a single atom (or group of them)
    s += body(0, 1 + pick(rng_, 4), true);
    return s;
  }

 private:
  std::string atom() {
    static const char* const kAtoms[] = {"C", "C", "C", "C", "C", "C", "C", "N", "O", "S", "Cl", "c", "c", "n"};
    return kAtoms[pick(rng_, plain_ ? 11 : 14)];
  }
  std::string bond() {
    static const char* const kBonds[] = {"", "", "", "", "", "", "", "", "-", "=", "=", "=", "#", ":"};
    return kBonds[pick(rng_, plain_ ? 13 : 14)];
  }
  // A ring closed inside one stretch: "C1CC=1"-like with a fresh number.
  std::string ring(int size) {
    const int n = fresh();
    std::string s = atom() + std::to_string(n);
    for (int i = 1; i < size; ++i) s += bond() + atom();
    return s + closing_bond() + std::to_string(n);
  }
  std::string closing_bond() { return chance(rng_, 25) ? bond() : ""; }
  int fresh() { return next_ring_ < 9 ? next_ring_++ : 9; }

  // A group of alternatives; at the top (lead), each alternative starts
  // with an atom.
  std::string group(int depth, bool after) {
    std::string s = "{";
    const int alternatives = 2 + pick(rng_, depth == 0 ? 3 : 2) - (chance(rng_, 15) ? 1 : 0);
    for (int i = 0; i < alternatives; ++i) {
      if (i > 0) s += "|";
      s += alternative(depth, after);
    }
    s += "}";
    const int r = pick(rng_, 10);
    if (r < 3)
      s += "*";
    else if (r < 5)
      s += "+";
    return s;
  }
  std::string alternative(int depth, bool after) {
    const int kind = pick(rng_, 10);
    if (kind == 0 && after) return "";
    if (kind <= 2 && next_ring_ < 9) return (after ? bond() : "") + ring(3 + pick(rng_, 4));
    std::string s = (after ? bond() : "") + atom();
    const int more = pick(rng_, 3) - 1;
    for (int i = 0; i < more; ++i) {
      if (depth < 1 && chance(rng_, 20))
        s += group(depth + 1, true);
      else
        s += bond() + atom();
    }
    if (chance(rng_, 10)) s += "(" + bond() + atom() + ")" + bond() + atom();
    return s;
  }

  // Items after an atom; open rings are closed before the end.
  std::string body(int depth, int items, bool top) {
    std::string s;
    std::vector<int> open;
    for (int i = 0; i < items; ++i) {
      const int kind = pick(rng_, 10);
      if (kind < 3) {
        s += bond() + atom();
      } else if (kind < 5 && depth < 2) {
        s += "(" + bond() + atom() + body(depth + 1, pick(rng_, 3), false) + ")" + bond() + atom();
      } else if (kind < 7 && top && open.size() < 2 && next_ring_ < 9) {
        open.push_back(fresh());
        s += (chance(rng_, 20) ? bond() : "") + std::to_string(open.back());
        s += bond() + atom();
      } else if (!plain_ && depth == 0) {
        s += group(0, true) + bond() + atom();
      } else {
        s += bond() + atom();
      }
    }
    while (!open.empty()) {
      s += bond() + atom() + closing_bond() + std::to_string(open.back());
      open.pop_back();
    }
    return s;
  }

  std::mt19937& rng_;
  bool plain_;
  int next_ring_ = 1;
};

struct Graph {
  std::vector<std::string> atoms;
  std::vector<std::array<int, 3>> bonds;  // first, second, type (1-based atoms)
  bool has(int a, int b) const {
    return std::any_of(bonds.begin(), bonds.end(),
                       [&](const auto& k) { return (k[0] == a && k[1] == b) || (k[0] == b && k[1] == a); });
  }
};

std::string write(const Graph& g) {
  char line[128];
  std::string s = "random\n  tarnaxel reference\n\n";
  std::snprintf(line, sizeof line, "%3zu%3zu  0  0  0  0  0  0  0  0999 V2000\n", g.atoms.size(), g.bonds.size());
  s += line;
  for (const std::string& a : g.atoms) {
    std::snprintf(line, sizeof line, "    0.0000    0.0000    0.0000 %-3s 0  0  0  0  0  0  0  0  0  0  0  0\n",
                  a.c_str());
    s += line;
  }
  for (const auto& b : g.bonds) {
    std::snprintf(line, sizeof line, "%3d%3d%3d  0\n", b[0], b[1], b[2]);
    s += line;
  }
  return s + "M  END\n$$$$\n";
}

// One path through a pattern: each group replaced by one of its
// alternatives (a repeated group by 0 to 2 or 1 to 2 of them).
std::string one_path(std::mt19937& rng, std::string_view p, size_t& at, char until) {
  std::string out;
  while (at < p.size() && p[at] != until && !(until == '}' && p[at] == '|')) {
    if (p[at] != '{') {
      out += p[at++];
      continue;
    }
    std::vector<std::string> alternatives;
    ++at;
    for (;;) {
      alternatives.push_back(one_path(rng, p, at, '}'));
      if (at >= p.size() || p[at++] == '}') break;
    }
    int times = 1;
    if (at < p.size() && (p[at] == '*' || p[at] == '+')) times = p[at++] == '*' ? pick(rng, 3) : 1 + pick(rng, 2);
    for (int i = 0; i < times; ++i)
      out += alternatives[static_cast<size_t>(pick(rng, static_cast<int>(alternatives.size())))];
  }
  return out;
}

// The graph of a SMILES-like text without groups: atoms, bonds, branches,
// ring-bond digits.
Graph graph_of_path(const std::string& s) {
  Graph g;
  std::vector<int> stack;
  int previous = 0;
  int bond = 0;
  std::map<int, std::pair<int, int>> open;  // digit -> atom, bond
  auto type_of = [](char c) { return c == '=' ? 2 : c == '#' ? 3 : c == ':' ? 4 : 1; };
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '(') {
      stack.push_back(previous);
    } else if (c == ')') {
      if (!stack.empty()) previous = stack.back(), stack.pop_back();
    } else if (c == '-' || c == '=' || c == '#' || c == ':') {
      bond = type_of(c);
    } else if (c >= '0' && c <= '9') {
      auto at = open.find(c - '0');
      if (at == open.end()) {
        open[c - '0'] = {previous, bond};
      } else {
        const int type = bond != 0 ? bond : at->second.second != 0 ? at->second.second : 1;
        if (at->second.first != 0 && previous != 0 && at->second.first != previous &&
            !g.has(at->second.first, previous))
          g.bonds.push_back({at->second.first, previous, type});
        open.erase(at);
      }
      bond = 0;
    } else {
      std::string symbol(1, c);
      if (c == 'C' && i + 1 < s.size() && s[i + 1] == 'l') symbol += s[++i];
      g.atoms.push_back(symbol);
      const int atom = static_cast<int>(g.atoms.size());
      if (previous != 0) g.bonds.push_back({previous, atom, bond != 0 ? bond : 1});
      previous = atom;
      bond = 0;
    }
  }
  return g;
}

}  // namespace

std::string random_pattern(std::mt19937& rng, bool plain) { return PatternMaker(rng, plain).make(); }

std::string random_molecule(std::mt19937& rng, int max_atoms, bool plain) {
  static const char* const kAtoms[] = {"C", "C", "C", "C", "C", "C", "C", "C", "N", "N", "O", "S", "Cl", "c", "c", "n"};
  Graph g;
  const int n = 1 + pick(rng, max_atoms);
  for (int i = 0; i < n; ++i) g.atoms.push_back(kAtoms[pick(rng, plain ? 13 : 16)]);
  auto type = [&]() {
    const int r = pick(rng, 20);
    return r < 13 ? 1 : r < 17 ? 2 : r < 18 ? 3 : plain ? 1 : 4;
  };
  auto add = [&](int a, int b) {
    if (a != b && !g.has(a, b)) g.bonds.push_back({a, b, type()});
  };
  // A ring through the first atoms, sometimes, then a second ring fused to
  // it (sharing a bond), spiro (sharing an atom) or bridging it.
  int next = 1;
  if (n >= 3 && chance(rng, 60)) {
    const int size = std::min(n, 3 + pick(rng, 6));
    // Now and then drawn as an aromatic ring is in Kekule form: double
    // bonds every other bond (a five-ring with N, O or S where two single
    // bonds meet).
    if (!plain && (size == 5 || size == 6) && chance(rng, 50)) {
      static const char* const kDonors[] = {"N", "O", "S"};
      for (int i = 1; i <= size; ++i) g.atoms[static_cast<size_t>(i - 1)] = chance(rng, 80) ? "C" : "N";
      if (size == 5) g.atoms[4] = kDonors[pick(rng, 3)];
      for (int i = 1; i <= size; ++i) {
        const int j = i % size + 1;
        if (!g.has(i, j)) g.bonds.push_back({i, j, (i % 2 == 1 && i < 5) || (size == 6 && i == 5) ? 2 : 1});
      }
    } else {
      for (int i = 1; i < size; ++i) add(i, i + 1);
      add(size, 1);
    }
    next = size + 1;
    const int left = n - size;
    if (left >= 1 && chance(rng, 50)) {
      const int extra = std::min(left, 1 + pick(rng, 4));
      const int shared = pick(rng, 3);  // 0 fused, 1 spiro, 2 bridged
      int from = 1 + pick(rng, size);
      int to = shared == 0 ? from % size + 1 : shared == 1 ? from : (from + size / 2 - 1) % size + 1;
      int previous = from;
      for (int i = 0; i < extra; ++i) add(previous, next), previous = next++;
      add(previous, to);
    }
  }
  // The rest hang on what is there, or start a part of their own.
  for (; next <= n; ++next) {
    if (next > 1 && !chance(rng, 12)) add(1 + pick(rng, next - 1), next);
  }
  if (n >= 4 && chance(rng, 15)) add(1 + pick(rng, n), 1 + pick(rng, n));
  return write(g);
}

std::string planted_molecule(std::mt19937& rng, const std::string& pattern, int max_atoms) {
  size_t at = 0;
  Graph g = graph_of_path(one_path(rng, pattern, at, '\0'));
  if (g.atoms.empty() || g.atoms.size() > static_cast<size_t>(max_atoms)) return random_molecule(rng, max_atoms);
  static const char* const kAtoms[] = {"C", "C", "C", "N", "O", "c"};
  // A near miss now and then: one atom or bond changed.
  if (chance(rng, 25)) g.atoms[static_cast<size_t>(pick(rng, static_cast<int>(g.atoms.size())))] = kAtoms[pick(rng, 6)];
  if (!g.bonds.empty() && chance(rng, 25))
    g.bonds[static_cast<size_t>(pick(rng, static_cast<int>(g.bonds.size())))][2] = 1 + pick(rng, 4);
  // More atoms hung on, a bond closing a further ring, a second part.
  const int n = static_cast<int>(g.atoms.size());
  const int extra = std::min(pick(rng, 4), std::max(0, max_atoms - n));
  for (int i = 0; i < extra; ++i) {
    g.atoms.push_back(kAtoms[pick(rng, 6)]);
    const int atom = static_cast<int>(g.atoms.size());
    if (!chance(rng, 15)) g.bonds.push_back({1 + pick(rng, atom - 1), atom, 1 + pick(rng, 2)});
  }
  const int all = static_cast<int>(g.atoms.size());
  if (all >= 4 && chance(rng, 20)) {
    const int a = 1 + pick(rng, all), b = 1 + pick(rng, all);
    if (a != b && !g.has(a, b)) g.bonds.push_back({a, b, 1});
  }
  // Atoms numbered afresh, so that no order of the file is favoured.
  std::vector<int> number(static_cast<size_t>(all) + 1);
  for (int i = 1; i <= all; ++i) number[static_cast<size_t>(i)] = i;
  std::shuffle(number.begin() + 1, number.end(), rng);
  Graph shuffled;
  shuffled.atoms.resize(static_cast<size_t>(all));
  for (int i = 1; i <= all; ++i)
    shuffled.atoms[static_cast<size_t>(number[static_cast<size_t>(i)] - 1)] = g.atoms[static_cast<size_t>(i - 1)];
  for (const auto& b : g.bonds)
    shuffled.bonds.push_back({number[static_cast<size_t>(b[0])], number[static_cast<size_t>(b[1])], b[2]});
  std::shuffle(shuffled.bonds.begin(), shuffled.bonds.end(), rng);
  return write(shuffled);
}

std::string record_of(std::string_view compact) {
  Graph g;
  const size_t semicolon = compact.find(';');
  std::istringstream atoms(std::string(compact.substr(0, semicolon)));
  for (std::string a; atoms >> a;) g.atoms.push_back(a);
  if (semicolon != std::string_view::npos) {
    std::istringstream bonds(std::string(compact.substr(semicolon + 1)));
    for (std::string b; bonds >> b;) {
      const size_t at = b.find_first_of("-=#:");
      const int type = std::string("-=#:").find(b[at]) + 1;
      g.bonds.push_back({std::stoi(b.substr(0, at)), std::stoi(b.substr(at + 1)), type});
    }
  }
  return write(g);
}

Molecule molecule_of(const Automaton& automaton, const std::string& record, bool aromatic) {
  std::unique_ptr<LineReader> input = LineReader::from_text(record);
  input->begin_record();
  Molecule m;
  Perceiver perceiver;
  read_record(*input, automaton, 1, m, [](int, int) {}, aromatic ? &perceiver : nullptr);
  return m;
}

std::string option_names(unsigned bits) {
  std::string s;
  if (bits & kAromatic) s += " --aromatic";
  if (bits & 1u) s += " -span";
  if (bits & 2u) s += " -ind";
  if (bits & 4u) s += " -min";
  return s.empty() ? " (no option)" : s;
}

std::string compare(const Automaton& automaton, const Molecule& molecule, unsigned bits) {
  Matcher matcher(automaton, default_table_memory_limit());
  return compare(matcher, automaton, molecule, bits);
}

std::string compare(Matcher& matcher, const Automaton& automaton, const Molecule& molecule, unsigned bits) {
  MatchOptions options = match_options(bits & 1u, (bits >> 1) & 1u, (bits >> 2) & 1u);
  options.aromatic = (bits & kAromatic) != 0;
  const MatchResult& engine = matcher.match(options, molecule);
  const Verdict plain = judge(
      automaton, Options{(bits & 1u) != 0, (bits & 2u) != 0, (bits & 4u) != 0, (bits & kAromatic) != 0}, molecule);
  if (plain.result == kTooLarge) return kNotJudged;
  std::ostringstream out;
  auto edges = [](const std::vector<int>& e) {
    std::ostringstream s;
    for (int x : e) s << ' ' << x;
    return s.str();
  };
  if (engine.result != plain.result || engine.width != plain.width || engine.score != plain.score ||
      engine.match_edges != plain.match_edges) {
    out << option_names(bits) << ": matcher " << engine.result << " width " << engine.width << " score " << engine.score
        << " edges" << edges(engine.match_edges) << "; reference " << plain.result << " width " << plain.width
        << " score " << plain.score << " edges" << edges(plain.match_edges);
  }
  return out.str();
}

}  // namespace tarnaxel::reference
