// Matcher entry: the elimination order, the plan of the bags, their tables
// filled (or copied) in the order planned, and the best configuration of the
// root bag.
#include "matcher/matcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <unistd.h>

#include "common/fatal.h"
#include "common/limits.h"
#include "matcher/adjacency.h"
#include "matcher/bag_kinds.h"
#include "matcher/bag_plan.h"
#include "matcher/context.h"
#include "matcher/order.h"
#include "matcher/plan.h"
#include "matcher/rule_index.h"
#include "matcher/viable.h"
#include "rulefile/automaton.h"

namespace tarnaxel {
namespace {

// Whether an atom alone fits a rule of the first state.
bool fits_alone(const Automaton& a, const Atom& atom) {
  for (int r = 1; r <= a.rule_count; ++r)
    if (a.rules[r].state == 1 && a.rules[r].symbol == atom.label) return true;
  return false;
}

// True when no rule hands a state to any child: the automaton of a pattern
// of one atom (or of alternatives of single atoms).
bool every_rule_childless(const Automaton& a) {
  for (int r = 1; r <= a.rule_count; ++r)
    if (a.rules[r].plain_count != 0 || a.rules[r].star_count != 0) return false;
  return true;
}

}  // namespace

struct Elimination::Parts {
  EliminationGraph graph;
  OrderFinder finder;
  std::vector<int> order;
  int width = 0;
};

// Everything a matcher reuses from one molecule to the next.
struct MatcherStorage {
  EliminationGraph neighbours;
  OrderFinder finder;
  std::vector<int> order;
  Viability viable;
  JoinScratch scratch;
  BagPlan bags;
  std::vector<Cost> costs;
};

namespace {

// A molecule's bags are planned first, with no table (bag_plan.h).  Then
// only the tables asked for are made, in the order the bags were planned: a
// bag of a kind met before takes the kept table, and the bags below it are
// never filled.  Every table made is the one the elimination would make, so
// the result does not depend on what was kept.

// Under MatchChecks::same_table: a bag's table made, against the copy its
// kind would give.
void check_copy(const MatchContext& context, MatcherStorage& s, const Bag& bag) {
  const BagKinds::Kept* kept = s.bags.kinds().find(bag.kind);
  if (kept == nullptr || !context.plan.checks.same_table) return;
  const Renaming names(bag.vertices);
  Table copy;
  context.store.start(copy, bag.table.bit_length());
  copy.copy_renamed(kept->table, names.ranks, names.atoms, names.count);
  if (!context.plan.checks.same_table(bag.table, copy) || kept->accepted != bag.accepted)
    throw std::logic_error("a bag's table differs from the one kept for its kind");
}

// A bond leaf's table, from its directed edges.
void fill_leaf(MatchContext& context, const MatcherStorage& s, Bag& leaf) {
  context.store.start(leaf.table, 1);
  for (uint32_t e = leaf.first; e < leaf.first + leaf.count; ++e)
    add_leaf_configs(context, leaf, s.bags.edge_at(e));
  context.store.seal(leaf.table);
}

// A joined bag's table, from the tables of the bags it joins.
void fill_joined(MatchContext& context, const MatcherStorage& s, Bag& bag) {
  const bool accepted_before = context.accepted;
  context.accepted = false;
  bool below = false;
  bag.vertices.clear();
  for (uint32_t j = bag.first; j < bag.first + bag.count; ++j) {
    const Join join = s.bags.join(j);
    below = below || join.bag->accepted;
    join_bags(context, bag, *join.bag, join.forget);
    if (join.forget == 0) continue;
    drop_atom(bag, join.forget);
    bag.is_leaf = 0;
  }
  bag.accepted = static_cast<uint8_t>(context.accepted || below);
  context.accepted = context.accepted || accepted_before;
}

// A bag's table copied from the one kept for its kind; its bonds are those
// of the leaves below it, in the order of its joins.
void fill_copied(MatchContext& context, MatcherStorage& s, Bag& bag) {
  const BagKinds::Kept& kept = *s.bags.kinds().find(bag.kind);
  if (!bag.bond) {
    for (const Bag* b : s.bags.below(bag))
      if (b->bond) bag.edge_list.push_back(b->edge_list[0]);
  }
  const Renaming names(bag.vertices);
  context.store.stand_in(bag.rise, bag.change - static_cast<int64_t>(kept.table.bytes()));
  context.store.start(bag.table, bag.edge_list.size());
  context.store.copy_renamed(bag.table, kept.table, names.ranks, names.atoms, names.count);
  bag.accepted = kept.accepted;
  context.accepted = context.accepted || kept.accepted;
}

// Makes a bag's table (or copies it), noting what that charges, and keeps
// the table for its kind when wanted.
void fill(MatchContext& context, MatcherStorage& s, Bag& bag) {
  if (bag.copied) {
    fill_copied(context, s, bag);
    return;
  }
  const size_t before = context.store.live_bytes();
  context.store.watch();
  if (bag.bond) fill_leaf(context, s, bag);
  else fill_joined(context, s, bag);
  bag.rise = context.store.peak() - before;
  bag.change = static_cast<int64_t>(context.store.live_bytes()) - static_cast<int64_t>(before);
  if (bag.vertices.empty() || bag.kind == 0) return;
  check_copy(context, s, bag);
  if (!s.bags.kinds().wanted(bag)) return;
  std::vector<Cost>& costs = s.costs;
  costs.clear();
  for (const Bag* b : s.bags.below(bag)) costs.push_back({b->rise, b->change});
  s.bags.kinds().keep(bag, context.store, costs);
}

}  // namespace

std::vector<int> matched_atoms(const Automaton& automaton, const MatchOptions& options, const Molecule& molecule,
                               const MatchResult& result) {
  std::vector<int> atoms;
  if (result.result != kAccepted) return atoms;
  for (int e : result.match_edges) {
    atoms.push_back(molecule.edges[static_cast<size_t>(e)].from);
    atoms.push_back(molecule.edges[static_cast<size_t>(e)].to);
  }
  if (result.match_edges.empty() && every_rule_childless(automaton)) {
    for (size_t a = 1; a <= molecule.atom_count; ++a) {
      if (options.span != 0) {
        atoms.push_back(static_cast<int>(a));
      } else if (fits_alone(automaton, molecule.atoms[a])) {
        atoms.push_back(static_cast<int>(a));
        break;
      }
    }
  }
  std::sort(atoms.begin(), atoms.end());
  atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
  return atoms;
}

size_t default_table_memory_limit() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  return pages > 0 && page_size > 0 ? static_cast<size_t>(pages) * static_cast<size_t>(page_size) / 2
                                    : size_t{1} << 32;
}

