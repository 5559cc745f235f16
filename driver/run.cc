#include "driver/run.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "driver/clock.h"
#include "driver/compile.h"
#include "driver/line_reader.h"
#include "driver/routing.h"
#include "driver/sdf_record.h"
#include "matcher/matcher.h"
#include "rulefile/automaton.h"
#include "rulefile/loader.h"

namespace tarnaxel {
namespace {

// Every refusal of the command line, with its exact bytes.
constexpr const char* kUsage = "Usage: Tarnaxel InputFileName [-ind] [-span] [-min] Tarnaxel";
// "Error:Tarnaxel" + "please enter" (CP932)
constexpr const char* kEmptyPattern =
    "Error:Tarnaxel\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81" "B";
constexpr const char* kPatternTooLong = "Error: the pattern is longer than 99 characters.";
constexpr const char* kFileNameTooLong = "Error: the input file name is longer than 99 characters.";
constexpr const char* kCannotOpenInput = "Error: Cannot open SDF_file.";
constexpr size_t kBufferLimit = 99;

// Memory exhaustion ends the run abnormally.  The statistics lines of the
// finished records are flushed first so that none of them is lost.
void report_out_of_memory() {
  std::fflush(stdout);
  std::fputs("Out of memory!\n", stderr);
  std::set_new_handler(nullptr);
}

// A record whose configuration tables pass the limit is set aside as too
// wide; the run goes on.
void report_over_budget(int record_number, size_t limit) {
  std::fflush(stdout);
  std::fprintf(stderr,
               "record %d: the configuration tables exceed the memory limit of %zu MB; the record goes to "
               "tw_big.sdf\n",
               record_number, limit >> 20);
}

void out_of_memory() {
  report_out_of_memory();
  throw std::bad_alloc();
}

// TARNAXEL_TABLE_MEMORY_MB, when set to a positive number, replaces the
// default limit on the configuration tables of one molecule.
size_t table_memory_limit() {
  const char* text = std::getenv("TARNAXEL_TABLE_MEMORY_MB");
  if (text != nullptr) {
    char* end = nullptr;
    unsigned long long megabytes = std::strtoull(text, &end, 10);
    if (end != text && *end == '\0' && megabytes > 0 && megabytes < (1ull << 40))
      return static_cast<size_t>(megabytes) << 20;
  }
  return default_table_memory_limit();
}

// Writes the pieces of the statistics lines to standard output, formatted as
// "%d", "%-3d", "%.2f" and "%.3f" would format them.
class StatsWriter {
 public:
  StatsWriter& number(long value) {
    at_ = std::to_chars(at_, end(), value).ptr;
    return *this;
  }
  // Left-aligned in three columns.
  StatsWriter& count(int value) {
    char* start = at_;
    number(value);
    while (at_ - start < 3) *at_++ = ' ';
    return *this;
  }
  // Two decimals; whole numbers, which every score here is, without a
  // round trip through the general formatter.
  StatsWriter& score(double value) {
    if (value >= 0 && value < 1e15 && value == std::floor(value) && !std::signbit(value)) {
      number(static_cast<long>(value));
      return text(".00");
    }
    at_ += std::snprintf(at_, static_cast<size_t>(end() - at_), "%.2f", value);
    return *this;
  }
  // Seconds from clock ticks (milliseconds), three decimals.
  StatsWriter& seconds(long ticks) {
    static_assert(kTicksPerSecond == 1000.0, "the whole-tick path below writes milliseconds");
    if (ticks < 0) {
      at_ += std::snprintf(at_, static_cast<size_t>(end() - at_), "%.3f", ticks / kTicksPerSecond);
      return *this;
    }
    number(ticks / 1000);
    *at_++ = '.';
    const long rest = ticks % 1000;
    *at_++ = static_cast<char>('0' + rest / 100);
    *at_++ = static_cast<char>('0' + rest / 10 % 10);
    *at_++ = static_cast<char>('0' + rest % 10);
    return *this;
  }
  StatsWriter& text(const char* piece) {
    while (*piece != '\0') *at_++ = *piece++;
    return *this;
  }
  // Hands the piece to standard output.
  void put() {
    std::fwrite(buffer_, 1, static_cast<size_t>(at_ - buffer_), stdout);
    at_ = buffer_;
  }

 private:
  char* end() { return buffer_ + sizeof buffer_; }
  char buffer_[512];
  char* at_ = buffer_;
};

void write_automaton(const std::string& text) {
  std::FILE* file = std::fopen(kAutomatonFile, "wb");
  if (file == nullptr) fail_cannot_open(kAutomatonFile);
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) fail_cannot_open(kAutomatonFile);
}

}  // namespace

int run_tool(int argc, const char* const* argv) {
  if (static_cast<unsigned>(argc - 3) > 2u) fail_line(kUsage);
  std::string pattern = argv[argc - 1];
  const char* input_name = argv[1];
  if (pattern.size() > kBufferLimit) fail_line(kPatternTooLong);
  if (std::strlen(input_name) > kBufferLimit) fail_line(kFileNameTooLong);
  if (pattern.empty()) fail_line(kEmptyPattern);

  MatchOptions options;
  for (int i = 2; i < argc - 1; ++i) {
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

  // Created before the pattern is looked at: a refused pattern leaves it empty.
  std::FILE* empty = std::fopen(kAutomatonFile, "wb");
  if (empty == nullptr || std::fclose(empty) != 0) fail_cannot_open(kAutomatonFile);
  write_automaton(compile_pattern(pattern));

  std::set_new_handler(out_of_memory);
  const size_t limit = table_memory_limit();
  const long start = clock_ticks();
  std::unique_ptr<const Automaton> automaton = load_rules();
  std::printf("Automaton Size (# of rules): %d\n\n", automaton->rule_count);

  std::unique_ptr<LineReader> input = LineReader::open(input_name);
  if (!input) fail(Stream::err, kCannotOpenInput);
  OutputFiles outputs;

  Matcher matcher(*automaton, limit);
  Molecule molecule;
  int record_number = 0;
  StatsWriter stats;
  auto report = [&stats](int atoms, int bonds) { stats.count(atoms).text("\t").count(bonds).text("\t").put(); };
  while (input->begin_record()) {
    ++record_number;
    stats.number(record_number).text("\t").put();
    read_record(*input, *automaton, record_number, molecule, report);

    const long record_start = clock_ticks();
    const int bonds = static_cast<int>(molecule.edge_count / 2);
    const MatchResult& r = matcher.match(options, molecule);
    stats.number(r.result).text("\t").number(r.width).text("\t").score(r.score).text("\t");
    stats.seconds(clock_ticks() - record_start).text("\n").put();
    if (r.over_budget) report_over_budget(record_number, limit);

    outputs.route(r.result, input->record(), static_cast<int>(molecule.atom_count), bonds, r.match_edges,
                  static_cast<int>(r.match_edges.size()));
  }
  input.reset();
  std::printf("\nTotal Duration:%.3f\n", (clock_ticks() - start) / kTicksPerSecond);
  std::printf("Accept:%d Reject:%d TW_Big:%d\n", outputs.accepted, outputs.rejected, outputs.too_wide);
  outputs.close();
  return 0;
}

}  // namespace tarnaxel
