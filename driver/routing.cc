#include "driver/routing.h"

#include <unistd.h>

#include <cerrno>
#include <thread>

#include "common/fatal.h"
#include "matcher/matcher.h"

namespace tarnaxel {
namespace {

[[noreturn]] void fail_cannot_write(const char* name) {
  fail(Stream::err, std::string("Error: \"") + name + "\" cannot be written!");
}

}  // namespace

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

OutputFiles::OutputFiles() {
  for (File* file : {&reject_, &accept_, &too_wide_}) {
    file->stream = std::fopen(file->name, "wb");
    if (file->stream == nullptr) fail_cannot_open(file->name);
  }
}

OutputFiles::~OutputFiles() {
  for (File* file : {&reject_, &accept_, &too_wide_})
    if (file->stream != nullptr) std::fclose(file->stream);
}

void OutputFiles::stats(std::string_view text) {
  Busy busy(busy_);
  stats_.append(text);
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
    kept_.push_back(Kept{file, body_.size(), stats_.size()});
  }
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
      const char* name = kept_[failed].file->name;
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
  for (File* file : {&reject_, &accept_, &too_wide_}) {
    if (file->stream == nullptr) continue;
    int status = std::fclose(file->stream);
    file->stream = nullptr;
    if (status != 0) fail_cannot_write(file->name);
  }
}

}  // namespace tarnaxel
