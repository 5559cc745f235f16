// Hostile input end to end: malformed and extreme patterns and SDF files.
// Each must end in a complete run or a clear refusal with status 1, never a
// crash, and no record that was read may be lost.
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::run_binary;
using test::sdf_record;
using test::TempDir;

using test::ethanol;

struct PatternCase {
  std::string pattern;
  int status;
  std::string first_line;  // of standard output
};

// "C(C(...C...))": depth branches, nested.
std::string nested_branches(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "C(";
  return s + "C" + std::string(static_cast<size_t>(depth), ')');
}

TEST(HostilePattern, RefusedOrCompiled) {
  const std::vector<PatternCase> cases = {
      {std::string(99, 'C'), 0, "Automaton Size (# of rules): 99"},
      {std::string(100, 'C'), 1, "Error: the pattern is longer than 99 characters."},
      {std::string(49, '{') + "C" + std::string(49, '}'), 0, "Automaton Size (# of rules): 2"},
      {std::string(99, '{'), 1, "Error\x81\x46{\x82\xaa\x91\xbd\x82\xa2"},
      {"C%999CC%999", 0, "Automaton Size (# of rules): 3"},
      {"C%1000", 1, "Error:%\x82\xcc\x8c\xe3\x82\xcc\x90\x94\x8e\x9a\x82\xaa\x91\xe5\x82\xab\x82\xb7\x82\xac\x82\xe9\x81\x42"},
      {"C%", 1, "Error: \"%\" must be followed by a ring-bond number."},
      {")C", 1, "Error:)\x82\xaa\x91\xbd\x82\xa2\x81\x42"},
      {"C)", 1, "Error:)\x82\xaa\x91\xbd\x82\xa2\x81\x42"},
      {"(C", 1, "Error:(\x82\xaa\x91\xbd\x82\xa2\x81\x42"},
      {"C(", 1, "Error:(\x82\xaa\x91\xbd\x82\xa2\x81\x42"},
      {"}C", 1, "Error\x81\x46}\x82\xaa\x91\xbd\x82\xa2"},
      {"C{", 1, "Error\x81\x46{\x82\xaa\x91\xbd\x82\xa2"},
      {"[C", 1, "Error\x81\x46" "Can't find ']'."},
      {"[]", 1, "Error\x81\x46" "Can't find ']'."},
      {"C]", 1, "Error\x81\x46\x93\x96\x82\xc4\x82\xcd\x82\xdc\x82\xe7\x82\xc8\x82\xa2"},
      {"*C", 1, "Error\x81\x46\x93\x96\x82\xc4\x82\xcd\x82\xdc\x82\xe7\x82\xc8\x82\xa2"},
      {"{C}**", 1, "Error\x81\x46\x93\x96\x82\xc4\x82\xcd\x82\xdc\x82\xe7\x82\xc8\x82\xa2"},
      {"C11", 1, "Error: the pattern cannot be compiled."},
      {nested_branches(32), 0, "Automaton Size (# of rules): 33"},
      {"{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*{C}*", 1,
       "Error: the pattern has too many alternative paths."},
      {"{|}", 0, "Automaton Size (# of rules): 0"},
  };
  for (const PatternCase& c : cases) {
    TempDir dir;
    dir.write("in.sdf", ethanol());
    test::RunResult r = run_binary(dir, {"in.sdf", c.pattern});
    EXPECT_EQ(r.status, c.status) << c.pattern;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first_line) << c.pattern;
    EXPECT_EQ(r.err, "") << c.pattern;
    if (c.status == 0) {
      EXPECT_EQ(test::lost_records({ethanol()}, r.out, dir), "") << c.pattern;
    } else {
      // A refused pattern leaves an empty automaton and no output files.
      EXPECT_EQ(dir.read("automaton.txt"), "") << c.pattern;
      EXPECT_FALSE(std::filesystem::exists(dir.path() / "reject.sdf")) << c.pattern;
    }
  }
}

struct SdfCase {
  const char* what;
  std::string input;
  int status;
  std::string err;
  size_t complete_records;  // records before the refusal, kept in the outputs
};

std::string atom_lines(int count, const char* symbol) {
  std::string s;
  for (int i = 0; i < count; ++i) s += std::string("    0.0000    0.0000    0.0000 ") + symbol + "   0  0\n";
  return s;
}

TEST(HostileSdf, RefusedOrRead) {
  const std::string one = ethanol();
  const std::vector<SdfCase> cases = {
      {"ends in the header", one + "x\n\n", 1, "Error: record 2 of the SDF_file ends inside the header.\n", 1},
      {"ends in the atom block", one + "x\n\n\n  2  1\n" + atom_lines(1, "C"), 1,
       "Error: record 2 of the SDF_file ends inside the atom block.\n", 1},
      {"ends in the bond block", one + "x\n\n\n  2  2\n" + atom_lines(2, "C") + "  1  2  1\n", 1,
       "Error: record 2 of the SDF_file ends inside the bond block.\n", 1},
      {"ends before its $$$$ line", one + "x\n\n\n  2  1\n" + atom_lines(2, "C") + "  1  2  1\nM  END\n", 0, "", 2},
      {"negative atom count", "x\n\n\n -1  0\n$$$$\n" + one, 1,
       "Error: record 1 of the SDF_file has a negative atom or bond count.\n", 0},
      {"bond naming atom 3 of 2", one + "x\n\n\n  2  1\n" + atom_lines(2, "C") + "  1  3  1\n$$$$\n", 1,
       "Error: record 2 of the SDF_file has bond 1 naming an atom outside 1..2.\n", 1},
      {"bond naming atom 0", "x\n\n\n  2  1\n" + atom_lines(2, "C") + "  0  1  1\n$$$$\n", 1,
       "Error: record 1 of the SDF_file has bond 1 naming an atom outside 1..2.\n", 0},
      {"bond joining an atom to itself", "x\n\n\n  2  1\n" + atom_lines(2, "C") + "  2  2  1\n$$$$\n", 1,
       "Error: record 1 of the SDF_file has bond 1 joining atom 2 to itself.\n", 0},
  };
  for (const SdfCase& c : cases) {
    TempDir dir;
    dir.write("in.sdf", c.input);
    test::RunResult r = run_binary(dir, {"in.sdf", "CCO"});
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    std::vector<std::string> records = test::records_of(c.input);
    records.resize(c.complete_records);
    if (c.status == 0) {
      EXPECT_EQ(test::lost_records(records, r.out, dir), "") << c.what;
    } else {
      // The finished records are in the outputs, the refused one is not.
      std::string all = dir.read("reject.sdf") + dir.read("accept.sdf") + dir.read("tw_big.sdf");
      EXPECT_EQ(test::records_of(all).size(), c.complete_records) << c.what;
    }
  }
}

