// Every refusal of rule generation, with its exact bytes (Shift-JIS).
#pragma once

namespace tarnaxel::generation_message {

// "Error" full-width colon "BackNode" + particle + "nullptr"
inline constexpr const char* kNoBackNode = "Error\x81" "FBackNode\x82\xaanullptr";
// "Error" full-width colon "))" + "is contained"
inline constexpr const char* kDoubleClose = "Error\x81" "F))\x82\xaa\x8a\xdc\x82\xdc\x82\xea\x82\xe9";
inline constexpr const char* kUncompilable = "Error: the pattern cannot be compiled.";
inline constexpr const char* kTooManyChains = "Error: the pattern has too many alternative paths.";

}  // namespace tarnaxel::generation_message
