#pragma once
// Read access to an image file: open, length, seek, read.

#include <cstdint>
#include <cstdio>
#include <string>

namespace quillon::engine {

class ImageFile {
 public:
  ImageFile() = default;
  ~ImageFile() { Close(); }
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Opens a regular file only (see platform::OpenRegularFile).
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Length in bytes, or -1 if it cannot be told.
  int64_t Length();
  bool Seek(int64_t offset);
  // Reads up to n bytes; returns how many arrived.
  size_t Read(uint8_t* data, size_t n);

  // Whether the file can be opened for reading as an image.
  static bool CanOpen(const std::string& path);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace quillon::engine
