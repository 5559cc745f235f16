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
#include "pattern/messages.h"

namespace tarnaxel {
namespace {

namespace msg = pattern_message;

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

bool starts_element(const std::string& p, size_t i) {
  const char c = p[i];
  return std::strchr("BCNOPSFIcnops()[]{}|*+-=#:%0123456789", c) != nullptr;
}

// Where a character, from 1, and what is found there.
std::string at(size_t i, const std::string& what) { return "at character " + std::to_string(i + 1) + ": " + what; }

// The first ")" or "}" without its opener, or the last opener never closed.
std::string unbalanced(const std::string& p, char open, char close, bool closer) {
  std::vector<size_t> where;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == open) {
      where.push_back(i);
    } else if (p[i] == close) {
      if (where.empty()) return closer ? at(i, std::string("'") + close + "' closes nothing") : "";
      where.pop_back();
    }
  }
  if (!closer && !where.empty()) return at(where.back(), std::string("'") + open + "' is never closed");
  return "";
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

std::string pattern_diagnosis(const std::string& p, const std::string& message) {
  auto is = [&message](const char* m) { return message == std::string(m) + "\n"; };
  if (is(msg::kNoMatch)) {
    for (size_t i = 0; i < p.size(); ++i) {
      if (p[i] == '[') {
        const size_t close = p.find(']', i);
        if (close == std::string::npos) break;
        i = close;
      } else if (!starts_element(p, i)) {
        return at(i, std::string("'") + p[i] + "' starts no atom, bond or group");
      }
    }
    return "in the pattern: a character starts no atom, bond or group";
  }
  if (is(msg::kTooManyClose)) return unbalanced(p, '(', ')', true);
  if (is(msg::kTooManyOpen)) return unbalanced(p, '(', ')', false);
  if (is(msg::kTooManyCloseBrace)) return unbalanced(p, '{', '}', true);
  if (is(msg::kTooManyOpenBrace)) return unbalanced(p, '{', '}', false);
  if (is(msg::kNoCloseBracket) || is(msg::kLongBracketAtom)) {
    const size_t open = p.find('[');
    if (open != std::string::npos)
      return at(open, is(msg::kNoCloseBracket) ? "'[' holds no atom closed by ']'"
                                               : "'[' holds more than two characters");
  }
  if (is(msg::kNoRingDigits) || is(msg::kRingNumberTooLarge)) {
    for (size_t i = 0; i < p.size(); ++i) {
      if (p[i] != '%') continue;
      size_t digits = 0;
      while (i + 1 + digits < p.size() && p[i + 1 + digits] >= '0' && p[i + 1 + digits] <= '9') ++digits;
      if (digits == 0) return at(i, "'%' is not followed by a ring-bond number");
      if (digits > 3) return at(i, "'%' is followed by more than three digits");
    }
  }
  if (is(msg::kBarOutsideGroup)) {
    int depth = 0;
    for (size_t i = 0; i < p.size(); ++i) {
      depth += p[i] == '{' ? 1 : p[i] == '}' ? -1 : 0;
      if (p[i] == '|' && depth <= 0) return at(i, "'|' stands outside every group");
    }
  }
  if (is(msg::kStartsWithOpen)) return at(0, "the pattern starts with '('");
  if (is(msg::kLevelsDiffer) || is(msg::kRingsDiffer) || is(msg::kParenInRepeat)) {
    const size_t open = p.find('{');
    const char* what = is(msg::kLevelsDiffer) ? "the alternatives of this group end at different branch depths"
                       : is(msg::kRingsDiffer) ? "the alternatives of this group leave different rings open"
                                               : "a repeated group holds a branch it does not close";
    if (open != std::string::npos) return at(open, what);
  }
  return "in the pattern: see the message above";
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
