// What the tool shows a person at a terminal, and only there: messages in
// UTF-8 with one English line on what is wrong, and a progress line.  To
// files, pipes and terminals of other locales the tool writes the bytes of
// its messages unchanged and no progress at all.
#pragma once

#include <cstdio>
#include <string>

namespace tarnaxel {

// True when the stream is a terminal whose locale (LC_CTYPE, LC_ALL, LANG)
// uses UTF-8.
bool utf8_terminal(std::FILE* stream);

// A message of the tool in UTF-8 (CP932 converted), ending with a line
// feed, followed by the detail line when there is one.
std::string for_people(const std::string& bytes, const std::string& detail);

// The one-line progress display on standard error, when it is a terminal:
// records judged, records/s, accepted so far and, for a regular file, the
// share of its bytes read; refreshed a few times a second, erased at the end.
class Progress {
 public:
  explicit Progress(unsigned long long file_size);
  ~Progress() { erase(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // After every record.
  void record_done(int accepted, unsigned long long bytes_read) {
    ++records_;
    if (active_ && (records_ & 15) == 0) maybe_draw(accepted, bytes_read);
  }
  // Takes the line away, before anything else is written to standard error.
  void erase();

 private:
  void maybe_draw(int accepted, unsigned long long bytes_read);

  bool active_;
  bool shown_ = false;
  unsigned long long file_size_;
  long records_ = 0;
  long started_;
  long drawn_ = 0;
};

}  // namespace tarnaxel
