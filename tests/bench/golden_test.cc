// The benchmark's outputs, pinned: every pattern and option set of the
// benchmark run over the public corpus must give the same statistics (timing
// fields aside) and the same three SDF files, byte for byte, as the tool did
// before it was tuned for speed.  The hashes are in bench/golden.txt;
// TARNAXEL_WRITE_GOLDEN=1 rewrites that file from the current build.
#include <cstdlib>

#include "tests/support.h"

namespace tarnaxel {
namespace {

// FNV-1a, 64 bits.
uint64_t fnv1a(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

const std::vector<std::string> kPatterns = {"CC(=O)O", "C1=CC=CC=C1C", "C1=CC=C(C(=O)N)C=C1", "C(=O){N|O}C", "C{C}*O"};
const std::vector<std::string> kOptions = {"", "-span", "-ind", "-min"};

TEST(Golden, BenchmarkOutputsAreUnchanged) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "minutes under the sanitizers; the normal build checks it";
#endif
  const std::string source = TARNAXEL_SOURCE_DIR;
  const std::string corpus = source + "/bench/corpus.sdf.gz";
  std::string lines;
  for (const std::string& pattern : kPatterns) {
    for (const std::string& option : kOptions) {
      test::TempDir dir;
      std::vector<std::string> args{corpus};
      if (!option.empty()) args.push_back(option);
      args.push_back(pattern);
      test::RunResult r = test::run_binary(dir, args);
      ASSERT_EQ(r.status, 0) << pattern << option << r.err;
      lines += pattern + "\t" + (option.empty() ? "-" : option) + "\t" + hex(fnv1a(test::without_timings(r.out))) +
               "\t" + hex(fnv1a(dir.read("accept.sdf"))) + "\t" + hex(fnv1a(dir.read("reject.sdf"))) + "\t" +
               hex(fnv1a(dir.read("tw_big.sdf"))) + "\n";
    }
  }
  const std::string golden = source + "/bench/golden.txt";
  const char* write = std::getenv("TARNAXEL_WRITE_GOLDEN");
  if (write != nullptr && std::string(write) == "1") test::write_file(golden, lines);
  EXPECT_EQ(lines, test::read_file(golden));
}

}  // namespace
}  // namespace tarnaxel
