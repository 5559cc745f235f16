// Record-by-record reading of the SDF input, plain or gzip-compressed.
//
// Lines of any length are returned whole, with their line feed (the last line
// of a file may lack it), as views into the reader's buffer, which keeps the
// whole of the current record in one piece so that its text can be written
// out without being copied line by line.  A gzip, zstd or bzip2 file, told
// by its first bytes, is decompressed on the fly (compressed.h).
#pragma once

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarnaxel {

class LineReader {
 public:
  // Opens the file ("-": standard input); returns null when it cannot be
  // opened.
  static std::unique_ptr<LineReader> open(const std::string& path);
  // Reads the text of a buffer (for tests and fuzzing), at most chunk bytes
  // at a time when chunk is not 0, as a pipe may deliver it.
  static std::unique_ptr<LineReader> from_text(std::string text, size_t chunk = 0);

  virtual ~LineReader() = default;

  // Starts the next record: forgets the previous one and reads its first
  // line.  Returns false at the end of the input.
  // Blank lines that run to the end of the input (after the last record)
  // are no record.
  bool begin_record() {
    record_start_ = begin_;
    std::string_view first;
    if (!line(first)) return false;
    return !is_blank(first) || !blank_to_end();
  }
  // Starts the next record of a SMILES file: its next line that is neither
  // blank nor a comment ('#' first).  Returns false at the end of the input.
  bool begin_smiles_record() {
    for (;;) {
      record_start_ = begin_;
      std::string_view first;
      if (!line(first)) return false;
      if (!is_blank(first) && first[0] != '#') return true;
    }
  }
  // After a record that could not be read: it ends with its first line that
  // begins with "$$$$" (read on to it when not read yet; the lines read
  // after it are given back), or at the end of the input.  Returns its text.
  std::string_view end_bad_record() {
    const std::string_view text = record();
    for (size_t pos = 0; pos < text.size();) {
      const size_t eol = text.find('\n', pos);
      const size_t next = eol == std::string_view::npos ? text.size() : eol + 1;
      if (text.substr(pos, 4) == "$$$$") {
        begin_ = record_start_ + next;
        return record();
      }
      pos = next;
    }
    std::string_view l;
    while (line(l))
      if (l.substr(0, 4) == "$$$$") break;
    return record();
  }
  // The next line of the current record, valid until the next call; returns
  // false at the end of the input.
  bool line(std::string_view& out) {
    const void* lf = std::memchr(buffer_.data() + begin_, '\n', end_ - begin_);
    if (lf == nullptr) return line_after_refill(out);
    const size_t stop = static_cast<size_t>(static_cast<const char*>(lf) - buffer_.data()) + 1;
    out = std::string_view(buffer_.data() + begin_, stop - begin_);
    begin_ = stop;
    return true;
  }
  // Called before every read from an input that may wait for more bytes to
  // arrive (a pipe, a terminal; not a regular file): what is already judged
  // can be put out first.
  void before_read(std::function<void()> hook) { before_read_ = std::move(hook); }
  // The bytes of the source read so far (of a compressed file, the
  // compressed bytes); read from any thread.
  unsigned long long source_bytes() const { return source_bytes_.load(std::memory_order_relaxed); }
  // The size of the source when it is a regular file, else 0.
  unsigned long long source_size() const { return source_size_; }
  // The text of the current record from its first line to the last line read.
  std::string_view record() const { return {buffer_.data() + record_start_, begin_ - record_start_}; }

 protected:
  // Reads into data, at most size bytes; returns the number of bytes, 0 at
  // the end.
  virtual size_t refill(char* data, size_t size) = 0;

 private:
  // Reads more of the input after end_, first moving the current record to
  // the front of the buffer and growing it when the record fills it.
  void read_more();
  // Empty, or only spaces, tabs, carriage returns and the line feed.
  static bool is_blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == text.npos; }
  // After a blank first line: true when only blank lines follow to the end
  // of the input; otherwise the record is started again at that line.
  bool blank_to_end();
  // line() when the buffer holds no whole line.
  bool line_after_refill(std::string_view& out);

  std::string buffer_ = std::string(1 << 16, '\0');
  size_t record_start_ = 0;  // the current record's first byte
  size_t begin_ = 0;         // the next line's first byte
  size_t end_ = 0;           // the end of the bytes read
  bool eof_ = false;
  std::function<void()> before_read_;
  bool may_wait_ = true;
  std::atomic<unsigned long long> source_bytes_{0};
  unsigned long long source_size_ = 0;

 protected:
  // Sets the position source_bytes() reports, for readers whose source
  // bytes differ from the bytes they deliver.
  void set_source_bytes(unsigned long long n) { source_bytes_.store(n, std::memory_order_relaxed); }
  bool counts_itself_ = false;
};

}  // namespace tarnaxel
