#include "driver/run.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "driver/clock.h"
#include "driver/compile.h"
#include "driver/explain.h"
#include "molecule/line_reader.h"
#include "driver/options.h"
#include "driver/pattern_set.h"
#include "driver/stats.h"
#include "driver/pipeline.h"
#include "driver/routing.h"
#include "driver/terminal.h"
#include "matcher/matcher.h"
#include "rulefile/automaton.h"
#include "rulefile/loader.h"

namespace tarnaxel {
namespace {

// Every refusal of the command line, with its exact bytes.
constexpr const char* kCannotOpenInput = "Error: Cannot open SDF_file.";

constexpr const char* kBadThreads = "Error: TARNAXEL_THREADS must be a whole number from 1 to 1024.";

// The outputs of the run, for the last words of a process out of memory.
std::atomic<OutputFiles*> active_outputs{nullptr};

// Memory exhaustion ends the run abnormally.  The records and statistics
// lines already judged are put out first so that none of them is lost.
void out_of_memory() {
  std::set_new_handler(nullptr);
  if (OutputFiles* outputs = active_outputs.load()) outputs->flush_if_idle();
  std::fflush(stdout);
  std::fputs("Out of memory!\n", stderr);
  throw std::bad_alloc();
}

// TARNAXEL_THREADS, when set, is the number of threads that judge records;
// otherwise every CPU the process may run on.
int thread_count() {
  const char* text = std::getenv("TARNAXEL_THREADS");
  if (text == nullptr) {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    return std::max(1, CPU_COUNT(&cpus));
  }
  char* end = nullptr;
  const long threads = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || threads < 1 || threads > 1024) fail_line(kBadThreads);
  return static_cast<int>(threads);
}

void write_automaton(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) fail_cannot_open(path);
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) fail_cannot_open(path);
}

