// The statistics line of a record ("number\tatoms\tbonds\tresult\twidth\t
// score\tseconds"), and how a judged record is put out.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "driver/clock.h"
#include "driver/pipeline.h"
#include "driver/routing.h"
#include "matcher/matcher.h"

namespace tarnaxel {

// Formats the pieces of the statistics lines as
// "%d", "%-3d", "%.2f" and "%.3f" would format them.
class StatsWriter {
 public:
  StatsWriter& number(long value) {
    at_ = std::to_chars(at_, end(), value).ptr;
    return *this;
  }
  // Left-aligned in three columns.
  StatsWriter& count(int value) {
    char* start = at_;
    number(value);
    while (at_ - start < 3) *at_++ = ' ';
    return *this;
  }
  // Two decimals; whole numbers, which every score here is, without a
  // round trip through the general formatter.
  StatsWriter& score(double value) {
    if (value >= 0 && value < 1e15 && value == std::floor(value) && !std::signbit(value)) {
      number(static_cast<long>(value));
      return text(".00");
    }
    at_ += std::snprintf(at_, static_cast<size_t>(end() - at_), "%.2f", value);
    return *this;
  }
  // Seconds from clock ticks (milliseconds), three decimals.
  StatsWriter& seconds(long ticks) {
    static_assert(kTicksPerSecond == 1000.0, "the whole-tick path below writes milliseconds");
    if (ticks < 0) {
      at_ += std::snprintf(at_, static_cast<size_t>(end() - at_), "%.3f", ticks / kTicksPerSecond);
      return *this;
    }
    number(ticks / 1000);
    *at_++ = '.';
    const long rest = ticks % 1000;
    *at_++ = static_cast<char>('0' + rest / 100);
    *at_++ = static_cast<char>('0' + rest / 10 % 10);
    *at_++ = static_cast<char>('0' + rest % 10);
    return *this;
  }
  StatsWriter& text(const char* piece) {
    while (*piece != '\0') *at_++ = *piece++;
    return *this;
  }
  // The piece so far, and forgetting it.
  std::string_view piece() const { return std::string_view(buffer_, static_cast<size_t>(at_ - buffer_)); }
  void clear() { at_ = buffer_; }
  // Hands the piece to the outputs.
  void put(OutputFiles& outputs) {
    outputs.stats(std::string_view(buffer_, static_cast<size_t>(at_ - buffer_)));
    at_ = buffer_;
  }

 private:
  char* end() { return buffer_ + sizeof buffer_; }
  char buffer_[512];
  char* at_ = buffer_;
};

// The end of a judged record's statistics line, the line on standard error
// when its tables went over the limit, the record routed, and the progress
// (source_bytes: the input read so far).
void put_judged(StatsWriter& stats, OutputFiles& outputs, const JudgeSetup& setup, int record_number,
                const MatchResult& result, long ticks, std::string_view record_text, const Molecule& molecule,
                unsigned long long source_bytes);

// The same for a record judged against a pattern set: the statistics line
// ends with the number of patterns that accept it, the width and the
// seconds; its line of "matches.tsv" and its routing.
void put_judged_set(StatsWriter& stats, OutputFiles& outputs, const JudgeSetup& setup, int record_number,
                    const MatchResult& result, const std::vector<uint8_t>& results, long ticks,
                    std::string_view record_text, const Molecule& molecule, unsigned long long source_bytes);

// The header line of "matches.tsv" for a pattern set.
std::string table_header(const PatternSet& set);

}  // namespace tarnaxel
