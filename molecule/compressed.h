// Compressed input, told by its first bytes, not its name: gzip (through
// ISA-L's inflate where the tool is built with it, else zlib), zstd and
// bzip2, each read as a stream from a file or a pipe, members, frames and
// streams one after another read as one.  Data that stops inside a member,
// or does not decode, is refused as damaged once the records before it are
// read.
#pragma once

#include <cstddef>
#include <memory>

#include "molecule/line_reader.h"

namespace tarnaxel {

enum class Compression { none, gzip, zstd, bzip2 };

// The compression the first bytes of a file name (at most 4 looked at).
Compression compression_of(const char* head, size_t size);

// A reader of compressed data from fd (which it closes), whose first bytes,
// already read, are head.
std::unique_ptr<LineReader> compressed_reader(Compression compression, int fd, const char* head, size_t size);

}  // namespace tarnaxel
