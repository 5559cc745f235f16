#include "matcher/plan.h"

#include <algorithm>

namespace tarnaxel {

MatchPlan::MatchPlan(const Automaton& a, const RuleIndex& i, const MatchOptions& o, const MatchChecks& c)
    : automaton(a), index(i), options(o), checks(c) {
  prune = !c.every_rule;
  look_above = prune && i.any_above;
  if (look_above) {
    int most = 1;
    for (const RuleIndex::Above& up : i.above_list) most = std::max(most, up.bonds);
    reach = std::min(most, 254);
  }
  option_bits = static_cast<uint32_t>(o.ind | (o.span << 1) | (o.min << 2) | (c.every_rule ? 8 : 0) | (o.aromatic << 6));
  if (prune) {
    once = i.once_bit.data();
    holder = i.holder_bit.data();
  } else {
    zeros_.assign(i.once_bit.size(), 0);
    once = holder = zeros_.data();
  }
}

}  // namespace tarnaxel
