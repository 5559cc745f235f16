#include "driver/stats.h"

namespace tarnaxel {

void put_judged(StatsWriter& stats, OutputFiles& outputs, int record_number, const MatchResult& result, long ticks,
                std::string_view record_text, int atom_count, int bond_count, size_t table_limit) {
  stats.number(result.result).text("\t").number(result.width).text("\t").score(result.score).text("\t");
  stats.seconds(ticks).text("\n").put(outputs);
  if (result.over_budget) {
    // A record whose tables pass the limit is set aside as too wide; the
    // run goes on.
    outputs.flush();
    std::fprintf(stderr,
                 "record %d: the configuration tables exceed the memory limit of %zu MB; the record goes to "
                 "tw_big.sdf\n",
                 record_number, table_limit >> 20);
    std::fflush(stderr);
  }
  outputs.route(result.result, record_text, atom_count, bond_count, result.match_edges,
                static_cast<int>(result.match_edges.size()));
}

}  // namespace tarnaxel
