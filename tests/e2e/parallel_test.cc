// scripts/tarnaxel-parallel: the merged outputs of the sharded run equal a
// single run's, byte for byte (timings aside), also when a record stops it.
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::TempDir;

// Runs the parallel script in dir, like run_binary runs the tool.
test::RunResult run_parallel(const TempDir& dir, const std::string& args) {
  std::string command = "cd '" + dir.path().string() + "' && TARNAXEL='" TARNAXEL_BINARY "' '" TARNAXEL_SOURCE_DIR
                        "/scripts/tarnaxel-parallel' -j 3 " + args + " > stdout.txt 2> stderr.txt";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read("stdout.txt"), dir.read("stderr.txt")};
}

bool have_parallel() { return std::system("command -v parallel > /dev/null 2>&1") == 0; }

// Runs the tool itself in dir with the same argument text.
test::RunResult run_single(const TempDir& dir, const std::string& args) {
  std::string command = "cd '" + dir.path().string() + "' && '" TARNAXEL_BINARY "' " + args +
                        " > stdout.txt 2> stderr.txt";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read("stdout.txt"), dir.read("stderr.txt")};
}

TEST(Parallel, MergedOutputsEqualOneRun) {
  if (!have_parallel()) GTEST_SKIP() << "GNU parallel is not installed (.ci/run installs it)";
  const std::string example = test::read_file(std::string(TARNAXEL_SOURCE_DIR) + "/examples/nci_40.sdf");
  // Record 30 of this file refuses to be read and stops both runs.
  std::string stopped = example;
  size_t at = 0;
  for (int r = 0; r < 29; ++r) at = stopped.find("\n$$$$\n", at) + 6;
  stopped.insert(at, test::sdf_record("broken", {"C", "C"}, {{1, 3, 1}}));
  struct Case {
    std::string input;
    std::string args;
    int status;
  };
  const std::vector<Case> cases = {
      {example, "in.sdf -min 'C{C}*O'", 0},
      {example, "in.sdf -ind 'CC(=O)O'", 0},
      {example + example, "in.sdf -span 'C(O)N'", 0},
      {stopped, "in.sdf 'CCO'", 1},
      {"", "in.sdf 'CCO'", 0},
  };
  for (const Case& c : cases) {
    TempDir one;
    TempDir many;
    one.write("in.sdf", c.input);
    many.write("in.sdf", c.input);
    test::RunResult a = run_single(one, c.args);
    test::RunResult b = run_parallel(many, c.args);
    EXPECT_EQ(a.status, c.status) << c.args;
    EXPECT_EQ(b.status, c.status) << c.args;
    EXPECT_EQ(test::without_timings(a.out), test::without_timings(b.out)) << c.args;
    EXPECT_EQ(a.err, b.err) << c.args;
    for (const char* name : {"automaton.txt", "accept.sdf", "reject.sdf", "tw_big.sdf"})
      EXPECT_TRUE(one.read(name) == many.read(name)) << c.args << " " << name;
  }
}

}  // namespace
}  // namespace tarnaxel
