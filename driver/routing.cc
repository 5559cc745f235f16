#include "driver/routing.h"

#include <unistd.h>

#include <cerrno>

#include "common/fatal.h"

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

void OutputFiles::write(File& file, std::string_view text) {
  // Each record goes to the file at once and whole, in as few system calls as
  // the file takes; nothing is held in a stream buffer.
  const int fd = fileno(file.stream);
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t wrote = ::write(fd, data, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) fail_cannot_write(file.name);
    data += wrote;
    left -= static_cast<size_t>(wrote);
  }
}

void OutputFiles::route(int result, std::string_view record_text, int atom_count, int bond_count,
                        const std::vector<int>& match_edges, int match_count) {
  if (result == 0) {
    ++rejected;
    write(reject_, record_text);
  } else if (result == 1) {
    ++accepted;
    marked_.assign(record_text);
    mark_unmatched_bonds(marked_, atom_count, bond_count, match_edges, match_count);
    write(accept_, marked_);
  } else {
    ++too_wide;
    write(too_wide_, record_text);
  }
}

void OutputFiles::close() {
  for (File* file : {&reject_, &accept_, &too_wide_}) {
    if (file->stream == nullptr) continue;
    int status = std::fclose(file->stream);
    file->stream = nullptr;
    if (status != 0) fail_cannot_write(file->name);
  }
}

}  // namespace tarnaxel
