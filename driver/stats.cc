#include "driver/stats.h"

#include "driver/pattern_set.h"
#include "molecule/smiles.h"

namespace tarnaxel {
namespace {

// A line on standard error, after everything before it is put out.
template <typename... Args>
void tell(OutputFiles& outputs, const JudgeSetup& setup, const char* format, Args... args) {
  outputs.flush();
  if (setup.progress != nullptr) setup.progress->erase();
  std::fprintf(stderr, format, args...);
  std::fflush(stderr);
}

// Once a run: the reader knows only the V2000 connection table.
void tell_v3000(OutputFiles& outputs, const JudgeSetup& setup, int record_number, const Molecule& molecule) {
  if (!molecule.v3000 || outputs.v3000_told) return;
  outputs.v3000_told = true;
  tell(outputs, setup, "record %d is a V3000 record; it is read as a molecule without atoms\n", record_number);
}

// A record's title for "matches.tsv": an SDF record's first line, or what
// follows a SMILES; tabs become spaces.
std::string title_of(std::string_view text, bool smiles) {
  std::string_view title = smiles ? smiles_title(text) : text.substr(0, text.find('\n'));
  if (!title.empty() && title.back() == '\r') title.remove_suffix(1);
  std::string out(title);
  for (char& c : out)
    if (c == '\t') c = ' ';
  return out;
}

}  // namespace

void put_judged(StatsWriter& stats, OutputFiles& outputs, const JudgeSetup& setup, int record_number,
                const MatchResult& result, long ticks, std::string_view record_text, const Molecule& molecule,
                unsigned long long source_bytes) {
  stats.number(result.result).text("\t").number(result.width).text("\t").score(result.score).text("\t");
  stats.seconds(ticks).text("\n").put(outputs);
  // A record whose tables pass the limit is set aside as too wide; the run
  // goes on.
  if (result.over_budget)
    tell(outputs, setup,
         "record %d: the configuration tables exceed the memory limit of %zu MB; the record goes to tw_big.sdf\n",
         record_number, setup.table_limit >> 20);
  tell_v3000(outputs, setup, record_number, molecule);
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

void put_judged_set(StatsWriter& stats, OutputFiles& outputs, const JudgeSetup& setup, int record_number,
                    const MatchResult& result, const std::vector<uint8_t>& results, long ticks,
                    std::string_view record_text, const Molecule& molecule, unsigned long long source_bytes) {
  const PatternSet& set = *setup.set;
  int accepting = 0;
  std::string names;
  std::string line = std::to_string(record_number) + "\t" + title_of(record_text, setup.smiles);
  for (size_t i = 0; i < results.size(); ++i) {
    line.push_back('\t');
    line.push_back(static_cast<char>('0' + results[i]));
    if (results[i] != kAccepted) continue;
    ++accepting;
    if (!names.empty()) names.push_back(' ');
    names.append(set[i].name);
  }
  line.push_back('\n');
  stats.number(accepting).text("\t").number(result.width).text("\t").seconds(ticks).text("\n").put(outputs);
  if (result.over_budget)
    tell(outputs, setup, "record %d: the configuration tables of some pattern exceed the memory limit of %zu MB; "
                         "its result is 2\n", record_number, setup.table_limit >> 20);
  tell_v3000(outputs, setup, record_number, molecule);
  outputs.route_set(result.result, record_text, names, line);
  if (setup.progress != nullptr) setup.progress->record_done(outputs.accepted, source_bytes);
}

std::string table_header(const PatternSet& set) {
  std::string header = "record\ttitle";
  for (size_t i = 0; i < set.size(); ++i) header += "\t" + set[i].name;
  return header + "\n";
}

}  // namespace tarnaxel
