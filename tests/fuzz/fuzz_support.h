#pragma once
// What the fuzz targets share: a check that stops the run with a message (a
// crash to libFuzzer, a failure to the replay test), and a reader that takes
// the input apart byte by byte.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quillon::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? void() : ::quillon::fuzz::Fail(#condition, __FILE__, __LINE__))

// The input, read from the front.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ == size_; }
  size_t Left() const { return size_ - at_; }
  // The next byte, or `otherwise` once the input is used up.
  uint8_t Byte(uint8_t otherwise = 0) { return Empty() ? otherwise : data_[at_++]; }
  // Up to n bytes.
  std::vector<uint8_t> Bytes(size_t n) {
    const size_t take = n < Left() ? n : Left();
    std::vector<uint8_t> out(data_ + at_, data_ + at_ + take);
    at_ += take;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The input split into arguments at NUL and newline bytes, after `program`
// as argv[0]. An input without separators is one argument; an empty input
// none.
inline std::vector<std::string> SplitArguments(const uint8_t* data, size_t size,
                                               const std::string& program) {
  std::vector<std::string> args{program};
  if (size == 0) return args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 || data[i] == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  return args;
}

// argv for a list of arguments (pointers into it).
inline std::vector<const char*> Argv(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return argv;
}

}  // namespace quillon::fuzz
