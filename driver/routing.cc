#include "driver/routing.h"

#include <unistd.h>

#include <cerrno>
#include <thread>

#include "common/fatal.h"
#include "driver/options.h"
#include "matcher/matcher.h"

namespace tarnaxel {
void mark_unmatched_bonds(std::string& text, int atom_count, int bond_count, const std::vector<int>& match_edges,
                          int match_count) {
  // p walks from line feed to line feed: from the end of line 3 (the counts
  // line begins after it) past the counts line and the atom block.
  size_t p = 0;
  for (int lf = 0; lf < 3; ++lf) {
    p = text.find('\n', lf == 0 ? 0 : p + 1);
    if (p == std::string::npos) return;
  }
  for (int i = 0; i <= atom_count; ++i) {
    p = text.find('\n', p + 1);
    if (p == std::string::npos) return;
  }
  int cursor = 0;
  for (int j = 1; j <= bond_count; ++j) {
    int m = cursor < match_count ? (match_edges[cursor] + 1) / 2 : 0;
    size_t end = text.find('\n', p + 1);
    if (j == m) {
      ++cursor;
    } else {
      // Column 9 of the bond line, only when the line reaches it.
      size_t line_end = end == std::string::npos ? text.size() : end;
      if (p + 9 < line_end) text[p + 9] = '8';
    }
    if (end == std::string::npos) return;
    p = end;
  }
}

// Marks the files as being written by this thread for the scope; another
// thread waits.
class OutputFiles::Busy {
 public:
  explicit Busy(std::atomic<bool>& busy) : busy_(busy) {
    while (busy_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
  }
  ~Busy() { busy_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool>& busy_;
};

OutputFiles::OutputFiles(const std::string& outdir, bool quiet, bool match_data, bool smiles, bool skip_bad)
    : quiet_(quiet),
      match_data_(match_data),
      smiles_(smiles),
      reject_{output_path(outdir, smiles ? "reject.smi" : "reject.sdf"), nullptr, 0},
      accept_{output_path(outdir, smiles ? "accept.smi" : "accept.sdf"), nullptr, 0},
      too_wide_{output_path(outdir, smiles ? "tw_big.smi" : "tw_big.sdf"), nullptr, 0},
      bad_{output_path(outdir, smiles ? "bad.smi" : "bad.sdf"), nullptr, 0},
      table_{"", nullptr, 0} {
  for (File* file : {&reject_, &accept_, &too_wide_}) {
    file->stream = std::fopen(file->name.c_str(), "wb");
    if (file->stream == nullptr) fail_cannot_open(file->name);
  }
  if (!skip_bad) return;
  bad_.stream = std::fopen(bad_.name.c_str(), "wb");
  if (bad_.stream == nullptr) fail_cannot_open(bad_.name);
}

void OutputFiles::route_bad(int record_number, std::string_view record_text, const std::string& message) {
  {
    Busy busy(busy_);
    ++bad;
    body_.append(record_text);
    keep(bad_);
  }
  // What is wrong: the message without its "Error: record N of the ..._file"
  // and its full stop.
  std::string what = message;
  while (!what.empty() && (what.back() == '\n' || what.back() == '.')) what.pop_back();
  const size_t file = what.find("_file ");
  if (what.rfind("Error: record ", 0) == 0 && file != std::string::npos) what.erase(0, file + 6);
  flush();
  std::fprintf(stderr, "record %d: %s; the record goes to %s\n", record_number, what.c_str(),
               bad_.name.substr(bad_.name.rfind('/') + 1).c_str());
  std::fflush(stderr);
}

OutputFiles::~OutputFiles() {
  for (File* file : {&reject_, &accept_, &too_wide_, &bad_})
    if (file->stream != nullptr) std::fclose(file->stream);
}

void OutputFiles::stats(std::string_view text) {
  if (quiet_) return;
  Busy busy(busy_);
  stats_.append(text);
}

void OutputFiles::keep(File& file) { kept_.push_back(Kept{&file, body_.size(), stats_.size()}); }

void OutputFiles::route_with_data(std::string_view text, const std::vector<int>& match_edges,
                                  const std::vector<int>& atoms, std::string_view score) {
  if (smiles_) {
    smiles_with_data(text, match_edges, atoms, score);
    return;
  }
  std::string items;
  auto numbers = [&items](const std::vector<int>& values, auto number_of) {
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) items.push_back(' ');
      items.append(std::to_string(number_of(values[i])));
    }
    items.append("\n\n");
  };
  items.append("> <TARNAXEL_BONDS>\n");
  numbers(match_edges, [](int e) { return (e + 1) / 2; });
  items.append("> <TARNAXEL_ATOMS>\n");
  numbers(atoms, [](int a) { return a; });
  items.append("> <TARNAXEL_SCORE>\n");
  items.append(score);
  items.append("\n\n");
  {
    Busy busy(busy_);
    ++accepted;
    append_with_items(text, items);
    keep(accept_);
  }
  flush_if_large();
}

// The items go before the "$$$$" line that ends the record, or at the end
// of a record without one.
void OutputFiles::append_with_items(std::string_view text, std::string_view items) {
  size_t end = text.size();
  size_t last = text.size() >= 2 ? text.rfind('\n', text.size() - 2) : std::string_view::npos;
  last = last == std::string_view::npos ? 0 : last + 1;
  if (text.substr(last, 4) == "$$$$") end = last;
  std::string_view before = text.substr(0, end);
  body_.append(before);
  if (!before.empty() && before.back() != '\n') body_.push_back('\n');
  // After a value line the items would be read as more of its data item:
  // a blank line ends that item first.
  size_t prev = before.size() >= 2 ? before.rfind('\n', before.size() - 2) : std::string_view::npos;
  prev = prev == std::string_view::npos ? 0 : prev + 1;
  const std::string_view prev_line = before.substr(prev);
  const bool blank = prev_line.find_first_not_of(" \t\r\n") == std::string_view::npos;
  if (!before.empty() && !blank && prev_line.substr(0, 6) != "M  END") body_.push_back('\n');
  body_.append(items);
  body_.append(text.substr(end));
}

void OutputFiles::open_table(const std::string& outdir, std::string_view header) {
  table_.name = output_path(outdir, "matches.tsv");
  table_.stream = std::fopen(table_.name.c_str(), "wb");
  if (table_.stream == nullptr) fail_cannot_open(table_.name);
  table_body_.assign(header);
}

void OutputFiles::route_set(int result, std::string_view text, std::string_view names, std::string_view table_line) {
  {
    Busy busy(busy_);
    table_body_.append(table_line);
    File* file = result == kAccepted ? &accept_ : result == kRejected ? &reject_ : &too_wide_;
    ++(result == kAccepted ? accepted : result == kRejected ? rejected : too_wide);
    if (result != kAccepted || !match_data_) {
      body_.append(text);
    } else if (smiles_) {
      // The names as one more tab-separated column before the line end.
      size_t end = text.size();
      if (end > 0 && text[end - 1] == '\n') --end;
      if (end > 0 && text[end - 1] == '\r') --end;
      body_.append(text.substr(0, end)).append("\t").append(names).append(text.substr(end));
      if (end == text.size()) body_.push_back('\n');
    } else {
      append_with_items(text, "> <TARNAXEL_PATTERNS>\n" + std::string(names) + "\n\n");
    }
    keep(*file);
  }
  flush_if_large();
}

// A SMILES line with the match as three more tab-separated columns before
// its line end: bond numbers, atom numbers (as the SMILES writes them, from
// 1, ascending, separated by spaces) and the score.
void OutputFiles::smiles_with_data(std::string_view text, const std::vector<int>& match_edges,
                                   const std::vector<int>& atoms, std::string_view score) {
  {
    Busy busy(busy_);
    ++accepted;
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    if (end > 0 && text[end - 1] == '\r') --end;
    body_.append(text.substr(0, end));
    auto numbers = [this](const std::vector<int>& values, auto number_of) {
      body_.push_back('\t');
      for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) body_.push_back(' ');
        body_.append(std::to_string(number_of(values[i])));
      }
    };
    numbers(match_edges, [](int e) { return (e + 1) / 2; });
    numbers(atoms, [](int a) { return a; });
    body_.push_back('\t');
    body_.append(score);
    body_.append(text.substr(end));
    if (end == text.size()) body_.push_back('\n');
    keep(accept_);
  }
  flush_if_large();
}

