// The process entry: the one place where the process ends.
#include <cstdio>
#include <string>

#include "common/fatal.h"
#include "driver/run.h"
#include "driver/terminal.h"

int main(int argc, char** argv) {
  try {
    int status = tarnaxel::run_tool(argc, argv);
    if (std::fflush(stdout) != 0) return 1;
    return status;
  } catch (const tarnaxel::Fatal& fatal) {
    std::FILE* stream = fatal.stream() == tarnaxel::Stream::out ? stdout : stderr;
    // A person at a UTF-8 terminal reads the message converted, with what
    // is wrong in English; everywhere else the message's own bytes.
    const std::string text =
        tarnaxel::utf8_terminal(stream) ? tarnaxel::for_people(fatal.bytes(), fatal.detail()) : fatal.bytes();
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stdout);
    std::fflush(stderr);
    return 1;
  }
}
