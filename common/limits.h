// The limits of the tool's data, and the bit packings that rely on them.
//
// A record's counts line gives at most 999 atoms and 999 bonds (three
// digits each); a bag of the decomposition holds at most the width plus
// one atoms; a pattern has at most 99 characters and ring-bond numbers
// from 0 to 999.  The matcher packs atom numbers, edge numbers and bag
// vertex sets into machine words on these grounds: every packing names its
// limit here, and a molecule beyond them is refused before it is matched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnaxel {

constexpr uint32_t kMaxAtoms = 999;        // atoms of one record
constexpr uint32_t kMaxEdges = 2 * 999;    // directed edges of one record
constexpr size_t kMaxBagAtoms = 8;         // width 7 plus one
constexpr size_t kMaxPatternLength = 99;   // characters of a pattern
constexpr int kRingNumbers = 1000;         // ring-bond numbers 0..999

// A bag's vertex set packs ten bits per atom: six atoms in one word, two in
// the other.
constexpr unsigned kBagAtomBits = 10;
static_assert(kMaxAtoms < (1u << kBagAtomBits));
static_assert(kMaxBagAtoms <= 6 + 2);

// A configuration item packs its atom and its root in 16 bits each; the
// matcher's edge keys pack two atoms and an edge number in 20 bits each; the
// elimination order packs a scan position in 16 bits.
constexpr unsigned kItemAtomBits = 16;
constexpr unsigned kEdgeKeyBits = 20;
static_assert(kMaxAtoms < (1u << kItemAtomBits));
static_assert(kMaxAtoms < (1u << kEdgeKeyBits) && kMaxEdges < (1u << kEdgeKeyBits));

}  // namespace tarnaxel
