// Compressed input of every kind the tool reads (gzip, zstd, bzip2), told by
// its first bytes: from a file and through a pipe, on one thread and two,
// members one after another, and data cut short.
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::run_binary;
using test::TempDir;

struct Kind {
  const char* name;
  const char* pack;  // a command packing standard input to standard output
};
const Kind kKinds[] = {{"gzip", "gzip -c"}, {"zstd", "zstd -q -c"}, {"bzip2", "bzip2 -c"}};

// Packs a file of dir into another with a command.
void pack(const TempDir& dir, const std::string& command, const std::string& from, const std::string& to) {
  const std::string in = (dir.path() / from).string();
  const std::string out = (dir.path() / to).string();
  ASSERT_EQ(std::system((command + " < '" + in + "' > '" + out + "'").c_str()), 0) << command;
}

// The outputs of a run, timings blanked.
std::string outputs(const TempDir& dir, const test::RunResult& r) {
  return std::to_string(r.status) + test::without_timings(r.out) + r.err + dir.read("accept.sdf") +
         dir.read("reject.sdf") + dir.read("tw_big.sdf");
}

TEST(Compression, EveryKindReadsAsThePlainFile) {
  TempDir dir;
  ASSERT_TRUE(test::unpack_corpus(dir.path() / "plain.sdf", 40000));
  const std::string plain = dir.read("plain.sdf");
  const size_t middle = plain.find("$$$$\n", plain.size() / 2) + 5;
  dir.write("first.sdf", plain.substr(0, middle));
  dir.write("second.sdf", plain.substr(middle));
  const std::string want = outputs(dir, run_binary(dir, {"plain.sdf", "-ind", "C(=O){N|O}C"}));
  for (const Kind& kind : kKinds) {
    pack(dir, kind.pack, "plain.sdf", "whole.pack");
    // Two members, frames or streams one after another read as one.
    pack(dir, kind.pack, "first.sdf", "first.pack");
    pack(dir, kind.pack, "second.sdf", "second.pack");
    dir.write("twice.pack", dir.read("first.pack") + dir.read("second.pack"));
    for (const char* threads : {"1", "2"}) {
      const std::string env = std::string("TARNAXEL_THREADS=") + threads + " ";
      for (const char* file : {"whole.pack", "twice.pack"}) {
        EXPECT_EQ(outputs(dir, run_binary(dir, {file, "-ind", "C(=O){N|O}C"}, env)), want) << kind.name << file;
        EXPECT_EQ(outputs(dir, run_binary(dir, {"-", "-ind", "C(=O){N|O}C"}, "cat " + std::string(file) + " | " + env)),
                  want)
            << kind.name << " piped " << file;
      }
    }
    // Cut short: every record before the break is judged and written, then
    // the message and status 1.
    const std::string whole = dir.read("whole.pack");
    dir.write("cut.pack", whole.substr(0, whole.size() * 2 / 3));
    const test::RunResult cut = run_binary(dir, {"cut.pack", "CCO"});
    EXPECT_EQ(cut.status, 1) << kind.name;
    EXPECT_EQ(cut.err, "Error: the compressed SDF_file is damaged.\n") << kind.name;
    const size_t written =
        test::records_of(dir.read("accept.sdf") + dir.read("reject.sdf") + dir.read("tw_big.sdf")).size();
    size_t lines = 0;
    for (char c : cut.out) lines += c == '\n';
    EXPECT_GT(written, 100u) << kind.name;
    EXPECT_EQ(written + 2, lines) << kind.name;
  }
}

// The format (SDF or SMILES) by the name with the compression suffix taken
// off; the compression by the first bytes, whatever the name says.
TEST(Compression, FormatByNameCompressionByContent) {
  TempDir dir;
  dir.write("in.smi", "CCO ethanol\nc1ccccc1 benzene\n");
  pack(dir, "zstd -q -c", "in.smi", "in.smi.zst");
  pack(dir, "bzip2 -c", "in.smi", "in.smi.gz");  // bzip2 data under a gzip name
  const test::RunResult plain = run_binary(dir, {"in.smi", "CO"});
  const std::string want = test::without_timings(plain.out) + dir.read("accept.smi") + dir.read("reject.smi");
  for (const char* name : {"in.smi.zst", "in.smi.gz"}) {
    const test::RunResult r = run_binary(dir, {name, "CO"});
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(test::without_timings(r.out) + dir.read("accept.smi") + dir.read("reject.smi"), want) << name;
  }
}

}  // namespace
}  // namespace tarnaxel
