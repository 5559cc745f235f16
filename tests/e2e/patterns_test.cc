// Many patterns in one pass (--patterns): each column of matches.tsv against
// the single-pattern run of its pattern, the routing of the records, the
// shipped set of groups against molecules picked by hand, and the refusals.
#include <sstream>

#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::run_binary;
using test::TempDir;

std::vector<std::string> split(const std::string& line, char by) {
  std::vector<std::string> parts;
  std::stringstream in(line);
  std::string part;
  while (std::getline(in, part, by)) parts.push_back(part);
  return parts;
}

std::vector<std::string> lines_of(const std::string& text) { return split(text, '\n'); }

// The result column (the fourth) of every statistics line of a single run.
std::string single_results(const std::string& out) {
  std::string results;
  for (const std::string& line : lines_of(out)) {
    const std::vector<std::string> fields = split(line, '\t');
    if (fields.size() == 7) results += fields[3];
  }
  return results;
}

// Column c (from 0) of matches.tsv below its header.
std::string column(const std::string& table, size_t c) {
  std::string values;
  const std::vector<std::string> lines = lines_of(table);
  for (size_t i = 1; i < lines.size(); ++i) values += split(lines[i], '\t').at(c);
  return values;
}

// The patterns of examples/groups.tsv by name, in order.
std::vector<std::pair<std::string, std::string>> shipped_groups() {
  std::vector<std::pair<std::string, std::string>> groups;
  for (const std::string& line : lines_of(test::read_file(std::string(TARNAXEL_SOURCE_DIR) + "/examples/groups.tsv"))) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = split(line, '\t');
    groups.push_back({f.at(0), f.at(1)});
  }
  return groups;
}

// Every column equals the single run of its pattern, under every option set
// with --aromatic and without; the records go to accept.sdf when some
// pattern accepts them, as read, and the counts add up.
TEST(Patterns, ColumnsEqualSingleRunsOnTheCorpus) {
  TempDir dir;
  ASSERT_TRUE(test::unpack_corpus(dir.path() / "corpus.sdf"));
  const std::vector<std::pair<std::string, std::string>> groups = shipped_groups();
  std::vector<std::pair<std::string, std::string>> set = {{"chain", "C{C}*O"}, {"toluene", "C1=CC=CC=C1C"}};
  for (size_t i = 0; i < groups.size(); i += 9) set.push_back(groups[i]);
  std::string file;
  for (const auto& [name, pattern] : set) file += name + "\t" + pattern + "\n";
  dir.write("set.tsv", file);
  const std::vector<std::vector<std::string>> option_sets = {{}, {"-span"}, {"-ind"}, {"-min"}, {"-span", "-ind"},
                                                             {"-span", "-min"}, {"-ind", "-min"}};
  // Without --aromatic the set run is --quiet: only its files are compared.
  for (const std::string aromatic : {"--aromatic", "--quiet"}) {
    for (const std::vector<std::string>& options : option_sets) {
      std::vector<std::string> args = {aromatic, "--patterns", "set.tsv", "corpus.sdf"};
      args.insert(args.end(), options.begin(), options.end());
      const test::RunResult r = run_binary(dir, args, "TARNAXEL_THREADS=2 ");
      ASSERT_EQ(r.status, 0) << r.out << r.err;
      const std::string table = dir.read("matches.tsv");
      const std::string accepted = dir.read("accept.sdf");
      const std::string rejected = dir.read("reject.sdf");
      for (size_t i = 0; i < set.size(); ++i) {
        std::vector<std::string> single = {aromatic == "--aromatic" ? "--aromatic" : "--", "corpus.sdf"};
        single.insert(single.end(), options.begin(), options.end());
        single.push_back(set[i].second);
        const test::RunResult s = run_binary(dir, single, "TARNAXEL_THREADS=1 ");
        ASSERT_EQ(s.status, 0);
        EXPECT_EQ(column(table, 2 + i), single_results(s.out)) << set[i].first << " " << aromatic;
      }
      // A record is accepted when some column says 1, too wide when every one says 2.
      const std::vector<std::string> records = test::records_of(test::read_file(dir.path() / "corpus.sdf"));
      std::string want_accepted, want_rejected;
      const std::vector<std::string> rows = lines_of(table);
      ASSERT_EQ(rows.size(), records.size() + 1);
      for (size_t k = 0; k < records.size(); ++k) {
        const std::vector<std::string> f = split(rows[k + 1], '\t');
        ASSERT_EQ(f[0], std::to_string(k + 1));
        bool any = false, all_wide = true;
        for (size_t i = 2; i < f.size(); ++i) {
          any = any || f[i] == "1";
          all_wide = all_wide && f[i] == "2";
        }
        if (any) want_accepted += records[k];
        else if (!all_wide) want_rejected += records[k];
      }
      EXPECT_EQ(accepted, want_accepted);
      EXPECT_EQ(rejected, want_rejected);
    }
  }
}