Matcher::Matcher(const Automaton& automaton, size_t table_limit)
    : automaton_(automaton),
      table_limit_(table_limit),
      childless_(every_rule_childless(automaton)),
      index_(std::make_unique<const RuleIndex>(automaton)),
      checks_(std::make_unique<const MatchChecks>()),
      storage_(std::make_unique<MatcherStorage>()) {}

Matcher::~Matcher() = default;

void Matcher::set_checks(const MatchChecks& checks) {
  plan_.reset();
  checks_ = std::make_unique<const MatchChecks>(checks);
}

// A childless automaton matches a single atom, so a record is judged without
// a decomposition: accepted when some atom carries the symbol of a rule of
// the first state; with span, only when every atom is unbonded and does.
// No bond is ever part of such a match.
int Matcher::judge_single_atom(const MatchOptions& options, const Molecule& molecule) const {
  auto fits = [this](const Atom& atom) { return fits_alone(automaton_, atom); };
  const size_t n = molecule.atom_count;
  if (options.span == 0) {
    for (size_t i = 1; i <= n; ++i)
      if (fits(molecule.atoms[i])) return kAccepted;
    return kRejected;
  }
  if (n == 0 || molecule.edge_count != 0) return kRejected;
  for (size_t i = 1; i <= n; ++i)
    if (!fits(molecule.atoms[i])) return kRejected;
  return kAccepted;
}

