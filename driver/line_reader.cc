#include "driver/line_reader.h"

#include <zlib.h>

#include <cstring>

#include "common/fatal.h"

namespace tarnaxel {
namespace {

class PlainReader : public LineReader {
 public:
  explicit PlainReader(std::FILE* file) : file_(file) {}
  ~PlainReader() override { std::fclose(file_); }

 protected:
  size_t refill(char* data, size_t size) override { return std::fread(data, 1, size, file_); }

 private:
  std::FILE* file_;
};

class GzipReader : public LineReader {
 public:
  explicit GzipReader(gzFile file) : file_(file) {}
  ~GzipReader() override { gzclose(file_); }

 protected:
  size_t refill(char* data, size_t size) override {
    int got = gzread(file_, data, static_cast<unsigned>(size));
    if (got < 0) fail(Stream::err, "Error: the compressed SDF_file is damaged.\n");
    return static_cast<size_t>(got);
  }

 private:
  gzFile file_;
};

class TextReader : public LineReader {
 public:
  explicit TextReader(std::string text) : text_(std::move(text)) {}

 protected:
  size_t refill(char* data, size_t size) override {
    size_t n = std::min(size, text_.size() - at_);
    std::memcpy(data, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string text_;
  size_t at_ = 0;
};

}  // namespace

std::unique_ptr<LineReader> LineReader::open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  unsigned char magic[2] = {0, 0};
  size_t got = std::fread(magic, 1, 2, file);
  if (got == 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
    std::fclose(file);
    gzFile gz = gzopen(path.c_str(), "rb");
    if (gz == nullptr) return nullptr;
    gzbuffer(gz, 1 << 17);
    return std::make_unique<GzipReader>(gz);
  }
  std::rewind(file);
  return std::make_unique<PlainReader>(file);
}

std::unique_ptr<LineReader> LineReader::from_text(std::string text) {
  return std::make_unique<TextReader>(std::move(text));
}

bool LineReader::read_line(std::string& out) {
  bool any = false;
  for (;;) {
    if (begin_ == end_) {
      if (eof_) return any;
      begin_ = 0;
      end_ = refill(buffer_.data(), buffer_.size());
      if (end_ == 0) {
        eof_ = true;
        return any;
      }
    }
    const char* start = buffer_.data() + begin_;
    const void* lf = std::memchr(start, '\n', end_ - begin_);
    if (lf != nullptr) {
      size_t n = static_cast<const char*>(lf) - start + 1;
      out.append(start, n);
      begin_ += n;
      return true;
    }
    out.append(start, end_ - begin_);
    begin_ = end_;
    any = true;
  }
}

}  // namespace tarnaxel
