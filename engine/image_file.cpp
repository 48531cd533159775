#include "engine/image_file.h"

#include "platform/file.h"

namespace quillon::engine {

bool ImageFile::Open(const std::string& path) {
  Close();
  // A folder, FIFO, socket or device is no image, and opening one must not
  // wait for a writer that never comes.
  file_ = platform::OpenRegularFile(path);
  return file_ != nullptr;
}

void ImageFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

int64_t ImageFile::Length() {
  if (!file_) return -1;
  const long here = std::ftell(file_);
  if (std::fseek(file_, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(file_);
  std::fseek(file_, here, SEEK_SET);
  return length;
}

bool ImageFile::Seek(int64_t offset) {
  return file_ && std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
}

size_t ImageFile::Read(uint8_t* data, size_t n) {
  return file_ ? std::fread(data, 1, n, file_) : 0;
}

bool ImageFile::CanOpen(const std::string& path) {
  ImageFile file;
  return file.Open(path);
}

}  // namespace quillon::engine
