#include "molecule/sdf_record.h"

#include <algorithm>

#include "rulefile/loader.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

using test::sdf_record;

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override { automaton = load_rules_from_text("q1\nC,Cl,Br,O\n1,2\n"); }

  // Reads every record of text, delivered chunk bytes at a time (0: all at
  // once); returns the record texts.
  std::vector<std::string> read_all(const std::string& text, size_t chunk = 0) {
    std::unique_ptr<LineReader> input = LineReader::from_text(text, chunk);
    std::vector<std::string> texts;
    int number = 0;
    while (input->begin_record()) {
      read_record(*input, *automaton, ++number, molecule, [this](int a, int b) { counts.push_back({a, b}); });
      texts.emplace_back(input->record());
    }
    return texts;
  }

  std::unique_ptr<const Automaton> automaton;
  Molecule molecule;
  std::vector<std::pair<int, int>> counts;
};

TEST_F(RecordTest, AtomsBondsAndLabels) {
  std::string text = sdf_record("m", {"C", "Cl", "Br", "S"}, {{3, 1, 2}, {1, 2, 1}, {2, 4, 3}});
  std::vector<std::string> texts = read_all(text);
  ASSERT_EQ(texts, std::vector<std::string>{text});
  EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{4, 3}}));
  ASSERT_EQ(molecule.atom_count, 4u);
  ASSERT_EQ(molecule.edge_count, 6u);
  EXPECT_EQ(molecule.atoms[1].label, 1);
  EXPECT_EQ(molecule.atoms[2].label, 2);
  EXPECT_EQ(molecule.atoms[3].label, 3);
  EXPECT_EQ(molecule.atoms[4].label, 0);
  const Edge& e1 = molecule.edges[1];
  const Edge& e2 = molecule.edges[2];
  EXPECT_EQ(std::tie(e1.from, e1.to, e1.label), std::make_tuple(3, 1, 2));
  EXPECT_EQ(std::tie(e2.from, e2.to, e2.label), std::make_tuple(1, 3, 2));
  EXPECT_EQ(e1.weight, 1.0);
  EXPECT_EQ(molecule.edges[6].label, 0);  // type 3 is not listed
}

// Records come back whole however the input arrives: a record larger than
// the reader's buffer, records split across its refills, a line delivered a
// byte at a time, and a last record without "$$$$" or a final line feed.
TEST_F(RecordTest, EmptyRecordTailAndMissingTerminator) {
  std::string empty = sdf_record("none", {}, {});
  std::string data = sdf_record("data", {"O"}, {}, "M  END\n>  <NAME>\n" + std::string(100000, 'x') + "\n\n");
  std::string small = sdf_record("small", {"C", "O"}, {{1, 2, 1}});
  std::string last = "last\n\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
                     "    0.0000    0.0000    0.0000 C   0  0\nM  END";
  std::string many;
  for (int i = 0; i < 1000; ++i) many += small;
  for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}, size_t{70000}}) {
    counts.clear();
    std::vector<std::string> texts = read_all(empty + data + many + last, chunk);
    ASSERT_EQ(texts.size(), 1003u) << chunk;
    EXPECT_EQ(texts[0], empty);
    EXPECT_EQ(texts[1], data);
    EXPECT_EQ(std::count(texts.begin() + 2, texts.end() - 1, small), 1000) << chunk;
    EXPECT_EQ(texts[1002], last);
    EXPECT_EQ(counts[0], std::make_pair(0, 0));
    EXPECT_EQ(counts[2], std::make_pair(2, 1));
    EXPECT_EQ(molecule.atoms[1].label, 1);
  }
}

TEST_F(RecordTest, CarriageReturnsBelongToNoField) {
  std::string text = sdf_record("crlf", {"O", "C"}, {{1, 2, 2}});
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  read_all(crlf);
  EXPECT_EQ(molecule.atoms[1].label, 4);
  EXPECT_EQ(molecule.edges[1].label, 2);
}

TEST_F(RecordTest, UnreadableConnectionTables) {
  std::string good = sdf_record("ok", {"C"}, {});
  std::string atoms_cut = "cut\n\n\n  2  0  0  0  0  0  0  0  0  0999 V2000\n"
                          "    0.0000    0.0000    0.0000 C   0  0\n";
  EXPECT_EQ(test::refusal([&] { read_all(good + atoms_cut); }),
            "Error: record 2 of the SDF_file ends inside the atom block.\n");
  EXPECT_EQ(test::refusal([&] { read_all("head\n\n"); }), "Error: record 1 of the SDF_file ends inside the header.\n");
  EXPECT_EQ(test::refusal([&] { read_all(sdf_record("far", {"C"}, {{1, 2, 1}})); }),
            "Error: record 1 of the SDF_file has bond 1 naming an atom outside 1..1.\n");
  EXPECT_EQ(test::refusal([&] { read_all(sdf_record("loop", {"C", "C"}, {{1, 2, 1}, {2, 2, 1}})); }),
            "Error: record 1 of the SDF_file has bond 2 joining atom 2 to itself.\n");
  EXPECT_EQ(test::refusal([&] { read_all("neg\n\n\n -1  0  0  0  0  0  0  0  0  0999 V2000\n$$$$\n"); }),
            "Error: record 1 of the SDF_file has a negative atom or bond count.\n");
}

TEST(FieldValue, LikeAtoiOnItsColumns) {
  EXPECT_EQ(field_value(" 12345", 0, 3), 12);
  EXPECT_EQ(field_value(" 12345", 3, 3), 345);
  EXPECT_EQ(field_value("  x", 0, 3), 0);
  EXPECT_EQ(field_value(" -4", 0, 3), -4);
  EXPECT_EQ(field_value("7", 0, 3), 7);
  // The three-character shortcut reads every field as the general rule does.
  const std::string alphabet = " -+059x\t";
  for (char a : alphabet)
    for (char b : alphabet)
      for (char c : alphabet)
        for (std::string line : {std::string{a, b, c}, std::string{'1', a, b, c, '2'}, std::string{a, b}})
          for (size_t column : {size_t{0}, size_t{1}})
            EXPECT_EQ(field3_value(line, column), field_value(line, column, 3)) << line;
}

}  // namespace
}  // namespace tarnaxel
