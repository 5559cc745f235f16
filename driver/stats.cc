#include "driver/stats.h"

namespace tarnaxel {

void put_judged(StatsWriter& stats, OutputFiles& outputs, const JudgeSetup& setup, int record_number,
                const MatchResult& result, long ticks, std::string_view record_text, const Molecule& molecule,
                unsigned long long source_bytes) {
  stats.number(result.result).text("\t").number(result.width).text("\t").score(result.score).text("\t");
  stats.seconds(ticks).text("\n").put(outputs);
  const size_t table_limit = setup.table_limit;
  if (result.over_budget) {
    // A record whose tables pass the limit is set aside as too wide; the
    // run goes on.
    outputs.flush();
    if (setup.progress != nullptr) setup.progress->erase();
    std::fprintf(stderr,
                 "record %d: the configuration tables exceed the memory limit of %zu MB; the record goes to "
                 "tw_big.sdf\n",
                 record_number, table_limit >> 20);
    std::fflush(stderr);
  }
  if (molecule.v3000 && !outputs.v3000_told) {
    // Once a run: the reader knows only the V2000 connection table.
    outputs.v3000_told = true;
    outputs.flush();
    if (setup.progress != nullptr) setup.progress->erase();
    std::fprintf(stderr, "record %d is a V3000 record; it is read as a molecule without atoms\n", record_number);
    std::fflush(stderr);
  }
  if (result.result == kAccepted && outputs.match_data()) {
    StatsWriter score;
    score.score(result.score);
    outputs.route_with_data(record_text, result.match_edges,
                            matched_atoms(setup.automaton, setup.options, molecule, result), score.piece());
  } else {
    outputs.route(result.result, record_text, static_cast<int>(molecule.atom_count),
                  static_cast<int>(molecule.edge_count / 2), result.match_edges,
                  static_cast<int>(result.match_edges.size()));
  }
  if (setup.progress != nullptr) setup.progress->record_done(outputs.accepted, source_bytes);
}

}  // namespace tarnaxel
