#include "common/fatal.h"

#include <cerrno>
#include <cstring>

namespace tarnaxel {

void fail(Stream stream, std::string bytes) { throw Fatal(stream, std::move(bytes)); }

void fail_line(std::string message) {
  message.push_back('\n');
  throw Fatal(Stream::out, std::move(message));
}

void fail_cannot_open(const std::string& file_name) {
  const int error = errno;
  throw Fatal(Stream::err, "Error: \"" + file_name + "\" cannot be opened!",
              file_name + ": " + (error != 0 ? std::strerror(error) : "cannot be opened"));
}

void fail_cannot_write(const std::string& file_name) {
  const int error = errno;
  throw Fatal(Stream::err, "Error: \"" + file_name + "\" cannot be written!",
              file_name + ": " + (error != 0 ? std::strerror(error) : "cannot be written"));
}

}  // namespace tarnaxel
