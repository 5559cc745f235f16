#include "matcher/bag_plan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/fatal.h"
#include "common/limits.h"
#include "matcher/viable.h"

namespace tarnaxel {
namespace {

// A set of bags ordered by their vertex sets (fewer vertices first, then the
// vertices compared element by element; bags with equal vertices are one
// element), kept as a sorted vector of packed vertex sets: the sets here hold
// a handful of bags.
class BagSet {
 public:
  // The vertex set of a bag packed so that its unsigned order is the set
  // order: the count, then ten bits per atom (atom numbers have three
  // digits).  A bag holds at most 8 atoms, the width being at most 7.
  struct Key {
    uint64_t high;
    uint64_t low;
    bool operator<(const Key& other) const { return high != other.high ? high < other.high : low < other.low; }
    bool operator==(const Key& other) const { return high == other.high && low == other.low; }
  };
  static Key key_of(const Bag& bag) {
    const std::vector<int>& v = bag.vertices;
    if (v.size() > kMaxBagAtoms) fail(Stream::err, "Error: Elimination Order is Wrong!");
    Key key{static_cast<uint64_t>(v.size()) << 60, 0};
    for (size_t i = 0; i < v.size(); ++i) {
      const uint64_t atom = static_cast<uint64_t>(v[i]) & ((1u << kBagAtomBits) - 1);
      if (i < 6) key.high |= atom << (50 - kBagAtomBits * i);
      else key.low |= atom << (54 - kBagAtomBits * (i - 6));
    }
    return key;
  }

  void clear() { bags_.clear(); }
  void insert(const Key& key, Bag* bag) {
    if (bags_.empty() || bags_.back().first < key) {  // leaves arrive in order
      bags_.push_back({key, bag});
      return;
    }
    auto at = std::lower_bound(bags_.begin(), bags_.end(), key, before);
    if (at == bags_.end() || !(at->first == key)) bags_.insert(at, {key, bag});
  }
  // The bag with these vertices, or null.
  Bag* find(const Key& key) const {
    auto at = std::lower_bound(bags_.begin(), bags_.end(), key, before);
    return at == bags_.end() || !(at->first == key) ? nullptr : at->second;
  }
  // Removes the bag with these vertices, if any.
  void erase(const Key& key) {
    auto at = std::lower_bound(bags_.begin(), bags_.end(), key, before);
    if (at != bags_.end() && at->first == key) bags_.erase(at);
  }
  // Calls visit(bag) for every bag in order.
  template <typename Visit>
  void for_each(Visit visit) const {
    for (const auto& entry : bags_) visit(entry.second);
  }

 private:
  static bool before(const std::pair<Key, Bag*>& entry, const Key& key) { return entry.first < key; }
  std::vector<std::pair<Key, Bag*>> bags_;
};

// The bags of one molecule, reused from molecule to molecule.
class BagArena {
 public:
  void restart() { used_ = 0; }
  Bag* acquire() {
    if (used_ == bags_.size()) bags_.push_back(std::make_unique<Bag>());
    Bag* bag = bags_[used_++].get();
    bag->vertices.clear();
    bag->table.clear();
    bag->is_leaf = 0;
    bag->edge_list.clear();
    bag->kind = bag->first = bag->count = 0;
    bag->needed = bag->copied = bag->accepted = bag->bond = bag->fresh = 0;
    bag->rise = 0;
    bag->change = 0;
    return bag;
  }
  // The bags acquired since the restart, in order.
  size_t size() const { return used_; }
  Bag* at(size_t i) const { return bags_[i].get(); }

