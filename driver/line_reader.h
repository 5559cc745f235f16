// Line-by-line reading of the SDF input, plain or gzip-compressed.
//
// Lines of any length are returned whole, with their line feed (the last line
// of a file may lack it).  A file whose first two bytes are the gzip magic is
// decompressed on the fly.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace tarnaxel {

class LineReader {
 public:
  // Opens the file; returns null when it cannot be opened.
  static std::unique_ptr<LineReader> open(const std::string& path);
  // Reads the text of a buffer (for tests and fuzzing).
  static std::unique_ptr<LineReader> from_text(std::string text);

  virtual ~LineReader() = default;
  // Appends the next line to out and returns true, or returns false at the end.
  bool read_line(std::string& out);
  // Replaces line with the next line.
  bool next(std::string& line) {
    line.clear();
    return read_line(line);
  }

 protected:
  // Fills buffer_ from the start; returns the number of bytes, 0 at the end.
  virtual size_t refill(char* data, size_t size) = 0;

 private:
  std::string buffer_ = std::string(1 << 16, '\0');
  size_t begin_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
};

}  // namespace tarnaxel