// Runs the automaton over the decomposition that the elimination order
// gives; the verdict, and the match in result_.
int Matcher::run_tables(const Molecule& molecule, const Elimination* elimination) {
  MatcherStorage& s = *storage_;
  const MatchPlan& plan = *plan_;
  // Rules that cannot stand anywhere in a finished match never enter a table;
  // when no match can finish, the molecule is rejected here.
  const EliminationGraph& graph = elimination != nullptr ? elimination->parts_->graph : s.neighbours;
  if (!s.viable.compute(plan, molecule, graph.degrees())) return kRejected;
  // Planning eliminates the graph: a shared order is copied first.
  if (elimination != nullptr) {
    s.neighbours = elimination->parts_->graph;
    s.order = elimination->parts_->order;
  }
  MatchContext context(plan, molecule, s.scratch, table_limit_);
  const size_t n = molecule.atom_count;
  for (size_t a = 1; a <= n; ++a) context.degree[a] = s.neighbours.degree(a);
  context.viable = &s.viable;
  s.scratch.rule.start_record(plan, molecule, context.degree.data());
  list_leaf_rules(context);
  s.bags.plan(context, s.neighbours, s.order);
  s.bags.mark_needed(plan.checks.same_table != nullptr);
  // In the order planned; a bag below a copy only stands in for what making
  // its table would charge.
  for (size_t i = 0; i < s.bags.size(); ++i) {
    Bag& bag = s.bags.at(i);
    if (bag.needed) fill(context, s, bag);
    else context.store.stand_in(bag.rise, bag.change);
  }

  result_.table_peak = context.store.highest();
  // Every atom is eliminated: what is left is the root bag.
  const Bag* root = s.bags.root();
  if (!context.accepted || root == nullptr) return kRejected;
  const Table::Entry* best = best_config(context, root->table);
  if (best == nullptr) return kRejected;
  const BitsRef used = root->table.bits(*best);
  for (size_t i = 0; i < root->edge_list.size(); ++i)
    if (bit(used.words, i)) result_.match_edges.push_back(root->edge_list[i]);
  result_.score = best->score;
  std::sort(result_.match_edges.begin(), result_.match_edges.end());
  return kAccepted;
}

Elimination::Elimination() : parts_(std::make_unique<Parts>()) {}
Elimination::~Elimination() = default;

namespace {

// The largest molecule the matcher takes.
void check_size(const Molecule& molecule) {
  if (molecule.atom_count > kMaxAtoms || molecule.edge_count > kMaxEdges)
    fail(Stream::err, "Error: a molecule of more than 999 atoms or 999 bonds cannot be matched.");
}

}  // namespace

int Elimination::make(const Molecule& molecule) {
  check_size(molecule);
  parts_->graph.build(molecule);
  parts_->width = parts_->finder.choose(parts_->graph, parts_->order);
  return parts_->width;
}

const MatchResult& Matcher::match(const MatchOptions& options, const Molecule& molecule) {
  check_size(molecule);
  MatcherStorage& s = *storage_;
  s.neighbours.build(molecule);
  const int width = s.finder.choose(s.neighbours, s.order);
  return judge(options, molecule, width, nullptr);
}

const MatchResult& Matcher::match(const MatchOptions& options, const Molecule& molecule,
                                  const Elimination& elimination) {
  return judge(options, molecule, elimination.parts_->width, &elimination);
}

const MatchResult& Matcher::judge(const MatchOptions& options, const Molecule& molecule, int width,
                                  const Elimination* elimination) {
  result_.score = 0.0;
  result_.match_edges.clear();
  result_.over_budget = false;
  result_.table_peak = 0;
  result_.width = width;
  if (result_.width > kMaxWidth) {
    result_.result = kTooWide;
  } else if (childless_) {
    result_.result = judge_single_atom(options, molecule);
  } else {
    if (!plan_ || !(plan_->options == options))
      plan_ = std::make_unique<const MatchPlan>(automaton_, *index_, options, *checks_);
    try {
      result_.result = run_tables(molecule, elimination);
    } catch (const TableLimitExceeded&) {
      // Judged too wide; the tables are given back before the next molecule.
      storage_ = std::make_unique<MatcherStorage>();
      result_ = MatchResult{kTooWide, result_.width, 0.0, {}, true};
    }
  }
  return result_;
}

}  // namespace tarnaxel