void OutputFiles::route(int result, std::string_view record_text, int atom_count, int bond_count,
                        const std::vector<int>& match_edges, int match_count) {
  {
    Busy busy(busy_);
    File* file = &too_wide_;
    if (result == kRejected) {
      ++rejected;
      file = &reject_;
      body_.append(record_text);
    } else if (result == kAccepted && smiles_) {
      ++accepted;
      file = &accept_;
      body_.append(record_text);
    } else if (result == kAccepted) {
      ++accepted;
      file = &accept_;
      marked_.assign(record_text);
      mark_unmatched_bonds(marked_, atom_count, bond_count, match_edges, match_count);
      body_.append(marked_);
    } else {
      ++too_wide;
      body_.append(record_text);
    }
    keep(*file);
  }
  flush_if_large();
}

void OutputFiles::flush_if_large() {
  if (body_.size() >= (size_t{1} << 20) || kept_.size() >= 4096) flush();
}

void OutputFiles::flush() {
  Busy busy(busy_);
  flush_kept();
}

void OutputFiles::flush_if_idle() noexcept {
  if (busy_.exchange(true, std::memory_order_acquire)) return;
  try {
    flush_kept();
  } catch (...) {
  }
  busy_.store(false, std::memory_order_release);
}

void OutputFiles::flush_kept() {
  size_t first = 0;
  while (first < kept_.size()) {
    size_t last = first;
    while (last + 1 < kept_.size() && kept_[last + 1].file == kept_[first].file) ++last;
    size_t failed = 0;
    if (!write_run(*kept_[first].file, first, last, failed)) {
      const std::string name = kept_[failed].file->name;
      put_stats(kept_[failed].stats_end);
      body_.clear();
      kept_.clear();
      fail_cannot_write(name);
    }
    first = last + 1;
  }
  put_stats(stats_.size());
  body_.clear();
  kept_.clear();
  write_table();
}

