#include "molecule/line_reader.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/fatal.h"

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

[[noreturn]] void fail_damaged() { fail(Stream::err, "Error: the compressed SDF_file is damaged.\n"); }

class GzipReader : public LineReader {
 public:
  explicit GzipReader(gzFile file) : file_(file) { counts_itself_ = true; }
  ~GzipReader() override { gzclose(file_); }

 protected:
  size_t refill(char* data, size_t size) override {
    int got = gzread(file_, data, static_cast<unsigned>(size));
    if (got < 0) fail_damaged();
    const long offset = gzoffset(file_);
    if (offset > 0) set_source_bytes(static_cast<unsigned long long>(offset));
    return static_cast<size_t>(got);
  }

 private:
  gzFile file_;
};

// gzip data that arrives through a pipe: inflated as it comes, starting
// from the bytes already read to tell it, so nothing needs rewinding.
// Members one after another are read as one stream, as gzip reads them.
class GzipStreamReader : public LineReader {
 public:
  GzipStreamReader(int fd, const char* head, size_t head_size) : fd_(fd), in_(1 << 17, '\0') {
    counts_itself_ = true;
    std::memcpy(in_.data(), head, head_size);
    stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
    stream_.avail_in = static_cast<uInt>(head_size);
    read_ = head_size;
    if (inflateInit2(&stream_, 15 + 16) != Z_OK) fail_damaged();
  }
  ~GzipStreamReader() override {
    inflateEnd(&stream_);
    ::close(fd_);
  }

 protected:
  size_t refill(char* data, size_t size) override {
    stream_.next_out = reinterpret_cast<Bytef*>(data);
    stream_.avail_out = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    while (stream_.avail_out == static_cast<uInt>(std::min<size_t>(size, 1u << 30))) {
      if (stream_.avail_in == 0 && !read_more_input()) {
        if (!at_member_end_) fail_damaged();  // the data stops inside a member
        break;
      }
      if (at_member_end_) {
        // Another member follows.
        if (inflateReset(&stream_) != Z_OK) fail_damaged();
        at_member_end_ = false;
      }
      const int status = inflate(&stream_, Z_NO_FLUSH);
      if (status == Z_STREAM_END) {
        at_member_end_ = true;
      } else if (status != Z_OK && status != Z_BUF_ERROR) {
        fail_damaged();
      }
    }
    return static_cast<size_t>(stream_.next_out - reinterpret_cast<Bytef*>(data));
  }

 private:
  bool read_more_input() {
    for (;;) {
      ssize_t got = ::read(fd_, in_.data(), in_.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) fail(Stream::err, "Error: the SDF_file cannot be read.\n");
      if (got == 0) return false;
      read_ += static_cast<size_t>(got);
      set_source_bytes(read_);
      stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
      stream_.avail_in = static_cast<uInt>(got);
      return true;
    }
  }

  int fd_;
  std::string in_;
  z_stream stream_{};
  size_t read_ = 0;
  bool at_member_end_ = false;
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
  // The first two bytes tell a gzip file; they stay in the buffer, so a
  // plain file read through a pipe loses nothing.
  while (plain->end_ < 2) {
    size_t got = plain->refill(plain->buffer_.data() + plain->end_, 2 - plain->end_);
    if (got == 0) break;
    plain->end_ += got;
  }
  if (plain->end_ == 2 && static_cast<unsigned char>(plain->buffer_[0]) == 0x1f &&
      static_cast<unsigned char>(plain->buffer_[1]) == 0x8b) {
    if (!regular || ::lseek(fd, 0, SEEK_SET) != 0) {
      std::unique_ptr<LineReader> stream =
          std::make_unique<GzipStreamReader>(::fcntl(fd, F_DUPFD_CLOEXEC, 0), plain->buffer_.data(), 2);
      stream->source_size_ = plain->source_size_;
      return stream;
    }
    gzFile gz = gzdopen(::dup(fd), "rb");
    if (gz == nullptr) return nullptr;
    gzbuffer(gz, 1 << 17);
    std::unique_ptr<LineReader> gzip = std::make_unique<GzipReader>(gz);
    gzip->may_wait_ = false;
    gzip->source_size_ = plain->source_size_;
    return gzip;
  }
  return plain;
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
