// The command line: the long options that may come before the input file
// name, then the fixed form "InputFileName [-ind] [-span] [-min] Pattern".
#pragma once

#include <cstddef>
#include <string>

namespace tarnaxel {

constexpr const char* kUsage = "Usage: Tarnaxel InputFileName [-ind] [-span] [-min] Tarnaxel";

struct LongOptions {
  bool help = false;
  bool version = false;
  bool quiet = false;       // no per-record statistics lines
  bool match_data = false;  // accepted records as read, the match as SD data items
  bool aromatic = false;    // aromaticity perceived in every record
  bool smiles = false;      // the input is SMILES, whatever its name
  bool smiles_header = false;  // the first line of SMILES input is a header
  bool skip_bad = false;    // a record the reader refuses goes to bad.sdf (bad.smi) and the run goes on
  std::string outdir;       // where the four files go; empty: the working directory
  std::string patterns;     // a file of named patterns judged together; the Pattern argument is left out
};

// Reads the arguments from argv[1] on that start with "--" ("--" itself
// ends them); returns the index of the first other argument.  An unknown
// long option, or "--outdir" without its directory, is refused with the
// usage line.
int read_long_options(int argc, const char* const* argv, LongOptions& options);

// What "--help" and "--version" print.
const char* help_text();
std::string version_text();

// The memory the configuration tables of one molecule may hold:
// TARNAXEL_TABLE_MEMORY_MB megabytes when set to a positive number, else
// half the physical memory.
size_t table_memory_limit();

// Whether an input of this name is SMILES: ".smi" or ".smiles", with any
// compression suffix (".gz", ".zst", ".bz2") taken off.
bool smiles_name(const std::string& name);

// The path of an output file in the output directory.
std::string output_path(const std::string& outdir, const char* name);

}  // namespace tarnaxel
