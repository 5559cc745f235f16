// Routing of judged records to "accept.sdf", "reject.sdf" and "tw_big.sdf".
//
// A rejected or too-wide record is copied as read; an accepted one is copied
// with column 9 of every bond line outside the match re-typed to "8", so the
// output shows the matched substructure.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tarnaxel {

// Re-types, in record_text, the bond lines whose bonds are not among the
// match_count ascending directed-edge numbers of match_edges.
void mark_unmatched_bonds(std::string& record_text, int atom_count, int bond_count,
                          const std::vector<int>& match_edges, int match_count);

// The three output files and the statistics lines on standard output, put
// out in batches: what is handed over is kept until flush(), which writes it
// in record order, each run of records for one file in one write.  A file
// that cannot be written keeps only whole records, standard output gets the
// lines up to the record that failed, and the run ends there, as if every
// record had been written at once.
class OutputFiles {
 public:
  // Creates "reject.sdf", "accept.sdf" and "tw_big.sdf" in that order, in
  // outdir (empty: the working directory).  quiet: the statistics lines are
  // dropped.  match_data: accepted records are kept as read, the match
  // appended as SD data items.
  // smiles: the input is SMILES lines; the files end in ".smi", records
  // are written as read, the match appended to an accepted line.
  // skip_bad: "bad.sdf" (or "bad.smi") is made for the records the reader
  // refuses.
  explicit OutputFiles(const std::string& outdir = "", bool quiet = false, bool match_data = false,
                       bool smiles = false, bool skip_bad = false);
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // A piece of the statistics lines, put out before the next record.
  void stats(std::string_view text);
  // Keeps the record for a result code (0 reject, 1 accept, else too wide)
  // and counts it; flushes when much is kept.
  void route(int result, std::string_view record_text, int atom_count, int bond_count,
             const std::vector<int>& match_edges, int match_count);
  // Keeps an accepted record as read with the match as SD data items
  // TARNAXEL_BONDS, TARNAXEL_ATOMS (1-based numbers, ascending) and
  // TARNAXEL_SCORE, just before its "$$$$" line.
  void route_with_data(std::string_view record_text, const std::vector<int>& match_edges,
                       const std::vector<int>& atoms, std::string_view score);
  bool match_data() const { return match_data_; }
  // With a pattern set: makes "matches.tsv" in outdir, starting with header.
  void open_table(const std::string& outdir, std::string_view header);
  // Keeps a record judged against a pattern set for its verdict (accepted
  // by some pattern, too wide for every one, or rejected) as read, an
  // accepted one with match data carrying the names of the patterns that
  // accept it; and its line of "matches.tsv".
  void route_set(int result, std::string_view record_text, std::string_view names, std::string_view table_line);
  bool skip_bad() const { return bad_.stream != nullptr; }
  // Keeps a record the reader refused, as read, and names it on stderr
  // with what is wrong (the reader's message).
  void route_bad(int record_number, std::string_view record_text, const std::string& message);
  bool smiles() const { return smiles_; }
  // Writes everything kept.
  void flush();
  // flush() unless another thread is putting out records right now; for the
  // last words of a process that runs out of memory.  Never throws.
  void flush_if_idle() noexcept;

  // Flushes and closes the files; a failure to write the last bytes is reported.
  void close();

  int accepted = 0;
  int rejected = 0;
  int too_wide = 0;
  int bad = 0;
  bool v3000_told = false;  // the first V3000 record has been named on stderr

 private:
  struct File {
    std::string name;
    std::FILE* stream;
    size_t written;  // bytes in the file
  };
  // A kept record: its file, where its text ends in body_, and where the
  // statistics before it end in stats_.
  struct Kept {
    File* file;
    size_t body_end;
    size_t stats_end;
  };
  class Busy;
  void smiles_with_data(std::string_view text, const std::vector<int>& match_edges, const std::vector<int>& atoms,
                        std::string_view score);
  void flush_kept();
  void write_table();
  void append_with_items(std::string_view text, std::string_view items);
  // flush() once a megabyte or 4096 records are kept.
  void flush_if_large();
  // Writes a run of whole records to a file; on failure leaves the file
  // ending on a whole record and returns the index of the record that failed.
  bool write_run(File& file, size_t first, size_t last, size_t& failed);
  void put_stats(size_t end);
  void keep(File& file);

  std::string marked_;  // an accepted record's text with its bonds re-typed
  std::string body_;
  std::string stats_;
  std::vector<Kept> kept_;
  std::atomic<bool> busy_{false};
  bool quiet_;
  bool match_data_;
  bool smiles_;
  File reject_;
  File accept_;
  File too_wide_;
  File bad_;
  File table_;  // "matches.tsv", with a pattern set
  std::string table_body_;
};

}  // namespace tarnaxel
