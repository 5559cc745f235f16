#include "molecule/compressed.h"

#include <bzlib.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#ifdef TARNAXEL_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "common/fatal.h"

namespace tarnaxel {
namespace {

[[noreturn]] void fail_damaged() { fail(Stream::err, "Error: the compressed SDF_file is damaged.\n"); }

// What every decoder shares: the input read from fd in blocks, and a
// refill that decodes before it reads more, so that records arriving
// through a pipe are judged as soon as they are whole.
class CompressedReader : public LineReader {
 public:
  CompressedReader(int fd, const char* head, size_t size) : fd_(fd), in_(1 << 17, '\0') {
    counts_itself_ = true;
    std::memcpy(in_.data(), head, size);
    in_end_ = size;
    read_ = size;
    set_source_bytes(read_);
  }
  ~CompressedReader() override { ::close(fd_); }

 protected:
  size_t refill(char* data, size_t size) final {
    size = std::min<size_t>(size, size_t{1} << 30);
    for (;;) {
      if (in_at_ < in_end_ || more_out_) {
        const size_t before = in_at_;
        const size_t out = decode(data, size);
        more_out_ = out == size;
        if (out > 0) return out;
        if (in_at_ < in_end_ && in_at_ == before && !more_out_) fail_damaged();  // no progress
        if (in_at_ < in_end_) continue;
      }
      if (!read_input()) {
        if (!whole_) fail_damaged();  // the data stops inside a member
        return 0;
      }
    }
  }

  // Decodes from in_[in_at_, in_end_) into out, advancing in_at_; returns
  // the bytes written.  Sets whole_ at the end of a member, and clears it
  // when another one starts.
  virtual size_t decode(char* out, size_t size) = 0;

  unsigned char* input() { return reinterpret_cast<unsigned char*>(in_.data()) + in_at_; }
  size_t input_left() const { return in_end_ - in_at_; }

  size_t in_at_ = 0;
  bool whole_ = false;

 private:
  bool read_input() {
    for (;;) {
      const ssize_t got = ::read(fd_, in_.data(), in_.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) fail(Stream::err, "Error: the SDF_file cannot be read.\n");
      if (got == 0) return false;
      read_ += static_cast<size_t>(got);
      set_source_bytes(read_);
      in_at_ = 0;
      in_end_ = static_cast<size_t>(got);
      return true;
    }
  }

  int fd_;
  std::string in_;
  size_t in_end_ = 0;
  size_t read_ = 0;
  bool more_out_ = false;  // the last decode filled its output: it may hold more
};

#ifdef TARNAXEL_ISAL
class GzipReader final : public CompressedReader {
 public:
  GzipReader(int fd, const char* head, size_t size) : CompressedReader(fd, head, size) { start(); }

 private:
  void start() {
    isal_inflate_init(&state_);
    state_.crc_flag = ISAL_GZIP;
  }
  size_t decode(char* out, size_t size) override {
    if (whole_) {
      start();  // another member follows
      whole_ = false;
    }
    state_.next_in = input();
    state_.avail_in = static_cast<uint32_t>(std::min<size_t>(input_left(), UINT32_MAX));
    const size_t given = state_.avail_in;
    state_.next_out = reinterpret_cast<uint8_t*>(out);
    state_.avail_out = static_cast<uint32_t>(size);
    if (isal_inflate(&state_) < 0) fail_damaged();
    in_at_ += given - state_.avail_in;
    whole_ = state_.block_state == ISAL_BLOCK_FINISH;
    return size - state_.avail_out;
  }

  inflate_state state_{};
};
#else
class GzipReader final : public CompressedReader {
 public:
  GzipReader(int fd, const char* head, size_t size) : CompressedReader(fd, head, size) {
    if (inflateInit2(&stream_, 15 + 16) != Z_OK) fail_damaged();
  }
  ~GzipReader() override { inflateEnd(&stream_); }

 private:
  size_t decode(char* out, size_t size) override {
    if (whole_) {
      if (inflateReset(&stream_) != Z_OK) fail_damaged();  // another member follows
      whole_ = false;
    }
    stream_.next_in = input();
    stream_.avail_in = static_cast<uInt>(std::min<size_t>(input_left(), UINT32_MAX));
    const size_t given = stream_.avail_in;
    stream_.next_out = reinterpret_cast<Bytef*>(out);
    stream_.avail_out = static_cast<uInt>(size);
    const int status = inflate(&stream_, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) fail_damaged();
    in_at_ += given - stream_.avail_in;
    whole_ = status == Z_STREAM_END;
    return size - stream_.avail_out;
  }

  z_stream stream_{};
};
#endif

class ZstdReader final : public CompressedReader {
 public:
  ZstdReader(int fd, const char* head, size_t size) : CompressedReader(fd, head, size), context_(ZSTD_createDCtx()) {
    if (context_ == nullptr) throw std::bad_alloc();
  }
  ~ZstdReader() override { ZSTD_freeDCtx(context_); }

 private:
  size_t decode(char* out, size_t size) override {
    ZSTD_inBuffer in{input(), input_left(), 0};
    ZSTD_outBuffer to{out, size, 0};
    const size_t left = ZSTD_decompressStream(context_, &to, &in);
    if (ZSTD_isError(left)) fail_damaged();
    in_at_ += in.pos;
    whole_ = left == 0;  // a frame ends here, all of it put out
    return to.pos;
  }

  ZSTD_DCtx* context_;
};

class Bzip2Reader final : public CompressedReader {
 public:
  Bzip2Reader(int fd, const char* head, size_t size) : CompressedReader(fd, head, size) { start(); }
  ~Bzip2Reader() override { BZ2_bzDecompressEnd(&stream_); }

 private:
  void start() {
    if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) fail_damaged();
  }
  size_t decode(char* out, size_t size) override {
    if (whole_) {
      BZ2_bzDecompressEnd(&stream_);  // another stream follows
      stream_ = bz_stream{};
      start();
      whole_ = false;
    }
    stream_.next_in = reinterpret_cast<char*>(input());
    stream_.avail_in = static_cast<unsigned>(std::min<size_t>(input_left(), UINT32_MAX));
    const size_t given = stream_.avail_in;
    stream_.next_out = out;
    stream_.avail_out = static_cast<unsigned>(size);
    const int status = BZ2_bzDecompress(&stream_);
    if (status != BZ_OK && status != BZ_STREAM_END) fail_damaged();
    in_at_ += given - stream_.avail_in;
    whole_ = status == BZ_STREAM_END;
    return size - stream_.avail_out;
  }

  bz_stream stream_{};
};

}  // namespace

Compression compression_of(const char* head, size_t size) {
  auto starts = [&](const char* magic, size_t n) { return size >= n && std::memcmp(head, magic, n) == 0; };
  if (starts("\x1f\x8b", 2)) return Compression::gzip;
  if (starts("\x28\xb5\x2f\xfd", 4)) return Compression::zstd;
  if (starts("BZh", 3) && size >= 4 && head[3] >= '1' && head[3] <= '9') return Compression::bzip2;
  return Compression::none;
}

std::unique_ptr<LineReader> compressed_reader(Compression compression, int fd, const char* head, size_t size) {
  switch (compression) {
    case Compression::gzip: return std::make_unique<GzipReader>(fd, head, size);
    case Compression::zstd: return std::make_unique<ZstdReader>(fd, head, size);
    case Compression::bzip2: return std::make_unique<Bzip2Reader>(fd, head, size);
    case Compression::none: break;
  }
  return nullptr;
}

}  // namespace tarnaxel
