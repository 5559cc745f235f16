#include "driver/terminal.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <string_view>
#include <vector>

#include "driver/clock.h"

namespace tarnaxel {
namespace {

// CP932 to UTF-8; bytes that do not convert are kept as they are.
std::string to_utf8(const std::string& bytes) {
  iconv_t convert = iconv_open("UTF-8", "CP932");
  if (convert == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  std::string in = bytes;
  char* from = in.data();
  size_t left = in.size();
  char buffer[256];
  while (left > 0) {
    char* to = buffer;
    size_t room = sizeof buffer;
    size_t done = iconv(convert, &from, &left, &to, &room);
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back(*from++);
      --left;
    }
  }
  iconv_close(convert);
  return out;
}

}  // namespace

bool utf8_terminal(std::FILE* stream) {
  if (!isatty(fileno(stream))) return false;
  static const bool utf8 = [] {
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  }();
  return utf8;
}

std::string for_people(const std::string& bytes, const std::string& detail) {
  std::string text = to_utf8(bytes);
  if (text.empty() || text.back() != '\n') text.push_back('\n');
  if (!detail.empty()) text += detail + "\n";
  return text;
}

Progress::Progress(unsigned long long file_size)
    : active_(isatty(STDERR_FILENO) != 0), file_size_(file_size), started_(clock_ticks()) {}

void Progress::maybe_draw(int accepted, unsigned long long bytes_read) {
  const long now = clock_ticks();
  if (now - drawn_ < 250) return;
  drawn_ = now;
  const double seconds = (now - started_) / kTicksPerSecond;
  char line[160];
  int n = std::snprintf(line, sizeof line, "\r\033[K%ld records, %.0f records/s, %d accepted", records_,
                        seconds > 0 ? records_ / seconds : 0.0, accepted);
  if (file_size_ > 0 && n > 0 && static_cast<size_t>(n) < sizeof line)
    std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ", %.0f%% read",
                  100.0 * static_cast<double>(bytes_read) / static_cast<double>(file_size_));
  std::fputs(line, stderr);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::erase() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace tarnaxel
