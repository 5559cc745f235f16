#include "common/fatal.h"

namespace tarnaxel {

void fail(Stream stream, std::string bytes) { throw Fatal(stream, std::move(bytes)); }

void fail_line(std::string message) {
  message.push_back('\n');
  throw Fatal(Stream::out, std::move(message));
}

void fail_cannot_open(const std::string& file_name) {
  throw Fatal(Stream::err, "Error: \"" + file_name + "\" cannot be opened!");
}

}  // namespace tarnaxel
