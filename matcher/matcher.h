// The matcher: decides whether an automaton accepts a molecule and which
// bonds form the best match.  It builds an elimination order of the atoms,
// turns it into a tree decomposition of width at most 7 (one leaf bag per
// bond; eliminating an atom merges every bag that holds it), and runs the
// automaton over the decomposition as a dynamic programme over tables of
// partial matches.  Entry point: Matcher::match().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "common/molecule.h"

namespace tarnaxel {

struct Automaton;

struct MatchOptions {
  uint8_t span = 0;      // every atom must be matched
  uint8_t ind = 0;       // a bond between two matched atoms must be used
  uint8_t min = 0;       // the smallest score wins
  uint8_t aromatic = 0;  // aromaticity perceived: an aromatic link matches every bond at an
                         // aromatic atom
  bool operator==(const MatchOptions&) const = default;
};

// The options of the command line.
inline MatchOptions match_options(bool span, bool ind, bool min) {
  MatchOptions o;
  o.span = span;
  o.ind = ind;
  o.min = min;
  return o;
}

constexpr int kMaxWidth = 7;

// The result column of a statistics line.
enum MatchVerdict : int { kRejected = 0, kAccepted = 1, kTooWide = 2 };

struct MatchResult {
  int result = kRejected;
  int width = 0;
  double score = 0.0;
  // The directed-edge numbers of the match, ascending, one per used bond.
  std::vector<int> match_edges;
  // The configuration tables passed the table memory limit: judged too wide.
  bool over_budget = false;
  // The most bytes the record's tables held at once, as charged to the
  // limit; 0 when no table was made or the limit was passed.
  size_t table_peak = 0;
};

// Thrown inside the matcher when the configuration tables of one molecule
// would hold more than its table memory limit.
struct TableLimitExceeded : std::bad_alloc {
  const char* what() const noexcept override { return "configuration tables over the memory limit"; }
};

// Half of the machine's physical memory: the default limit on the
// configuration tables of one molecule, shared by the matchers of a run.
size_t default_table_memory_limit();

// The atoms of an accepted match, ascending: the ends of its bonds, or for
// an automaton of single atoms the atom the match stands on (the first
// that fits; with span every atom).
std::vector<int> matched_atoms(const Automaton& automaton, const MatchOptions& options, const Molecule& molecule,
                               const MatchResult& result);

// A molecule's elimination order, made once and shared by the matchers of
// several patterns judging it.
class Elimination {
 public:
  Elimination();
  ~Elimination();
  Elimination(const Elimination&) = delete;
  Elimination& operator=(const Elimination&) = delete;
  // Makes the order of a molecule; returns its width.
  int make(const Molecule& molecule);

 private:
  friend class Matcher;
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

struct MatcherStorage;
struct MatchChecks;
struct MatchPlan;
struct RuleIndex;

// Judges molecules against one automaton, keeping its working storage from
// one molecule to the next.  Matchers on one automaton may run at once on
// different threads; one matcher is used by one thread at a time.
class Matcher {
 public:
  // table_limit: the bytes the tables of one molecule may hold.
  Matcher(const Automaton& automaton, size_t table_limit);
  ~Matcher();
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;

  const MatchResult& match(const MatchOptions& options, const Molecule& molecule);
  // The same with the molecule's elimination order made beforehand.
  const MatchResult& match(const MatchOptions& options, const Molecule& molecule, const Elimination& elimination);

  // Only for tests: switches that make the matcher do more (see MatchChecks).
  void set_checks(const MatchChecks& checks);

 private:
  // elimination: the order made beforehand, or null for the matcher's own.
  const MatchResult& judge(const MatchOptions& options, const Molecule& molecule, int width,
                           const Elimination* elimination);
  int run_tables(const Molecule& molecule, const Elimination* elimination);
  int judge_single_atom(const MatchOptions& options, const Molecule& molecule) const;

  const Automaton& automaton_;
  size_t table_limit_;
  bool childless_;  // no rule hands a state to a child
  std::unique_ptr<const RuleIndex> index_;
  std::unique_ptr<const MatchChecks> checks_;
  std::unique_ptr<const MatchPlan> plan_;  // for the options last handed in
  std::unique_ptr<MatcherStorage> storage_;
  MatchResult result_;
};

}  // namespace tarnaxel