// Each shipped group finds the molecule picked to hold it and not the one
// picked to lack it.
TEST(Patterns, ShippedGroupsFindWhatTheyName) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> groups = shipped_groups();
  ASSERT_GE(groups.size(), 60u);
  std::string smiles;
  std::vector<std::string> names;
  for (const std::string& line :
       lines_of(test::read_file(std::string(TARNAXEL_SOURCE_DIR) + "/tests/e2e/groups_cases.tsv"))) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = split(line, '\t');
    names.push_back(f.at(0));
    smiles += f.at(1) + " holds\n" + f.at(2) + " lacks\n";
  }
  ASSERT_EQ(names.size(), groups.size());
  dir.write("cases.smi", smiles);
  const test::RunResult r = run_binary(
      dir, {"--aromatic", "--patterns", std::string(TARNAXEL_SOURCE_DIR) + "/examples/groups.tsv", "cases.smi"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> rows = lines_of(dir.read("matches.tsv"));
  ASSERT_EQ(rows.size(), 2 * groups.size() + 1);
  for (size_t i = 0; i < groups.size(); ++i) {
    ASSERT_EQ(names[i], groups[i].first);
    EXPECT_EQ(split(rows[2 * i + 1], '\t').at(2 + i), "1") << groups[i].first << " " << groups[i].second;
    EXPECT_EQ(split(rows[2 * i + 2], '\t').at(2 + i), "0") << groups[i].first << " " << groups[i].second;
  }
}

// The file's form: comments and blank lines skipped, a line without a tab
// named by its number, titles with tabs, the statistics lines, the match
// data; and what is refused before anything is written.
TEST(Patterns, FileFormAndRefusals) {
  TempDir dir;
  dir.write("in.sdf", test::sdf_record("ethanol\tone", {"C", "C", "O"}, {{1, 2, 1}, {2, 3, 1}}) + test::ethane());
  dir.write("set.tsv", "# groups\n\nhydroxyl\tCO\nCC\n");
  test::RunResult r = run_binary(dir, {"--match-data", "--patterns", "set.tsv", "in.sdf"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::without_timings(r.out).substr(0, 32), "Pattern Set: 2 patterns, 4 rules");
  EXPECT_NE(r.out.find("\n1\t3  \t2  \t2\t1\t"), std::string::npos) << r.out;
  EXPECT_EQ(dir.read("matches.tsv"), "record\ttitle\thydroxyl\t4\n1\tethanol one\t1\t1\n2\tethane\t0\t1\n");
  EXPECT_NE(dir.read("accept.sdf").find("> <TARNAXEL_PATTERNS>\nhydroxyl 4\n\n$$$$"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "automaton.txt"));

  const struct {
    std::string file;
    std::vector<std::string> args;
    std::string out;
    std::string err;
  } refused[] = {
      {"a\tCO\nb\tC{C\n", {}, "Error: line 2 of \"bad.tsv\" is refused:\n", ""},
      {"a\tCO\na\tCC\n", {}, "", "Error: line 2 of \"bad.tsv\": the name \"a\" is used twice.\n"},
      {"a b\tCO\n", {}, "", "Error: line 1 of \"bad.tsv\": a pattern name must not be empty or hold white space.\n"},
      {"# nothing\n", {}, "", "Error: the pattern file \"bad.tsv\" holds no pattern.\n"},
      {"a\tCO\n", {"-ind", "-span", "-min"}, "Usage: Tarnaxel InputFileName [-ind] [-span] [-min] Tarnaxel\n", ""},
  };
  for (const auto& c : refused) {
    TempDir clean;
    clean.write("in.sdf", test::ethane());
    clean.write("bad.tsv", c.file);
    std::vector<std::string> args = {"--patterns", "bad.tsv", "in.sdf"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    r = run_binary(clean, args);
    EXPECT_EQ(r.status, 1) << c.file;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << c.file;
    EXPECT_EQ(r.err, c.err) << c.file;
    EXPECT_FALSE(std::filesystem::exists(clean.path() / "matches.tsv")) << c.file;
    EXPECT_FALSE(std::filesystem::exists(clean.path() / "accept.sdf")) << c.file;
  }
}

}  // namespace
}  // namespace tarnaxel
