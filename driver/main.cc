// The process entry: the one place where the process ends.
#include <cstdio>

#include "common/fatal.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  try {
    int status = tarnaxel::run_tool(argc, argv);
    if (std::fflush(stdout) != 0) return 1;
    return status;
  } catch (const tarnaxel::Fatal& fatal) {
    std::FILE* stream = fatal.stream() == tarnaxel::Stream::out ? stdout : stderr;
    std::fwrite(fatal.bytes().data(), 1, fatal.bytes().size(), stream);
    std::fflush(stdout);
    std::fflush(stderr);
    return 1;
  }
}
