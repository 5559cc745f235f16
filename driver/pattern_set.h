// A set of named patterns, judged together on each record ("--patterns"):
// read from a file of "name<TAB>pattern" lines, every pattern compiled and
// loaded before any record is read.  Records are read once, against the
// labels of all the patterns together, and each pattern sees the record as
// its own labels would have read it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/molecule.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

struct NamedPattern {
  std::string name;
  int line = 0;  // in the file, from 1; 0 when not read from a file
  std::string text;
  std::unique_ptr<const Automaton> automaton;
  // By code in the set's labels: the code in this pattern's labels.
  std::vector<int> atom_code;
  std::vector<int> bond_code;
};

class PatternSet {
 public:
  // Reads and compiles a file of patterns; refuses (Fatal) a line that
  // cannot be read or a pattern that cannot be compiled, naming its line.
  static std::unique_ptr<PatternSet> read_file(const std::string& path);
  // Compiles (name, pattern) pairs in order.
  static std::unique_ptr<PatternSet> from_pairs(const std::vector<std::pair<std::string, std::string>>& pairs);

  size_t size() const { return patterns_.size(); }
  const NamedPattern& operator[](size_t i) const { return patterns_[i]; }
  int rule_count() const;
  // The labels of every pattern, without rules: what records are read against.
  const Automaton& labels() const { return *labels_; }
  // Relabels out, a copy of read (the record read against labels()), as
  // pattern i would have read it.
  void relabel(size_t i, const Molecule& read, Molecule& out) const;

 private:
  void add(std::string name, int line, const std::string& text, const std::string& where);
  void gather_labels();

  std::vector<NamedPattern> patterns_;
  std::unique_ptr<Automaton> labels_;
};

}  // namespace tarnaxel
