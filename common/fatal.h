// The one way a run of the tool ends on an error.
//
// Every refusal anywhere in the tool throws a Fatal carrying the stream it
// belongs on and the exact bytes to write there.  The process entry catches
// it, writes the bytes and exits with status 1; tests and fuzz targets catch
// it in-process and look at the bytes.
#pragma once

#include <exception>
#include <string>

namespace tarnaxel {

enum class Stream { out, err };

class Fatal : public std::exception {
 public:
  Fatal(Stream stream, std::string bytes, std::string detail = "")
      : stream_(stream), bytes_(std::move(bytes)), detail_(std::move(detail)) {}
  Stream stream() const { return stream_; }
  const std::string& bytes() const { return bytes_; }
  // One English line for a person at a terminal (the file and the system's
  // reason), or empty; never part of the bytes.
  const std::string& detail() const { return detail_; }
  const char* what() const noexcept override { return bytes_.c_str(); }

 private:
  Stream stream_;
  std::string bytes_;
  std::string detail_;
};

// A record the reader refuses: the input itself can be read on past it.
class BadRecord : public Fatal {
 public:
  using Fatal::Fatal;
};

// Throws Fatal with the bytes as given.
[[noreturn]] void fail(Stream stream, std::string bytes);
// Throws Fatal for standard output with a line feed after the message.
[[noreturn]] void fail_line(std::string message);
// The "cannot be opened!" and "cannot be written!" refusals shared by every
// file the tool opens, with the system's reason (errno) as the detail.
[[noreturn]] void fail_cannot_open(const std::string& file_name);
[[noreturn]] void fail_cannot_write(const std::string& file_name);

}  // namespace tarnaxel
