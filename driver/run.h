// One run of the tool: the command line, the pattern compiled into
// "automaton.txt" and loaded back, every SDF record matched and routed, and
// the summary.  Entry point: run_tool().
#pragma once

namespace tarnaxel {

// Returns the exit status of a complete run (0); every failure throws Fatal.
int run_tool(int argc, const char* const* argv);

}  // namespace tarnaxel