std::string v3000_record() {
  return "v3000\n  tarnaxel\n\n  0  0  0     0  0            999 V3000\nM  V30 BEGIN CTAB\n"
         "M  V30 COUNTS 2 1 0 0 0\nM  V30 BEGIN ATOM\nM  V30 1 C 0 0 0 0\nM  V30 2 O 0 0 0 0\nM  V30 END ATOM\n"
         "M  V30 BEGIN BOND\nM  V30 1 1 1 2\nM  V30 END BOND\nM  V30 END CTAB\nM  END\n$$$$\n";
}

// V3000 records are not read: the first one is named once on stderr, after
// the records before it, whatever the number of threads.
TEST(HostileSdf, V3000RecordsAreNamedOnce) {
  for (const char* threads : {"TARNAXEL_THREADS=1 ", "TARNAXEL_THREADS=2 "}) {
    TempDir dir;
    dir.write("in.sdf", ethanol() + v3000_record() + ethanol() + v3000_record());
    test::RunResult r = run_binary(dir, {"in.sdf", "CCO"}, threads);
    EXPECT_EQ(r.status, 0) << threads;
    EXPECT_EQ(r.err, "record 2 is a V3000 record; it is read as a molecule without atoms\n") << threads;
    EXPECT_EQ(dir.read("reject.sdf"), v3000_record() + v3000_record()) << threads;
  }
}

// Records the reader accepts although they are unusual: each is matched and
// kept byte for byte.
TEST(HostileSdf, UnusualRecordsAreKept) {
  std::string crlf = ethanol();
  for (size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) crlf.insert(at, "\r");
  std::string nul = sdf_record(std::string("eth\0anol", 8), {"C", "C", "O"}, {{1, 2, 1}, {2, 3, 1}});
  std::string v3000 = v3000_record();
  std::string garbage_counts = "junk\n\n\nabcdef\n$$$$\n";
  std::string long_lines = sdf_record("t" + std::string(100000, 'x'), {"C", "C", "O"}, {{1, 2, 1}, {2, 3, 1}},
                                      "M  END\n>  <NOTE>\n" + std::string(100000, 'y') + "\n\n");
  // V2000 counts have three digits: a 10,000-atom record reads as 100 atoms
  // and no bonds ("00 "), the other lines being carried as data.
  std::string huge = "10,000 atoms\n\n\n10000 9999\n" + atom_lines(10000, "C") + "  1  2  1\n$$$$\n";
  std::vector<std::string> dots(999, "C");
  std::string disconnected = sdf_record("999 atoms", dots, {});
  std::vector<test::BondSpec> bonds;
  for (int i = 1; i < 999; ++i) bonds.push_back({i, i + 1, 1});
  std::vector<std::string> chain_atoms(999, "C");
  for (size_t i = 2; i < chain_atoms.size(); i += 3) chain_atoms[i] = "O";
  std::string chain = sdf_record("999-atom chain", chain_atoms, bonds);

  struct Case {
    const char* what;
    std::string record;
    int result;  // the result code of its statistics line
  };
  const std::vector<Case> cases = {
      {"CRLF line ends", crlf, 1},          {"NUL byte in the title", nul, 1},
      {"V3000 (read as empty)", v3000, 0},  {"non-numeric counts", garbage_counts, 0},
      {"100,000-character lines", long_lines, 1}, {"999 disconnected atoms", disconnected, 0},
      {"999-atom chain", chain, 1},         {"10,000 atoms", huge, 0},
  };
  for (const Case& c : cases) {
    for (const char* option : {"-span", "-ind", "-min"}) {
      TempDir dir;
      dir.write("in.sdf", c.record + ethanol());
      test::RunResult r = run_binary(dir, {"in.sdf", option, "CCO"});
      ASSERT_EQ(r.status, 0) << c.what << r.err;
      EXPECT_EQ(test::lost_records({c.record, ethanol()}, r.out, dir), "") << c.what << " " << option;
      if (std::string(option) != "-span") {
        std::string line = "\n1\t";
        size_t at = r.out.find(line);
        ASSERT_NE(at, std::string::npos) << c.what;
        int number = 0, atoms = 0, bond_count = 0, result = -1;
        std::sscanf(r.out.c_str() + at + 1, "%d\t%d\t%d\t%d", &number, &atoms, &bond_count, &result);
        EXPECT_EQ(result, c.result) << c.what << " " << option;
      }
    }
  }
}

}  // namespace
}  // namespace tarnaxel
