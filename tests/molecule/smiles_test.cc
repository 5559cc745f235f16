// SMILES lines read into the molecule graph: one line a case, the SMILES
// and its graph written shortly (symbols, then bonds "a-b:type" in the
// order the SMILES writes them), or the refusal it gets.
#include "molecule/smiles.h"

#include <gtest/gtest.h>

#include <sstream>

#include "rulefile/loader.h"
#include "tests/support.h"

namespace tarnaxel {
namespace {

const Automaton& labels() {
  static const std::unique_ptr<const Automaton> a = load_rules_from_text("q1\nC,c,N,n,O,o,S,s,F,Cl,Br,H,*\n1,2,3,4\n");
  return *a;
}

std::string graph_of(const std::string& line, bool perceive = false) {
  Molecule m;
  Perceiver perceiver;
  read_smiles(line, labels(), 7, m, perceive ? &perceiver : nullptr);
  std::ostringstream out;
  for (size_t a = 1; a <= m.atom_count; ++a) {
    const int code = m.atoms[a].label;
    out << (a > 1 ? " " : "") << (code > 0 ? labels().atom_labels.names[code - 1] : "?");
  }
  out << ";";
  for (size_t k = 1; 2 * k <= m.edge_count; ++k) {
    const Edge& e = m.edges[2 * k - 1];
    out << ' ' << e.from << '-' << e.to << ':' << (e.label > 0 ? labels().bond_labels.names[e.label - 1] : "?");
  }
  return out.str();
}

TEST(Smiles, Graphs) {
  const std::pair<const char*, const char*> cases[] = {
      {"CCO", "C C O; 1-2:1 2-3:1"},
      {"OCC ethanol, a title", "O C C; 1-2:1 2-3:1"},
      {"C1CC1", "C C C; 1-2:1 2-3:1 1-3:1"},  // the ring bond where its closing digit stands
      {"C=1CC1", "C C C; 1-2:1 2-3:1 1-3:2"},
      {"C1CC=1", "C C C; 1-2:1 2-3:1 1-3:2"},
      {"C%12CC%12", "C C C; 1-2:1 2-3:1 1-3:1"},
      {"CC(=O)O", "C C O O; 1-2:1 2-3:2 2-4:1"},
      {"C#N", "C N; 1-2:3"},
      {"F/C=C\\F", "F C C F; 1-2:1 2-3:2 3-4:1"},
      {"c1ccccc1", "c c c c c c; 1-2:4 2-3:4 3-4:4 4-5:4 5-6:4 1-6:4"},
      {"c1ccccc1c1ccccc1", "c c c c c c c c c c c c; 1-2:4 2-3:4 3-4:4 4-5:4 5-6:4 1-6:4 6-7:1 7-8:4 8-9:4 "
                            "9-10:4 10-11:4 11-12:4 7-12:4"},
      {"c1ccccc1-c1ccccc1", "c c c c c c c c c c c c; 1-2:4 2-3:4 3-4:4 4-5:4 5-6:4 1-6:4 6-7:1 7-8:4 8-9:4 "
                             "9-10:4 10-11:4 11-12:4 7-12:4"},
      {"c:c", "c c; 1-2:4"},
      {"[NH4+]", "N;"},
      {"[2H]C", "H C; 1-2:1"},
      {"[C@@H](F)(Cl)Br", "C F Cl Br; 1-2:1 1-3:1 1-4:1"},
      {"[nH]1cccc1", "n c c c c; 1-2:4 2-3:4 3-4:4 4-5:4 1-5:4"},
      {"C.C", "C C;"},
      {"[Na+].[Cl-]", "? Cl;"},
      {"*C", "* C; 1-2:1"},
      {"", ";"},
  };
  for (const auto& [line, graph] : cases) EXPECT_EQ(graph_of(line), graph) << line;
  // Perceived: a Kekule ring reads as the aromatic one.
  EXPECT_EQ(graph_of("C1=CC=CC=C1", true), graph_of("c1ccccc1"));
}

TEST(Smiles, Refusals) {
  const std::pair<const char*, const char*> cases[] = {
      {"C(C", "2: '(' is never closed"},
      {"CC)", "3: ')' closes no branch"},
      {"C1CC", "2: ring-bond number 1 is never closed"},
      {"C=1CC#1", "7: ring-bond number 1 is closed with another bond"},
      {"C[Xx]", "2: 'X' is no element"},
      {"C[CH", "2: '[' is never closed by ']'"},
      {"Cq", "2: 'q' starts no atom, bond, branch or ring bond"},
      {"C=", "2: a bond leads to no atom"},
      {"C==C", "3: two bonds in a row"},
      {"C11", "3: ring-bond number 1 joins an atom to itself"},
      {"C1C1", "4: two atoms are bonded twice"},
      {"C[Cl-44]", "7: a charge of more than 15"},
  };
  for (const auto& [line, where] : cases) {
    std::string message = "Error: record 7 of the SMILES_file cannot be read at character ";
    message.append(where).append(".\n");
    EXPECT_EQ(test::refusal([&] { graph_of(line); }), message) << line;
  }
}

}  // namespace
}  // namespace tarnaxel
