// Reading alone: every record of a file read into the molecule graph (SMILES
// when the name says so, else SDF), with nothing judged; prints records/s
// on one thread, the best of three passes.
//
// Usage: build/tarnaxel_read_bench FILE [--aromatic]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "driver/compile.h"
#include "driver/options.h"
#include "molecule/line_reader.h"
#include "molecule/sdf_record.h"
#include "molecule/smiles.h"
#include "rulefile/loader.h"

int main(int argc, char** argv) {
  using namespace tarnaxel;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [--aromatic]\n", argv[0]);
    return 1;
  }
  const bool smiles = smiles_name(argv[1]);
  const bool aromatic = argc > 2 && std::strcmp(argv[2], "--aromatic") == 0;
  std::string pattern = "c1ccccc1C(=O)N";
  const std::unique_ptr<const Automaton> automaton = load_rules_from_text(compile_pattern(pattern));
  double best = 0;
  long records = 0;
  for (int pass = 0; pass < 3; ++pass) {
    std::unique_ptr<LineReader> input = LineReader::open(argv[1]);
    if (!input) return 1;
    Molecule molecule;
    Perceiver perceiver;
    SmilesReader reader;
    records = 0;
    const auto start = std::chrono::steady_clock::now();
    while (smiles ? input->begin_smiles_record() : input->begin_record()) {
      ++records;
      if (smiles) reader.read(input->record(), *automaton, static_cast<int>(records), molecule,
                              aromatic ? &perceiver : nullptr);
      else read_record(*input, *automaton, static_cast<int>(records), molecule, [](int, int) {},
                       aromatic ? &perceiver : nullptr);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::max(best, records / seconds);
  }
  std::printf("%ld records, %.0f records/s\n", records, best);
  return 0;
}
