// What a refusal of a pattern means, in one English line for a person: the
// character where the pattern goes wrong (counted from 1) and what is wrong
// there.  The refusal's own bytes stay as they are on pipes and in files;
// this line is shown beside them at a UTF-8 terminal and is the text of a
// PatternError in Python.
#pragma once

#include <string>

namespace tarnaxel {

// pattern: the text as given; message: the refusal's bytes (a line feed at
// the end or not).  Never empty.
std::string explain_pattern_refusal(const std::string& pattern, const std::string& message);

// A record refusal ("Error: record N of the SDF_file ...") as one plain line.
std::string explain_record_refusal(const std::string& message);

}  // namespace tarnaxel
