#include "driver/options.h"

#include <cstdlib>
#include <cstring>

#include "common/fatal.h"
#include "matcher/matcher.h"

#ifndef TARNAXEL_VERSION
#define TARNAXEL_VERSION "unknown"
#endif

namespace tarnaxel {

namespace {

// A long option with a value, "--name=VALUE" or "--name VALUE" (not empty):
// sets value and moves i past it.
bool valued(const char* name, int argc, const char* const* argv, int& i, std::string& value) {
  const size_t n = std::strlen(name);
  const char* a = argv[i];
  if (std::strncmp(a, name, n) != 0) return false;
  if (a[n] == '=' && a[n + 1] != '\0') {
    value = a + n + 1;
    return true;
  }
  if (a[n] != '\0' || i + 1 >= argc || argv[i + 1][0] == '\0') return false;
  value = argv[++i];
  return true;
}

}  // namespace

int read_long_options(int argc, const char* const* argv, LongOptions& options) {
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) return i + 1;
    if (std::strcmp(a, "--help") == 0) {
      options.help = true;
    } else if (std::strcmp(a, "--version") == 0) {
      options.version = true;
    } else if (std::strcmp(a, "--quiet") == 0) {
      options.quiet = true;
    } else if (std::strcmp(a, "--match-data") == 0) {
      options.match_data = true;
    } else if (std::strcmp(a, "--aromatic") == 0) {
      options.aromatic = true;
    } else if (std::strcmp(a, "--smiles") == 0) {
      options.smiles = true;
    } else if (std::strcmp(a, "--smiles-header") == 0) {
      options.smiles_header = true;
    } else if (std::strcmp(a, "--skip-bad") == 0) {
      options.skip_bad = true;
    } else if (valued("--patterns", argc, argv, i, options.patterns) ||
               valued("--outdir", argc, argv, i, options.outdir)) {
      continue;
    } else {
      fail_line(kUsage);
    }
  }
  return i;
}

size_t table_memory_limit() {
  const char* text = std::getenv("TARNAXEL_TABLE_MEMORY_MB");
  if (text != nullptr) {
    char* end = nullptr;
    unsigned long long megabytes = std::strtoull(text, &end, 10);
    if (end != text && *end == '\0' && megabytes > 0 && megabytes < (1ull << 40))
      return static_cast<size_t>(megabytes) << 20;
  }
  return default_table_memory_limit();
}

std::string version_text() { return std::string("tarnaxel ") + TARNAXEL_VERSION + "\n"; }

bool smiles_name(const std::string& name) {
  auto ends = [](const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
  };
  std::string base = name;
  for (const char* compressed : {".gz", ".zst", ".bz2"})
    if (ends(base, compressed)) base.resize(base.size() - std::strlen(compressed));
  return ends(base, ".smi") || ends(base, ".smiles");
}

std::string output_path(const std::string& outdir, const char* name) {
  if (outdir.empty()) return name;
  return outdir.back() == '/' ? outdir + name : outdir + "/" + name;
}

const char* help_text() {
  return R"(Usage: tarnaxel [LONG OPTIONS] InputFileName [-ind] [-span] [-min] Pattern

Screens the molecules of an SDF file (MDL V2000 records, plain or gzip; "-"
reads standard input) or a SMILES file (.smi, --smiles) against one
structural pattern.  The pattern is compiled into the rules of a tree
automaton, written to automaton.txt, and every record is judged and copied
to accept.sdf, reject.sdf or tw_big.sdf (.smi for SMILES).

Options of the match (at most two):
  -span        every atom of the molecule must be matched
  -ind         a bond between two matched atoms must belong to the match
  -min         the match with the smallest score wins instead of the largest

Long options (before the input file name; "--" ends them):
  --help           this text
  --version        the version
  --outdir DIR     write automaton.txt and the three SDF files in DIR,
                   created when missing
  --match-data     write accepted records as read (no bond re-typed) with the
                   match as SD data items: TARNAXEL_BONDS, TARNAXEL_ATOMS
                   (1-based numbers) and TARNAXEL_SCORE
  --quiet          no statistics line per record
  --smiles         read the input as SMILES (one molecule a line, the SMILES
                   then blanks and a title), as for names ending in .smi or
                   .smiles (also .smi.gz); the outputs are accept.smi,
                   reject.smi and tw_big.smi, lines copied as read
  --smiles-header  skip the first line of SMILES input
  --skip-bad       a record that cannot be read is copied whole to bad.sdf
                   (bad.smi), named on standard error, counted as Bad:N in
                   the summary, and the run goes on
  --patterns FILE  judge every record against each pattern of FILE in one
                   pass; the Pattern argument is then left out (see below)
  --aromatic       perceive aromaticity in every record: atoms of aromatic
                   rings read in lowercase (c, n, o, s, ...), their ring
                   bonds as aromatic, and the pattern's aromatic links (between
                   lowercase atoms) match every bond at an aromatic atom; so
                   c1ccccc1 finds benzene rings however the file draws them

Pattern notation (SMILES-like):
  CCO              a chain: atoms joined by single bonds
  C=O  C#N  C:C    double, triple and aromatic (V2000 type 4) bonds
  c1ccccc1  n      aromatic atoms (lowercase; with --aromatic for any file)
  CC(C)(C)C        branches in parentheses
  C1=CC=CC=C1      ring bonds: a digit opens and closes a ring (%10 for 10..999)
  [Na]  Cl  Br     bracket atoms and two-letter elements
  {C|N}O           a group of alternatives
  C{C}*O  C{C}+O   a group repeated any number of times, or at least once
  Cl  {Cl|Br|I}    a single atom: records holding such an atom

Output: one statistics line per record, tab-separated: record number, atoms,
bonds, result (0 rejected, 1 accepted, 2 too wide: tree width above 7),
width, score (bonds used by the match), seconds; then the total duration and
the counts.  In accept.sdf the bonds outside the match are re-typed to 8.

Many patterns in one pass (--patterns FILE): FILE holds one pattern a line,
a name (no white space), a tab and the pattern; a line without a tab is a
pattern named by its line number; blank lines and lines starting with # are
skipped.  No automaton.txt is written.  matches.tsv gets a header line
(record, title, the names) and one line per record: its number, its title
and each pattern's result (1 accepted, 0 rejected, 2 too wide or over the
memory limit).  A record accepted by some pattern goes to accept.sdf (as
read; with --match-data carrying TARNAXEL_PATTERNS, the names that accept
it), one too wide for every pattern to tw_big.sdf, the rest to reject.sdf.
The statistics line gives record, atoms, bonds, the number of patterns that
accept it, width and seconds.  examples/groups.tsv is a set of functional
groups and ring classes for use with --aromatic.

Environment: TARNAXEL_THREADS (threads that judge records; default: every
CPU), TARNAXEL_TABLE_MEMORY_MB (memory for one record's tables; default: half
the physical memory).
)";
}

}  // namespace tarnaxel
