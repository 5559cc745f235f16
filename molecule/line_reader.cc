#include "molecule/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/fatal.h"
#include "molecule/compressed.h"

namespace tarnaxel {
namespace {

// Reads whatever the file holds so far, so that records arriving through a
// pipe are judged as soon as they are complete.
class PlainReader : public LineReader {
 public:
  explicit PlainReader(int fd) : fd_(fd) {}
  ~PlainReader() override { ::close(fd_); }

 protected:
  size_t refill(char* data, size_t size) override {
    for (;;) {
      ssize_t got = ::read(fd_, data, size);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) fail(Stream::err, "Error: the SDF_file cannot be read.\n");
    }
  }

 private:
  int fd_;
};

class TextReader : public LineReader {
 public:
  TextReader(std::string text, size_t chunk) : text_(std::move(text)), chunk_(chunk) {}

 protected:
  size_t refill(char* data, size_t size) override {
    size_t n = std::min(chunk_ != 0 ? std::min(size, chunk_) : size, text_.size() - at_);
    std::memcpy(data, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string text_;
  size_t chunk_;
  size_t at_ = 0;
};

}  // namespace

std::unique_ptr<LineReader> LineReader::open(const std::string& path) {
  int fd = path == "-" ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::unique_ptr<LineReader> plain = std::make_unique<PlainReader>(fd);
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  plain->may_wait_ = !regular;
  plain->source_size_ = regular ? static_cast<unsigned long long>(info.st_size) : 0;
  // The first bytes tell a compressed file; they stay in the buffer, so a
  // plain file read through a pipe loses nothing.
  constexpr size_t kHead = 4;
  while (plain->end_ < kHead) {
    size_t got = plain->refill(plain->buffer_.data() + plain->end_, kHead - plain->end_);
    if (got == 0) break;
    plain->end_ += got;
  }
  const Compression compression = compression_of(plain->buffer_.data(), plain->end_);
  if (compression == Compression::none) return plain;
  std::unique_ptr<LineReader> packed =
      compressed_reader(compression, ::fcntl(fd, F_DUPFD_CLOEXEC, 0), plain->buffer_.data(), plain->end_);
  packed->may_wait_ = !regular;
  packed->source_size_ = plain->source_size_;
  return packed;
}

std::unique_ptr<LineReader> LineReader::from_text(std::string text, size_t chunk) {
  return std::make_unique<TextReader>(std::move(text), chunk);
}

void LineReader::read_more() {
  if (record_start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + record_start_, end_ - record_start_);
    begin_ -= record_start_;
    end_ -= record_start_;
    record_start_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  if (before_read_ && may_wait_) before_read_();
  const size_t got = refill(buffer_.data() + end_, buffer_.size() - end_);
  if (!counts_itself_) set_source_bytes(source_bytes() + got);
  if (got == 0) eof_ = true;
  end_ += got;
}

bool LineReader::blank_to_end() {
  std::string_view next;
  while (line(next)) {
    if (is_blank(next)) continue;
    begin_ = record_start_;
    line(next);
    return false;
  }
  return true;
}

bool LineReader::line_after_refill(std::string_view& out) {
  // Only the part not yet searched is searched again after more is read.
  size_t searched = end_;
  for (;;) {
    const void* lf = std::memchr(buffer_.data() + searched, '\n', end_ - searched);
    if (lf != nullptr) {
      const size_t stop = static_cast<size_t>(static_cast<const char*>(lf) - buffer_.data()) + 1;
      out = std::string_view(buffer_.data() + begin_, stop - begin_);
      begin_ = stop;
      return true;
    }
    if (eof_) {
      if (begin_ == end_) return false;
      out = std::string_view(buffer_.data() + begin_, end_ - begin_);
      begin_ = end_;
      return true;
    }
    searched = end_ - begin_;
    read_more();
    searched += begin_;
  }
}

}  // namespace tarnaxel
