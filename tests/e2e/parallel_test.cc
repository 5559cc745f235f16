// scripts/tarnaxel-parallel: the merged outputs of the sharded run equal a
// single run's, byte for byte (timings aside), also when a record stops it.
#include <unistd.h>

#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::TempDir;

// Runs the parallel script in dir, like run_binary runs the tool.
test::RunResult run_parallel(const TempDir& dir, const std::string& args, const std::string& prefix = "",
                             const std::string& hosts = "-j 3") {
  std::string command = "cd '" + dir.path().string() + "' && " + prefix + "TARNAXEL='" TARNAXEL_BINARY "' '" +
                        TARNAXEL_SOURCE_DIR "/scripts/tarnaxel-parallel' " + hosts + " " + args +
                        " > stdout.txt 2> stderr.txt";
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

// Outputs of one run and of the sharded run, compared.
void expect_same(const TempDir& one, const test::RunResult& a, const TempDir& many, const test::RunResult& b,
                 const std::string& what) {
  EXPECT_EQ(a.status, b.status) << what;
  EXPECT_EQ(test::without_timings(a.out), test::without_timings(b.out)) << what;
  EXPECT_EQ(a.err, b.err) << what;
  for (const char* name : {"automaton.txt", "accept.sdf", "reject.sdf", "tw_big.sdf"})
    EXPECT_TRUE(one.read(name) == many.read(name)) << what << " " << name;
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
    expect_same(one, a, many, b, c.args);
  }
}

// An ssh server on 127.0.0.1 for the length of a test, with a throwaway
// host key and login key.
class SshServer {
 public:
  explicit SshServer(const TempDir& dir) : dir_(dir) {
    const std::string d = dir.path().string();
    port_ = 20000 + static_cast<int>(getpid() % 20000);
    dir.write("sshd_config", "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\nHostKey " + d +
                                 "/hostkey\nAuthorizedKeysFile " + d + "/key.pub\nPasswordAuthentication no\n"
                                 "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\nPidFile " + d +
                                 "/sshd.pid\nPermitRootLogin prohibit-password\n");
    const std::string start = "cd '" + d + "' && ssh-keygen -q -t ed25519 -N '' -f hostkey && ssh-keygen -q -t "
                              "ed25519 -N '' -f key && mkdir -p /run/sshd 2>/dev/null; /usr/sbin/sshd -f '" + d +
                              "/sshd_config' -E '" + d + "/sshd.log'";
    started_ = std::system(start.c_str()) == 0;
  }
  // Stops the server and waits (up to 5 s) until it has gone.
  ~SshServer() {
    if (!started_) return;
    const std::string pid = "$(cat '" + dir_.path().string() + "/sshd.pid' 2>/dev/null)";
    std::system(("p=" + pid + "; [ -n \"$p\" ] && kill $p 2>/dev/null && for i in $(seq 50); do kill -0 $p 2>/dev/null || "
                 "break; sleep 0.1; done")
                    .c_str());
  }
  bool started() const { return started_; }
  // What GNU parallel logs in with.
  std::string ssh() const {
    return "ssh -p " + std::to_string(port_) + " -i " + dir_.path().string() +
           "/key -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes -o LogLevel=ERROR";
  }

 private:
  const TempDir& dir_;
  int port_ = 0;
  bool started_ = false;
};

// The shards sent to two "hosts" over ssh come back merged as one run.
TEST(Parallel, ShardsOverSsh) {
  if (!have_parallel()) GTEST_SKIP() << "GNU parallel is not installed (.ci/run installs it)";
  if (std::system("test -x /usr/sbin/sshd && command -v rsync > /dev/null") != 0)
    GTEST_SKIP() << "sshd or rsync is not installed (.ci/run installs them)";
  TempDir keys;
  SshServer server(keys);
  ASSERT_TRUE(server.started()) << keys.read("sshd.log");
  const std::string example = test::read_file(std::string(TARNAXEL_SOURCE_DIR) + "/examples/nci_40.sdf");
  TempDir one;
  TempDir many;
  one.write("in.sdf", example);
  many.write("in.sdf", example);
  test::RunResult a = run_single(one, "in.sdf -min 'C{C}*O'");
  test::RunResult b = run_parallel(many, "in.sdf -min 'C{C}*O'", "PARALLEL_SSH='" + server.ssh() + "' ",
                                   "-j 1 -S 127.0.0.1,localhost");
  EXPECT_EQ(b.status, 0) << b.err;
  expect_same(one, a, many, b, "over ssh");
}

}  // namespace
}  // namespace tarnaxel
