// Replays every fuzz seed and every input a fuzzer once found to break the
// tool through the same checks the fuzz targets run, so the regressions stay
// fixed in the normal (and the sanitizer) build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/checks.h"

namespace tarnaxel::fuzz {
namespace {

namespace fs = std::filesystem;
using Check = std::string (*)(const uint8_t*, size_t);

int replay(const std::string& target, Check check) {
  int inputs = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    fs::path dir = fs::path(TARNAXEL_SOURCE_DIR) / "fuzz" / kind / target;
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> files(fs::directory_iterator(dir), fs::directory_iterator{});
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "") << file;
      ++inputs;
    }
  }
  return inputs;
}

TEST(FuzzReplay, EveryKeptInputIsHandledSoundly) {
  EXPECT_GT(replay("compile", check_compile), 10);
  EXPECT_GT(replay("loader", check_loader), 3);
  EXPECT_GT(replay("record", check_records), 10);
  EXPECT_GT(replay("marking", check_marking), 3);
  EXPECT_GT(replay("reference", check_reference), 5);
  EXPECT_GT(replay("smiles", check_smiles), 3);
}

}  // namespace
}  // namespace tarnaxel::fuzz
