// Records judged on several threads: every output byte as on one thread, for
// a clean run, a record that cannot be read, and a record over the table
// memory limit.
#include <algorithm>
#include <memory>
#include <sstream>

#include "molecule/line_reader.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::run_binary;
using test::TempDir;

struct Outcome {
  int status;
  std::string out;
  std::string err;
  std::string files;
};

Outcome run_with_threads(const TempDir& dir, int threads, const std::vector<std::string>& args,
                         const std::string& env = "") {
  test::RunResult r = run_binary(dir, args, env + "TARNAXEL_THREADS=" + std::to_string(threads) + " ");
  std::string files;
  for (const char* name : {"automaton.txt", "accept.sdf", "reject.sdf", "tw_big.sdf"})
    files += std::string(name) + "\n" + dir.read(name);
  return Outcome{r.status, test::without_timings(r.out), r.err, files};
}

// The first records of the bench corpus, as text.
std::string corpus_records(size_t count) {
  std::unique_ptr<LineReader> corpus = LineReader::open(std::string(TARNAXEL_SOURCE_DIR) + "/bench/corpus.sdf.gz");
  std::string text;
  for (size_t i = 0; i < count && corpus->begin_record(); ++i) {
    std::string_view line;
    while (corpus->line(line) && line.substr(0, 4) != "$$$$") {
    }
    text += corpus->record();
  }
  return text;
}

void expect_same_for_every_thread_count(const TempDir& dir, const std::vector<std::string>& args,
                                        const std::string& env = "") {
  const Outcome one = run_with_threads(dir, 1, args, env);
  for (int threads : {2, 3, 8}) {
    const Outcome many = run_with_threads(dir, threads, args, env);
    EXPECT_EQ(many.status, one.status) << threads << " threads";
    EXPECT_EQ(many.err, one.err) << threads << " threads";
    EXPECT_TRUE(many.out == one.out) << threads << " threads";
    EXPECT_TRUE(many.files == one.files) << threads << " threads";
  }
}

TEST(Threads, SameOutputsAsOneThread) {
  TempDir dir;
  const std::string records = corpus_records(1500);
  dir.write("in.sdf", records);
  for (const char* pattern : {"CC(=O)O", "C1=CC=CC=C1", "C{C|N}*O"})
    for (const char* options : {"", "-ind", "-span", "-min"}) {
      std::vector<std::string> args{"in.sdf"};
      if (*options != '\0') args.push_back(options);
      args.push_back(pattern);
      expect_same_for_every_thread_count(dir, args);
    }

  // A record that cannot be read in the middle: everything before it, then
  // the same message and status.
  const size_t middle = records.find("$$$$\n", records.size() / 2) + 5;
  dir.write("bad.sdf", records.substr(0, middle) + "bad\n\n\n  2  1\nC\nC\n  1  9  1\n$$$$\n" +
                           records.substr(middle));
  expect_same_for_every_thread_count(dir, {"bad.sdf", "CCO"});

  // A gzip stream cut short: every record judged before the break is put
  // out, then the message.
  const std::string cut = "head -c 300000 '" + std::string(TARNAXEL_SOURCE_DIR) + "/bench/corpus.sdf.gz' | ";
  for (int threads : {1, 2}) {
    test::RunResult r = run_binary(dir, {"-", "CCO"}, cut + "TARNAXEL_THREADS=" + std::to_string(threads) + " ");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: the compressed SDF_file is damaged.\n");
    size_t lines = 0;
    for (size_t at = r.out.find("\n"); at != std::string::npos; at = r.out.find("\n", at + 1)) ++lines;
    const size_t written =
        test::records_of(dir.read("accept.sdf") + dir.read("reject.sdf") + dir.read("tw_big.sdf")).size();
    EXPECT_GT(written, 100u);
    EXPECT_EQ(written + 2, lines) << threads << " threads";  // the rule count and a blank line
    // Every whole record that gzip itself gets out of the cut stream.
    const std::string part = (dir.path() / "part.sdf").string();
    ASSERT_EQ(std::system((cut + "gzip -dc > '" + part + "' 2>/dev/null; true").c_str()), 0);
    const std::string whole = test::read_file(part);
    size_t ends = 0;
    for (size_t at = whole.find("\n$$$$\n"); at != std::string::npos; at = whole.find("\n$$$$\n", at + 1)) ++ends;
    EXPECT_EQ(written, ends) << threads << " threads";
  }

  // A regular gzip file whose check sum is wrong: every record is judged and
  // put out before the message.
  std::string packed = test::read_file(std::string(TARNAXEL_SOURCE_DIR) + "/bench/corpus.sdf.gz");
  packed[packed.size() - 6] ^= 0x5a;
  dir.write("crc.sdf.gz", packed);
  for (int threads : {1, 2}) {
    test::RunResult r = run_binary(dir, {"crc.sdf.gz", "CCO"}, "TARNAXEL_THREADS=" + std::to_string(threads) + " ");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: the compressed SDF_file is damaged.\n");
    const size_t written =
        test::records_of(dir.read("accept.sdf") + dir.read("reject.sdf") + dir.read("tw_big.sdf")).size();
    size_t judged = 0;  // whole statistics lines: seven fields
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) judged += std::count(line.begin(), line.end(), '\t') == 6;
    EXPECT_GT(written, 6000u);
    EXPECT_EQ(written, judged) << threads << " threads";
  }

  // A record over the budget among ordinary ones; the budget is shared by
  // the threads, and the record is still judged against the whole of it.
  const std::string some = records.substr(0, records.find("$$$$\n", 20000) + 5);
  dir.write("big.sdf", some + test::grid_record() + some);
  expect_same_for_every_thread_count(dir, {"big.sdf", "C{C|CC}*C"}, "TARNAXEL_TABLE_MEMORY_MB=16 ");
  const Outcome big = run_with_threads(dir, 2, {"big.sdf", "C{C|CC}*C"}, "TARNAXEL_TABLE_MEMORY_MB=16 ");
  EXPECT_NE(big.err.find("the configuration tables exceed the memory limit of 16 MB"), std::string::npos);
}

TEST(Threads, BadThreadCountIsRefused) {
  TempDir dir;
  dir.write("in.sdf", corpus_records(3));
  for (const char* value : {"0", "x", "2x", "5000"}) {
    test::RunResult r = run_binary(dir, {"in.sdf", "CCO"}, std::string("TARNAXEL_THREADS=") + value + " ");
    EXPECT_EQ(r.status, 1) << value;
    EXPECT_EQ(r.out, "Error: TARNAXEL_THREADS must be a whole number from 1 to 1024.\n") << value;
  }
}

}  // namespace
}  // namespace tarnaxel