// Whether two paths name one existing file.
bool same_file(const char* a, const std::string& b) {
  struct stat x, y;
  return std::strcmp(a, "-") != 0 && stat(a, &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

// Runs a step on the pattern; a refusal carries, for a person at a
// terminal, where the pattern is wrong.
template <typename Step>
auto explained(const std::string& pattern, Step step) {
  const std::string original = pattern;
  try {
    return step();
  } catch (const Fatal& fatal) {
    throw Fatal(fatal.stream(), fatal.bytes(), explain_pattern_refusal(original, fatal.bytes()));
  }
}

// The options of the match between the input name and the pattern (or the
// end, with a pattern set): -ind, -span, -min in any order.
MatchOptions short_options(const char* const* argv, int from, int to, bool aromatic) {
  MatchOptions options;
  options.aromatic = aromatic;
  for (int i = from; i < to; ++i) {
    if (std::strcmp(argv[i], "-ind") == 0) {
      options.ind = 1;
    } else if (std::strcmp(argv[i], "-span") == 0) {
      options.span = 1;
    } else if (std::strcmp(argv[i], "-min") == 0) {
      options.min = 1;
    } else {
      fail_line(kUsage);
    }
  }
  return options;
}

// Creating an output over the input would lose the input.
void refuse_input_as_output(const char* input_name, const LongOptions& long_options, bool smiles) {
  const bool skip_bad = long_options.skip_bad;
  const bool set = !long_options.patterns.empty();
  for (const char* name : {set ? "matches.tsv" : kAutomatonFile, smiles ? "reject.smi" : "reject.sdf",
                           smiles ? "accept.smi" : "accept.sdf", smiles ? "tw_big.smi" : "tw_big.sdf",
                           skip_bad ? (smiles ? "bad.smi" : "bad.sdf") : nullptr}) {
    if (name == nullptr) continue;
    const std::string path = output_path(long_options.outdir, name);
    if (same_file(input_name, path))
      fail(Stream::err, "Error: the input file is also the output file \"" + path + "\".");
  }
}

// Reads and judges every record, then puts out the duration and the counts.
void judge_input(const char* input_name, const LongOptions& long_options, JudgeSetup setup, long start) {
  std::unique_ptr<LineReader> input = LineReader::open(input_name);
  if (!input) {
    const int error = errno;
    throw Fatal(Stream::err, kCannotOpenInput, std::string(input_name) + ": " + std::strerror(error));
  }
  if (setup.smiles && long_options.smiles_header) {
    std::string_view header;
    input->line(header);
  }
  OutputFiles outputs(long_options.outdir, long_options.quiet, long_options.match_data, setup.smiles,
                      long_options.skip_bad);
  if (setup.set != nullptr) outputs.open_table(long_options.outdir, table_header(*setup.set));
  Progress progress(input->source_size());
  setup.progress = &progress;

  struct Active {
    explicit Active(OutputFiles& outputs) { active_outputs = &outputs; }
    ~Active() { active_outputs = nullptr; }
  } active(outputs);
  judge_records(*input, outputs, setup);
  outputs.flush();
  input.reset();
  progress.erase();
  std::printf("\nTotal Duration:%.3f\n", (clock_ticks() - start) / kTicksPerSecond);
  std::printf("Accept:%d Reject:%d TW_Big:%d", outputs.accepted, outputs.rejected, outputs.too_wide);
  if (long_options.skip_bad) std::printf(" Bad:%d", outputs.bad);
  std::printf("\n");
  outputs.close();
}

// With --patterns: every pattern compiled before any record is read, no
// automaton.txt, and one pass over the input.
int run_set(int argc, const char* const* argv, int first, const LongOptions& long_options) {
  if (static_cast<unsigned>(argc - first - 1) > 2u) fail_line(kUsage);
  const char* input_name = argv[first];
  const bool smiles = long_options.smiles || smiles_name(input_name);
  const MatchOptions options = short_options(argv, first + 1, argc, long_options.aromatic || smiles);
  std::unique_ptr<PatternSet> set = PatternSet::read_file(long_options.patterns);
  if (!long_options.outdir.empty()) {
    std::error_code ignored;  // a directory that cannot be made fails at its first file
    std::filesystem::create_directories(long_options.outdir, ignored);
  }
  refuse_input_as_output(input_name, long_options, smiles);
  std::set_new_handler(out_of_memory);
  const size_t limit = table_memory_limit();
  const int threads = thread_count();
  const long start = clock_ticks();
  std::printf("Pattern Set: %zu patterns, %d rules\n\n", set->size(), set->rule_count());
  JudgeSetup setup{set->labels(), options, limit, threads, nullptr, smiles, long_options.aromatic};
  setup.set = set.get();
  judge_input(input_name, long_options, setup, start);
  return 0;
}

}  // namespace

int run_tool(int argc, const char* const* argv) {
  LongOptions long_options;
  const int first = read_long_options(argc, argv, long_options);
  if (long_options.help) {
    std::fputs(help_text(), stdout);
    return 0;
  }
  if (long_options.version) {
    std::fputs(version_text().c_str(), stdout);
    return 0;
  }
  if (!long_options.patterns.empty()) return run_set(argc, argv, first, long_options);
  // From the input file name on, the fixed form.
  if (static_cast<unsigned>(argc - first - 2) > 2u) fail_line(kUsage);
  std::string pattern = argv[argc - 1];
  const std::string given = pattern;
  const char* input_name = argv[first];
  explained(pattern, [&] { check_pattern_text(pattern); });

  // SMILES writes aromatic atoms in lowercase: their bonds are matched by
  // the aromatic link whether or not aromaticity is perceived.
  const bool smiles = long_options.smiles || smiles_name(input_name);
  const MatchOptions options = short_options(argv, first + 1, argc - 1, long_options.aromatic || smiles);

  const std::string& outdir = long_options.outdir;
  if (!outdir.empty()) {
    std::error_code ignored;  // a directory that cannot be made fails at its first file
    std::filesystem::create_directories(outdir, ignored);
  }
  // Created before the pattern is looked at: a refused pattern leaves it empty.
  const std::string automaton_path = output_path(outdir, kAutomatonFile);
  refuse_input_as_output(input_name, long_options, smiles);
  std::FILE* empty = std::fopen(automaton_path.c_str(), "wb");
  if (empty == nullptr || std::fclose(empty) != 0) fail_cannot_open(automaton_path);
  write_automaton(automaton_path, explained(pattern, [&] { return compile_pattern(pattern); }));

  std::set_new_handler(out_of_memory);
  const size_t limit = table_memory_limit();
  const int threads = thread_count();
  const long start = clock_ticks();
  // Loaded back: a pattern can compile to more than the tables hold.
  std::unique_ptr<const Automaton> automaton = explained(given, [&] { return load_rules(automaton_path); });
  std::printf("Automaton Size (# of rules): %d\n\n", automaton->rule_count);
  judge_input(input_name, long_options, JudgeSetup{*automaton, options, limit, threads, nullptr, smiles,
                                                   long_options.aromatic},
              start);
  return 0;
}

}  // namespace tarnaxel
