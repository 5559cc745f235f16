// Routing of judged records to "accept.sdf", "reject.sdf" and "tw_big.sdf".
//
// A rejected or too-wide record is copied as read; an accepted one is copied
// with column 9 of every bond line outside the match re-typed to "8", so the
// output shows the matched substructure.  Every record is flushed at once.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tarnaxel {

// Re-types, in record_text, the bond lines whose bonds are not among the
// match_count ascending directed-edge numbers of match_edges.
void mark_unmatched_bonds(std::string& record_text, int atom_count, int bond_count,
                          const std::vector<int>& match_edges, int match_count);

class OutputFiles {
 public:
  // Creates "reject.sdf", "accept.sdf" and "tw_big.sdf" in that order.
  OutputFiles();
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // Writes the record for a result code (0 reject, 1 accept, else too wide),
  // counts it and flushes the file.
  void route(int result, std::string_view record_text, int atom_count, int bond_count,
             const std::vector<int>& match_edges, int match_count);

  // Closes the files; a failure to write the last bytes is reported.
  void close();

  int accepted = 0;
  int rejected = 0;
  int too_wide = 0;

 private:
  struct File {
    const char* name;
    std::FILE* stream;
  };
  void write(File& file, std::string_view text);
  std::string marked_;  // an accepted record's text with its bonds re-typed
  File reject_{"reject.sdf", nullptr};
  File accept_{"accept.sdf", nullptr};
  File too_wide_{"tw_big.sdf", nullptr};
};

}  // namespace tarnaxel