// The lines of "matches.tsv" kept so far.
void OutputFiles::write_table() {
  if (table_.stream == nullptr || table_body_.empty()) return;
  const bool ok = std::fwrite(table_body_.data(), 1, table_body_.size(), table_.stream) == table_body_.size() &&
                  std::fflush(table_.stream) == 0;
  table_body_.clear();
  if (!ok) fail_cannot_write(table_.name);
}

bool OutputFiles::write_run(File& file, size_t first, size_t last, size_t& failed) {
  const size_t begin = first == 0 ? 0 : kept_[first - 1].body_end;
  const size_t end = kept_[last].body_end;
  const int fd = fileno(file.stream);
  size_t done = 0;
  while (begin + done < end) {
    ssize_t wrote = ::write(fd, body_.data() + begin + done, end - begin - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  if (begin + done == end) {
    file.written += done;
    return true;
  }
  // Cut the file back to the last whole record written.
  failed = first;
  while (kept_[failed].body_end <= begin + done) ++failed;
  const size_t whole = (failed == first ? begin : kept_[failed - 1].body_end) - begin;
  if (whole < done && ::ftruncate(fd, static_cast<off_t>(file.written + whole)) != 0) {
    // Not a regular file: what was written stays.
  }
  file.written += whole;
  return false;
}

void OutputFiles::put_stats(size_t end) {
  std::fwrite(stats_.data(), 1, end, stdout);
  std::fflush(stdout);
  stats_.clear();
}

void OutputFiles::close() {
  flush();
  for (File* file : {&reject_, &accept_, &too_wide_, &bad_, &table_}) {
    if (file->stream == nullptr) continue;
    int status = std::fclose(file->stream);
    file->stream = nullptr;
    if (status != 0) fail_cannot_write(file->name);
  }
}

}  // namespace tarnaxel
