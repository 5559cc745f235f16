// End-to-end runs of the built binary in a temporary directory.
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <regex>
#include <thread>

#include <cstring>
#include <iterator>

#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::run_binary;
using test::sdf_record;
using test::TempDir;

const std::string kUsage = "Usage: Tarnaxel InputFileName [-ind] [-span] [-min] Tarnaxel\n";

std::string three_records() {
  return test::ethanol() + test::ethane() + test::propanol("M  END\n>  <ID>\n3\n\n");
}

TEST(Cli, UsageRefusals) {
  TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {"in.sdf"},
      {"in.sdf", "-ind", "-span", "-min", "CCO"},
      {"in.sdf", "-IND", "CCO"},
      {"in.sdf", "-spanx", "CCO"},
  };
  for (const auto& args : cases) {
    test::RunResult r = run_binary(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "automaton.txt"));
}

TEST(Cli, EmptyPatternComesBeforeOptions) {
  TempDir dir;
  test::RunResult r = run_binary(dir, {"in.sdf", "-bad", ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error:Tarnaxel\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81\x42\n");
}

TEST(Cli, LongArguments) {
  TempDir dir;
  test::RunResult r = run_binary(dir, {"in.sdf", std::string(100, 'C')});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: the pattern is longer than 99 characters.\n");
  // An input file name of any length is opened under that name.
  const std::string name = std::string(150, 'x') + ".sdf";
  dir.write(name, three_records());
  r = run_binary(dir, {name, "CCO"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::records_of(dir.read("reject.sdf") + dir.read("accept.sdf")).size(), 3u);
}

TEST(Cli, RefusedPatternLeavesEmptyAutomaton) {
  TempDir dir;
  test::RunResult r = run_binary(dir, {"in.sdf", "C(C"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error:(\x82\xaa\x91\xbd\x82\xa2\x81\x42\n");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "automaton.txt"));
  EXPECT_EQ(dir.read("automaton.txt"), "");
}

// An input that is one of the output files is refused before any file is
// made, and kept.
TEST(Cli, InputThatIsAnOutputIsKept) {
  TempDir dir;
  dir.write("accept.sdf", test::ethanol());
  test::RunResult r = run_binary(dir, {"accept.sdf", "CCO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: the input file is also the output file \"accept.sdf\".");
  EXPECT_EQ(dir.read("accept.sdf"), test::ethanol());
}

// A ring-bond number never closed is refused before anything is read.
TEST(Cli, RingNeverClosedIsRefused) {
  TempDir dir;
  dir.write("in.sdf", test::ethanol());
  test::RunResult r = run_binary(dir, {"in.sdf", "C1CC"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error: ring-bond number 1 is never closed.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.read("automaton.txt"), "");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "reject.sdf"));
}

TEST(Cli, AutomatonThatCannotBeWritten) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "automaton.txt");
  test::RunResult r = run_binary(dir, {"in.sdf", "CCO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error: \"automaton.txt\" cannot be opened!");
}

TEST(Cli, InputThatCannotBeOpened) {
  TempDir dir;
  test::RunResult r = run_binary(dir, {"missing.sdf", "CCO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Automaton Size (# of rules): 3\n\n");
  EXPECT_EQ(r.err, "Error: Cannot open SDF_file.");
  EXPECT_EQ(dir.read("automaton.txt"),
            "q1,q2,q3\nC,O\n1\nq1(C(1))\t->\tC(q2(1))\nq2(C(1))\t->\tC(q3(1))\nq3(O)\t\t->\tO\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "reject.sdf"));
}

TEST(Cli, EmptyInput) {
  TempDir dir;
  dir.write("in.sdf", "");
  test::RunResult r = run_binary(dir, {"in.sdf", "-min", "-min", "CCO"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(test::without_timings(r.out),
            "Automaton Size (# of rules): 3\n\n\nTotal Duration:T\nAccept:0 Reject:0 TW_Big:0\n");
  for (const char* name : {"accept.sdf", "reject.sdf", "tw_big.sdf"}) EXPECT_EQ(dir.read(name), "") << name;
}

TEST(Cli, TypicalRun) {
  TempDir dir;
  dir.write("in.sdf", three_records());
  test::RunResult r = run_binary(dir, {"in.sdf", "CCO"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::without_timings(r.out),
            "Automaton Size (# of rules): 3\n\n"
            "1\t3  \t2  \t1\t1\t2.00\tT\n"
            "2\t2  \t1  \t0\t1\t0.00\tT\n"
            "3\t4  \t3  \t1\t1\t2.00\tT\n"
            "\nTotal Duration:T\nAccept:2 Reject:1 TW_Big:0\n");
  std::string propanol = sdf_record("propanol", {"C", "C", "C", "O"}, {{1, 2, 8}, {2, 3, 1}, {3, 4, 1}},
                                    "M  END\n>  <ID>\n3\n\n");
  EXPECT_EQ(dir.read("accept.sdf"), test::ethanol() + propanol);
  EXPECT_EQ(dir.read("reject.sdf"), test::ethane());
  EXPECT_EQ(dir.read("tw_big.sdf"), "");
}

TEST(Cli, GzipInputGivesTheSameOutputs) {
  TempDir plain;
  TempDir packed;
  plain.write("in.sdf", three_records());
  gzFile gz = gzopen((packed.path() / "in.sdf.gz").c_str(), "wb");
  ASSERT_NE(gz, nullptr);
  std::string text = three_records();
  gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
  gzclose(gz);
  test::RunResult a = run_binary(plain, {"in.sdf", "-span", "CCO"});
  test::RunResult b = run_binary(packed, {"in.sdf.gz", "-span", "CCO"});
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(test::without_timings(a.out), test::without_timings(b.out));
  for (const char* name : {"accept.sdf", "reject.sdf", "tw_big.sdf", "automaton.txt"})
    EXPECT_EQ(plain.read(name), packed.read(name)) << name;
}

TEST(Cli, PipedInputGivesTheSameOutputs) {
  TempDir file;
  TempDir pipe;
  file.write("in.sdf", three_records());
  pipe.write("in.sdf", three_records());
  test::RunResult a = run_binary(file, {"in.sdf", "CCO"});
  test::RunResult b = run_binary(pipe, {"/dev/stdin", "CCO"}, "cat in.sdf | ");
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(test::without_timings(a.out), test::without_timings(b.out));
  for (const char* name : {"accept.sdf", "reject.sdf", "tw_big.sdf"}) EXPECT_EQ(file.read(name), pipe.read(name)) << name;
  // "-" is standard input, and gzip data through a pipe is inflated as it
  // comes; damaged data is refused, not misread.
  for (const char* feed : {"cat in.sdf | ", "gzip -c in.sdf | "}) {
    test::RunResult c = run_binary(pipe, {"-", "CCO"}, feed);
    ASSERT_EQ(c.status, 0) << feed << c.err;
    EXPECT_EQ(test::without_timings(a.out), test::without_timings(c.out)) << feed;
    for (const char* name : {"accept.sdf", "reject.sdf", "tw_big.sdf"})
      EXPECT_EQ(file.read(name), pipe.read(name)) << feed << name;
  }
  test::RunResult c = run_binary(pipe, {"/dev/stdin", "CCO"}, "printf '\\037\\213rest' | ");
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err, "Error: the compressed SDF_file is damaged.\n");
}

TEST(Cli, OutputThatCannotBeCreated) {
  TempDir dir;
  dir.write("in.sdf", three_records());
  std::filesystem::create_directory(dir.path() / "tw_big.sdf");
  test::RunResult r = run_binary(dir, {"in.sdf", "CCO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: \"tw_big.sdf\" cannot be opened!");
  EXPECT_EQ(dir.read("reject.sdf"), "");
}

TEST(Cli, UnreadableRecordStopsAfterTheCompleteOnes) {
  TempDir dir;
  dir.write("in.sdf", three_records() + "broken\n\n\n  3  0\n");
  test::RunResult r = run_binary(dir, {"in.sdf", "CCO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: record 4 of the SDF_file ends inside the atom block.\n");
  EXPECT_EQ(dir.read("reject.sdf"), test::ethane());
}

// The questions a chemist asks first: single atoms, the aromatic bond, a
// blank tail after the last record.  Five records: ethanol, a lone carbon,
// ethanol with a sodium ion, ethene and a pair of carbons joined by an
// aromatic bond (type 4).
struct Sample {
  std::vector<std::string> atoms;
  std::vector<test::BondSpec> bonds;
  int width;
};
const Sample kSamples[] = {
    {{"C", "C", "O"}, {{1, 2, 1}, {2, 3, 1}}, 1},
    {{"C"}, {}, 0},
    {{"C", "C", "O", "Na"}, {{1, 2, 1}, {2, 3, 1}}, 1},
    {{"C", "C"}, {{1, 2, 2}}, 1},
    {{"C", "C"}, {{1, 2, 4}}, 1},
};

// The record of sample i, its unmatched bonds re-typed when retyped is set.
std::string sample_record(size_t i, bool retyped) {
  std::vector<test::BondSpec> bonds = kSamples[i].bonds;
  if (retyped)
    for (test::BondSpec& b : bonds) b.type = 8;
  return sdf_record("s" + std::to_string(i + 1), kSamples[i].atoms, bonds);
}

std::string samples() {
  std::string text;
  for (size_t i = 0; i < std::size(kSamples); ++i) text += sample_record(i, false);
  return text;
}

TEST(Cli, SingleAtomsAndTheAromaticBond) {
  struct Case {
    std::vector<std::string> args;  // options and pattern
    const char* head;               // the first lines of "automaton.txt"
    const char* results;            // one code per sample
    bool single_atom;               // accepted records have every bond re-typed, score 0
  };
  const Case cases[] = {
      {{"C"}, "q1\nC\n1\nq1(C)\t\t->\tC\n", "11111", true},
      {{"-span", "C"}, "q1\nC\n1\n", "01000", true},
      {{"Cl"}, "q1\nCl\n1\nq1(Cl)\t\t->\tCl\n", "00000", true},
      {{"[Na]"}, "q1\nNa\n1\nq1(Na)\t\t->\tNa\n", "00100", true},
      {{"-span", "[Na]"}, "q1\nNa\n1\n", "00000", true},
      {{"-ind", "-min", "{C|N}"}, "q0,q1,q2\nC,N\n1\nq0(C)\t\t->\tC\n", "11111", true},
      {{"-span", "-ind", "{C|N}"}, "q0,q1,q2\nC,N\n1\n", "01000", true},
      {{"C:C"}, "q1,q2\nC\n1,4\nq1(C(4))\t->\tC(q2(4))\n", "00001", false},
      {{"C=C"}, "q1,q2\nC\n1,2\n", "00010", false},
  };
  TempDir dir;
  dir.write("in.sdf", samples());
  for (const Case& c : cases) {
    std::vector<std::string> args{"in.sdf"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string pattern = c.args.back();
    test::RunResult r = run_binary(dir, args);
    ASSERT_EQ(r.status, 0) << pattern << r.err;
    EXPECT_EQ(r.err, "");
    std::string out, accept, reject;
    int counts[2] = {0, 0};
    for (size_t i = 0; i < std::size(kSamples); ++i) {
      const Sample& s = kSamples[i];
      const int result = c.results[i] - '0';
      const size_t score = result == 1 && !c.single_atom ? s.bonds.size() : 0;
      out += std::to_string(i + 1) + "\t" + std::to_string(s.atoms.size()) + "  \t" +
             std::to_string(s.bonds.size()) + "  \t" + std::to_string(result) + "\t" + std::to_string(s.width) +
             "\t" + std::to_string(score) + ".00\tT\n";
      (result == 1 ? accept : reject) += sample_record(i, result == 1 && c.single_atom);
      ++counts[result];
    }
    const std::string automaton = dir.read("automaton.txt");
    EXPECT_EQ(automaton.substr(0, std::strlen(c.head)), c.head) << pattern;
    EXPECT_EQ(test::without_timings(r.out),
              "Automaton Size (# of rules): " + std::to_string(std::count(automaton.begin(), automaton.end(), '\n') - 3) +
                  "\n\n" + out + "\nTotal Duration:T\nAccept:" + std::to_string(counts[1]) +
                  " Reject:" + std::to_string(counts[0]) + " TW_Big:0\n")
        << pattern;
    EXPECT_EQ(dir.read("accept.sdf"), accept) << pattern;
    EXPECT_EQ(dir.read("reject.sdf"), reject) << pattern;
    EXPECT_EQ(dir.read("tw_big.sdf"), "") << pattern;
  }
}

TEST(Cli, BlankTailIsNoRecord) {
  TempDir clean;
  clean.write("in.sdf", samples());
  const test::RunResult expected = run_binary(clean, {"in.sdf", "CC"});
  ASSERT_EQ(expected.status, 0);
  for (const char* tail : {"\n", "\n  \t\r\n\n", "\r\n", " "}) {
    TempDir dir;
    dir.write("in.sdf", samples() + tail);
    test::RunResult r = run_binary(dir, {"in.sdf", "CC"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::without_timings(r.out), test::without_timings(expected.out));
    for (const char* name : {"accept.sdf", "reject.sdf", "tw_big.sdf"}) EXPECT_EQ(dir.read(name), clean.read(name));
  }
  // Anything else after the blank lines is a record, refused as before.
  TempDir dir;
  dir.write("in.sdf", samples() + "\n\nx\n");
  test::RunResult r = run_binary(dir, {"in.sdf", "CC"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: record 6 of the SDF_file ends inside the header.\n");
}

TEST(Cli, FirstFaultOfAPatternIsReported) {
  const std::pair<const char*, const char*> cases[] = {
      // The parser stops at a "|" outside every group: what it met before,
      // and then the head lines over the whole text, speak first.
      {"C.|(C", "Error\x81\x46\x93\x96\x82\xc4\x82\xcd\x82\xdc\x82\xe7\x82\xc8\x82\xa2\n"},
      {" |(C", "Error\x81\x46\x93\x96\x82\xc4\x82\xcd\x82\xdc\x82\xe7\x82\xc8\x82\xa2\n"},
      {"C|(X", "Error.\n"},
      {"C|(C", "Error: \"|\" stands outside every group.\n"},
      {"C(C|.", "Error:(\x82\xaa\x91\xbd\x82\xa2\x81\x42\n"},
  };
  TempDir dir;
  for (const auto& [pattern, message] : cases) {
    test::RunResult r = run_binary(dir, {"in.sdf", pattern});
    EXPECT_EQ(r.status, 1) << pattern;
    EXPECT_EQ(r.out, message) << pattern;
    EXPECT_EQ(dir.read("automaton.txt"), "") << pattern;
  }
}

TEST(Cli, BundledExampleRuns) {
  TempDir dir;
  std::string example = std::string(TARNAXEL_SOURCE_DIR) + "/examples/nci_40.sdf";
  test::RunResult r = run_binary(dir, {example, "CC(=O)O"});
  ASSERT_EQ(r.status, 0);
  std::string all = dir.read("accept.sdf") + dir.read("reject.sdf") + dir.read("tw_big.sdf");
  EXPECT_EQ(std::count(all.begin(), all.end(), '$'), 4 * 40);
  EXPECT_NE(r.out.find("Accept:3 Reject:37 TW_Big:0\n"), std::string::npos);
}

TEST(Cli, BundledExampleUnderEveryOptionKeepsEveryRecord) {
  const std::string example = std::string(TARNAXEL_SOURCE_DIR) + "/examples/nci_40.sdf";
  const std::vector<std::string> input = test::records_of(test::read_file(example));
  ASSERT_EQ(input.size(), 40u);
  const std::vector<std::string> patterns = {"CC(=O)O", "C1=CC=CC=C1C", "C(O)N", "{C|N}O", "C{C}*O", "c1ccccc1",
                                             "C{N|O}+C"};
  const std::vector<std::vector<std::string>> option_sets = {{}, {"-span"}, {"-ind"}, {"-min"}, {"-ind", "-min"}};
  for (const std::string& pattern : patterns) {
    for (const auto& options : option_sets) {
      TempDir dir;
      std::vector<std::string> args{example};
      args.insert(args.end(), options.begin(), options.end());
      args.push_back(pattern);
      test::RunResult r = run_binary(dir, args);
      ASSERT_EQ(r.status, 0) << pattern << r.err;
      EXPECT_EQ(test::lost_records(input, r.out, dir), "") << pattern;
    }
  }
}

// The long options before the input file name, and what a person at a
// terminal sees.
TEST(LongOptions, HelpAndVersion) {
  TempDir dir;
  test::RunResult help = run_binary(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* part : {"Usage: tarnaxel [LONG OPTIONS] InputFileName", "--outdir DIR", "--match-data",
                           "--quiet", "C1=CC=CC=C1", "{C|N}O", "[Na]", "aromatic", "accept.sdf", "seconds"})
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  test::RunResult version = run_binary(dir, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("tarnaxel [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
  // What the fixed form refuses is refused as before.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-h"}, {"--colour", "in.sdf", "CCO"}, {"--outdir"}, {"--quiet", "in.sdf"}, {"in.sdf", "--quiet", "CCO"}}) {
    test::RunResult r = run_binary(dir, args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, kUsage) << args[0];
  }
}

TEST(LongOptions, OutdirQuietAndDashDash) {
  TempDir dir;
  dir.write("--in.sdf", three_records());
  test::RunResult plain = run_binary(dir, {"--", "--in.sdf", "C(C)O"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  test::RunResult moved = run_binary(dir, {"--outdir", "out/deeper", "--quiet", "--", "--in.sdf", "C(C)O"});
  ASSERT_EQ(moved.status, 0) << moved.err;
  for (const char* name : {"automaton.txt", "accept.sdf", "reject.sdf", "tw_big.sdf"})
    EXPECT_EQ(dir.read(std::string("out/deeper/") + name), dir.read(name)) << name;
  // Quiet: the statistics lines go, the rule count and the summary stay.
  EXPECT_EQ(test::without_timings(moved.out).find("\n1\t"), std::string::npos);
  EXPECT_EQ(moved.out.substr(0, moved.out.find("\n\n") + 2), plain.out.substr(0, plain.out.find("\n\n") + 2));
  EXPECT_EQ(moved.out.substr(moved.out.rfind("Accept:")), plain.out.substr(plain.out.rfind("Accept:")));
  // An output directory that is a file: the message of the first file.
  dir.write("taken", "");
  test::RunResult refused = run_binary(dir, {"--outdir=taken", "--", "--in.sdf", "CCO"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "Error: \"taken/automaton.txt\" cannot be opened!");
}

TEST(LongOptions, MatchDataKeepsTheRecordAndAddsTheMatch) {
  TempDir dir;
  dir.write("in.sdf", three_records());
  test::RunResult r = run_binary(dir, {"--match-data", "in.sdf", "CCO"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> input = test::records_of(three_records());
  auto with_items = [](const std::string& record, const std::string& items) {
    return record.substr(0, record.size() - 5) + items + "$$$$\n";
  };
  EXPECT_EQ(dir.read("accept.sdf"),
            with_items(input[0], "> <TARNAXEL_BONDS>\n1 2\n\n> <TARNAXEL_ATOMS>\n1 2 3\n\n> <TARNAXEL_SCORE>\n2.00\n\n") +
                with_items(input[2],
                           "> <TARNAXEL_BONDS>\n2 3\n\n> <TARNAXEL_ATOMS>\n2 3 4\n\n> <TARNAXEL_SCORE>\n2.00\n\n"));
  EXPECT_EQ(dir.read("reject.sdf"), input[1]);
}

// Runs the tool on a pseudo-terminal (standard input, output and error) in
// dir with LANG set; returns what the terminal showed, without the
// carriage returns the terminal adds to line feeds.
std::string run_on_terminal(const TempDir& dir, const std::vector<std::string>& args, const char* lang) {
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    setenv("LANG", lang, 1);
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    std::vector<char*> argv{const_cast<char*>(TARNAXEL_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TARNAXEL_BINARY, argv.data());
    _exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(master, buffer, sizeof buffer);
    if (got > 0) shown.append(buffer, static_cast<size_t>(got));
    else if (got < 0 && errno == EINTR) continue;
    else break;
  }
  close(master);
  waitpid(pid, nullptr, 0);
  std::string text;
  for (size_t i = 0; i < shown.size(); ++i)
    if (!(shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n')) text.push_back(shown[i]);
  return text;
}

// --aromatic reads every record with aromaticity perceived: a lowercase
// pattern finds a benzene ring however the file draws it, the records are
// written as read, and an uppercase ring finds no aromatic ring.
TEST(LongOptions, AromaticFindsRingsHoweverDrawn) {
  TempDir dir;
  const std::string toluene =
      test::sdf_record("toluene", {"C", "C", "C", "C", "C", "C", "C"},
                       {{1, 2, 2}, {2, 3, 1}, {3, 4, 2}, {4, 5, 1}, {5, 6, 2}, {6, 1, 1}, {6, 7, 1}});
  const std::string other_way =
      test::sdf_record("toluene drawn the other way", {"C", "C", "C", "C", "C", "C", "C"},
                       {{1, 2, 1}, {2, 3, 2}, {3, 4, 1}, {4, 5, 2}, {5, 6, 1}, {6, 1, 2}, {6, 7, 1}});
  const std::string cyclohexane =
      test::sdf_record("cyclohexane", {"C", "C", "C", "C", "C", "C"},
                       {{1, 2, 1}, {2, 3, 1}, {3, 4, 1}, {4, 5, 1}, {5, 6, 1}, {6, 1, 1}});
  dir.write("in.sdf", toluene + other_way + cyclohexane);
  test::RunResult r = run_binary(dir, {"--aromatic", "in.sdf", "c1ccccc1C"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.read("accept.sdf"), toluene + other_way);  // every bond matched: none re-typed
  EXPECT_EQ(dir.read("reject.sdf"), cyclohexane);
  EXPECT_NE(r.out.find("Accept:2 Reject:1 TW_Big:0"), std::string::npos) << r.out;
  // Without the option the lowercase atoms are only those written so.
  r = run_binary(dir, {"in.sdf", "c1ccccc1C"});
  EXPECT_NE(r.out.find("Accept:0 Reject:3 TW_Big:0"), std::string::npos) << r.out;
  // Under it, the atoms of an uppercase ring are aliphatic.
  r = run_binary(dir, {"--aromatic", "in.sdf", "C1=CC=CC=C1"});
  EXPECT_NE(r.out.find("Accept:0 Reject:3 TW_Big:0"), std::string::npos) << r.out;
}

// SMILES input: by the name or --smiles; lines copied as read to the .smi
// outputs (the match appended with --match-data); blank and '#' lines
// skipped; a line that cannot be read ends the run after the ones before.
TEST(LongOptions, SmilesInput) {
  TempDir dir;
  dir.write("in.smi", "OCC ethanol\n# a comment\n\nc1ccccc1C toluene\nCC1=CC=CC=C1 drawn Kekule\n");
  test::RunResult r = run_binary(dir, {"in.smi", "c1ccccc1C"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.read("accept.smi"), "c1ccccc1C toluene\n");
  EXPECT_EQ(dir.read("reject.smi"), "OCC ethanol\nCC1=CC=CC=C1 drawn Kekule\n");
  EXPECT_EQ(dir.read("tw_big.smi"), "");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "accept.sdf"));
  EXPECT_NE(r.out.find("\n2\t7  \t7  \t1\t2\t7.00\t"), std::string::npos) << r.out;
  // Perceived, the Kekule ring is aromatic too; the match goes with the line.
  r = run_binary(dir, {"--aromatic", "--match-data", "in.smi", "c1ccccc1C"});
  EXPECT_EQ(dir.read("accept.smi"),
            "c1ccccc1C toluene\t1 2 3 4 5 6 7\t1 2 3 4 5 6 7\t7.00\n"
            "CC1=CC=CC=C1 drawn Kekule\t1 2 3 4 5 6 7\t1 2 3 4 5 6 7\t7.00\n");
  // From a pipe, with a header line.
  dir.write("in.txt", "smiles name\nCCO ethanol\n");
  r = run_binary(dir, {"--smiles", "--smiles-header", "-", "CO"}, "cat in.txt | ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.read("accept.smi"), "CCO ethanol\n");
  dir.write("bad.smi", "CCO one\nC(C two\nCCO three\n");
  r = run_binary(dir, {"bad.smi", "CO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: record 2 of the SMILES_file cannot be read at character 2: '(' is never closed.\n");
  EXPECT_EQ(dir.read("accept.smi"), "CCO one\n");
}

// --skip-bad: a record the reader refuses goes whole to bad.sdf (bad.smi),
// is named on stderr and counted as Bad:N, and the run goes on; an SDF
// record ends at its first "$$$$" line even when its counts promised more.
TEST(LongOptions, SkipBadGoesOn) {
  const std::string bad_bond = test::sdf_record("bad bond", {"C", "C"}, {{1, 9, 1}});
  const std::string short_bonds = "short bonds\n\n\n  2  3  0  0  0  0  0  0  0  0999 V2000\n"
                                  "    0.0000    0.0000    0.0000 C   0  0\n    0.0000    0.0000    0.0000 O   0  0\n"
                                  "  1  2  1  0\n$$$$\n";
  for (const char* threads : {"TARNAXEL_THREADS=1 ", "TARNAXEL_THREADS=2 "}) {
    TempDir dir;
    dir.write("in.sdf", test::ethanol() + bad_bond + test::ethane() + short_bonds + test::propanol());
    test::RunResult r = run_binary(dir, {"--skip-bad", "in.sdf", "CO"}, threads);
    EXPECT_EQ(r.status, 0) << threads << r.err;
    EXPECT_EQ(dir.read("bad.sdf"), bad_bond + short_bonds) << threads;
    EXPECT_EQ(r.err,
              "record 2: has bond 1 naming an atom outside 1..2; the record goes to bad.sdf\n"
              "record 4: has bond 2 naming an atom outside 1..2; the record goes to bad.sdf\n")
        << threads;
    EXPECT_EQ(test::records_of(dir.read("accept.sdf") + dir.read("reject.sdf")).size(), 3u) << threads;
    EXPECT_NE(r.out.find("Accept:2 Reject:1 TW_Big:0 Bad:2\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\n2\t"), std::string::npos) << r.out;  // no statistics for a refused record
  }
  TempDir dir;
  dir.write("in.smi", "CCO one\nC(C two\nOC three\n");
  test::RunResult r = run_binary(dir, {"--skip-bad", "in.smi", "CO"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("bad.smi"), "C(C two\n");
  EXPECT_EQ(dir.read("accept.smi"), "CCO one\nOC three\n");
  // Without the option the first refusal ends the run, and there is no bad file.
  r = run_binary(dir, {"in.smi", "CO"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "bad.sdf"));
}

TEST(LongOptions, PeopleAtATerminal) {
  TempDir dir;
  dir.write("in.sdf", three_records());
  // A UTF-8 terminal: the message converted, and where the pattern is wrong.
  EXPECT_EQ(run_on_terminal(dir, {"in.sdf", "CX"}, "C.UTF-8"),
            "Error\xef\xbc\x9a\xe5\xbd\x93\xe3\x81\xa6\xe3\x81\xaf\xe3\x81\xbe\xe3\x82\x89\xe3\x81\xaa\xe3\x81\x84\n"
            "at character 2: 'X' starts no atom, bond or group\n");
  const std::string missing = run_on_terminal(dir, {"missing.sdf", "CCO"}, "C.UTF-8");
  EXPECT_NE(missing.find("Error: Cannot open SDF_file.\nmissing.sdf: No such file or directory\n"), std::string::npos)
      << missing;
  // Another locale: the message's own bytes.
  EXPECT_EQ(run_on_terminal(dir, {"in.sdf", "CX"}, "C"), "Error\x81\x46\x93\x96\x82\xc4\x82\xcd\x82\xdc\x82\xe7\x82\xc8\x82\xa2\n");
  // A run that waits for its input shows its progress on the terminal and
  // takes it away before the summary.
  const std::string fifo = (dir.path() / "slow.sdf").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread feeder([&fifo] {
    int fd = open(fifo.c_str(), O_WRONLY);
    for (int part = 0; part < 2 && fd >= 0; ++part) {
      std::string records;
      for (int i = 0; i < 40; ++i) records += three_records();
      if (write(fd, records.data(), records.size()) < 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    close(fd);
  });
  const std::string shown = run_on_terminal(dir, {"--quiet", "slow.sdf", "CCO"}, "C.UTF-8");
  feeder.join();
  EXPECT_NE(shown.find(" records/s, "), std::string::npos) << shown;
  const size_t erased = shown.rfind("\r\033[K");
  ASSERT_NE(erased, std::string::npos) << shown;
  EXPECT_EQ(shown.substr(erased + 4, 16), "\nTotal Duration:");
}

}  // namespace
}  // namespace tarnaxel
