// Nothing lost: every record read lands in exactly one output file, in input
// order and byte for byte, whatever the records, the options, a full disk,
// exhausted memory or a kill in the middle of the run.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::run_binary;
using test::sdf_record;
using test::TempDir;

// A record of random shape: 0-24 atoms of a few elements, a random tree of
// bonds plus a few ring bonds (or nine atoms all bonded: too wide), random
// bond types and optional data items.
std::string random_record(std::mt19937& random, int number) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  static const char* const kElements[] = {"C", "C", "C", "N", "O", "S", "Cl"};
  const int atoms = pick(25);
  std::vector<std::string> symbols;
  for (int i = 0; i < atoms; ++i) symbols.push_back(kElements[pick(7)]);
  std::vector<test::BondSpec> bonds;
  for (int i = 2; i <= atoms; ++i) bonds.push_back({pick(i - 1) + 1, i, pick(3) + 1});
  std::set<std::pair<int, int>> bonded;
  for (const test::BondSpec& b : bonds) bonded.insert({b.first, b.second});
  auto add = [&](int a, int b) {
    if (a != b && bonded.insert({std::min(a, b), std::max(a, b)}).second) bonds.push_back({a, b, pick(2) + 1});
  };
  if (atoms >= 9 && pick(6) == 0) {
    // Nine atoms bonded to each other: width 8, too wide.
    for (int a = 1; a <= 9; ++a)
      for (int b = a + 1; b <= 9; ++b) add(a, b);
  } else {
    for (int k = atoms < 3 ? 0 : pick(4); k > 0; --k) add(pick(atoms) + 1, pick(atoms) + 1);
  }
  std::string tail = "M  END\n";
  if (pick(2) == 0) tail += ">  <ID>\n" + std::to_string(number) + "\n\n";
  if (pick(5) == 0) tail += ">  <NOTE>\nline one\n  8  8  8\n\n";
  return sdf_record("random " + std::to_string(number), symbols, bonds, tail);
}

TEST(Conservation, GeneratedFilesUnderEveryOption) {
  std::mt19937 random(20261207);
  std::vector<std::string> records;
  std::string input;
  for (int i = 1; i <= 300; ++i) {
    records.push_back(random_record(random, i));
    input += records.back();
  }
  const std::vector<std::string> patterns = {"CCO", "C1CCC1", "C{N|O}*C", "C(=O)N", "{C|N}+O"};
  const std::vector<std::vector<std::string>> option_sets = {{}, {"-span"}, {"-ind"}, {"-min"}, {"-span", "-min"}};
  int accepted_runs = 0;
  int too_wide_runs = 0;
  for (const std::string& pattern : patterns) {
    for (const auto& options : option_sets) {
      TempDir dir;
      dir.write("in.sdf", input);
      std::vector<std::string> args{"in.sdf"};
      args.insert(args.end(), options.begin(), options.end());
      args.push_back(pattern);
      test::RunResult r = run_binary(dir, args);
      ASSERT_EQ(r.status, 0) << pattern << r.err;
      EXPECT_EQ(test::lost_records(records, r.out, dir), "") << pattern;
      accepted_runs += !dir.read("accept.sdf").empty();
      too_wide_runs += !dir.read("tw_big.sdf").empty();
    }
  }
  // The generated files exercise all three outputs.
  EXPECT_GT(accepted_runs, 10);
  EXPECT_EQ(too_wide_runs, 25);
}

// Rejected by the patterns below: no atom label matches.
using test::disulfide;
using test::ethanol;

TEST(Conservation, FullDiskKeepsTheFinishedRecords) {
  TempDir dir;
  dir.write("in.sdf", disulfide() + disulfide() + ethanol() + disulfide());
  std::filesystem::create_symlink("/dev/full", dir.path() / "accept.sdf");
  test::RunResult r = run_binary(dir, {"in.sdf", "CCO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: \"accept.sdf\" cannot be written!");
  EXPECT_EQ(dir.read("reject.sdf"), disulfide() + disulfide());
  EXPECT_EQ(dir.read("tw_big.sdf"), "");
}

// A record whose tables pass the memory limit is set aside as too wide and
// the run goes on with the next one.
TEST(Conservation, RecordOverTheTableBudgetGoesToTwBig) {
  TempDir dir;
  dir.write("in.sdf", disulfide() + ethanol() + test::grid_record() + disulfide());
  test::RunResult r = run_binary(dir, {"in.sdf", "C{C|CC}*C"}, "TARNAXEL_TABLE_MEMORY_MB=16 ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "record 3: the configuration tables exceed the memory limit of 16 MB; the record goes to "
                   "tw_big.sdf\n");
  EXPECT_NE(r.out.find("\n3\t50 \t85 \t2\t6\t0.00\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n4\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Accept:1 Reject:2 TW_Big:1\n"), std::string::npos) << r.out;
  EXPECT_EQ(dir.read("tw_big.sdf"), test::grid_record());
  EXPECT_EQ(dir.read("reject.sdf"), disulfide() + disulfide());
  EXPECT_EQ(test::records_of(dir.read("accept.sdf")).size(), 1u);
}

// A real allocation failure still ends the run as exhausted memory does,
// with the statistics of the finished records kept.
TEST(Conservation, ExhaustedMemoryEndsTheRun) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  TempDir dir;
  dir.write("in.sdf", disulfide() + ethanol() + test::grid_record() + disulfide());
  test::RunResult r = run_binary(dir, {"in.sdf", "C{C|CC}*C"}, "ulimit -v 300000 && TARNAXEL_TABLE_MEMORY_MB=100000 ");
  EXPECT_EQ(r.status, 128 + SIGABRT);
  EXPECT_EQ(r.err.substr(0, 15), "Out of memory!\n");
  EXPECT_NE(r.out.find("\n2\t3  \t2  \t1\t1\t"), std::string::npos) << r.out;
  EXPECT_EQ(dir.read("reject.sdf"), disulfide());
}

// Each output file is empty or ends with a whole record.
bool ends_with_whole_record(const std::string& text) {
  return text.empty() || (text.size() >= 6 && text.compare(text.size() - 6, 6, "\n$$$$\n") == 0);
}

TEST(Conservation, KilledRunLeavesWholeRecords) {
  TempDir dir;
  const std::string fifo = (dir.path() / "in.sdf").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(TARNAXEL_BINARY, TARNAXEL_BINARY, "in.sdf", "CCO", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Feed 200 whole records and half of one more, keep the pipe open, and
  // wait until the finished records are all on disk.
  int fd = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  std::string input;
  std::vector<std::string> records;
  for (int i = 0; i < 200; ++i) {
    records.push_back(i % 3 == 0 ? ethanol() : disulfide());
    input += records.back();
  }
  input += ethanol().substr(0, 40);
  ASSERT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  auto all = [&] { return dir.read("reject.sdf") + dir.read("accept.sdf") + dir.read("tw_big.sdf"); };
  for (int wait = 0; wait < 2000 && test::records_of(all()).size() < 200; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(fd);
  EXPECT_TRUE(WIFSIGNALED(status));
  for (const char* name : {"reject.sdf", "accept.sdf", "tw_big.sdf"})
    EXPECT_TRUE(ends_with_whole_record(dir.read(name))) << name;
  std::string rejected;
  for (const std::string& r : records)
    if (r == disulfide()) rejected += r;
  EXPECT_TRUE(dir.read("reject.sdf") == rejected);
  EXPECT_EQ(test::records_of(dir.read("accept.sdf")).size(), 67u);
}

}  // namespace
}  // namespace tarnaxel
