// Every refusal of the pattern front end, with its exact bytes.  The Japanese
// messages are Shift-JIS (code page 932); the English gloss is in the comment.
#pragma once

#include <string>

namespace tarnaxel::pattern_message {

// "Error:)" + "too many" -- a ")" without its "("
inline constexpr const char* kTooManyClose = "Error:)\x82\xaa\x91\xbd\x82\xa2\x81" "B";
// "Error:(" + "too many" -- a "(" never closed
inline constexpr const char* kTooManyOpen = "Error:(\x82\xaa\x91\xbd\x82\xa2\x81" "B";
// "Error:{}" + "levels inside differ"
inline constexpr const char* kLevelsDiffer =
    "Error:{}\x93\xe0\x83\x8c\x83x\x83\x8b\x82\xaa\x88\xd9\x82\xc8\x82\xe9\x81" "B";
// "Error" full-width colon "(" + "starts with"
inline constexpr const char* kStartsWithOpen =
    "Error\x81" "F(\x82\xc5\x8en\x82\xdc\x82\xc1\x82\xc4\x82\xa2\x82\xe9";
// "Error" full-width colon "}" + "too many"
inline constexpr const char* kTooManyCloseBrace = "Error\x81" "F}\x82\xaa\x91\xbd\x82\xa2";
// "Error" full-width colon "{" + "too many"
inline constexpr const char* kTooManyOpenBrace = "Error\x81" "F{\x82\xaa\x91\xbd\x82\xa2";
// "Error" full-width colon + "parentheses not complete inside the braces"
inline constexpr const char* kParenInRepeat =
    "Error\x81" "F\x92\x86\x8a\x87\x8c\xca\x93\xe0\x82\xc5\x8a\xdb\x8a\x87\x8c\xca\x82\xaa\x8a\xae\x8c\x8b\x82\xb5"
    "\x82\xc4\x82\xa2\x82\xc8\x82\xa2\x81" "B";
// "Error:(" + "while searching, a ( beyond a }"
inline constexpr const char* kSearchOpenBeyond =
    "Error:(\x82\xf0\x92T\x82\xb7\x89\xdf\x92\xf6\x82\xc5}\x82\xcc\x90\xe6\x82\xc9(\x82\xaa\x82\xa0\x82\xe8\x82\xdc"
    "\x82\xb7\x81" "B";
// "Error:(" + "while searching, a { before a }"
inline constexpr const char* kSearchBraceBefore =
    "Error:(\x82\xf0\x92T\x82\xb7\x89\xdf\x92\xf6\x82\xc5}\x82\xe6\x82\xe8\x90\xe6\x82\xc9{\x82\xaa\x82\xa0\x82\xe8"
    "\x82\xdc\x82\xb7\x81" "B";
// "Error:(" + "while searching, unequal ( and ) inside braces"
inline constexpr const char* kSearchUnequal =
    "Error:(\x82\xf0\x92T\x82\xb7\x89\xdf\x92\xf6\x82\xc5\x94g\x8a\x87\x8c\xca\x93\xe0\x82\xcc\x8aJ\x95\xc2\x8a\xdb"
    "\x8a\x87\x8c\xca\x82\xcc\x90\x94\x82\xaa\x88\xd9\x82\xc8\x82\xe9\x81" "B";
// "Error:(" + "while searching, a | before a }"
inline constexpr const char* kSearchBarBefore =
    "Error:(\x82\xf0\x92T\x82\xb7\x89\xdf\x92\xf6\x82\xc5}\x82\xe6\x82\xe8\x90\xe6\x82\xc9|\x82\xaa\x82\xa0\x82\xe8"
    "\x82\xdc\x82\xb7\x81" "B";
// "Error:" + "the number of braces is wrong"
inline constexpr const char* kBraceCount =
    "Error:\x94g\x8a\x87\x8c\xca\x82\xcc\x90\x94\x82\xc9\x8c\xeb\x82\xe8\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x81"
    "B";
// The alternatives walk ran out of text.
inline constexpr const char* kWalkRanOut = "Error:";
// "Error:{}" + "numbers inside differ"
inline constexpr const char* kRingsDiffer = "Error:{}\x93\xe0\x90\x94\x8e\x9a\x82\xaa\x88\xd9\x82\xc8\x82\xe9\x81" "B";
// "Error" full-width colon "Can't find ']'."
inline constexpr const char* kNoCloseBracket = "Error\x81" "FCan't find ']'.";
// "Error" full-width colon + "does not match"
inline constexpr const char* kNoMatch = "Error\x81" "F\x93\x96\x82\xc4\x82\xcd\x82\xdc\x82\xe7\x82\xc8\x82\xa2";
// "Error:%" + "the number after it is too large"
inline constexpr const char* kRingNumberTooLarge =
    "Error:%\x82\xcc\x8c\xe3\x82\xcc\x90\x94\x8e\x9a\x82\xaa\x91\xe5\x82\xab\x82\xb7\x82\xac\x82\xe9\x81" "B";
inline constexpr const char* kMallocError = "malloc error\n";

// Refusals of texts the notation never allows but the checks above let by.
inline constexpr const char* kTooLong = "Error: the pattern is longer than 99 characters.";
inline constexpr const char* kLongBracketAtom = "Error: a bracket atom holds one or two characters.";
inline constexpr const char* kNoRingDigits = "Error: \"%\" must be followed by a ring-bond number.";
inline constexpr const char* kBarOutsideGroup = "Error: \"|\" stands outside every group.";
inline constexpr const char* kNoAtom = "Error: the pattern holds no atom.";
inline constexpr const char* kNestedTooDeep = "Error: groups are nested more than 99 deep.";
inline std::string ring_closed_with_another_bond(int number) {
  return "Error: ring-bond number " + std::to_string(number) + " is closed with another bond.";
}
inline std::string ring_never_closed(int number) {
  return "Error: ring-bond number " + std::to_string(number) + " is never closed.";
}

}  // namespace tarnaxel::pattern_message
