#include "driver/routing.h"

#include <sys/resource.h>

#include <csignal>

#include "tests/support.h"

namespace tarnaxel {
namespace {

std::string four_bonds() {
  return test::sdf_record("m V2000 in the title", {"C", "C", "C", "C", "O"},
                          {{1, 2, 1}, {2, 3, 2}, {3, 4, 1}, {4, 5, 1}});
}

// Column 9 of each bond line of a marked record.
std::string bond_types(const std::string& text) {
  std::string types;
  size_t at = 0;
  for (int line = 0; at < text.size(); ++line) {
    size_t end = text.find('\n', at);
    if (line >= 9 && line < 13) types += text[at + 8];
    at = end + 1;
  }
  return types;
}

TEST(Marking, OnlyUnmatchedBondsAreRetyped) {
  std::string text = four_bonds();
  mark_unmatched_bonds(text, 5, 4, {1, 3, 7}, 3);
  EXPECT_EQ(bond_types(text), "1281");
  std::string untouched = four_bonds();
  std::string before = untouched;
  mark_unmatched_bonds(untouched, 5, 4, {1, 3, 5, 7}, 4);
  EXPECT_EQ(untouched, before);
}

TEST(Marking, EmptyMatchRetypesEveryBond) {
  std::string text = four_bonds();
  mark_unmatched_bonds(text, 5, 4, {0}, 0);
  EXPECT_EQ(bond_types(text), "8888");
  std::string atoms_only = test::sdf_record("a", {"C"}, {});
  std::string before = atoms_only;
  mark_unmatched_bonds(atoms_only, 1, 0, {0}, 0);
  EXPECT_EQ(atoms_only, before);
}

TEST(Marking, ShortBondLinesAndTruncatedTextAreLeftAlone) {
  std::string text = "t\n\n\n  2  2\nC\nC\n  1  2\n  1  2  1";
  std::string before = text;
  mark_unmatched_bonds(text, 2, 2, {0}, 0);
  EXPECT_EQ(text, before.substr(0, before.size() - 1) + "8");
}

TEST(Outputs, KeptUntilFlushedAndCutBackToWholeRecords) {
  test::TempDir dir;
  std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    OutputFiles outputs;
    std::string a = four_bonds(), b = four_bonds(), c = four_bonds();
    outputs.route(1, a, 5, 4, {1, 3, 5, 7}, 4);
    outputs.route(0, b, 5, 4, {}, 0);
    outputs.route(2, c, 5, 4, {}, 0);
    EXPECT_EQ(dir.read("accept.sdf"), "");
    outputs.flush();
    EXPECT_EQ(dir.read("accept.sdf"), four_bonds());
    EXPECT_EQ(dir.read("reject.sdf"), four_bonds());
    EXPECT_EQ(dir.read("tw_big.sdf"), four_bonds());
    EXPECT_EQ(std::make_tuple(outputs.accepted, outputs.rejected, outputs.too_wide), std::make_tuple(1, 1, 1));

    // A file that fills up in the middle of the second of three records keeps
    // the first whole one; nothing after the failure is written.
    const size_t size = four_bonds().size();
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(size * 5 / 2);
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    for (int i = 0; i < 3; ++i) outputs.route(0, b, 5, 4, {}, 0);
    outputs.route(2, c, 5, 4, {}, 0);
    Stream stream{};
    EXPECT_EQ(test::refusal([&] { outputs.flush(); }, &stream), "Error: \"reject.sdf\" cannot be written!");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(dir.read("reject.sdf"), four_bonds() + four_bonds());
    EXPECT_EQ(dir.read("tw_big.sdf"), four_bonds());
  }
  std::filesystem::current_path(old);
}

}  // namespace
}  // namespace tarnaxel