 private:
  std::vector<std::unique_ptr<Bag>> bags_;
  size_t used_ = 0;
};

}  // namespace

struct BagPlan::State {
  EliminationGraph* neighbours = nullptr;
  BagArena arena;
  // Directed edges by their pair of atoms (smaller first), in edge order
  // within a pair: atom numbers and edge numbers each fit in 16 bits.
  std::vector<uint64_t> edges;
  // A bag is listed under each of its atoms; the bag with no atom left (the
  // root of what is eliminated so far) is kept aside.
  std::vector<BagSet> open_bags;
  std::vector<char> remaining;
  Bag* root = nullptr;
  std::vector<Bag*> holding;
  std::vector<Join> joins;
  BagKinds kinds;
  // Bags are told apart by kind in molecules of fewer than 64 atoms, whose
  // neighbours fit a word per atom; reach: how many bonds apart joins look
  // (0: they do not).
  bool kinds_on = false;
  int reach = 0;
  std::vector<uint64_t> adjacent;
  std::vector<Bag*> walk;
  std::vector<Bag*> below;
  std::vector<int> forgetting;  // the atoms of the join that forgets
};

// Removes an atom a join has forgotten from a bag's atoms.
void drop_atom(Bag& bag, int atom) {
  const auto at = std::find(bag.vertices.begin(), bag.vertices.end(), atom);
  if (at == bag.vertices.end()) return;
  uint16_t* met = bag.met + (at - bag.vertices.begin());
  std::copy(met + 1, bag.met + bag.vertices.size(), met);
  bag.vertices.erase(at);
}

namespace {

// Starts the description of a joined bag; a leaf's starts with its options, below it.
constexpr uint32_t kJoinTag = 0x80000000u;

// The directed edge of one of the sorted edge keys.
int edge_of(uint64_t key) { return static_cast<int>(key & ((1u << kEdgeKeyBits) - 1)); }

// Describes the leaf of atoms v < w with directed edges [first, last) of the
// sorted edge keys.  An atom's listed rules follow from its degree and its
// surviving rules.  An atom where no rule survives is unmatched in every
// configuration, whatever its label and degree, and a bond with such an end
// is never used, whatever its label and weight: such atoms and bonds are
// described as no more than that.
void describe_leaf(const MatchContext& context, std::vector<uint32_t>& key, int v, int w,
                   const std::vector<uint64_t>& edges, size_t first, size_t last) {
  const Viability& viable = *context.viable;
  const MatchOptions& o = context.options;
  const bool live_v = viable.any(v);
  const bool live_w = viable.any(w);
  key.clear();
  key.push_back(context.plan.option_bits | static_cast<uint32_t>((live_v << 4) | (live_w << 5)));
  for (const int a : {live_v ? v : 0, live_w ? w : 0}) {
    if (a == 0) continue;
    key.push_back(static_cast<uint32_t>(context.degree[static_cast<size_t>(a)] << 16) | viable.slot(a));
    const uint64_t* mask = viable.mask(a);
    for (size_t i = 0; i < viable.mask_words(); ++i) {
      key.push_back(static_cast<uint32_t>(mask[i]));
      key.push_back(static_cast<uint32_t>(mask[i] >> 32));
    }
  }
  if (!live_v || !live_w) return;
  // Each directed edge: its direction and label (bond label codes are
  // small), and its weight unless 1; with aromaticity perceived, whether
  // an end is aromatic (the aromatic link reads it).
  const Atom* atoms = context.molecule.atoms.data();
  const uint32_t aromatic_end =
      o.aromatic && (atoms[v].aromatic || atoms[w].aromatic) ? uint32_t{1} << 31 : 0u;
  for (size_t i = first; i < last; ++i) {
    const Edge& e = context.molecule.edges[static_cast<size_t>(edge_of(edges[i]))];
    const bool weighed = e.weight != 1.0;
    key.push_back((e.from == v ? 0u : 1u) | (static_cast<uint32_t>(e.label) << 2) | (weighed ? 2u : 0u) |
                  aromatic_end);
    if (!weighed) continue;
    uint64_t weight;
    std::memcpy(&weight, &e.weight, sizeof weight);
    key.push_back(static_cast<uint32_t>(weight));
    key.push_back(static_cast<uint32_t>(weight >> 32));
  }
}

// One leaf per bonded pair of atoms, recording its first directed edge;
// every directed edge of the pair adds its configurations, in order.
void plan_leaves(const MatchContext& context, BagPlan::State& s) {
  const Molecule& molecule = context.molecule;
  std::vector<uint64_t>& edges = s.edges;
  edges.resize(molecule.edge_count);
  for (uint32_t u = 1; u <= molecule.edge_count; ++u) {
    const Edge& e = molecule.edges[u];
    edges[u - 1] = (static_cast<uint64_t>(std::min(e.from, e.to)) << (2 * kEdgeKeyBits)) |
                   (static_cast<uint64_t>(std::max(e.from, e.to)) << kEdgeKeyBits) | u;
  }
  std::sort(edges.begin(), edges.end());
  auto pair_key = [](uint64_t key) { return key >> kEdgeKeyBits; };
  for (size_t i = 0; i < edges.size();) {
    const uint64_t pair = pair_key(edges[i]);
    const int v = static_cast<int>(pair >> kEdgeKeyBits);
    const int w = static_cast<int>(pair & ((1u << kEdgeKeyBits) - 1));
    Bag* leaf = s.arena.acquire();
    leaf->vertices = {v, w};
    leaf->met[0] = leaf->met[1] = 1;
    leaf->is_leaf = 1;
    leaf->bond = 1;
    leaf->edge_list = {edge_of(edges[i])};
    size_t last = i;
    while (last < edges.size() && pair_key(edges[last]) == pair) ++last;
    leaf->first = static_cast<uint32_t>(i);
    leaf->count = static_cast<uint32_t>(last - i);
    if (s.kinds_on) {
      describe_leaf(context, s.kinds.key(), v, w, edges, i, last);
      leaf->kind = s.kinds.kind_of();
      leaf->fresh = s.kinds.fresh();
    }
    i = last;
    const BagSet::Key key = BagSet::key_of(*leaf);
    s.open_bags[static_cast<size_t>(v)].insert(key, leaf);
    s.open_bags[static_cast<size_t>(w)].insert(key, leaf);
  }
}

// The bonds between atoms x and y, or reach + 1 when more.
uint32_t bonds_apart(const BagPlan::State& s, int x, int y) {
  const uint64_t target = uint64_t{1} << y;
  uint64_t seen = uint64_t{1} << x;
  uint64_t front = seen;
  for (int d = 1; d <= s.reach; ++d) {
    uint64_t next = 0;
    for (uint64_t bits = front; bits != 0; bits &= bits - 1) next |= s.adjacent[static_cast<size_t>(__builtin_ctzll(bits))];
    next &= ~seen;
    if ((next & target) != 0) return static_cast<uint32_t>(d);
    if (next == 0) break;
    seen |= next;
    front = next;
  }
  return static_cast<uint32_t>(s.reach + 1);
}

// The atoms of bag b as bits over u, both ascending, u holding them all.
uint32_t positions(const std::vector<int>& u, const Bag& b) {
  uint32_t bits = 0;
  size_t i = 0;
  for (int x : b.vertices) {
    while (u[i] != x) ++i;
    bits |= 1u << i;
  }
  return bits;
}

// Describes a bag made by joining bags into a new one, the last of those
// bags holding v with it forgets v, then perhaps joining one more: u, the
// atoms of the join that forgets, ascending; the kind of each bag joined and
// its atoms among u (which tells every join on the way); where v stands in
// u and its value; and how many bonds apart each two atoms of u are, but for
// two atoms of one bag joined, whose kind tells already.
void describe_bag(const MatchContext& context, const BagPlan::State& s, int v, const std::vector<Bag*>& joined,
                  std::vector<uint32_t>& key) {
  const std::vector<int>& u = s.forgetting;
  uint32_t masks[kMaxBagAtoms + 1];
  const size_t v_at = static_cast<size_t>(std::find(u.begin(), u.end(), v) - u.begin());
  // v's value, unless 0 or v is never matched.
  const double v_value = context.molecule.atoms[static_cast<size_t>(v)].value;
  const bool valued = (v_value != 0.0 || std::signbit(v_value)) && context.viable->any(v);
  key.assign(1, kJoinTag | (valued ? 1u << 16 : 0u) | static_cast<uint32_t>(u.size() << 8) | static_cast<uint32_t>(v_at));
  if (valued) {
    uint64_t value;
    std::memcpy(&value, &v_value, sizeof value);
    key.push_back(static_cast<uint32_t>(value));
    key.push_back(static_cast<uint32_t>(value >> 32));
  }
  for (size_t i = 0; i < joined.size(); ++i) {
    masks[i] = positions(u, *joined[i]);
    key.push_back(joined[i]->kind);
    key.push_back(masks[i]);
  }
  if (s.reach == 0) return;
  // Joins look how far apart two matched atoms are.
  uint32_t live = 0;
  for (size_t i = 0; i < u.size(); ++i) live |= context.viable->any(u[i]) ? 1u << i : 0u;
  uint32_t word = 0;
  int bytes = 0;
  for (size_t i = 0; i < u.size(); ++i) {
    for (size_t j = i + 1; j < u.size(); ++j) {
      const uint32_t pair = (1u << i) | (1u << j);
      if ((live & pair) != pair ||
          std::any_of(masks, masks + joined.size(), [pair](uint32_t m) { return (m & pair) == pair; }))
        continue;
      word |= bonds_apart(s, u[i], u[j]) << (8 * bytes);
      if (++bytes == 4) {
        key.push_back(word);
        word = 0;
        bytes = 0;
      }
    }
  }
  if (bytes != 0) key.push_back(word);
}

// The atoms of the bags joined, ascending, into u, and by each of them the
// bonds below it into met.
void unite_all(const std::vector<Bag*>& joined, std::vector<int>& u, uint16_t* met) {
  u.clear();
  for (const Bag* b : joined) {
    for (size_t i = 0; i < b->vertices.size(); ++i) {
      const int x = b->vertices[i];
      size_t at = u.size();
      while (at > 0 && u[at - 1] > x) --at;
      if (at > 0 && u[at - 1] == x) {
        met[at - 1] = static_cast<uint16_t>(met[at - 1] + b->met[i]);
        continue;
      }
      if (u.size() == kMaxBagAtoms) fail(Stream::err, "Error: Elimination Order is Wrong!");
      u.insert(u.begin() + static_cast<long>(at), x);
      std::copy_backward(met + at, met + u.size() - 1, met + u.size());
      met[at] = b->met[i];
    }
  }
}

// Plans eliminating atom v: every bag that holds it is joined into a new
// bag, the last join forgetting v, and the new bag joins a bag with the same
// atoms if there is one.
void plan_elimination(const MatchContext& context, BagPlan::State& s, int v) {
  std::vector<BagSet>& open_bags = s.open_bags;
  Bag* bag = s.arena.acquire();
  bag->first = static_cast<uint32_t>(s.joins.size());
  std::vector<Bag*>& holding = s.holding;
  holding.clear();
  open_bags[static_cast<size_t>(v)].for_each([&holding](Bag* k) { holding.push_back(k); });
  for (size_t i = 0; i < holding.size(); ++i) {
    Bag* k = holding[i];
    const BagSet::Key key = BagSet::key_of(*k);
    for (int x : k->vertices)
      if (x != v) open_bags[static_cast<size_t>(x)].erase(key);
    s.joins.push_back({k, i + 1 < holding.size() ? 0 : v});
  }
  open_bags[static_cast<size_t>(v)].clear();
  std::vector<int>& u = s.forgetting;
  unite_all(holding, u, bag->met);
  bag->vertices = u;
  drop_atom(*bag, v);
  const BagSet::Key key = BagSet::key_of(*bag);
  // A bag with the same atoms is listed under each of them.
  Bag* same = bag->vertices.empty() ? s.root : open_bags[static_cast<size_t>(bag->vertices[0])].find(key);
  if (same != nullptr) {
    s.neighbours->for_each(static_cast<size_t>(v), [&](size_t a) { open_bags[a].erase(key); });
    s.joins.push_back({same, 0});
    for (size_t i = 0; i < same->vertices.size(); ++i) bag->met[i] = static_cast<uint16_t>(bag->met[i] + same->met[i]);
    holding.push_back(same);
  }
  bag->count = static_cast<uint32_t>(s.joins.size() - bag->first);
  if (s.kinds_on && !bag->vertices.empty() &&
      std::all_of(holding.begin(), holding.end(), [](const Bag* k) { return k->kind != 0 && !k->fresh; })) {
    describe_bag(context, s, v, holding, s.kinds.key());
    bag->kind = s.kinds.kind_of();
    bag->fresh = s.kinds.fresh();
  }
  if (bag->vertices.empty()) s.root = bag;
  s.neighbours->for_each(static_cast<size_t>(v), [&](size_t a) { open_bags[a].insert(key, bag); });
  // Eliminate v from the graph, adding fill edges between its neighbours.
  s.neighbours->eliminate(static_cast<size_t>(v));
}

// Whether bags are told apart by kind in this molecule, and how far apart
// the joins look.
void prepare_kinds(const MatchContext& context, BagPlan::State& s) {
  const Molecule& molecule = context.molecule;
  s.kinds_on = molecule.atom_count < 64;
  if (!s.kinds_on) return;
  s.kinds.trim();
  s.reach = context.plan.reach;
  s.adjacent.assign(molecule.atom_count + 1, 0);
  for (uint32_t u = 1; u <= molecule.edge_count; ++u)
    s.adjacent[static_cast<size_t>(molecule.edges[u].from)] |= uint64_t{1} << molecule.edges[u].to;
}
}  // namespace

BagPlan::BagPlan() : s_(std::make_unique<State>()) {}
BagPlan::~BagPlan() = default;

size_t BagPlan::size() const { return s_->arena.size(); }
Bag& BagPlan::at(size_t i) const { return *s_->arena.at(i); }
Bag* BagPlan::root() const { return s_->root; }
const Join& BagPlan::join(size_t j) const { return s_->joins[j]; }
int BagPlan::edge_at(size_t i) const { return edge_of(s_->edges[i]); }
BagKinds& BagPlan::kinds() { return s_->kinds; }

void BagPlan::plan(const MatchContext& context, EliminationGraph& graph, const std::vector<int>& order) {
  State& s = *s_;
  const size_t n = context.molecule.atom_count;
  s.neighbours = &graph;
  s.remaining.assign(n + 1, 1);
  s.arena.restart();
  if (s.open_bags.size() < n + 1) s.open_bags.resize(n + 1);
  for (size_t a = 0; a <= n; ++a) s.open_bags[a].clear();
  s.root = nullptr;
  s.joins.clear();
  prepare_kinds(context, s);
  plan_leaves(context, s);
  for (int v : order) {
    if (v < 1 || static_cast<size_t>(v) > n || !s.remaining[static_cast<size_t>(v)])
      fail(Stream::err, "Error: Elimination Order is Wrong!");
    s.remaining[static_cast<size_t>(v)] = 0;
    plan_elimination(context, s, v);
  }
}

const std::vector<Bag*>& BagPlan::below(Bag& top) {
  State& s = *s_;
  s.below.clear();
  s.walk.assign(1, &top);
  while (!s.walk.empty()) {
    Bag* b = s.walk.back();
    s.walk.pop_back();
    s.below.push_back(b);
    if (b->bond) continue;
    for (uint32_t j = b->first + b->count; j-- > b->first;) s.walk.push_back(s.joins[j].bag);
  }
  return s.below;
}

void BagPlan::mark_needed(bool every_table) {
  State& s = *s_;
  if (s.root == nullptr) return;
  s.root->needed = 1;
  for (size_t i = s.arena.size(); i-- > 0;) {
    Bag* bag = s.arena.at(i);
    if (!bag->needed) continue;
    const BagKinds::Kept* kept = every_table ? nullptr : s.kinds.find(bag->kind);
    if (kept != nullptr) {
      bag->copied = 1;
      size_t at = 0;
      for (Bag* b : below(*bag)) {
        b->rise = kept->costs[at].rise;
        b->change = kept->costs[at++].change;
      }
      continue;
    }
    if (bag->bond) continue;
    for (uint32_t j = bag->first; j < bag->first + bag->count; ++j) s.joins[j].bag->needed = 1;
  }
}

}  // namespace tarnaxel
