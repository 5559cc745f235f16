// Judging every record of the input: on one thread, or with one reader,
// worker threads that take batches of records, and one writer that puts
// every result out in input order.  Both put out the same bytes, and both
// stop at the first fault in input order (a record that cannot be read, an
// output that cannot be written) with everything before it put out.
#pragma once

#include <cstddef>

#include "molecule/line_reader.h"
#include "driver/routing.h"
#include "driver/terminal.h"
#include "matcher/matcher.h"
#include "rulefile/automaton.h"

namespace tarnaxel {

class PatternSet;

struct JudgeSetup {
  const Automaton& automaton;  // with a pattern set, its labels: what records are read against
  MatchOptions options;
  size_t table_limit;  // for all the threads together
  int threads;
  Progress* progress = nullptr;  // told of every record put out
  bool smiles = false;    // the input is SMILES lines, one record each
  bool perceive = false;  // aromaticity perceived in every record
  const PatternSet* set = nullptr;  // the patterns judged together, or null for the automaton's
};

// Judges every record of input and routes it to outputs.
void judge_records(LineReader& input, OutputFiles& outputs, const JudgeSetup& setup);

}  // namespace tarnaxel
