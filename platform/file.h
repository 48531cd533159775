#pragma once
// Opening a data file (an image) for reading.

#include <cstdio>
#include <string>

namespace quillon::platform {

// Opens `path` for binary reading, unbuffered. Only a regular file, after
// following links, is opened: a folder, FIFO, socket or device is refused at
// once, and the open itself cannot wait on one that replaced the file
// meanwhile. Null on failure, with errno set (EISDIR for a folder, EINVAL for
// anything else that is no regular file).
std::FILE* OpenRegularFile(const std::string& path);

}  // namespace quillon::platform
