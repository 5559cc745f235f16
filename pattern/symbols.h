// The characters of the pattern notation that the parser and the rule file
// head both read.
#pragma once

namespace tarnaxel {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The V2000 bond type a bond symbol stands for, 0 for any other character.
inline int bond_code(char c) {
  switch (c) {
    case '-': return 1;
    case '=': return 2;
    case '#': return 3;
    case ':': return 4;
    default: return 0;
  }
}

}  // namespace tarnaxel
